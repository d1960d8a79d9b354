#include "DesktopProbe.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDeadlineTimer>

namespace DesktopProbe
{

Report probe(int timeoutMs)
{
    Report report;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return report;
    const QDeadlineTimer deadline(timeoutMs);
    const auto remaining = [&] { return int(qMax<qint64>(1, deadline.remainingTime())); };

    QDBusInterface watcher("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                           "org.freedesktop.DBus.Properties", bus);
    watcher.setTimeout(remaining());
    const QDBusReply<QVariant> host =
        watcher.call("Get", "org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered");
    report.statusNotifierHost = host.isValid() && host.value().toBool();

    QDBusInterface notifications("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                 "org.freedesktop.Notifications", bus);
    notifications.setTimeout(remaining());
    const QDBusMessage info = notifications.call("GetServerInformation");
    if (info.type() == QDBusMessage::ReplyMessage && !info.arguments().isEmpty()) {
        report.notificationServer = true;
        report.notificationServerName = info.arguments().value(0).toString();
        notifications.setTimeout(remaining());
        const QDBusReply<QStringList> capabilities = notifications.call("GetCapabilities");
        if (capabilities.isValid())
            report.notificationCapabilities = capabilities.value();
    }
    return report;
}

} // namespace DesktopProbe
