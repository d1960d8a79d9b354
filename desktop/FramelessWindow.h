#pragma once

class QPixmap;
class QWidget;

// Pieces shared by the frameless windows (main window, logon dialog, print
// settings, mobile print job).

// Lets the user move the frameless window by dragging it with the left
// mouse button: a left press (or double click) stores where in the window
// it went down, a move while dragging puts the window under the cursor at
// that offset, any release ends the drag. Watches the window's own mouse
// events (and those its children pass on) through an event filter that the
// window owns; the window and its base class still see every event.
void enableFramelessDrag(QWidget* window);

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
