#include "LogonForm.h"

#include "OrixUser.h"
#include "TextUtil.h"

#include <QCryptographicHash>

#include <cstring>

LogonFormCheck CheckLogonForm(const LogonFormInput& input)
{
    if (input.ServerText.isEmpty())
        return LogonFormCheck::EmptyServer;
    if (input.UserText.isEmpty())
        return LogonFormCheck::EmptyUser;
    return LogonFormCheck::Ok;
}

QString LogonFormCheckMessage(LogonFormCheck check)
{
    switch (check) {
    case LogonFormCheck::EmptyServer:
        return QStringLiteral("服务器名不能为空！");
    case LogonFormCheck::EmptyUser:
        return QStringLiteral("用户名不能为空！");
    case LogonFormCheck::Ok:
        break;
    }
    return QString();
}

bool SplitServerText(const QByteArray& text, QByteArray* address, QByteArray* port)
{
    const int colon = text.lastIndexOf(':');
    if (colon <= 0) {
        *address = text;
        port->clear();
        return false;
    }
    *address = text.left(colon);
    *port = text.mid(colon + 1);
    return true;
}

QByteArray PasswordDigest(const QString& password)
{
    return QCryptographicHash::hash(password.toLatin1(), QCryptographicHash::Md5).toHex().toUpper();
}

void ApplyLogonForm(const LogonFormInput& input, OrixUser& user)
{
    if (input.DomainAgentLogon)
        user.LogonMode = 2;
    else if (input.DomainLogon)
        user.LogonMode = 1;
    else
        user.LogonMode = 0;

    // The split works on the text as it fits the address field.
    memset(user.ServerPort, 0, sizeof user.ServerPort);
    CopyUtf8Text(user.ServerAddress, sizeof user.ServerAddress,
                 input.ServerText.toUtf8().constData());
    QByteArray address;
    QByteArray port;
    if (SplitServerText(QByteArray(user.ServerAddress), &address, &port)) {
        CopyText(user.RpcPort, sizeof user.RpcPort, port.constData());
        CopyText(user.ServerPort, sizeof user.ServerPort, port.constData());
        CopyText(user.ServerAddress, sizeof user.ServerAddress, address.constData());
    }

    CopyUtf8Text(user.UserName, sizeof user.UserName, input.UserText.toUtf8().constData());

    user.SavePassword = input.RememberPassword;
    user.AutoLogon = input.AutomaticLogon;
    user.DomainAgentLogon = input.DomainAgentLogon;

    if (input.PasswordTyped && !input.DomainAgentLogon)
        CopyText(user.Password, sizeof user.Password,
                 PasswordDigest(input.PasswordText).constData());
    else
        CopyUtf8Text(user.Password, sizeof user.Password, input.PasswordText.toUtf8().constData());
}

QString LogonFailureMessage(int result)
{
    switch (result) {
    case 2:
        return QStringLiteral("用户名密码错误！");
    case 9:
        return QStringLiteral("用户未激活！");
    case 16:
        return QStringLiteral("用户被锁定");
    case kLogonPasswordExpired:
        return QStringLiteral("已超过密码修改的时间周期,您要跳转到网站进行修改吗？");
    default:
        return QStringLiteral("登录失败，错误码%1").arg(result);
    }
}
