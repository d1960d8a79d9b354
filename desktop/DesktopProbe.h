#pragma once

#include <QString>
#include <QStringList>

// What the desktop session offers the client, asked on the spot: the
// command-line check's view of the tray and the notification server. The
// running client never asks this way (it watches without waiting, see
// DesktopTrayIcon and DesktopNotifications).
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
