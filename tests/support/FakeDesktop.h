#pragma once

// Fakes of the desktop's services on the session bus, keeping what the client sent: the
// StatusNotifier watcher (with or without a registered host) and the notification server. Each
// has a connection of its own (started again, its name gets a new owner) and is served by a
// thread of its own (Qt's tray icon asks the watcher while it blocks the GUI thread).

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <utility>

// A copy of value taken under mutex.
template <typename T> T lockedCopy(QMutex& mutex, const T& value)
{
    QMutexLocker lock(&mutex);
    return value;
}

class FakeStatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)

public:
    bool isHostRegistered() const { return lockedCopy(m_mutex, m_host); }
    QStringList registeredItems() const { return lockedCopy(m_mutex, m_items); }
    int protocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& service, const QDBusMessage& message)
    {
        m_mutex.lock();
        m_items << message.service() + ' ' + service;
        m_mutex.unlock();
        emit StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&)
    {
        m_mutex.lock();
        m_host = true;
        m_mutex.unlock();
        emit StatusNotifierHostRegistered();
    }

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();

private:
    mutable QMutex m_mutex;
    bool m_host = false;
    QStringList m_items;
};

class FakeNotificationServer : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notification {
        quint32 id = 0;
        QString app, summary, body;
        QStringList actions;
        int timeout = 0;
        QString appIcon, desktopEntry;
        QString imageSignature; // of the image-data hint
        QSize imageSize;
    };

    explicit FakeNotificationServer(const QStringList& capabilities) : m_capabilities(capabilities)
    {
    }

    QList<Notification> notifications() const { return lockedCopy(m_mutex, m_notifications); }
    QList<quint32> closeRequests() const { return lockedCopy(m_mutex, m_closeRequests); }
    QSet<quint32> open() const { return lockedCopy(m_mutex, m_open); }
    int mostOpen() const { return lockedCopy(m_mutex, m_mostOpen); }
    void setRefuse(bool refuse) { m_refuse = refuse; }
    // The next notification's action is invoked before the answer to its Notify is sent, as a
    // busy server's signal may overtake its answer.
    void actBeforeAnswer(const QString& key)
    {
        QMutexLocker lock(&m_mutex);
        m_actBeforeAnswer = key;
    }
    // Called in the server's thread: as if the user clicked or closed it.
    void invoke(quint32 id, const QString& key) { emit ActionInvoked(id, key); }
    void closeByUser(quint32 id)
    {
        m_mutex.lock();
        m_open.remove(id);
        m_mutex.unlock();
        emit NotificationClosed(id, 2);
    }

public slots:
    quint32 Notify(const QString& app, quint32 replaces, const QString& appIcon,
                   const QString& summary, const QString& body, const QStringList& actions,
                   const QVariantMap& hints, int timeout)
    {
        QMutexLocker lock(&m_mutex);
        if (m_refuse) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("refused"));
            return 0;
        }
        Notification n;
        n.id = replaces && m_open.contains(replaces) ? replaces : ++m_lastId;
        n.app = app;
        n.appIcon = appIcon;
        n.desktopEntry = hints.value(QStringLiteral("desktop-entry")).toString();
        n.summary = summary;
        n.body = body;
        n.actions = actions;
        n.timeout = timeout;
        if (hints.contains(QStringLiteral("image-data"))) {
            const QDBusArgument image =
                hints.value(QStringLiteral("image-data")).value<QDBusArgument>();
            n.imageSignature = image.currentSignature();
            int width = 0, height = 0;
            image.beginStructure();
            image >> width >> height;
            n.imageSize = QSize(width, height);
        }
        m_notifications << n;
        m_open.insert(n.id);
        m_mostOpen = qMax(m_mostOpen, m_open.size());
        const QString early = std::exchange(m_actBeforeAnswer, QString());
        lock.unlock();
        if (!early.isEmpty())
            emit ActionInvoked(n.id, early);
        return n.id;
    }
    void CloseNotification(quint32 id)
    {
        m_mutex.lock();
        m_closeRequests << id;
        const bool wasOpen = m_open.remove(id);
        m_mutex.unlock();
        if (wasOpen)
            emit NotificationClosed(id, 3);
    }
    QStringList GetCapabilities() { return m_capabilities; }
    QString GetServerInformation(QString& vendor, QString& version, QString& protocolVersion)
    {
        vendor = QStringLiteral("tests");
        version = QStringLiteral("1");
        protocolVersion = QStringLiteral("1.2");
        return QStringLiteral("fake-notifications");
    }

