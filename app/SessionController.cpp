#include "SessionController.h"

#include "DComLayerWS.h"
#include "EventLog.h"
#include "JobHistory.h"
#include "LogonAttempt.h"
#include "LogonPWDlg.h"
#include "MessageBoxes.h"
#include "NoticeCenter.h"
#include "OrixUser.h"
#include "QPrintJobMonitor.h"
#include "SafeFile.h"
#include "ServerMsgDlg.h"
#include "SystemPaths.h"
#include "TextUtil.h"

#include <QFile>
#include <QState>
#include <QStateMachine>
#include <QTimerEvent>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <system_error>

SessionController::SessionController(const Options& options, QObject* parent)
    : QObject(parent), Opt(options), Scheduler(options.logonWaits)
{
    connect(&AutoLogonTimer, &QTimer::timeout, this, &SessionController::autoLogon);

    Machine = new QStateMachine(this);
    InitState = new QState(Machine);
    OfflineState = new QState(Machine);
    OnlineState = new QState(Machine);

    InitState->addTransition(this, &SessionController::ssInitOK, OfflineState);
    OfflineState->addTransition(this, &SessionController::ssLogonFailed, OfflineState);
    OfflineState->addTransition(this, &SessionController::ssLogonSuccess, OnlineState);
    OnlineState->addTransition(this, &SessionController::ssLogout, OfflineState);

    connect(InitState, &QState::entered, this, &SessionController::initUser);
    connect(OfflineState, &QState::entered, this, &SessionController::enterOffline);
    connect(OnlineState, &QState::entered, this, &SessionController::enterOnline);
    Machine->setInitialState(InitState);

    Monitor.reset(new QPrintJobMonitor);
    Jobs = new JobHistory(QString(), this);
    JobHistory::setCurrent(Jobs);
}

bool SessionController::resubmitKeptJob(const QString& folder)
{
    return Online && Monitor->retryKeptJob(folder);
}

bool SessionController::removeKeptJob(const QString& folder)
{
    return Monitor->removeKeptJob(folder);
}

SessionController::~SessionController()
{
    if (PluginTimerId) {
        killTimer(PluginTimerId);
        PluginTimerId = 0;
    }
    if (SyncFree && PluginContext)
        SyncFree(PluginContext);
    PluginContext = nullptr;
    // The library stays loaded: code of it may still be referenced.

    // A logon dialog still open (the event loop ended while it ran) is
    // deleted with its window, after the scheduler has gone; one without a
    // window here.
    if (LogonDialog) {
        LogonDialog->SetScheduler(nullptr);
        if (!LogonDialog->parent())
            delete LogonDialog;
    }

    if (Monitor && Monitor->isRunning())
        Monitor->StopMonitor();
    Monitor.reset();
    Machine->stop();
    // A poll on its way still uses the session.
    Polls.waitAll();
    // Notices still up no longer act for the session.
    NoticeCenter::instance()->forgetUser(User.get());
    User.reset();
}

QString SessionController::defaultPluginPath()
{
    return QFile::decodeName(SystemPaths::programFolder() + "ifclient.so");
}

void SessionController::start()
{
    Machine->start();
    loadPlugin();
}

void SessionController::loadPlugin()
{
    // Whatever the library does runs as the user: it is loaded only when
    // nobody else could have put it (or a link to it) in place.
    const QByteArray path = QFile::encodeName(Opt.pluginPath);
    std::string resolved;
    const SafeFile::Check check = SafeFile::TrustedLibrary(path.constData(), &resolved);
    if (check == SafeFile::Check::Missing) {
        LogEvent(kLogInfo, "dlopen:%s: %s\n", path.constData(), strerror(ENOENT));
        return;
    }
    if (check != SafeFile::Check::Ok) {
        LogEvent(kLogError, "plug-in %s not loaded: %s\n", path.constData(),
                 SafeFile::Describe(check));
        return;
    }
    PluginHandle = dlopen(resolved.c_str(), RTLD_NOW);
    if (!PluginHandle) {
        const char* error = dlerror();
        LogEvent(kLogInfo, "dlopen:%s\n", error ? error : "");
        return;
    }

    bool complete = true;
    QByteArray firstError;
    auto lookUp = [this, &complete, &firstError](const char* name) -> void* {
        dlerror();
        void* symbol = dlsym(PluginHandle, name);
        if (!symbol) {
            const char* error = dlerror();
            if (complete)
                firstError = error ? error : name;
            complete = false;
        }
        return symbol;
    };
    // What was found stays recorded even when another symbol is missing: the
    // offline state leaves the logon to the plug-in as soon as it has
    // SyncCheckLogin, initialised or not.
    SyncInit = reinterpret_cast<SyncInitFn>(lookUp("SyncInit"));
    SyncCheckLogin = reinterpret_cast<SyncCheckLoginFn>(lookUp("SyncCheckLogin"));
    SyncFree = reinterpret_cast<SyncFreeFn>(lookUp("SyncFree"));
    SyncHandleMsg = reinterpret_cast<SyncHandleFn>(lookUp("SyncHandleMsg"));
    SyncHandleJob = reinterpret_cast<SyncHandleFn>(lookUp("SyncHandleJob"));
    if (!complete) {
        LogEvent(kLogError, "dlsym:%s\n", firstError.constData());
        return;
    }

    PluginContext = SyncInit("Server=127.0.0.1;");
    if (!PluginContext) {
        LogEvent(kLogError, "IF Init fail\n");
        return;
    }
    PluginTimerId = startTimer(Opt.pluginPollMs, Qt::CoarseTimer);
}

