#include "OnlineDlg.h"

#include "AppIcons.h"
#include "DiagnosticsReport.h"
#include "FramelessWindow.h"
#include "JobsPage.h"
#include "LogonPWDlg.h"
#include "NoticeCenter.h"
#include "OrixUser.h"
#include "RequestEntries.h"
#include "RequestFlows.h"
#include "SafeFile.h"
#include "SingleInstance.h"
#include "TavCommon.h"
#include "aboutdlg.h"
#include "ui_OnlineDlg.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QPixmap>
#include <QScrollArea>
#include <QTableView>
#include <QThread>
#include <QToolBox>
#include <QToolButton>

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
    : QDialog(parent), Opt(options), Ui(new Ui::OnlineDlg)
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

    // The request page's buttons and their entries in the tray menu.
    setupRequests();
    // The state machine starts once the event loop runs.
    InitStateMachine();
    // The jobs page shows the controller's list.
    setupJobsPage();

    // The desktop's notification server is asked now, before the first
    // notice.
    NoticeCenter::instance();
}

OnlineDlg::~OnlineDlg()
{
    // The session and whatever still uses it (a logon dialog over this
    // window, a poll, the monitor) go before the window's children.
    delete Controller;
    Controller = nullptr;
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
    Jobs = new JobsPage(Controller->jobs(), Ui->toolBox);
    Jobs->setStyleSheet(
        QStringLiteral("QWidget#pageMyJobs{background-color: rgb(232, 238, 245);}"));
    Ui->toolBox->addItem(Jobs, QStringLiteral("我的任务"));
    Jobs->setActions([this](const QString& folder) { return Controller->resubmitKeptJob(folder); },
                     [this](const QString& folder) { return Controller->removeKeptJob(folder); });
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
    SessionController::Options o;
    o.pluginPath = Opt.pluginPath;
    o.onlinePollMs = Opt.onlinePollMs;
    o.pluginPollMs = Opt.pluginPollMs;
    o.autoLogonRetryMs = Opt.autoLogonRetryMs;
    o.logonWaits = Opt.logonWaits;
    Controller = new SessionController(o, this);
    Controller->setDialogParent(this);
    connect(Controller, &SessionController::ssInitOK, this, &OnlineDlg::ssInitOK);
    connect(Controller, &SessionController::ssLogonSuccess, this, &OnlineDlg::ssLogonSuccess);
    connect(Controller, &SessionController::ssLogonFailed, this, &OnlineDlg::ssLogonFailed);
    connect(Controller, &SessionController::ssLogout, this, &OnlineDlg::ssLogout);
    connect(Controller, &SessionController::enteredOffline, this, &OnlineDlg::showOffline);
    connect(Controller, &SessionController::enteredOnline, this, &OnlineDlg::showOnline);
    Controller->start();
}

// --- the controller's states ------------------------------------------------------

void OnlineDlg::sslotInitUser()
{
    Controller->initUser();
}

void OnlineDlg::sslotEnterOffline()
{
    Controller->enterOffline();
}

void OnlineDlg::sslotEnterOnline()
{
    Controller->enterOnline();
}

void OnlineDlg::sslotAutoLogon()
{
    Controller->autoLogon();
}

void OnlineDlg::showOffline(bool first)
{
    if (!first)
        TrayIcon->showOffline();
    TrayIcon->setIcon(OfflineIcon);
    TrayIcon->setVisible(true);
    Requests->setOnline(false);
    if (OrixUser* user = Controller->user())
        Requests->apply(user->Config.UiHide);
    nameToolBoxPages();
    Jobs->setOnline(false);
}

void OnlineDlg::showOnline()
{
    hideUI();
    TrayIcon->showOnline();
    SetUser(Controller->user());
    TrayIcon->setIcon(OnlineIcon);
    TrayIcon->setVisible(true);
    Requests->setOnline(true);
    Jobs->setOnline(true);
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
    // The polls' timers are the controller's.
    QDialog::timerEvent(event);
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
    if (isOnline()) {
        showNormal();
        return;
    }
    Controller->showLogonDialog();
}

void OnlineDlg::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick && reason != QSystemTrayIcon::Trigger)
        return;
    if (isOnline())
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
    if (!isOnline()) {
        // Without a tray a second start is the way back to the client: the
        // window and the logon dialog over it come forward.
        if (!TrayIcon->docked()) {
            showNormal();
            LogonPWDlg* dialog = logonDialog();
            QWidget* front = dialog ? static_cast<QWidget*>(dialog) : this;
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
    Controller->logout(true);
}

void OnlineDlg::toolBoxbtnLogout_clicked()
{
    Logout_clicked();
}

void OnlineDlg::LogWeb_clicked()
{
    if (OrixUser* user = this->user())
        user->LogWebSite("Default");
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
        if (const OrixUser* u = user()) {
            server = QString::fromUtf8(BoundedText(u->ServerAddress, sizeof u->ServerAddress));
            const QString port =
                QString::fromUtf8(BoundedText(u->ServerPort, sizeof u->ServerPort));
            if (!server.isEmpty() && !port.isEmpty())
                server += QLatin1Char(':') + port;
            secrets << QString::fromUtf8(BoundedText(u->Password, sizeof u->Password));
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
    if (user() && isOnline())
        Flows->runMobilePrintJob(user());
}

void OnlineDlg::btnCopyTask_clicked()
{
    if (user() && isOnline())
        Flows->runCopyRequest(user());
}

void OnlineDlg::btnCDTask_clicked()
{
    if (user() && isOnline())
        Flows->runDiscRequest(user());
}
