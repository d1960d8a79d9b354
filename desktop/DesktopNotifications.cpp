#include "DesktopNotifications.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QPointer>

#include <algorithm>

namespace
{

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kAppName = QStringLiteral("OrixClient");
// The desktop entry's name (orixclient.desktop), also the hicolor icon's.
const QString kDesktopEntry = QStringLiteral("orixclient");
// The keys of the actions sent: the button, and a click on the notification.
const QString kButtonKey = QStringLiteral("open");
const QString kDefaultKey = QStringLiteral("default");

// The picture of a notification as the protocol carries it ("iiibiiay").
struct NotificationImage {
    int width = 0;
    int height = 0;
    int rowStride = 0;
    bool alpha = true;
    int bitsPerSample = 8;
    int channels = 4;
    QByteArray data;
};

QDBusArgument& operator<<(QDBusArgument& argument, const NotificationImage& image)
{
    argument.beginStructure();
    argument << image.width << image.height << image.rowStride << image.alpha << image.bitsPerSample
             << image.channels << image.data;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, NotificationImage& image)
{
    argument.beginStructure();
    argument >> image.width >> image.height >> image.rowStride >> image.alpha >>
        image.bitsPerSample >> image.channels >> image.data;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(NotificationImage)

namespace
{

NotificationImage toNotificationImage(const QImage& picture)
{
    NotificationImage image;
    // RGBA bytes in this order, rows without padding.
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    image.width = rgba.width();
    image.height = rgba.height();
    image.rowStride = rgba.width() * 4;
    for (int y = 0; y < rgba.height(); ++y)
        image.data.append(reinterpret_cast<const char*>(rgba.constScanLine(y)), image.rowStride);
    return image;
}

QDBusMessage callOf(const QString& method)
{
    return QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
}

} // namespace

DesktopNotifications::DesktopNotifications(QObject* parent)
    : QObject(parent), Bus(QDBusConnection::sessionBus())
{
    qDBusRegisterMetaType<NotificationImage>();
    if (!Bus.isConnected()) {
        State = Server::Absent;
        return;
    }
    auto* watcher =
        new QDBusServiceWatcher(kService, Bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &DesktopNotifications::ownerChanged);
    // Signals of whichever program holds the server's name.
    Bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(quint32, quint32)));
    Bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(actionInvokedById(quint32, QString)));
    ask();
}

DesktopNotifications::~DesktopNotifications() = default;

DesktopNotifications* DesktopNotifications::instance()
{
    static QPointer<DesktopNotifications> notifications;
    if (!notifications)
        notifications = new DesktopNotifications(QCoreApplication::instance());
    return notifications;
}

void DesktopNotifications::askAgain()
{
    if (Bus.isConnected() && State == Server::Absent)
        ask();
}

void DesktopNotifications::setImage(const QImage& image)
{
    // Converted once here, not for every notification sent.
    ImageHint = image.isNull() ? QVariant() : QVariant::fromValue(toNotificationImage(image));
}

void DesktopNotifications::setState(Server state)
{
    if (State == state)
        return;
    State = state;
    emit serverChanged();
}

void DesktopNotifications::ask()
{
    const int generation = ++AskGeneration;
    if (State != Server::Present)
        setState(Server::Asking);

    auto* capabilities = new QDBusPendingCallWatcher(
        Bus.asyncCall(callOf("GetCapabilities"), kAnswerTimeoutMs), this);
    connect(capabilities, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (generation != AskGeneration)
                    return;
                const QDBusPendingReply<QStringList> reply = *call;
                if (reply.isError()) {
                    Capabilities.clear();
                    forgetAll();
                    setState(Server::Absent);
                    return;
                }
                Capabilities = reply.value();
                setState(Server::Present);
            });
}

void DesktopNotifications::ownerChanged(const QString&, const QString& oldOwner,
                                        const QString& newOwner)
{
    // The notifications of a server that went (or was replaced) went with it.
    if (!oldOwner.isEmpty())
        forgetAll();
    if (newOwner.isEmpty()) {
        ++AskGeneration;
        Capabilities.clear();
        setState(Server::Absent);
        return;
    }
    ask();
}

void DesktopNotifications::forgetAll()
{
    const QList<quint32> handles = Shown.keys();
    Shown.clear();
    Early.clear();
    for (quint32 handle : handles)
        emit closed(handle);
}

