#include "OnlineDlg.h"

#include "AppIcons.h"
#include "DComLayerWS.h"
#include "DiagnosticsReport.h"
#include "EventLog.h"
#include "FramelessWindow.h"
#include "JobHistory.h"
#include "JobsPage.h"
#include "LogonAttempt.h"
#include "LogonPWDlg.h"
#include "MessageBoxes.h"
#include "NoticeCenter.h"
#include "OrixUser.h"
#include "QPrintJobMonitor.h"
#include "RequestEntries.h"
#include "RequestFlows.h"
#include "SafeFile.h"
#include "ServerMsgDlg.h"
#include "SingleInstance.h"
#include "SystemPaths.h"
#include "TavCommon.h"
#include "TextUtil.h"
#include "aboutdlg.h"
#include "ui_OnlineDlg.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QPixmap>
#include <QScrollArea>
#include <QState>
#include <QStateMachine>
#include <QTableView>
#include <QThread>
#include <QToolBox>
#include <QToolButton>

#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <utility>

namespace
{

// Loads a picture, trying again once a second until it has a size: the tray
// icons must not come up empty.
QPixmap loadPictureWaiting(const QString& path)
{
    for (;;) {
        QPixmap picture(path);
        if (!picture.size().isEmpty())
            return picture;
        QThread::sleep(1);
    }
}

QString toolButtonImages(const QString& name)
{
    const QString base = QStringLiteral(":/background/images/") + name;
    return QStringLiteral("QToolButton{border-image:url(%1.png);}"
                          "QToolButton:hover{border-image:url(%1_on.png);}"
                          "QToolButton:pressed{border-image:url(%1_down.png);}")
        .arg(base);
}

QString yesNo(bool value)
{
    return value ? QStringLiteral("是") : QStringLiteral("否");
}

} // namespace

OnlineDlg::OnlineDlg(QWidget* parent) : OnlineDlg(Options(), parent) {}

OnlineDlg::OnlineDlg(const Options& options, QWidget* parent)
    : QDialog(parent), Opt(options), Ui(new Ui::OnlineDlg), Scheduler(options.logonWaits)
{
    Ui->setupUi(this);
    // A main window, not a dialog, to the window manager: without a tray it
    // lives in the task bar, and desktops do not minimise dialogs.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    enableFramelessDrag(this);

    // The background picture gives the window its size: centred after it.
    applyStyles();
    centreOnScreen(this);

    setupButtons();
    createActions();
    createTrayIcon();

    ManualLogon = false;
    FirstOffline = true;
    connect(&AutoLogonTimer, &QTimer::timeout, this, &OnlineDlg::sslotAutoLogon);
    connect(&TrayTimer, &QTimer::timeout, this, &OnlineDlg::SloQtimerFunctionHideShowTrayIcon);
    TrayTimer.start(Opt.trayRetryMs);
    connect(&HideTimer, &QTimer::timeout, this, &OnlineDlg::SloQtimerFunctionHideOnlineUI);
    HideTimer.start(Opt.hideDelayMs);

    // The form's five spare push buttons are never shown.
    for (QPushButton* button :
         {Ui->pushButton, Ui->pushButton_2, Ui->pushButton_3, Ui->pushButton_4, Ui->pushButton_5})
        button->hide();
    // Only this user's own file in the shared folder is watched: a start of
    // another user touches his own file, not ours.
    const QByteArray signalFile = prepareSignalFile();
    if (!signalFile.isEmpty())
        Watcher.addPath(QFile::decodeName(signalFile));
    connect(&Watcher, &QFileSystemWatcher::fileChanged, this, &OnlineDlg::directoryChanged);

    // The state machine starts once the event loop runs.
    InitStateMachine();
    // The request page's buttons and their entries in the tray menu.
    setupRequests();
    setupJobsPage();
    loadPlugin();

    // The desktop's notification server is asked now, before the first
    // notice.
    NoticeCenter::instance();
}

OnlineDlg::~OnlineDlg()
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
    // deleted with the window's children, after the scheduler has gone.
    if (LogonDialog)
        LogonDialog->SetScheduler(nullptr);

    if (Monitor && Monitor->isRunning())
        Monitor->StopMonitor();
    Monitor.reset();
    if (Machine)
        Machine->stop();
    // A poll on its way still uses the session.
    Polls.waitAll();
    // Notices still up no longer act for the session.
    NoticeCenter::instance()->forgetUser(User.get());
    User.reset();
}

