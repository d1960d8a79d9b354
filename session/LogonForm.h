#pragma once

#include <QByteArray>
#include <QString>

class OrixUser;

// What the logon dialog collected, and the rules that turn it into the
// session's logon members. Kept apart from the dialog so that the rules can
// be checked without widgets.
struct LogonFormInput {
    QString ServerText; // "host" or "host:port"
    QString UserText;
    QString PasswordText; // the password field as it stands
    bool RememberPassword = false;
    bool AutomaticLogon = false;
    bool DomainLogon = false;      // "域登录"
    bool DomainAgentLogon = false; // "域代理登录"
    bool PasswordTyped = false;    // the field holds typed text, not the remembered digest
};

enum class LogonFormCheck { Ok, EmptyServer, EmptyUser };

// The two checks made before anything is changed.
LogonFormCheck CheckLogonForm(const LogonFormInput& input);

// The validation message of a failed check, titled "错误"; empty for Ok.
QString LogonFormCheckMessage(LogonFormCheck check);

// Writes the form into the session: logon mode, server address and port,
// user name, the three remembered options and the password as it is sent.
void ApplyLogonForm(const LogonFormInput& input, OrixUser& user);

// Splits a server text at its last colon when that colon is not the first
// character: address before it, port after it. Without such a colon the
// whole text is the address and port is left empty. Returns whether a port
// was split off.
bool SplitServerText(const QByteArray& text, QByteArray* address, QByteArray* port);

// MD5 of the password's Latin-1 bytes as 32 upper-case hexadecimal digits.
QByteArray PasswordDigest(const QString& password);

// The message for a refused logon (result other than 0).
QString LogonFailureMessage(int result);

// Result 19: the password has expired; the user is offered the web site.
constexpr int kLogonPasswordExpired = 19;
