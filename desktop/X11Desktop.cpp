#include "X11Desktop.h"

#include <QGuiApplication>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

X11Desktop::X11Desktop(const QByteArray& display)
{
    int screen = 0;
    xcb_connection_t* connection =
        xcb_connect(display.isEmpty() ? nullptr : display.constData(), &screen);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen && it.rem; ++i)
        xcb_screen_next(&it);
    if (!it.rem) {
        xcb_disconnect(connection);
        return;
    }
    Connection = connection;
    Screen = screen;
    Root = it.data->root;
    TrayAtom = atom(QByteArray("_NET_SYSTEM_TRAY_S" + QByteArray::number(Screen)).constData());
    ActiveAtom = atom("_NET_ACTIVE_WINDOW");
}

X11Desktop::~X11Desktop()
{
    if (Connection)
        xcb_disconnect(Connection);
}

X11Desktop* X11Desktop::forApplication()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    static const std::unique_ptr<X11Desktop> desktop(new X11Desktop);
    return desktop->isOpen() ? desktop.get() : nullptr;
}

quint32 X11Desktop::atom(const char* name)
{
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(Connection, 0, static_cast<uint16_t>(strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(Connection, cookie, nullptr);
    const quint32 value = reply ? reply->atom : 0;
    free(reply);
    return value;
}

bool X11Desktop::trayManagerPresent()
{
    if (!Connection || !TrayAtom)
        return false;
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(
        Connection, xcb_get_selection_owner(Connection, TrayAtom), nullptr);
    const bool owned = reply && reply->owner != XCB_NONE;
    free(reply);
    return owned;
}

quint32 X11Desktop::activeWindow()
{
    if (!Connection || !ActiveAtom)
        return 0;
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        Connection, xcb_get_property(Connection, 0, Root, ActiveAtom, XCB_ATOM_WINDOW, 0, 1),
        nullptr);
    quint32 window = 0;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
        window = *static_cast<const quint32*>(xcb_get_property_value(reply));
    free(reply);
    return window;
}

namespace
{

// WM_HINTS: nine 32-bit fields, the first the flags; bit 8 asks for the
// user's attention.
constexpr quint32 kUrgencyHint = 1u << 8;
constexpr int kHintFields = 9;

} // namespace

void X11Desktop::readHints(quint32 window, quint32* hints)
{
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(Connection,
                               xcb_get_property(Connection, 0, window, XCB_ATOM_WM_HINTS,
                                                XCB_ATOM_WM_HINTS, 0, kHintFields),
                               nullptr);
    if (reply && reply->format == 32) {
        const int length =
            qMin(xcb_get_property_value_length(reply), int(kHintFields * sizeof *hints));
        memcpy(hints, xcb_get_property_value(reply), size_t(length));
    }
    free(reply);
}

bool X11Desktop::isUrgent(quint32 window)
{
    if (!Connection || !window)
        return false;
    quint32 hints[kHintFields] = {};
    readHints(window, hints);
    return hints[0] & kUrgencyHint;
}

void X11Desktop::setUrgent(quint32 window, bool urgent)
{
    if (!Connection || !window)
        return;
    // The other fields stay as the toolkit wrote them.
    quint32 hints[kHintFields] = {};
    readHints(window, hints);
    hints[0] = urgent ? hints[0] | kUrgencyHint : hints[0] & ~kUrgencyHint;
    xcb_change_property(Connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS,
                        XCB_ATOM_WM_HINTS, 32, kHintFields, hints);
    xcb_flush(Connection);
}