void OnlineDlg::applyStyles()
{
    const QString pageColour = QStringLiteral("background-color: rgb(232, 238, 245);");
    Ui->toolBoxUserInfoPage->setStyleSheet(pageColour);
    Ui->pageNewTask->setStyleSheet(pageColour);
    Ui->toolBox->setStyleSheet(
        QStringLiteral("QToolBox::tab:selected{background-color: rgb(255, 255, 255);}"
                       "QToolBox::tab:selected{background-color: rgb(104, 171, 218);}"
                       "QToolBox::tab:!selected{background-color: rgb(104, 171, 218);}"
                       "QToolBox::tab:hover{background-color: rgb(180, 214, 236);}"));

    // The picture gives the window its size and shape.
    applyShapedBackground(this, QPixmap(QStringLiteral(":/background/images/online.png")));

    const QPixmap userInfo(QStringLiteral(":/background/images/userinfo.png"));
    if (!userInfo.isNull()) {
        QPalette pal = Ui->toolBoxUserInfoPage->palette();
        pal.setBrush(QPalette::Window, QBrush(userInfo));
        Ui->toolBoxUserInfoPage->setPalette(pal);
        Ui->toolBoxUserInfoPage->setAutoFillBackground(true);
    }
}

void OnlineDlg::setupButtons()
{
    Ui->btnLogout->setStyleSheet(toolButtonImages(QStringLiteral("Logout")));
    Ui->btnLogout->setToolTip(QStringLiteral("注销"));
    Ui->btnLogWeb->setStyleSheet(toolButtonImages(QStringLiteral("Web")));
    Ui->btnLogWeb->setToolTip(QStringLiteral("登录网页"));
    Ui->btnAbout->setStyleSheet(toolButtonImages(QStringLiteral("about")));
    Ui->btnAbout->setToolTip(QStringLiteral("关于"));
    // Picture buttons: their tooltips are their names for screen readers.
    for (QToolButton* button : {Ui->btnLogout, Ui->btnLogWeb, Ui->btnAbout})
        button->setAccessibleName(button->toolTip());
    connect(Ui->btnLogout, &QToolButton::clicked, this, &OnlineDlg::Logout_clicked);
    connect(Ui->btnLogWeb, &QToolButton::clicked, this, &OnlineDlg::LogWeb_clicked);
    connect(Ui->btnAbout, &QToolButton::clicked, this, &OnlineDlg::toolBoxbtnAbout_clicked);

    for (QToolButton* button :
         {Ui->toolButton, Ui->toolButton_2, Ui->toolButton_3, Ui->toolButton_4, Ui->toolButton_5}) {
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    }

    // Close button: top right corner, 5 pixels in from the edges.
    CloseButton = new QToolButton(this);
    CloseButton->setObjectName(QStringLiteral("btnClose"));
    CloseButton->setStyleSheet(
        QStringLiteral("QToolButton{border-image:url(:/background/images/min.png);}"
                       "QToolButton:hover{border-image:url(:/background/images/min_on.png);}"
                       "QToolButton:pressed{border-image:url(:/background/images/min_on.png);}"));
    CloseButton->setToolTip(QStringLiteral("关闭"));
    CloseButton->setAccessibleName(CloseButton->toolTip());
    CloseButton->setGeometry(width() - 5 - 20, 5, 20, 20);
    connect(CloseButton, &QToolButton::clicked, this, &OnlineDlg::hideUI);
}

void OnlineDlg::setupRequests()
{
    Flows = new RequestFlows(this);
    Requests = new RequestEntries(Ui->toolBox, Ui->pageNewTask, TrayMenu, LogoutAction, this);
    Requests->add(RequestEntries::MobilePrint, Ui->btnMobilePrintJob, this,
                  &OnlineDlg::btnMobilePrintJob_clicked);
    Requests->add(RequestEntries::Copy, Ui->btnCopyTask, this, &OnlineDlg::btnCopyTask_clicked);
    Requests->add(RequestEntries::Disc, Ui->btnCDTask, this, &OnlineDlg::btnCDTask_clicked);
    connect(Flows, &RequestFlows::busyChanged, Requests, &RequestEntries::setBusy);
}

