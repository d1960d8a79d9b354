#include "DesktopProbe.h"

#include "X11Desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>

namespace DesktopProbe
{

Report probe(int timeoutMs)
{
    Report report;
    QElapsedTimer clock;
    clock.start();
    // Each question gets what is left of the time; none when it is up.
    const auto ask = [&](const QString& service, const QString& path, const QString& interface,
                         const QString& method, const QVariantList& arguments) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0)
            return QDBusMessage();
        QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
        call.setArguments(arguments);
        return QDBusConnection::sessionBus().call(call, QDBus::Block, int(left));
    };

    if (QDBusConnection::sessionBus().isConnected()) {
        const QDBusMessage host =
            ask(QStringLiteral("org.kde.StatusNotifierWatcher"),
                QStringLiteral("/StatusNotifierWatcher"),
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                {QStringLiteral("org.kde.StatusNotifierWatcher"),
                 QStringLiteral("IsStatusNotifierHostRegistered")});
        report.statusNotifierHost =
            host.type() == QDBusMessage::ReplyMessage && !host.arguments().isEmpty() &&
            host.arguments().first().value<QDBusVariant>().variant().toBool();

        const QString service = QStringLiteral("org.freedesktop.Notifications");
        const QString path = QStringLiteral("/org/freedesktop/Notifications");
        const QDBusMessage information =
            ask(service, path, service, QStringLiteral("GetServerInformation"), {});
        if (information.type() == QDBusMessage::ReplyMessage &&
            !information.arguments().isEmpty()) {
            report.notificationServer = true;
            report.notificationServerName = information.arguments().first().toString();
            const QDBusMessage capabilities =
                ask(service, path, service, QStringLiteral("GetCapabilities"), {});
            if (capabilities.type() == QDBusMessage::ReplyMessage &&
                !capabilities.arguments().isEmpty())
                report.notificationCapabilities = capabilities.arguments().first().toStringList();
        }
    }

    // The X server of DISPLAY, whatever platform the caller runs on: the
    // client runs there whenever the session offers X11.
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        X11Desktop x11;
        report.xembedTray = x11.trayManagerPresent();
    }
    return report;
}

} // namespace DesktopProbe
