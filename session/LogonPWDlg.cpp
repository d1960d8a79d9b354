#include "LogonPWDlg.h"
#include "ui_LogonPWDlg.h"

#include "FramelessWindow.h"
#include "LogonAttempt.h"
#include "LogonForm.h"
#include "MessageBoxes.h"
#include "OrixUser.h"
#include "SystemPaths.h"
#include "TextUtil.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QKeyEvent>
#include <QPixmap>
#include <QUrl>

#include <system_error>

namespace
{

// The wait cursor for the time of a logon, also when the logon throws.
class WaitCursor
{
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

LogonPWDlg::LogonPWDlg(QWidget* parent)
    : QDialog(parent), Ui(new ::Ui::LogonPWDlg), User(nullptr), LastResult(-1),
      PasswordTyped(false), PasswordChanges(0)
{
    Ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    enableFramelessDrag(this);
    // The background picture (size, shape, centring) comes with the first
    // show: an automatic logon that goes through never shows the dialog.
    applyStyles();
    // Return and Enter log on when pressed, not again on each repeat of a
    // key held down (see eventFilter).
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
    ReconnectTimer.setSingleShot(true);
    connect(&ReconnectTimer, &QTimer::timeout, this, &LogonPWDlg::reconnectAttempt);
}

LogonPWDlg::~LogonPWDlg()
{
    // A background attempt still running is waited for; its outcome, which
    // can no longer be delivered, counts as a failure.
    if (AttemptRunning) {
        Attempts.waitAll();
        AttemptRunning = false;
        Scheduler->end(false);
    }
    delete Ui;
}

void LogonPWDlg::SetScheduler(LogonScheduler* scheduler)
{
    Scheduler = scheduler ? scheduler : &OwnScheduler;
}

bool LogonPWDlg::eventFilter(QObject* watched, QEvent* event)
{
    // A held key repeats its press about 25 times a second. Were each repeat
    // a click, a failed logon's box would be closed by the next repeat and
    // the logon started again by the one after: a logon every 80 ms for as
    // long as the key stays down. A repeat is marked as one, or, when the
    // window system's mark was missed (the client was busy), it is the press
    // that comes with the same time stamp as the release before it.
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease)
        return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<const QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
        return QDialog::eventFilter(watched, event);
    if (type == QEvent::KeyRelease) {
        EnterReleasedAt = key->timestamp();
        return QDialog::eventFilter(watched, event);
    }
    if (key->isAutoRepeat() || (key->timestamp() != 0 && key->timestamp() == EnterReleasedAt))
        return true;
    return QDialog::eventFilter(watched, event);
}

void LogonPWDlg::setVisible(bool visible)
{
    if (visible && !BackgroundApplied) {
        BackgroundApplied = true;
        applyBackground();
        centreOnScreen(this);
    }
    QDialog::setVisible(visible);
}

void LogonPWDlg::applyBackground()
{
    QPixmap picture;
    if (!picture.load(QStringLiteral("%1/background.bmp")
                          .arg(QString::fromUtf8(SystemPaths::programFolder()))))
        picture.load(QStringLiteral(":/background/images/logon.png"));
    applyShapedBackground(this, picture);
}

void LogonPWDlg::applyStyles()
{
    Ui->comboBoxServerName->setStyleSheet(QString::fromLatin1(kComboStyle));
    Ui->comboBoxUserName->setStyleSheet(QString::fromLatin1(kComboStyle));
    Ui->lineEditPassword->setStyleSheet(QString::fromLatin1(kLineEditStyle));

    QFile qss(QStringLiteral(":/background/Qss.qss"));
    if (qss.open(QIODevice::ReadOnly)) {
        const QString style = QString::fromUtf8(qss.readAll());
        Ui->checkBoxRememberPassword->setStyleSheet(style);
        Ui->checkBoxAutomaticLog->setStyleSheet(style);
        Ui->checkBoxDomainAgint->setStyleSheet(style);
        Ui->checkBoxDomainAgintLog->setStyleSheet(style);
    }
}

void LogonPWDlg::SetUser(OrixUser* user)
{
    User = user;
    if (!User)
        return;
    char server[600];
    if (User->ServerPort[0] != '\0')
        FormatText(server, sizeof server, "%s:%s", User->ServerAddress, User->ServerPort);
    else
        FormatText(server, sizeof server, "%s", User->ServerAddress);
    Ui->comboBoxServerName->addItem(QString::fromUtf8(server));
    Ui->comboBoxUserName->addItem(QString::fromUtf8(User->UserName));
    Ui->lineEditPassword->setText(QString::fromUtf8(User->Password));
    Ui->lineEditPassword->setEchoMode(QLineEdit::Password);
    Ui->checkBoxRememberPassword->setChecked(User->SavePassword);
    Ui->checkBoxAutomaticLog->setChecked(User->AutoLogon);
    Ui->checkBoxDomainAgintLog->setChecked(User->DomainAgentLogon);
}

int LogonPWDlg::Logon(bool interactive)
{
    if (isLogonRunning())
        return LastResult;

    LogonFormInput input;
    input.ServerText = Ui->comboBoxServerName->currentText();
    input.UserText = Ui->comboBoxUserName->currentText();
    input.PasswordText = Ui->lineEditPassword->text();
    input.RememberPassword = Ui->checkBoxRememberPassword->isChecked();
    input.AutomaticLogon = Ui->checkBoxAutomaticLog->isChecked();
    input.DomainLogon = Ui->checkBoxDomainAgint->isChecked();
    input.DomainAgentLogon = Ui->checkBoxDomainAgintLog->isChecked();
    input.PasswordTyped = PasswordTyped;

    const LogonFormCheck check = CheckLogonForm(input);
    if (check != LogonFormCheck::Ok) {
        MessageBoxes::showInformation(this, QStringLiteral("错误"), LogonFormCheckMessage(check));
        return LastResult;
    }
    if (!User)
        return LastResult;

    if (!Scheduler->begin(interactive ? LogonScheduler::Trigger::Manual
                                      : LogonScheduler::Trigger::Automatic))
        return LastResult;
    ApplyLogonForm(input, *User);

    // The logon runs on a worker; the window stays live, its buttons off.
    setBusy(true);
    {
        WaitCursor wait;
        LastOutcome = RunLogon(*User);
    }
    Scheduler->end(LastOutcome.kind == LogonOutcome::Accepted);
    setBusy(false);
    LastResult = LastOutcome.result;

    if (LastOutcome.kind == LogonOutcome::Accepted) {
        accept();
        return LastResult;
    }
    if (!interactive)
        return LastResult;

    // Nothing that went wrong inside the logon crosses the event loop.
    if (LastOutcome.threw) {
        MessageBoxes::showServerUnreachable(this);
        return LastResult;
    }
    const QString message = LogonFailureMessage(LastResult);
    if (LastResult != kLogonPasswordExpired) {
        MessageBoxes::showInformation(nullptr, QStringLiteral("错误"), message);
        return LastResult;
    }
    if (MessageBoxes::askYesNo(this, QStringLiteral("警告"), message)) {
        char url[1024];
        FormatText(url, sizeof url, "http://%s/OrixPrint/UserLogin.jsp", User->ServerAddress);
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(url), QUrl::TolerantMode));
    }
    return LastResult;
}