signals:
    void NotificationClosed(quint32 id, quint32 reason);
    void ActionInvoked(quint32 id, const QString& key);

private:
    const QStringList m_capabilities;
    mutable QMutex m_mutex;
    QList<Notification> m_notifications;
    QList<quint32> m_closeRequests;
    QSet<quint32> m_open;
    int m_mostOpen = 0;
    quint32 m_lastId = 0;
    std::atomic<bool> m_refuse{false};
    QString m_actBeforeAnswer;
};

class FakeDesktop
{
public:
    FakeDesktop()
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
    }
    ~FakeDesktop()
    {
        stopWatcher();
        stopNotifications();
        m_thread.quit();
        m_thread.wait();
    }
    Q_DISABLE_COPY(FakeDesktop)

    // A watcher under a new owner; host: a host registered with it.
    bool startWatcher(bool host)
    {
        stopWatcher();
        m_watcher = publish<FakeStatusNotifierWatcher>(
            [] { return new FakeStatusNotifierWatcher; }, QStringLiteral("/StatusNotifierWatcher"),
            QStringLiteral("org.kde.StatusNotifierWatcher"), m_watcherBus);
        if (m_watcher && host)
            inThread([this] { m_watcher->RegisterStatusNotifierHost({}); });
        return m_watcher != nullptr;
    }
    void stopWatcher()
    {
        withdraw(m_watcher, QStringLiteral("org.kde.StatusNotifierWatcher"), m_watcherBus);
    }
    FakeStatusNotifierWatcher* watcher() const { return m_watcher; }

    bool startNotifications(const QStringList& capabilities)
    {
        stopNotifications();
        m_notifications = publish<FakeNotificationServer>(
            [&] { return new FakeNotificationServer(capabilities); },
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), m_notificationsBus);
        return m_notifications != nullptr;
    }
    void stopNotifications()
    {
        withdraw(m_notifications, QStringLiteral("org.freedesktop.Notifications"),
                 m_notificationsBus);
    }
    FakeNotificationServer* notifications() const { return m_notifications; }
    void invokeAction(quint32 id, const QString& key)
    {
        if (m_notifications)
            inThread([this, id, key] { m_notifications->invoke(id, key); });
    }
    void closeByUser(quint32 id)
    {
        if (m_notifications)
            inThread([this, id] { m_notifications->closeByUser(id); });
    }

private:
    // Made, published and withdrawn in the fakes' thread, where they are served.
    template <typename T>
    T* publish(const std::function<T*()>& make, const QString& path, const QString& service,
               QString& busName)
    {
        busName = QStringLiteral("fake-desktop-%1").arg(++m_connections);
        T* published = nullptr;
        inThread([&] {
            QDBusConnection bus =
                QDBusConnection::connectToBus(QDBusConnection::SessionBus, busName);
            T* object = make();
            if (bus.isConnected() &&
                bus.registerObject(path, object,
                                   QDBusConnection::ExportAllSlots |
                                       QDBusConnection::ExportAllSignals |
                                       QDBusConnection::ExportAllProperties) &&
                bus.registerService(service)) {
                published = object;
                return;
            }
            QDBusConnection::disconnectFromBus(busName);
            delete object;
        });
        return published;
    }

    template <typename T> void withdraw(T*& object, const QString& service, const QString& busName)
    {
        if (!object)
            return;
        T* gone = object;
        object = nullptr;
        inThread([&] {
            QDBusConnection bus(busName);
            bus.unregisterService(service);
            QDBusConnection::disconnectFromBus(busName);
            delete gone;
        });
    }

    // Runs work in the fakes' thread and waits for it.
    void inThread(const std::function<void()>& work)
    {
        QMetaObject::invokeMethod(&m_context, work, Qt::BlockingQueuedConnection);
    }

    QThread m_thread;
    QObject m_context; // lives in m_thread
    int m_connections = 0;
    FakeStatusNotifierWatcher* m_watcher = nullptr;
    FakeNotificationServer* m_notifications = nullptr;
    QString m_watcherBus;
    QString m_notificationsBus;
};
