#include "RememberedLogon.h"

#include "ClientConfig.h"
#include "EventLog.h"
#include "OrixUser.h"
#include "SafeFile.h"
#include "SystemPaths.h"
#include "TextUtil.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <cstring>
#include <string>

namespace
{

const char kLastIni[] = "Last.ini";

struct Location {
    QByteArray folder;
    QByteArray name;
    QByteArray path() const { return folder + '/' + name; }
};

void logSkipped(const QByteArray& path, SafeFile::Check check)
{
    LogEvent(kLogError, "remembered logon: %s is %s, not used\n", path.constData(),
             SafeFile::Describe(check));
}

// The file's bytes when it is a file of ours; a null array when it is
// missing, and when something else stands there (logged).
QByteArray readOwned(const Location& at)
{
    std::string content;
    const SafeFile::Check check =
        SafeFile::ReadOwnedFile(at.path().constData(), &content, RememberedLogon::kMaxFileSize);
    if (check == SafeFile::Check::Ok)
        return QByteArray(content.data(), int(content.size())); // not null, even when empty
    if (check != SafeFile::Check::Missing)
        logSkipped(at.path(), check);
    return QByteArray();
}

// The settings library parses and writes the INI text, so the files keep
// exactly its format; it works on a copy in a fresh owner-only folder of
// our own, where its lock and temporary files cannot be interfered with.
class Scratch
{
public:
    explicit Scratch(const QByteArray& content)
    {
        m_path = m_dir.path() + QStringLiteral("/remembered.ini");
        QFile file(m_path);
        if (m_dir.isValid() && file.open(QIODevice::WriteOnly))
            file.write(content);
    }
    bool isValid() const { return m_dir.isValid(); }
    QString path() const { return m_path; }
    QByteArray content() const
    {
        QFile file(m_path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

// QSettings turns an unquoted value with commas into a list; a remembered
// value is always one text.
QByteArray settingText(const QSettings& settings, const char* key)
{
    return SettingFileBytes(settings.value(QLatin1String(key)));
}

const char* flagText(bool flag)
{
    return flag ? "1" : "0";
}

// content with the seven keys set from user, in the settings library's format.
QByteArray withLogon(const QByteArray& content, const OrixUser& user)
{
    Scratch scratch(content);
    if (!scratch.isValid())
        return QByteArray();
    {
        QSettings settings(scratch.path(), QSettings::IniFormat);
        settings.setValue("ServerName", QString::fromUtf8(user.ServerAddress));
        settings.setValue("UserName", QString::fromUtf8(user.UserName));
        settings.setValue("PassWord",
                          user.SavePassword ? QString::fromUtf8(user.Password) : QString());
        settings.setValue("SavePasswordFlag", flagText(user.SavePassword));
        settings.setValue("AutoLoginFlag", flagText(user.AutoLogon));
        settings.setValue("SaveDomainAgintLogFlag", flagText(user.DomainAgentLogon));
        settings.setValue("ServerPort", QString::fromUtf8(user.ServerPort));
        settings.sync();
        if (settings.status() != QSettings::NoError)
            return QByteArray();
    }
    return scratch.content();
}

bool write(const Location& at, const QByteArray& content)
{
    const SafeFile::Check check =
        SafeFile::ReplaceFile(at.folder.constData(), at.name.constData(),
                              std::string(content.constData(), size_t(content.size())), 0600);
    if (check != SafeFile::Check::Ok)
        logSkipped(at.path(), check);
    return check == SafeFile::Check::Ok;
}

Location sharedLast()
{
    return {QByteArray(INIPATH), kLastIni};
}

// Last.ini in the user's own folder, created when asked to.
bool privateLast(Location* at, bool create)
{
    at->folder = SystemPaths::privateFolder();
    at->name = kLastIni;
    if (at->folder.isEmpty())
        return false;
    if (!create)
        return true;
    const SafeFile::Check check = SafeFile::EnsurePrivateFolder(at->folder.constData());
    if (check != SafeFile::Check::Ok)
        logSkipped(at->folder, check);
    return check == SafeFile::Check::Ok;
}

// A user name is used as a folder and file name; one that would leave the
// remembered-logon folder is not written.
bool usableAsFileName(const char* name)
{
    return name[0] != '\0' && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 &&
           strchr(name, '/') == nullptr;
}

} // namespace

namespace RememberedLogon
{

void Read(OrixUser& user)
{
    QByteArray content = readOwned(sharedLast());
    Location fallback;
    if (content.isNull() && privateLast(&fallback, false))
        content = readOwned(fallback);
    if (content.isNull())
        return;
    Scratch scratch(content);
    if (!scratch.isValid())
        return;
    const QSettings settings(scratch.path(), QSettings::IniFormat);
    CopyUtf8Text(user.ServerAddress, sizeof user.ServerAddress,
                 settingText(settings, "ServerName").constData());
    CopyUtf8Text(user.UserName, sizeof user.UserName,
                 settingText(settings, "UserName").constData());
    CopyUtf8Text(user.Password, sizeof user.Password,
                 settingText(settings, "PassWord").constData());
    user.SavePassword = settingText(settings, "SavePasswordFlag") == "1";
    user.AutoLogon = settingText(settings, "AutoLoginFlag") == "1";
    user.DomainAgentLogon = settingText(settings, "SaveDomainAgintLogFlag") == "1";
    CopyUtf8Text(user.ServerPort, sizeof user.ServerPort,
                 settingText(settings, "ServerPort").constData());
}

void WriteLast(const OrixUser& user)
{
    const Location shared = sharedLast();
    QDir().mkpath(QFile::decodeName(shared.folder));
    Location fallback;
    const bool hasFallback = privateLast(&fallback, false);

    QByteArray content = readOwned(shared);
    if (content.isNull() && hasFallback)
        content = readOwned(fallback);
    content = withLogon(content, user);
    if (content.isEmpty())
        return;

    if (write(shared, content)) {
        // One remembered logon: an older copy in the user's folder would only
        // keep a password digest lying around.
        if (hasFallback)
            SafeFile::RemoveOwnedFile(fallback.folder.constData(), fallback.name.constData());
        return;
    }
    if (privateLast(&fallback, true))
        write(fallback, content);
}

void WriteUserCopy(const OrixUser& user)
{
    if (!usableAsFileName(user.UserName))
        return;
    const QByteArray base(INIPATH);
    QDir().mkpath(QFile::decodeName(base));
    const Location copy{base + '/' + user.UserName, QByteArray(user.UserName) + ".ini"};
    const SafeFile::Check folder = SafeFile::EnsureOwnedFolder(copy.folder.constData(), 0700);
    if (folder != SafeFile::Check::Ok) {
        logSkipped(copy.folder, folder);
        return;
    }
    const QByteArray content = withLogon(readOwned(copy), user);
    if (!content.isEmpty())
        write(copy, content);
}

} // namespace RememberedLogon
