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