void OnlineDlg::setupJobsPage()
{
    History = new JobHistory(QString(), this);
    JobHistory::setCurrent(History);
    Jobs = new JobsPage(History, Ui->toolBox);
    Jobs->setStyleSheet(
        QStringLiteral("QWidget#pageMyJobs{background-color: rgb(232, 238, 245);}"));
    Ui->toolBox->addItem(Jobs, QStringLiteral("我的任务"));
    Jobs->setActions(
        [this](const QString& folder) { return Monitor && Monitor->retryKeptJob(folder); },
        [this](const QString& folder) { return Monitor && Monitor->removeKeptJob(folder); });
    JobsAction = new QAction(QStringLiteral("我的任务"), this);
    connect(JobsAction, &QAction::triggered, this, &OnlineDlg::showJobs);
    TrayMenu->insertAction(ShowAction, JobsAction);
    TrayMenu->insertAction(JobsAction, ShowAction);
    nameToolBoxPages();
}

void OnlineDlg::nameToolBoxPages()
{
    // The tool box holds each page in a scroll area of its own, which
    // takes the focus: named after its page.
    QToolBox* box = Ui->toolBox;
    for (int i = 0; i < box->count(); ++i)
        for (QWidget* w = box->widget(i)->parentWidget(); w && w != box; w = w->parentWidget())
            if (auto* area = qobject_cast<QScrollArea*>(w))
                area->setAccessibleName(box->itemText(i));
}

void OnlineDlg::showJobs()
{
    Ui->toolBox->setCurrentWidget(Jobs);
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
    Jobs->view()->setFocus();
}

void OnlineDlg::createActions()
{
    HideAction = new QAction(QStringLiteral("隐藏界面"), this);
    connect(HideAction, &QAction::triggered, this, &OnlineDlg::hideUI);
    ShowAction = new QAction(QStringLiteral("显示界面"), this);
    connect(ShowAction, &QAction::triggered, this, &OnlineDlg::showUI);
    LogoutAction = new QAction(QStringLiteral("注销"), this);
    connect(LogoutAction, &QAction::triggered, this, &OnlineDlg::Logout_clicked);
}

void OnlineDlg::createTrayIcon()
{
    TrayMenu = new QMenu(this);
    TrayMenu->addAction(HideAction);
    TrayMenu->addAction(ShowAction);
    TrayMenu->addSeparator();
    TrayMenu->addAction(LogoutAction);

    // The pictures of the two states, each at every size the tray may ask
    // for (the program's icon of the hicolor set while online).
    OfflineIcon = QIcon(loadPictureWaiting(QStringLiteral(":/icon/images/ICON_Offline.png")));
    OnlineIcon = QIcon(loadPictureWaiting(QStringLiteral(":/icon/images/ICON_Online.png")));
    for (const auto& [icon, sized] : {std::make_pair(&OfflineIcon, AppIcons::offline()),
                                      std::make_pair(&OnlineIcon, AppIcons::application())})
        if (!sized.availableSizes().isEmpty())
            *icon = sized;

    // The icon comes into a tray once there is one; until then, and without
    // one, the window stays reachable in the task bar.
    TrayIcon = new DesktopTrayIcon(Opt.trayWaitMs, this);
    TrayIcon->setContextMenu(TrayMenu);
    TrayIcon->setIcon(OfflineIcon);
    TrayIcon->setWindow(this);
    connect(TrayIcon, &DesktopTrayIcon::activated, this, &OnlineDlg::iconActivated);
    TrayIcon->show();
    TrayIcon->start();
}

void OnlineDlg::InitStateMachine()
{
    Machine = new QStateMachine(this);
    InitState = new QState(Machine);
    OfflineState = new QState(Machine);
    OnlineState = new QState(Machine);

    InitState->addTransition(this, &OnlineDlg::ssInitOK, OfflineState);
    OfflineState->addTransition(this, &OnlineDlg::ssLogonFailed, OfflineState);
    OfflineState->addTransition(this, &OnlineDlg::ssLogonSuccess, OnlineState);
    OnlineState->addTransition(this, &OnlineDlg::ssLogout, OfflineState);

    connect(InitState, &QState::entered, this, &OnlineDlg::sslotInitUser);
    connect(OfflineState, &QState::entered, this, &OnlineDlg::sslotEnterOffline);
    connect(OnlineState, &QState::entered, this, &OnlineDlg::sslotEnterOnline);

    Machine->setInitialState(InitState);
    Machine->start();

    Monitor.reset(new QPrintJobMonitor);
}

