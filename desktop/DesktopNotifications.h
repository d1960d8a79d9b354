#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QStringList>
#include <QVariant>

class QDBusPendingCallWatcher;

// The desktop's notification server (org.freedesktop.Notifications on the
// session bus), as the client uses it: notices with the client's icon, an
// action button where the server offers actions, replaced in place or
// closed. Nothing here waits for the bus: the server is asked when this
// object starts and whenever another program takes the server's name
// (servers started on demand are started by that question), and every
// notification is sent without waiting for its answer.
//
// A notification is known by a handle of this object, valid from show()
// until closed() or failed() reports its end.
class DesktopNotifications : public QObject
{
    Q_OBJECT

public:
    enum class Server {
        Asking,  // the question is on its way
        Present, // a server answered with what it offers (offersActions())
        Absent,  // nobody answered (no session bus, no server, no answer in time)
    };

    struct Message {
        QString summary;     // plain text
        QString body;        // plain text: escaped here where the server reads markup
        QString actionLabel; // the label of one action button; none when empty
        int timeoutMs = -1;  // -1 the server's choice, 0 until the user closes it
    };

    // The longest wait for the server's answer to a question or a notice.
    static constexpr int kAnswerTimeoutMs = 5000;

    // Starts asking on the session bus.
    explicit DesktopNotifications(QObject* parent = nullptr);
    ~DesktopNotifications() override;

    // The client's: made at the first call, lives as long as the application.
    static DesktopNotifications* instance();

    Server server() const { return State; }
    bool offersActions() const { return Capabilities.contains(QStringLiteral("actions")); }

    // Asks again where no server answered before: a server started on
    // demand that went away when it was idle starts again. Nothing without
    // a session bus, or while a question is on its way.
    void askAgain();

    // The picture sent with every notification ("image-data").
    void setImage(const QImage& image);

    // Sends message; replaces, when it names one shown earlier, is replaced
    // in place (and its handle returned). 0 when no server is present.
    quint32 show(const Message& message, quint32 replaces = 0);
    // Closes a notification shown earlier.
    void close(quint32 handle);

signals:
    void serverChanged();
    // The user chose the notification's action (its button or, where the
    // server has one, a click on the notification).
    void actionInvoked(quint32 handle);
    // The notification is gone: closed by the user, expired, replaced by the
    // server, or the server went away.
    void closed(quint32 handle);
    // The server did not take the notification: it is not on screen.
    void failed(quint32 handle);

private slots:
    void ownerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void notificationClosed(quint32 id, quint32 reason);
    void actionInvokedById(quint32 id, const QString& key);

private:
    struct Notification {
        quint32 id = 0;          // the server's, once it answered
        bool answered = false;   // the server's answer to the last Notify came
        bool closeLater = false; // closed before the server's answer
        bool hasNext = false;    // a replacement waits for the server's answer
        Message next;
    };

    void ask();
    void setState(Server state);
    void send(quint32 handle, const Message& message, quint32 replacesId);
    void forgetAll();
    quint32 handleOf(quint32 id) const;
    // The server's signals may overtake its answer to Notify: a signal
    // about an id no answer has named yet is kept (at most kMostEarly) while
    // answers are awaited, and handled once the answer names its id.
    bool early(quint32 id, const QString& actionKey, bool closed);
    void replayEarly(quint32 id);
    static constexpr int kMostEarly = 32;

    QDBusConnection Bus;
    Server State = Server::Asking;
    QStringList Capabilities;
    QVariant ImageHint; // the picture as the "image-data" hint carries it
    QHash<quint32, Notification> Shown;
    struct EarlySignal {
        quint32 id = 0;
        bool closed = false; // NotificationClosed; else ActionInvoked with key
        QString key;
    };
    QList<EarlySignal> Early;
    quint32 LastHandle = 0;
    int AskGeneration = 0;
};
