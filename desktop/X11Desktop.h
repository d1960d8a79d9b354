#pragma once

#include <QByteArray>
#include <QtGlobal>

struct xcb_connection_t;

// A connection of the client's own to an X server, for what Qt does not
// tell or do: whether a system tray manager (the XEmbed tray of older and
// lighter desktops) runs, which window the desktop has given the keyboard,
// and a window's urgency hint. Each is one or two short round trips.
class X11Desktop
{
public:
    // Connects to display ("" for $DISPLAY). Without an X server (Wayland
    // only, a console, the tests' offscreen platform) isOpen() is false and
    // every question answers "no".
    explicit X11Desktop(const QByteArray& display = QByteArray());
    ~X11Desktop();
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    // The client's own connection when the application runs on X11 (the
    // "xcb" platform); null on any other platform. Opened at the first call.
    static X11Desktop* forApplication();

    bool isOpen() const { return Connection != nullptr; }

    // A system tray manager owns the selection "_NET_SYSTEM_TRAY_S<screen>".
    bool trayManagerPresent();

    // The window the window manager named active (_NET_ACTIVE_WINDOW of the
    // root window); 0 when none is, or no window manager says.
    quint32 activeWindow();

    // The urgency hint of a window (ICCCM WM_HINTS): task bars and window
    // managers mark an urgent window until the user turns to it.
    void setUrgent(quint32 window, bool urgent);
    bool isUrgent(quint32 window);

private:
    quint32 atom(const char* name);
    // The window's WM_HINTS fields into hints (all nine of them); those
    // the window does not have stay as they are.
    void readHints(quint32 window, quint32* hints);

    xcb_connection_t* Connection = nullptr;
    quint32 Root = 0;
    int Screen = 0;
    quint32 TrayAtom = 0;
    quint32 ActiveAtom = 0;
};