QString OnlineDlg::defaultPluginPath()
{
    return QFile::decodeName(SystemPaths::programFolder() + "ifclient.so");
}

void OnlineDlg::loadPlugin()
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

// --- state machine --------------------------------------------------------------

void OnlineDlg::sslotInitUser()
{
    User.reset(new OrixUser);
    emit ssInitOK();
}

void OnlineDlg::sslotEnterOffline()
{
    ++StateEpoch;
    Online = false;
    if (Jobs)
        Jobs->setOnline(false);
    if (!FirstOffline)
        TrayIcon->showOffline();
    FirstOffline = false;

    if (OnlineTimerId) {
        killTimer(OnlineTimerId);
        OnlineTimerId = 0;
    }
    if (Monitor->isRunning())
        Monitor->StopMonitor();

    TrayIcon->setIcon(OfflineIcon);
    TrayIcon->setVisible(true);
    Requests->setOnline(false);
    Requests->apply(User->Config.UiHide);
    nameToolBoxPages();

    // With the plug-in the user is logged on by its timer.
    if (SyncCheckLogin)
        return;

    LogonDialog = new LogonPWDlg(this);
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
        emit ssLogonSuccess(); // the transition runs once this entry has returned
    else
        AutoLogonTimer.start(Opt.autoLogonRetryMs);

    delete LogonDialog;
    LogonDialog = nullptr;
}

void OnlineDlg::sslotEnterOnline()
{
    ++StateEpoch;
    hideUI();
    TrayIcon->showOnline();

    OnlineTimerId = startTimer(Opt.onlinePollMs, Qt::CoarseTimer);

    if (!Monitor->isRunning()) {
        Monitor->setRunning(true);
        Monitor->setUser(User.get());
        Monitor->StartMonitor();
    }

    SetUser(User.get());
    TrayIcon->setIcon(OnlineIcon);
    TrayIcon->setVisible(true);
    Online = true;
    if (Jobs)
        Jobs->setOnline(true);
    Requests->setOnline(true);
}

bool OnlineDlg::automaticLogonAllowed() const
{
    return !Scheduler.inFlight() && Scheduler.automaticDelay() == 0;
}

void OnlineDlg::sslotAutoLogon()
{
    AutoLogonTimer.stop();
    emit ssLogonFailed();
}

void OnlineDlg::SetUser(OrixUser* user)
{
    if (!user)
        return;
    const QString fullName = QString::fromUtf8(user->FullName);
    const QString groupName = QString::fromUtf8(user->GroupName);
    Ui->labelUserFullName->setText(fullName);
    Ui->label_UserFullName->setText(fullName);
    Ui->labelGroupName->setText(groupName);
    Ui->label_Dept->setText(groupName);
    Ui->label_ServerName->setText(QString::fromUtf8(user->ServerAddress));
    Ui->label_AutoLogon->setText(yesNo(user->AutoLogon));
    Ui->label_SavePW->setText(yesNo(user->SavePassword));

    // UIHide: bit 0 the request page (every request), bit 1 the copy
    // request, bit 2 the disc request; their tray entries go with them.
    Requests->apply(user->Config.UiHide);
    nameToolBoxPages();
}

// --- timers ---------------------------------------------------------------------

void OnlineDlg::timerEvent(QTimerEvent* event)
{
    const int id = event->timerId();
    if (id == 0 || (id != OnlineTimerId && id != PluginTimerId)) {
        QDialog::timerEvent(event);
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

void OnlineDlg::checkPluginLogon()
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

void OnlineDlg::pluginLogon(const char* userName)
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
        MessageBoxes::showServerUnreachable(this);
    else
        MessageBoxes::showInformation(
            this, QStringLiteral("错误"),
            QStringLiteral("Logon fail:%1 ret=%2")
                .arg(QString::fromUtf8(userName), QString::number(outcome.result)));
}

void OnlineDlg::pollServerMessage()
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
            this,
            [user, userName] {
                Answer answer;
                answer.result = user->ReadUserMessage(userName, &answer.headline);
                return answer;
            },
            [this, epoch](const Answer& answer) {
                pollFinished(answer.result, answer.headline, epoch);
            });
    } catch (...) {
        PollRunning = false; // no thread to spare: the next tick tries again
    }
}