// --- states ----------------------------------------------------------------------

void SessionController::initUser()
{
    User.reset(new OrixUser);
    emit ssInitOK();
}

void SessionController::enterOffline()
{
    ++StateEpoch;
    Online = false;
    const bool first = FirstOffline;
    FirstOffline = false;

    if (OnlineTimerId) {
        killTimer(OnlineTimerId);
        OnlineTimerId = 0;
    }
    if (Monitor->isRunning())
        Monitor->StopMonitor();
    emit enteredOffline(first);

    // With the plug-in the user is logged on by its timer.
    if (SyncCheckLogin)
        return;
    // The entry returns first; the logon (and its dialog) comes right after.
    const int epoch = StateEpoch;
    QTimer::singleShot(0, this, [this, epoch] { runLogon(epoch); });
}

void SessionController::runLogon(int epoch)
{
    // Another state was entered meanwhile.
    if (epoch != StateEpoch || Online || LogonDialog)
        return;
    LogonDialog = new LogonPWDlg(DialogParent);
    LogonDialog->SetScheduler(&Scheduler);
    LogonDialog->SetUser(User.get());

    if (User->AutoLogon && !ManualLogon && !automaticLogonAllowed()) {
        // An automatic logon failed a moment ago: the dialog waits for the
        // user, and the logon is tried in the background once the
        // scheduler's wait is over.
        LogonDialog->StartReconnect();
        LogonDialog->exec();
    } else if (User->AutoLogon && !ManualLogon) {
        LogonDialog->Logon(false);
        const LogonOutcome outcome = LogonDialog->GetLastOutcome();
        if (outcome.kind != LogonOutcome::Accepted) {
            // A server that cannot be reached is tried again in the
            // background while the dialog waits for the user.
            if (outcome.unreachable())
                LogonDialog->StartReconnect();
            // Shown over the dialog once it is up, not waited for: the
            // reconnect goes on meanwhile.
            if (outcome.threw)
                QTimer::singleShot(0, LogonDialog, [dialog = LogonDialog] {
                    MessageBoxes::openInformation(dialog, QStringLiteral("错误"),
                                                  QStringLiteral("无法连接服务器！"));
                });
            LogonDialog->exec();
        }
    } else {
        LogonDialog->setWindowModality(Qt::WindowModal);
        LogonDialog->exec();
    }
    LogonDialog->StopReconnect();

    if (LogonDialog->GetLastResult() == 0)
        emit ssLogonSuccess();
    else
        AutoLogonTimer.start(Opt.autoLogonRetryMs);

    delete LogonDialog;
    LogonDialog = nullptr;
}

void SessionController::enterOnline()
{
    ++StateEpoch;
    OnlineTimerId = startTimer(Opt.onlinePollMs, Qt::CoarseTimer);

    if (!Monitor->isRunning()) {
        Monitor->setRunning(true);
        Monitor->setUser(User.get());
        Monitor->StartMonitor();
    }
    Online = true;
    emit enteredOnline();
}

bool SessionController::automaticLogonAllowed() const
{
    return !Scheduler.inFlight() && Scheduler.automaticDelay() == 0;
}

void SessionController::autoLogon()
{
    AutoLogonTimer.stop();
    emit ssLogonFailed();
}

void SessionController::logout(bool manual)
{
    if (manual)
        ManualLogon = true;
    emit ssLogout();
}

bool SessionController::showLogonDialog()
{
    ManualLogon = true;
    if (!LogonDialog)
        return false;
    LogonDialog->showNormal();
    return true;
}

// --- timers ---------------------------------------------------------------------

