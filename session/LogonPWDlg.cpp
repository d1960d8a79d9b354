#include "LogonPWDlg.h"
#include "ui_LogonPWDlg.h"

#include "FramelessWindow.h"
#include "LogonForm.h"
#include "MessageBoxes.h"
#include "OrixUser.h"
#include "SystemPaths.h"
#include "TextUtil.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMouseEvent>
#include <QPixmap>
#include <QUrl>

namespace
{

const char kComboStyle[] =
    "QComboBox{border:1px solid gray;}QComboBox QAbstractItemView::item{height:20px;}"
    "QComboBox::down-arrow{image:url(:/background/images/arrowdown.png);}"
    "QComboBox::down-arrow:hover{image:url(:/background/images/arrowdown_on.png);}"
    "QComboBox::down-arrow:pressed{image:url(:/background/images/arrowdown_down.png);}"
    "QComboBox:hover{border-width:2px;}QComboBox::drop-down{border:0px;}";

const char kLineEditStyle[] = "QLineEdit{border:1px solid gray;}QLineEdit:hover{border-width:2px;}";

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
    applyBackground();
    applyStyles();
    centreOnScreen(this);
}

LogonPWDlg::~LogonPWDlg()
{
    delete Ui;
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

    ApplyLogonForm(input, *User);

    int result;
    {
        WaitCursor wait;
        result = User->Logon();
    }
    LastResult = result;

    if (result == 0) {
        accept();
        return result;
    }
    if (!interactive)
        return result;

    const QString message = LogonFailureMessage(result);
    if (result != kLogonPasswordExpired) {
        MessageBoxes::showInformation(nullptr, QStringLiteral("错误"), message);
        return result;
    }
    if (MessageBoxes::askYesNo(this, QStringLiteral("警告"), message)) {
        char url[1024];
        FormatText(url, sizeof url, "http://%s/OrixPrint/UserLogin.jsp", User->ServerAddress);
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(url), QUrl::TolerantMode));
    }
    return result;
}

void LogonPWDlg::on_Logon_clicked()
{
    // An exception must not cross the event loop that delivered the click.
    MessageBoxes::reportUnreachable(this, [this] { Logon(true); });
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

void LogonPWDlg::mousePressEvent(QMouseEvent* event)
{
    Drag.press(event);
    QDialog::mousePressEvent(event);
}

void LogonPWDlg::mouseMoveEvent(QMouseEvent* event)
{
    Drag.move(this, event);
    QDialog::mouseMoveEvent(event);
}

void LogonPWDlg::mouseReleaseEvent(QMouseEvent* event)
{
    Drag.release();
    QDialog::mouseReleaseEvent(event);
}
