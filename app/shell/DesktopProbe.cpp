#include "DesktopProbe.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
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
    // Plain messages: no introspection call that could wait without a bound.
    const auto call = [&](const char* service, const char* path, const char* interface,
                          const char* method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return bus.call(message, QDBus::Block, int(qMax<qint64>(1, deadline.remainingTime())));
    };

    const QDBusMessage host =
        call("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
             "org.freedesktop.DBus.Properties", "Get",
             {"org.kde.StatusNotifierWatcher", "IsStatusNotifierHostRegistered"});
    report.statusNotifierHost = host.type() == QDBusMessage::ReplyMessage &&
                                !host.arguments().isEmpty() &&
                                host.arguments().first().value<QDBusVariant>().variant().toBool();

    const QDBusMessage info =
        call("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
             "org.freedesktop.Notifications", "GetServerInformation");
    if (info.type() == QDBusMessage::ReplyMessage && !info.arguments().isEmpty()) {
        report.notificationServer = true;
        report.notificationServerName = info.arguments().first().toString();
        const QDBusMessage capabilities =
            call("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                 "org.freedesktop.Notifications", "GetCapabilities");
        if (capabilities.type() == QDBusMessage::ReplyMessage &&
            !capabilities.arguments().isEmpty())
            report.notificationCapabilities = capabilities.arguments().first().toStringList();
    }
    // The X11 system tray (XEmbed) is left to the desktop layer's probe.
    return report;
}

} // namespace DesktopProbe
