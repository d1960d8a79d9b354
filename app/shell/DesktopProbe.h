#pragma once

// Whether the desktop session offers what the client shows itself with: a
// tray (a StatusNotifier host on the session bus, or an X11 system tray) and
// a notification server. For the command-line readiness check.

#include <QString>
#include <QStringList>

namespace DesktopProbe
{

struct Report {
    bool statusNotifierHost = false; // a StatusNotifier watcher with a registered host
    bool xembedTray = false;         // an X11 system tray manager (XEmbed)
    bool notificationServer = false; // org.freedesktop.Notifications answers
    QString notificationServerName;
    QStringList notificationCapabilities;
};

// Blocking, bounded by timeoutMs; for the command-line check only.
Report probe(int timeoutMs);

} // namespace DesktopProbe