void SessionController::timerEvent(QTimerEvent* event)
{
    const int id = event->timerId();
    if (id == 0 || (id != OnlineTimerId && id != PluginTimerId)) {
        QObject::timerEvent(event);
        return;
    }

    LogEvent(kLogTrace, "tmid=%d, online=%d\n", id, Online ? 1 : 0);

    // A tick that comes while the previous plug-in tick is still being
    // handled (its logon runs, its box is up) is left out.
    if (PluginBusy)
        return;

    if (id == PluginTimerId && SyncCheckLogin) {
        PluginBusy = true;
        checkPluginLogon();
        PluginBusy = false;
    }

    pollServerMessage();
}

void SessionController::checkPluginLogon()
{
    if (!User)
        return;
    char authServer[256];
    char userName[256];
    memset(authServer, 0, sizeof authServer);
    memset(userName, 0, sizeof userName);
    CopyText(authServer, sizeof authServer, User->Config.AuthServer);

    const int result = SyncCheckLogin(Online ? 1 : 0, authServer, userName);
    // Outside code: never rely on it terminating the name.
    userName[sizeof userName - 1] = '\0';

    if (result == 1 && Online) {
        LogEvent(kLogInfo, "logout-user:%s\n", userName);
        emit ssLogout();
    } else if (result == 0 && !Online) {
        pluginLogon(userName);
    }
}

void SessionController::pluginLogon(const char* userName)
{
    // The sign-on reports its user on every tick; after a failed logon the
    // next one waits for the scheduler, and a later tick asks again.
    if (!Scheduler.begin(LogonScheduler::Trigger::Automatic))
        return;
    const char* configured = User->Config.ServerAddress;
    LogEvent(kLogInfo, "login-server:%s\n", configured);

    // "host:port" names the port the logon goes to; the port text is also
    // what the session remembers. Without a port the server's usual "8085"
    // is remembered and the logon uses the session's port as it is.
    const char* colon = strchr(configured, ':');
    if (colon) {
        char host[256];
        CopyText(host, sizeof host,
                 QByteArray(configured, static_cast<int>(colon - configured)).constData());
        CopyUtf8Text(User->ServerAddress, sizeof User->ServerAddress, host);
        CopyText(User->ServerPort, sizeof User->ServerPort, colon + 1);
        CopyText(User->RpcPort, sizeof User->RpcPort, colon + 1);
    } else {
        CopyUtf8Text(User->ServerAddress, sizeof User->ServerAddress, configured);
        CopyText(User->ServerPort, sizeof User->ServerPort, CDComLayerWS::kUtf8ServicePort);
    }
    CopyUtf8Text(User->UserName, sizeof User->UserName, userName);
    User->LogonMode = 1;

    const LogonOutcome outcome = RunLogon(*User);
    Scheduler.end(outcome.kind == LogonOutcome::Accepted);
    LogEvent(kLogInfo, "login-user:%s, %d\n", userName, outcome.result);
    if (outcome.kind == LogonOutcome::Accepted)
        emit ssLogonSuccess();
    else if (outcome.threw)
        MessageBoxes::showServerUnreachable(DialogParent);
    else
        MessageBoxes::showInformation(
            DialogParent, QStringLiteral("错误"),
            QStringLiteral("Logon fail:%1 ret=%2")
                .arg(QString::fromUtf8(userName), QString::number(outcome.result)));
}

void SessionController::pollServerMessage()
{
    // One poll at a time: a tick while one is on its way is left out.
    if (!User || PollRunning)
        return;
    const QByteArray userName(User->UserName);
    const OrixUser* user = User.get();
    const int epoch = StateEpoch;
    struct Answer {
        int result = RpcResult::kUnreachable;
        QByteArray headline;
    };
    PollRunning = true;
    try {
        Polls.run(
            "notice poll", this,
            [user, userName] {
                Answer answer;
                answer.result = user->ReadUserMessage(userName, &answer.headline);
                return answer;
            },
            [this, epoch](const Answer& answer) {
                pollFinished(answer.result, answer.headline, epoch);
            });
    } catch (const std::system_error&) {
        PollRunning = false; // no thread to spare: the next tick tries again
    }
}

void SessionController::pollFinished(int result, const QByteArray& headline, int epoch)
{
    PollRunning = false;
    if (result == RpcResult::kOk) {
        // The server has handed the notice over: show it whatever happened
        // meanwhile.
        ServerMsgDlg::ShowNotice(User.get(), headline.constData());
        return;
    }
    // A poll from before a logout or a new logon speaks of a past session.
    if (result == RpcResult::kUnreachable && epoch == StateEpoch) {
        ManualLogon = false;
        emit ssLogout();
    }
}
