#include "ServerMsgDlg.h"
#include "ui_ServerMsgDlg.h"

#include "OrixUser.h"
#include "ServerNotice.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimerEvent>

ServerMsgDlg::ServerMsgDlg(QWidget* parent)
    : QDialog(parent), Ui(new ::Ui::ServerMsgDlg), User(nullptr), TimerId(0)
{
    Ui->setupUi(this);
    setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::WindowDoesNotAcceptFocus);
    setAttribute(Qt::WA_ShowWithoutActivating);
    connect(Ui->labelMsg, &label::clicked, this, &ServerMsgDlg::handlelabelclicked);
}

ServerMsgDlg::~ServerMsgDlg()
{
    delete Ui;
}

void ServerMsgDlg::SetUser(OrixUser* user)
{
    User = user;
}

void ServerMsgDlg::SetMsg(const char* text)
{
    // The headline carries the job name as the server sent it: show it as
    // plain text, never as markup or links.
    Ui->labelMsg->setTextFormat(Qt::PlainText);
    Ui->labelMsg->setText(QString::fromUtf8(text ? text : ""));
    setWindowTitle(QStringLiteral("消息提示"));

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + area.width() - width(), area.y() + area.height() - height());
    }

    if (!IsRemainShowMsg() && TimerId == 0)
        TimerId = startTimer(kShowMilliseconds);
}

bool ServerMsgDlg::IsRemainShowMsg() const
{
    return IsDocNeedToAuditMsg();
}

bool ServerMsgDlg::IsDocNeedToAuditMsg() const
{
    return ServerNotice::IsApprovalRequest(Ui->labelMsg->text());
}

void ServerMsgDlg::handlelabelclicked()
{
    if (IsDocNeedToAuditMsg() && User)
        User->LogWebSite("AuditorPrintProcTask");
    close();
}

void ServerMsgDlg::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != TimerId) {
        QDialog::timerEvent(event);
        return;
    }
    killTimer(TimerId);
    TimerId = 0;
    accept();
}
