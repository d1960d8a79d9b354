#pragma once

#include "Background.h"
#include "LogonScheduler.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>

class JobHistory;
class LogonPWDlg;
class OrixUser;
class QPrintJobMonitor;
class QState;
class QStateMachine;
class QWidget;

// The client's life apart from its window: the state machine (initial ->
// offline <-> online), the logon at each offline entry (the logon dialog, the
// automatic logon and its retries), the server's notice polls while online,
// the start and stop of print capture, and the optional sign-on plug-in. It
// owns the session and the spool folder monitor. The main window shows what
// it does (enteredOffline, enteredOnline) and forwards the user's requests
// (logout, showLogonDialog); a test drives it without any window.
//
// The optional interface plug-in "ifclient.so" of the program folder (by
// its absolute path, never from the working directory, and only when nobody
// but root and the user could have written or replaced it) lets an outside
// sign-on log the user on and off; when it is present the logon dialog is
// not used.
class SessionController : public QObject
{
    Q_OBJECT

public:
    // Intervals, in milliseconds.
    static constexpr int kOnlinePollMs = 5000;     // server notices while online
    static constexpr int kPluginPollMs = 2000;     // plug-in sign-on check
    static constexpr int kAutoLogonRetryMs = 5000; // new logon after a failed one

    struct Options {
        QString pluginPath = defaultPluginPath();
        int onlinePollMs = kOnlinePollMs;
        int pluginPollMs = kPluginPollMs;
        int autoLogonRetryMs = kAutoLogonRetryMs;
        // When automatic logons may start after failed ones (see
        // LogonScheduler): 5000 ms, doubling up to 60000 ms, ±20 %.
        LogonScheduler::Policy logonWaits;
    };

    // "ifclient.so" in the program folder.
    static QString defaultPluginPath();

    explicit SessionController(const Options& options, QObject* parent = nullptr);
    ~SessionController() override;

    // The window the logon dialog and the boxes belong to (none: their own).
    void setDialogParent(QWidget* parent) { DialogParent = parent; }
    // Loads the plug-in and starts the state machine (its first state is
    // entered once the event loop runs).
    void start();

    bool isOnline() const { return Online; }
    OrixUser* user() const { return User.get(); }
    QPrintJobMonitor* monitor() const { return Monitor.get(); }
    LogonPWDlg* logonDialog() const { return LogonDialog; }
    // The user's recent jobs (the program's one list: submissions and
    // notices reach it).
    JobHistory* jobs() const { return Jobs; }

    // A job kept after a failed upload, as the user asks: sent again at
    // once (while online) or removed with its folder. False when that
    // cannot be done now (see QPrintJobMonitor).
    bool resubmitKeptJob(const QString& folder);
    bool removeKeptJob(const QString& folder);

    // The user logs out (manual: no automatic logon at the next offline
    // entry).
    void logout(bool manual);
    // The user asks for the logon dialog: the next offline entry does not
    // log on by itself; an open dialog comes forward. False when none is open.
    bool showLogonDialog();

    // The state entries and the retry timer's slot (the main window's
    // slots of the same names forward here).
    void initUser();
    void enterOffline();
    void enterOnline();
    void autoLogon();

signals:
    // The state machine's transitions.
    void ssInitOK();
    void ssLogonSuccess();
    void ssLogonFailed();
    void ssLogout();
    // For the window: the states as they are entered (first: the start's
    // own offline entry).
    void enteredOffline(bool first);
    void enteredOnline();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    using SyncInitFn = void* (*)(const char*);
    using SyncCheckLoginFn = int (*)(int, char*, char*);
    using SyncFreeFn = void (*)(void*);
    using SyncHandleFn = int (*)(void*, const char*);

    void loadPlugin();
    void checkPluginLogon();
    void pluginLogon(const char* userName);
    // The offline entry's logon, queued after the entry: the dialog (modal
    // where the user is asked) or the automatic logon first.
    void runLogon(int epoch);
    // No logon in flight and no wait after a failed one.
    bool automaticLogonAllowed() const;
    // The session's GetUserMessage in two halves: its fetch
    // (ReadUserMessage) off the GUI thread, then pollFinished shows the
    // notice, or logs out when a poll of this session found no server.
    void pollServerMessage();
    void pollFinished(int result, const QByteArray& headline, int epoch);

    Options Opt;
    QPointer<QWidget> DialogParent;
    std::unique_ptr<OrixUser> User;

    QStateMachine* Machine = nullptr;
    QState* InitState = nullptr;
    QState* OfflineState = nullptr;
    QState* OnlineState = nullptr;
    std::unique_ptr<QPrintJobMonitor> Monitor;
    JobHistory* Jobs = nullptr;

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
    LogonPWDlg* LogonDialog = nullptr;

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