void LogonPWDlg::setBusy(bool busy)
{
    Busy = busy;
    const bool enabled = !Busy && !ClickWaiting;
    Ui->Logon->setEnabled(enabled);
    Ui->Cacel->setEnabled(enabled);
}

void LogonPWDlg::reject()
{
    if (Busy)
        return;
    ClickWaiting = false;
    setBusy(false);
    QDialog::reject();
}

void LogonPWDlg::StartReconnect()
{
    Reconnecting = true;
    scheduleReconnect();
}

void LogonPWDlg::scheduleReconnect()
{
    // When the scheduler's wait is over; a logon of someone else in flight
    // is looked at again after the least wait.
    const qint64 wait = Scheduler->automaticDelay();
    ReconnectTimer.start(static_cast<int>(
        wait > 0 ? wait : (Scheduler->inFlight() ? Scheduler->policy().FirstMs : 0)));
}

void LogonPWDlg::StopReconnect()
{
    Reconnecting = false;
    ClickWaiting = false;
    ReconnectTimer.stop();
    if (AttemptRunning) {
        Background::RunResponsive([this] { Attempts.waitAll(); });
        // Its outcome may still wait in the queue.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }
    setBusy(Busy);
}

void LogonPWDlg::reconnectAttempt()
{
    if (!Reconnecting || !User || isLogonRunning())
        return;
    if (!Scheduler->begin(LogonScheduler::Trigger::Automatic)) {
        scheduleReconnect();
        return;
    }
    AttemptRunning = true;
    OrixUser* user = User;
    try {
        Attempts.run(
            "background logon", this, [user] { return TryLogon(*user); },
            [this](LogonOutcome outcome) { reconnectFinished(outcome); });
    } catch (const std::system_error&) {
        // No thread to spare now: counts as a failed attempt.
        AttemptRunning = false;
        Scheduler->end(false);
        scheduleReconnect();
    }
}

void LogonPWDlg::reconnectFinished(const LogonOutcome& outcome)
{
    AttemptRunning = false;
    Scheduler->end(outcome.kind == LogonOutcome::Accepted);
    if (outcome.kind == LogonOutcome::Accepted) {
        Reconnecting = false;
        ClickWaiting = false;
        setBusy(false);
        LastOutcome = outcome;
        LastResult = outcome.result;
        accept();
        return;
    }
    if (ClickWaiting) {
        // The user clicked meanwhile: now it is the user's logon.
        ClickWaiting = false;
        setBusy(false);
        Logon(true);
        return;
    }
    if (Reconnecting && outcome.unreachable())
        scheduleReconnect();
    else
        Reconnecting = false; // a refusal or another failure is left to the user
}

void LogonPWDlg::on_Logon_clicked()
{
    // The user takes over from the background attempts.
    Reconnecting = false;
    ReconnectTimer.stop();
    if (AttemptRunning) {
        ClickWaiting = true;
        setBusy(Busy);
        return;
    }
    Logon(true);
}

void LogonPWDlg::on_Cacel_clicked()
{
    showMinimized();
}

void LogonPWDlg::on_checkBoxAutomaticLog_stateChanged(int state)
{
    if (state == Qt::Checked)
        Ui->checkBoxRememberPassword->setChecked(true);
}

void LogonPWDlg::on_lineEditPassword_textChanged(const QString& text)
{
    if (PasswordChanges > 0 || text.length() == 1)
        PasswordTyped = true;
    ++PasswordChanges;
}

void LogonPWDlg::on_lineEditPassword_editingFinished() {}

void LogonPWDlg::on_comboBoxUserName_currentTextChanged(const QString&)
{
    PasswordTyped = false;
}

void LogonPWDlg::on_LogonPWDlg_rejected() {}
