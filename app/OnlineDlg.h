#pragma once

#include "DesktopTrayIcon.h"
#include "SessionController.h"

#include <QDialog>
#include <QFileSystemWatcher>
#include <QIcon>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>

class JobsPage;
class LogonPWDlg;
class OrixUser;
class QAction;
class QMenu;
class QPrintJobMonitor;
class QToolButton;
class RequestEntries;
class RequestFlows;

namespace Ui
{
class OnlineDlg;
}

// The main window of the client: a frameless, shaped window that shows who
// is logged on, with a tray icon and its menu and the request page. What
// happens to the session (the state machine, the logons, the polls, print
// capture, the sign-on plug-in) is its SessionController's; the window shows
// the states it enters and forwards the user's requests to it.
class OnlineDlg : public QDialog
{
    Q_OBJECT

public:
    // Intervals of the window's timers (and its controller's), in
    // milliseconds.
    static constexpr int kOnlinePollMs = SessionController::kOnlinePollMs;
    static constexpr int kPluginPollMs = SessionController::kPluginPollMs;
    static constexpr int kAutoLogonRetryMs = SessionController::kAutoLogonRetryMs;
    static constexpr int kTrayRetryMs = 2000; // look again for an X11 tray
    static constexpr int kTrayWaitMs = 10000; // wait for a tray before living without
    static constexpr int kHideDelayMs = 100;  // hide the window after start

    // What a test may change; the program uses the defaults.
    struct Options {
        QString pluginPath = defaultPluginPath();
        int onlinePollMs = kOnlinePollMs;
        int pluginPollMs = kPluginPollMs;
        int autoLogonRetryMs = kAutoLogonRetryMs;
        int trayRetryMs = kTrayRetryMs;
        int trayWaitMs = kTrayWaitMs;
        int hideDelayMs = kHideDelayMs;
        // When automatic logons may start after failed ones (see
        // LogonScheduler): 5000 ms, doubling up to 60000 ms, ±20 %.
        LogonScheduler::Policy logonWaits;
    };

    // "ifclient.so" in the program folder.
    static QString defaultPluginPath() { return SessionController::defaultPluginPath(); }

    explicit OnlineDlg(QWidget* parent = nullptr);
    explicit OnlineDlg(const Options& options, QWidget* parent = nullptr);
    ~OnlineDlg() override;

    // Shows the logged-on user and applies the configuration's UIHide bits.
    void SetUser(OrixUser* user);
    void InitStateMachine();
    void createActions();
    void createTrayIcon();

    // State, for the owner and the tests.
    SessionController* controller() const { return Controller; }
    bool isOnline() const { return Controller->isOnline(); }
    OrixUser* user() const { return Controller->user(); }
    QPrintJobMonitor* monitor() const { return Controller->monitor(); }
    LogonPWDlg* logonDialog() const { return Controller->logonDialog(); }
    DesktopTrayIcon* trayIcon() const { return TrayIcon; }
    JobsPage* jobsPage() const { return Jobs; }
    QMenu* trayMenu() const { return TrayMenu; }

signals:
    // The controller's transitions, forwarded.
    void ssInitOK();
    void ssLogonSuccess();
    void ssLogonFailed();
    void ssLogout();

public slots:
    void btnMobilePrintJob_clicked();
    void LogWeb_clicked();
    void btnAbout_clicked();
    void Logout_clicked();
    void hideUI();
    void showUI();
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
    void toolBoxbtnLogout_clicked();
    void toolBoxbtnLogWeb_clicked();
    void toolBoxbtnAbout_clicked();
    void btnCopyTask_clicked();
    void btnCDTask_clicked();
    // The controller's state entries (forwarded to it) and what the window
    // shows of them (sslotEnterOffline, sslotEnterOnline: connected to the
    // controller's enteredOffline and enteredOnline).
    void sslotAutoLogon();
    void sslotInitUser();
    void sslotEnterOffline();
    void sslotEnterOnline();
    void SloQtimerFunctionHideShowTrayIcon();
    void SloQtimerFunctionHideOnlineUI();
    void directoryChanged(QString path);
    // The window with the page "我的任务" (the tray menu's entry).
    void showJobs();
    // Escape or the window manager's close: put away like the close button.
    void reject() override;

protected:
    void timerEvent(QTimerEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyStyles();
    void setupRequests();
    void setupButtons();
    void setupJobsPage();
    void nameToolBoxPages();
    void showOffline(bool first);
    void showOnline();

    Options Opt;
    std::unique_ptr<Ui::OnlineDlg> Ui;
    SessionController* Controller = nullptr;

    QIcon OfflineIcon;
    QIcon OnlineIcon;
    DesktopTrayIcon* TrayIcon = nullptr;
    QMenu* TrayMenu = nullptr;
    QAction* HideAction = nullptr;
    QAction* ShowAction = nullptr;
    QAction* LogoutAction = nullptr;
    QToolButton* CloseButton = nullptr;
    QFileSystemWatcher Watcher;

    QTimer TrayTimer;
    QTimer HideTimer;

    // The request page's buttons and the tray's request entries, and the
    // requests they start.
    RequestEntries* Requests = nullptr;
    RequestFlows* Flows = nullptr;

    // The page of the user's recent jobs (the controller keeps the list).
    JobsPage* Jobs = nullptr;
    QAction* JobsAction = nullptr;
};