quint32 DesktopNotifications::show(const Message& message, quint32 replaces)
{
    if (State != Server::Present)
        return 0;
    const auto existing = Shown.find(replaces);
    if (replaces != 0 && existing != Shown.end() && !existing->closeLater) {
        if (!existing->answered) {
            // Sent once the server has named the notification to replace.
            existing->hasNext = true;
            existing->next = message;
        } else {
            existing->answered = false;
            send(replaces, message, existing->id);
        }
        return replaces;
    }
    const quint32 handle = ++LastHandle;
    Shown.insert(handle, Notification());
    send(handle, message, 0);
    return handle;
}

void DesktopNotifications::send(quint32 handle, const Message& message, quint32 replacesId)
{
    // The server's text is never markup: where the server reads markup in
    // the body, it gets the text escaped.
    const QString body = Capabilities.contains(QStringLiteral("body-markup"))
                             ? message.body.toHtmlEscaped()
                             : message.body;
    QStringList actions;
    if (!message.actionLabel.isEmpty() && offersActions())
        actions << kDefaultKey << message.actionLabel << kButtonKey << message.actionLabel;
    QVariantMap hints;
    // Grouped under the program, and listed in the desktop's notification
    // settings, by its desktop entry.
    hints.insert(QStringLiteral("desktop-entry"), kDesktopEntry);
    if (ImageHint.isValid())
        hints.insert(QStringLiteral("image-data"), ImageHint);

    QDBusMessage call = callOf(QStringLiteral("Notify"));
    call << kAppName << replacesId << kDesktopEntry << message.summary << body << actions << hints
         << qint32(message.timeoutMs);
    auto* pending = new QDBusPendingCallWatcher(Bus.asyncCall(call, kAnswerTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, handle](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                const QDBusPendingReply<quint32> answer = *reply;
                // Forgotten meanwhile: the server went.
                const auto it = Shown.find(handle);
                if (it == Shown.end())
                    return;
                if (answer.isError()) {
                    Shown.erase(it);
                    emit failed(handle);
                    return;
                }
                it->id = answer.value();
                it->answered = true;
                const quint32 id = it->id;
                if (it->closeLater) {
                    Shown.erase(it);
                    Bus.send(callOf(QStringLiteral("CloseNotification")) << id);
                    emit closed(handle);
                } else if (it->hasNext) {
                    it->hasNext = false;
                    it->answered = false;
                    send(handle, it->next, it->id);
                }
                replayEarly(id);
            });
}

void DesktopNotifications::close(quint32 handle)
{
    const auto it = Shown.find(handle);
    if (it == Shown.end())
        return;
    if (!it->answered) {
        // Closed as soon as the server has answered: a notice still on its
        // way would otherwise come up after the close.
        it->closeLater = true;
        it->hasNext = false;
        return;
    }
    const quint32 id = it->id;
    Shown.erase(it);
    Bus.send(callOf(QStringLiteral("CloseNotification")) << id);
    emit closed(handle);
}

quint32 DesktopNotifications::handleOf(quint32 id) const
{
    for (auto it = Shown.constBegin(); it != Shown.constEnd(); ++it)
        if (it->id == id && id != 0)
            return it.key();
    return 0;
}

bool DesktopNotifications::early(quint32 id, const QString& actionKey, bool closed)
{
    const bool awaited = std::any_of(Shown.cbegin(), Shown.cend(),
                                     [](const Notification& n) { return !n.answered; });
    if (!awaited || id == 0)
        return false;
    if (Early.size() >= kMostEarly)
        Early.removeFirst();
    Early.append({id, closed, actionKey});
    return true;
}

void DesktopNotifications::replayEarly(quint32 id)
{
    QList<EarlySignal> now;
    for (auto it = Early.begin(); it != Early.end();) {
        if (it->id == id) {
            now.append(*it);
            it = Early.erase(it);
        } else {
            ++it;
        }
    }
    // Nothing awaited any more: what is left was about other programs'
    // notifications.
    if (std::all_of(Shown.cbegin(), Shown.cend(), [](const Notification& n) { return n.answered; }))
        Early.clear();
    for (const EarlySignal& signal : now) {
        if (signal.closed)
            notificationClosed(signal.id, 0);
        else
            actionInvokedById(signal.id, signal.key);
    }
}

void DesktopNotifications::notificationClosed(quint32 id, quint32)
{
    const quint32 handle = handleOf(id);
    if (!handle) {
        early(id, QString(), true);
        return;
    }
    // A replacement on its way reuses the id: the server closed the old
    // notice only to show the new one in its place.
    if (!Shown[handle].answered)
        return;
    Shown.remove(handle);
    emit closed(handle);
}

void DesktopNotifications::actionInvokedById(quint32 id, const QString& key)
{
    if (key != kButtonKey && key != kDefaultKey)
        return;
    const quint32 handle = handleOf(id);
    if (handle)
        emit actionInvoked(handle);
    else
        early(id, key, false);
}
