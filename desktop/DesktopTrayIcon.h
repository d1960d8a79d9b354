#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

class QMenu;
class QWidget;

// The client's tray icon, and the place of its main window: in the tray
// where the desktop has one, else a normal window in the task bar.
//
// Qt's tray icon decides once per process, the first time one is made or
// asked for, whether the desktop has a status notifier host on the session
// bus, and keeps that answer. A client started at login, before the desktop
// has registered its host, would never get an icon. So the QSystemTrayIcon
// is made only once a tray is known to be there: a status notifier host
// registered with org.kde.StatusNotifierWatcher (watched on the bus without
// waiting for it), or, on X11, an XEmbed tray manager (looked for by
// lookForTray()). Where the bus has a watcher but its host is still to
// come, the XEmbed tray is taken only once the wait is over. A watcher that
// starts again (another program takes its name) gets the icon from Qt,
// which registers an icon again with every new watcher.
//
// The window: until a tray is there, and for a bounded wait after start or
// after a tray went away, it is not hidden; without a tray it lives in the
// task bar, minimised where the tray would have hidden it. When a tray
// comes, a window waiting to be hidden or minimised moves into it; when the
// tray goes for good, a hidden window comes back to the task bar.
//
// Offers the calls of QSystemTrayIcon that the window uses, so that the
// window sets its icon and menu before any tray exists.
class DesktopTrayIcon : public QObject
{
    Q_OBJECT

public:
    enum class Tray {
        Waiting,        // none yet, within the wait
        StatusNotifier, // a status notifier host on the session bus
        XEmbed,         // an X11 system tray manager
        None,           // none after the wait
    };

    // How long to wait for a tray after start or after a tray went away.
    static constexpr int kWaitMs = 10000;

    explicit DesktopTrayIcon(int waitMs = kWaitMs, QObject* parent = nullptr);
    ~DesktopTrayIcon() override;

    void setIcon(const QIcon& icon);
    QIcon icon() const { return Icon; }
    void setContextMenu(QMenu* menu);
    QMenu* contextMenu() const { return Menu; }
    void setVisible(bool visible);
    void show() { setVisible(true); }

    // Starts watching for a tray (once).
    void start();
    // Looks again for an XEmbed tray manager (X11 only; one round trip).
    // The window calls it every few seconds.
    void lookForTray();

    Tray tray() const { return Current; }
    bool docked() const { return Current == Tray::StatusNotifier || Current == Tray::XEmbed; }
    // Qt's icon; null until a tray was found.
    QSystemTrayIcon* systemTrayIcon() const { return SystemIcon; }

    // The window kept reachable.
    void setWindow(QWidget* window);
    // The user closed or minimised the window: into the tray, else minimised.
    void putAway();
    // Shortly after start: hidden into the tray; while waiting for one, as
    // soon as it comes; without a tray the window stays.
    void hideAfterStart();
    // After a logon: shown in front with a tray, else minimised.
    void showOnline();
    // After a logout: into the tray, else shown (the logon comes over it).
    void showOffline();

signals:
    void activated(QSystemTrayIcon::ActivationReason reason);

private slots:
    void watcherOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);
    void askWatcher();
    void waitOver();

private:
    void decide();
    void makeSystemIcon();

    QIcon Icon;
    QMenu* Menu = nullptr;
    bool Visible = false;

    bool Started = false;
    bool BusConnected = false;
    bool WatcherKnown = false; // the bus has told whether a watcher is there
    bool WatcherPresent = false;
    bool HostRegistered = false;
    bool XEmbedPresent = false;
    bool Waited = false; // the wait is over
    bool HidePending = false;
    int AskGeneration = 0;
    Tray Current = Tray::Waiting;
    QTimer WaitTimer;

    QPointer<QWidget> Window;
    QSystemTrayIcon* SystemIcon = nullptr;
};
