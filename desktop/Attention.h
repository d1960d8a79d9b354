#pragma once

#include <QString>

class QWidget;

// Bringing a window that needs the user (the settings of a captured job) to
// the user's notice while the user may be busy in another program.
namespace Attention
{

// Call before the window is shown (or run). Where another program's window
// holds the keyboard (X11: the window the desktop names active is not one
// of ours), the window comes up raised but without taking the keyboard, and
// is marked urgent until the user turns to it; otherwise it comes up active
// as any dialog. Where the window may go unnoticed so (another program was
// active) or the desktop decides alone (Wayland), a desktop notification
// with summary and body announces it as well; its action brings the window
// forward, and it goes when the window closes.
void request(QWidget* window, const QString& summary, const QString& body);

// Another program's window holds the keyboard; false when the desktop does
// not say (Wayland, no window manager).
bool otherProgramActive();

} // namespace Attention
