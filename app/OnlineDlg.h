#pragma once

#include "Background.h"
#include "DesktopTrayIcon.h"
#include "LogonScheduler.h"

#include <QDialog>
#include <QFileSystemWatcher>
#include <QIcon>
#include <QString>
#include <QSystemTrayIcon>
#include <QTimer>

#include <memory>

class JobHistory;
class JobsPage;
class LogonPWDlg;
class OrixUser;
class QAction;
class QMenu;
class QPrintJobMonitor;
class QState;
class QStateMachine;
class QToolButton;
class RequestEntries;
class RequestFlows;

namespace Ui
{
class OnlineDlg;
}

// The main window and controller of the client: a frameless, shaped window
// that shows who is logged on, a tray icon with a menu, and a state machine
// (initial -> offline <-> online) that runs the logon, the server polling
// and the start and stop of print capture. It owns the session, the spool
// folder monitor and, while one is open, the logon dialog.
//
// The optional interface plug-in "ifclient.so" of the program folder (by
// its absolute path, never from the working directory, and only when nobody
// but root and the user could have written or replaced it) lets an outside
// sign-on log the user on and off; when it is present the logon dialog is
// not used.
class OnlineDlg : public QDialog
{
    Q_OBJECT

public:
    // Intervals of the window's timers, in milliseconds.
    static constexpr int kOnlinePollMs = 5000;     // server notices while online
    static constexpr int kPluginPollMs = 2000;     // plug-in sign-on check
    static constexpr int kAutoLogonRetryMs = 5000; // new logon after a failed one
    static constexpr int kTrayRetryMs = 2000;      // look again for an X11 tray
    static constexpr int kTrayWaitMs = 10000;      // wait for a tray before living without
    static constexpr int kHideDelayMs = 100;       // hide the window after start

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
    static QString defaultPluginPath();

    explicit OnlineDlg(QWidget* parent = nullptr);
    explicit OnlineDlg(const Options& options, QWidget* parent = nullptr);
    ~OnlineDlg() override;

    // Shows the logged-on user and applies the configuration's UIHide bits.
    void SetUser(OrixUser* user);
    void InitStateMachine();
    void createActions();
    void createTrayIcon();

    // State, for the owner and the tests.
    bool isOnline() const { return Online; }
    OrixUser* user() const { return User.get(); }
    QPrintJobMonitor* monitor() const { return Monitor.get(); }
    LogonPWDlg* logonDialog() const { return LogonDialog; }
    DesktopTrayIcon* trayIcon() const { return TrayIcon; }
    JobsPage* jobsPage() const { return Jobs; }
    QMenu* trayMenu() const { return TrayMenu; }

signals:
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
    // The plug-in's entry points.
    using SyncInitFn = void* (*)(const char*);
    using SyncCheckLoginFn = int (*)(int, char*, char*);
    using SyncFreeFn = void (*)(void*);
    using SyncHandleFn = int (*)(void*, const char*);

    void applyStyles();
    void setupRequests();
    void setupButtons();
    void setupJobsPage();
    void nameToolBoxPages();
    void loadPlugin();
    void checkPluginLogon();
    void pluginLogon(const char* userName);
    // No logon in flight and no wait after a failed one.
    bool automaticLogonAllowed() const;
    // The session's GetUserMessage in two halves: its fetch
    // (ReadUserMessage) off the GUI thread, then pollFinished shows the
    // notice, or logs out when a poll of this session found no server.
    void pollServerMessage();
    void pollFinished(int result, const QByteArray& headline, int epoch);

    Options Opt;
    std::unique_ptr<Ui::OnlineDlg> Ui;
    std::unique_ptr<OrixUser> User;

    QStateMachine* Machine = nullptr;
    QState* InitState = nullptr;
    QState* OfflineState = nullptr;
    QState* OnlineState = nullptr;
    std::unique_ptr<QPrintJobMonitor> Monitor;

    QIcon OfflineIcon;
    QIcon OnlineIcon;
    DesktopTrayIcon* TrayIcon = nullptr;
    QMenu* TrayMenu = nullptr;
    QAction* HideAction = nullptr;
    QAction* ShowAction = nullptr;
    QAction* LogoutAction = nullptr;
    QToolButton* CloseButton = nullptr;
    QFileSystemWatcher Watcher;

    bool Online = false;
    bool ManualLogon = false;
    bool FirstOffline = true;
    bool PollRunning = false; // a notice poll is on its way
    bool PluginBusy = false;  // a plug-in tick (its logon, its box) is being handled
    int StateEpoch = 0;       // counts the entries into offline and online
    int OnlineTimerId = 0;
    int PluginTimerId = 0;
    LogonScheduler Scheduler; // clears every logon: the dialog's, its reconnect's, the plug-in's
    QTimer AutoLogonTimer;
    QTimer TrayTimer;
    QTimer HideTimer;
    LogonPWDlg* LogonDialog = nullptr;

    // The request page's buttons and the tray's request entries, and the
    // requests they start.
    RequestEntries* Requests = nullptr;
    RequestFlows* Flows = nullptr;

    // The user's recent jobs and their page.
    JobHistory* History = nullptr;
    JobsPage* Jobs = nullptr;
    QAction* JobsAction = nullptr;

    void* PluginHandle = nullptr;
    SyncInitFn SyncInit = nullptr;
    SyncFreeFn SyncFree = nullptr;
    SyncCheckLoginFn SyncCheckLogin = nullptr;
    SyncHandleFn SyncHandleMsg = nullptr;
    SyncHandleFn SyncHandleJob = nullptr;
    void* PluginContext = nullptr;

    // The notice polls; waited for before the session goes.
    Background::TaskGroup Polls;
};
