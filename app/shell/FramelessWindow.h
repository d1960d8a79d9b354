#pragma once

#include <QPoint>

class QMouseEvent;
class QPixmap;
class QWidget;

// Pieces shared by the frameless dialogs (main window, logon dialog).

// Moving a frameless window by dragging it with the left mouse button. The
// window's mouse handlers pass their events on to press, move and release.
struct FramelessDrag {
    bool Dragging = false;
    QPoint DragOffset;

    void press(QMouseEvent* event);
    void move(QWidget* window, QMouseEvent* event) const;
    void release() { Dragging = false; }
};

// Centres window on the available area of the primary screen.
void centreOnScreen(QWidget* window);

// Gives window the size of picture, its shape (the picture's mask, when it
// has one) and the picture as background. A null picture changes nothing.
void applyShapedBackground(QWidget* window, const QPixmap& picture);

// The style sheets of the dialogs' combo boxes and line edits (the logon
// dialog, the print settings dialog).
constexpr char kComboStyle[] =
    "QComboBox{border:1px solid gray;}QComboBox QAbstractItemView::item{height:20px;}"
    "QComboBox::down-arrow{image:url(:/background/images/arrowdown.png);}"
    "QComboBox::down-arrow:hover{image:url(:/background/images/arrowdown_on.png);}"
    "QComboBox::down-arrow:pressed{image:url(:/background/images/arrowdown_down.png);}"
    "QComboBox:hover{border-width:2px;}QComboBox::drop-down{border:0px;}";
constexpr char kLineEditStyle[] =
    "QLineEdit{border:1px solid gray;}QLineEdit:hover{border-width:2px;}";