void OnlineDlg::pollFinished(int result, const QByteArray& headline, int epoch)
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

void OnlineDlg::SloQtimerFunctionHideShowTrayIcon()
{
    // A tray of X11 is looked for; one on the session bus announces itself.
    TrayIcon->lookForTray();
}

void OnlineDlg::SloQtimerFunctionHideOnlineUI()
{
    HideTimer.stop();
    TrayIcon->hideAfterStart();
}

// --- showing and hiding -----------------------------------------------------------

void OnlineDlg::hideUI()
{
    setWindowFlags(windowFlags() & ~Qt::WindowStaysOnTopHint);
    TrayIcon->putAway();
}

void OnlineDlg::reject()
{
    hideUI();
}

void OnlineDlg::showUI()
{
    if (Online) {
        showNormal();
        return;
    }
    ManualLogon = true;
    if (LogonDialog)
        LogonDialog->showNormal();
}

void OnlineDlg::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger)
        return;
    if (Online)
        hide();
    showUI();
}

void OnlineDlg::directoryChanged(QString path)
{
    // A change that leaves no file of ours there (removed or replaced by the
    // folder's owner) is no signal.
    const QByteArray name = QFile::encodeName(path);
    if (name == signalFilePath() && SafeFile::Inspect(name.constData()) != SafeFile::Check::Ok)
        return;
    if (!Online) {
        // Without a tray a second start is the way back to the client: the
        // window and the logon dialog over it come forward.
        if (!TrayIcon->docked()) {
            showNormal();
            QWidget* front = LogonDialog ? static_cast<QWidget*>(LogonDialog) : this;
            front->showNormal();
            front->raise();
            front->activateWindow();
        }
        return;
    }
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    showUI();
    raise();
    activateWindow();
}

void OnlineDlg::changeEvent(QEvent* event)
{
    // Without a tray a minimised window stays in the task bar.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) &&
        TrayIcon->docked())
        hideUI();
    QDialog::changeEvent(event);
}

// --- buttons ------------------------------------------------------------------------

void OnlineDlg::Logout_clicked()
{
    ManualLogon = true;
    emit ssLogout();
}

void OnlineDlg::toolBoxbtnLogout_clicked()
{
    Logout_clicked();
}

void OnlineDlg::LogWeb_clicked()
{
    if (User)
        User->LogWebSite("Default");
}

void OnlineDlg::toolBoxbtnLogWeb_clicked()
{
    LogWeb_clicked();
}

void OnlineDlg::btnAbout_clicked()
{
    aboutdlg* about = new aboutdlg(nullptr);
    about->setDiagnostics([this] {
        QString server;
        QStringList secrets;
        if (User) {
            server =
                QString::fromUtf8(BoundedText(User->ServerAddress, sizeof User->ServerAddress));
            const QString port =
                QString::fromUtf8(BoundedText(User->ServerPort, sizeof User->ServerPort));
            if (!server.isEmpty() && !port.isEmpty())
                server += QLatin1Char(':') + port;
            secrets << QString::fromUtf8(BoundedText(User->Password, sizeof User->Password));
        }
        const DiagnosticsReport report =
            Background::RunResponsive([server] { return DiagnosticsReport::collect(server); });
        return report.text(secrets);
    });
    about->exec();
    delete about;
}

void OnlineDlg::toolBoxbtnAbout_clicked()
{
    btnAbout_clicked();
}

// --- requests ----------------------------------------------------------------------------

void OnlineDlg::btnMobilePrintJob_clicked()
{
    if (User && Online)
        Flows->runMobilePrintJob(User.get());
}

void OnlineDlg::btnCopyTask_clicked()
{
    if (User && Online)
        Flows->runCopyRequest(User.get());
}

void OnlineDlg::btnCDTask_clicked()
{
    if (User && Online)
        Flows->runDiscRequest(User.get());
}
