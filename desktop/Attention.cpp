#include "Attention.h"

#include "DesktopNotifications.h"
#include "X11Desktop.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace
{

// Follows the window from its showing to its closing.
class AttentionRequest : public QObject
{
public:
    AttentionRequest(QWidget* window, bool quiet, DesktopNotifications::Message message)
        : QObject(window), Window(window), Quiet(quiet), Message(std::move(message))
    {
        window->installEventFilter(this);
    }

    ~AttentionRequest() override { endNotification(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched != Window)
            return false;
        switch (event->type()) {
        case QEvent::Show:
            // After the window system has the window.
            QMetaObject::invokeMethod(
                this, [this] { shown(); }, Qt::QueuedConnection);
            break;
        case QEvent::WindowActivate:
            if (X11Desktop* x11 = X11Desktop::forApplication())
                x11->setUrgent(quint32(Window->winId()), false);
            break;
        case QEvent::Hide:
            endNotification();
            break;
        default:
            break;
        }
        return false;
    }

private:
    void shown()
    {
        if (!Window || !Window->isVisible())
            return;
        Window->raise();
        if (!Quiet)
            Window->activateWindow();
        if (!Window->isActiveWindow()) {
            QApplication::alert(Window, 0);
            if (X11Desktop* x11 = X11Desktop::forApplication())
                x11->setUrgent(quint32(Window->winId()), true);
        }
        if (Quiet || QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
            notify();
    }

    void notify()
    {
        DesktopNotifications* notifications = DesktopNotifications::instance();
        Handle = notifications->show(Message);
        if (!Handle)
            return;
        connect(notifications, &DesktopNotifications::actionInvoked, this, [this](quint32 handle) {
            if (handle != Handle || !Window)
                return;
            Window->showNormal();
            Window->raise();
            Window->activateWindow();
        });
    }

    void endNotification()
    {
        if (Handle)
            DesktopNotifications::instance()->close(Handle);
        Handle = 0;
    }

    QPointer<QWidget> Window;
    const bool Quiet;
    const DesktopNotifications::Message Message;
    quint32 Handle = 0;
};

} // namespace

namespace Attention
{

bool otherProgramActive()
{
    X11Desktop* x11 = X11Desktop::forApplication();
    const quint32 active = x11 ? x11->activeWindow() : 0;
    if (!active)
        return false;
    for (QWindow* window : QGuiApplication::allWindows())
        if (window->handle() && quint32(window->winId()) == active)
            return false;
    return true;
}

void request(QWidget* window, const QString& summary, const QString& body)
{
    if (!window)
        return;
    const bool quiet = otherProgramActive();
    window->setAttribute(Qt::WA_ShowWithoutActivating, quiet);
    DesktopNotifications::Message message;
    message.summary = summary;
    message.body = body;
    message.actionLabel = QStringLiteral("查看");
    message.timeoutMs = 0;
    new AttentionRequest(window, quiet, message);
}

} // namespace Attention
