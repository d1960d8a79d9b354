#include "DesktopTrayIcon.h"

#include "X11Desktop.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QMenu>
#include <QWidget>

namespace
{

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
const int kAnswerTimeoutMs = 5000;

} // namespace

DesktopTrayIcon::DesktopTrayIcon(int waitMs, QObject* parent) : QObject(parent)
{
    WaitTimer.setSingleShot(true);
    WaitTimer.setInterval(waitMs);
    connect(&WaitTimer, &QTimer::timeout, this, &DesktopTrayIcon::waitOver);
}

DesktopTrayIcon::~DesktopTrayIcon() = default;

void DesktopTrayIcon::setIcon(const QIcon& icon)
{
    Icon = icon;
    if (SystemIcon)
        SystemIcon->setIcon(icon);
}

void DesktopTrayIcon::setContextMenu(QMenu* menu)
{
    Menu = menu;
    if (SystemIcon)
        SystemIcon->setContextMenu(menu);
}

void DesktopTrayIcon::setVisible(bool visible)
{
    Visible = visible;
    if (SystemIcon)
        SystemIcon->setVisible(visible);
}

void DesktopTrayIcon::start()
{
    if (Started)
        return;
    Started = true;

    QDBusConnection bus = QDBusConnection::sessionBus();
    BusConnected = bus.isConnected();
    WatcherKnown = !BusConnected;
    if (BusConnected) {
        // Subscribed before the first question, so that no change between
        // the question and its answer is missed.
        auto* watcher = new QDBusServiceWatcher(kWatcherService, bus,
                                                QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                &DesktopTrayIcon::watcherOwnerChanged);
        for (const char* signal :
             {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
            bus.connect(kWatcherService, kWatcherPath, kWatcherInterface, QLatin1String(signal),
                        this, SLOT(askWatcher()));
        askWatcher();
    }
    if (!BusConnected && !X11Desktop::forApplication()) {
        // Neither a bus nor X11: no tray can ever come.
        Waited = true;
        decide();
        return;
    }
    WaitTimer.start();
    lookForTray();
}

void DesktopTrayIcon::askWatcher()
{
    const int generation = ++AskGeneration;
    QDBusMessage call = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    call << kWatcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* pending = new QDBusPendingCallWatcher(
        QDBusConnection::sessionBus().asyncCall(call, kAnswerTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                if (generation != AskGeneration)
                    return; // a later question is on its way
                WatcherKnown = true;
                const QDBusPendingReply<QDBusVariant> answer = *reply;
                if (answer.isError()) {
                    WatcherPresent = answer.error().type() != QDBusError::ServiceUnknown;
                    HostRegistered = false;
                } else {
                    WatcherPresent = true;
                    HostRegistered = answer.value().variant().toBool();
                }
                decide();
            });
}

void DesktopTrayIcon::watcherOwnerChanged(const QString&, const QString&, const QString& newOwner)
{
    // A watcher that starts again (another owner of its name) gets Qt's icon
    // from Qt itself: an icon once registered registers again with every new
    // owner.
    WatcherKnown = true;
    WatcherPresent = !newOwner.isEmpty();
    if (newOwner.isEmpty()) {
        ++AskGeneration;
        HostRegistered = false;
        decide();
        return;
    }
    askWatcher();
}

void DesktopTrayIcon::lookForTray()
{
    if (X11Desktop* x11 = X11Desktop::forApplication()) {
        const bool present = x11->trayManagerPresent();
        if (present == XEmbedPresent)
            return;
        XEmbedPresent = present;
        decide();
    }
}

void DesktopTrayIcon::waitOver()
{
    Waited = true;
    decide();
}

void DesktopTrayIcon::decide()
{
    Tray next;
    if (HostRegistered)
        next = Tray::StatusNotifier;
    else if (XEmbedPresent && ((WatcherKnown && !WatcherPresent) || Waited))
        next = Tray::XEmbed;
    else
        next = Waited ? Tray::None : Tray::Waiting;

    const bool wasDocked = docked();
    const bool nowDocked = next == Tray::StatusNotifier || next == Tray::XEmbed;
    if (wasDocked && !nowDocked && Waited) {
        // The tray went: wait for it (or another) again before the window
        // leaves it.
        Waited = false;
        WaitTimer.start();
        next = Tray::Waiting;
    }
    if (next == Current)
        return;
    Current = next;

    if (nowDocked) {
        if (!SystemIcon)
            makeSystemIcon();
        if (!wasDocked && Window &&
            (Window->isMinimized() || (HidePending && !Window->isActiveWindow())))
            Window->hide();
        HidePending = false;
    } else if (Current == Tray::None) {
        HidePending = false;
        // A window that lived in a tray that has gone comes back.
        if (Window && !Window->isVisible())
            Window->showMinimized();
    }
}

void DesktopTrayIcon::makeSystemIcon()
{
    // Qt decides here, once for the process, whether its icons go over the
    // bus: they do when a host is registered now.
    SystemIcon = new QSystemTrayIcon(Icon, this);
    if (Menu)
        SystemIcon->setContextMenu(Menu);
    connect(SystemIcon, &QSystemTrayIcon::activated, this, &DesktopTrayIcon::activated);
    SystemIcon->setVisible(Visible);
}

void DesktopTrayIcon::setWindow(QWidget* window)
{
    Window = window;
}

void DesktopTrayIcon::putAway()
{
    if (!Window)
        return;
    if (docked())
        Window->hide();
    else
        Window->showMinimized();
}

void DesktopTrayIcon::hideAfterStart()
{
    if (!Window)
        return;
    if (docked())
        Window->hide();
    else if (Current == Tray::Waiting)
        HidePending = true;
}

void DesktopTrayIcon::showOnline()
{
    if (!Window)
        return;
    if (docked())
        Window->showNormal();
    else
        Window->showMinimized();
}

void DesktopTrayIcon::showOffline()
{
    if (!Window)
        return;
    if (docked())
        Window->hide();
    else
        Window->showNormal();
}
