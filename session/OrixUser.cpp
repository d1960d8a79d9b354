#include "OrixUser.h"

#include "DComLayerWS.h"
#include "EventLog.h"
#include "ServerMsgDlg.h"
#include "TavCommon.h"
#include "TextUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QSettings>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

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

QString lastIniPath()
{
    return QString::fromUtf8(INIPATH) + QStringLiteral("/Last.ini");
}

// A user name is used as a folder and file name; one that would leave the
// remembered-logon folder is not written.
bool usableAsFileName(const char* name)
{
    return name[0] != '\0' && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 &&
           strchr(name, '/') == nullptr;
}

// The remembered logon holds the password digest: make sure the file exists
// as a regular file that only its owner may read or write before the
// settings are written into it (the settings library keeps the permissions
// of an existing file when it replaces it). An existing file is tightened.
bool prepareOwnerOnlyFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = open(name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    struct stat st;
    const bool regular = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular)
        fchmod(fd, S_IRUSR | S_IWUSR);
    close(fd);
    return regular;
}

// Creates folder (0700) when it is missing and tightens it when it exists.
bool prepareOwnerOnlyFolder(const QString& folder)
{
    const QByteArray name = QFile::encodeName(folder);
    if (mkdir(name.constData(), S_IRWXU) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    if (lstat(name.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    if ((st.st_mode & 07777) != S_IRWXU && st.st_uid == geteuid())
        chmod(name.constData(), S_IRWXU);
    return true;
}

int decimalValue(const char* text)
{
    const long value = strtol(text, nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

} // namespace

OrixUser::OrixUser()
{
    // 1. Every text member starts empty; numbers and flags start cleared.
    memset(static_cast<TavUserRecord*>(this), 0, sizeof(TavUserRecord));
    memset(ServerPort, 0, sizeof ServerPort);
    GroupId = 0;
    memset(GroupName, 0, sizeof GroupName);
    memset(ComputerName, 0, sizeof ComputerName);
    memset(IPAddress, 0, sizeof IPAddress);
    memset(MacAddress, 0, sizeof MacAddress);
    memset(WebsiteAddress, 0, sizeof WebsiteAddress);
    memset(&Config, 0, sizeof Config);
    PrintWay = 1;
    IsSupportCostControl = false;
    IsSupportProject = false;
    PayerType = 1;
    PayerCount = 0;
    Payers = nullptr;
    memset(&SelectedPayer, 0, sizeof SelectedPayer);
    SelectedPayerIsGroup = 0;
    JobState = 20;
    memset(RpcPort, 0, sizeof RpcPort);
    memset(&TaskInfo, 0, sizeof TaskInfo);
    memset(&MobileTaskInfo, 0, sizeof MobileTaskInfo);
    memset(DocumentPath, 0, sizeof DocumentPath);

    // 2. The audit flow member is constructed empty (member initialisation).

    // 3. The RPC client.
    RpcClient.reset(new CDComLayerWS);
    RpcClient->InitDCOM();

    // 4. Configuration; this also sets INIPATH.
    ReadConfigInfo(&Config, true);

    // 5. Proposed server and user.
    CopyUtf8Text(ServerAddress, sizeof ServerAddress, Config.ServerAddress);
    CopyUtf8Text(UserName, sizeof UserName, Config.UserName);

    // 6. The logon options start off (password, ports and payers are clear
    // since step 1).
    SavePassword = false;
    AutoLogon = false;
    DomainAgentLogon = false;

    // 7. - 9.
    GetInformationFromLast_Ini();
    GetComputerName();
    getIPMAC(IPAddress, MacAddress, sizeof IPAddress, sizeof MacAddress);
}

OrixUser::~OrixUser()
{
    FreePayers();
}

void OrixUser::FreePayers()
{
    free(Payers);
    Payers = nullptr;
    PayerCount = 0;
}

int OrixUser::GetComputerName()
{
    CopyUtf8Text(ComputerName, sizeof ComputerName,
                 QHostInfo::localHostName().toUtf8().constData());
    return 0;
}

int OrixUser::Logon()
{
    UseSsl = Config.UseSsl;
    if (RpcPort[0] == '\0')
        CopyText(RpcPort, sizeof RpcPort, "8086");
    RpcClient->SetPort(RpcPort);

    const int result = RpcClient->LogOn(static_cast<TavUserRecord*>(this));
    if (result != 0)
        return result;

    // The results of the queries are not checked: a failed query leaves its
    // member as it was and the logon still counts.
    char settingName[] = "LinuxPrintStateNew";
    char defaultState[] = "20";
    char state[256];
    memset(state, 0, sizeof state);
    RpcClient->GetSettingValueBySettingName(settingName, state, defaultState);
    state[sizeof state - 1] = '\0';
    JobState = decimalValue(state);

    RpcClient->GetUserInfo(UserName, static_cast<TavUserRecord*>(this));
    RpcClient->GetUserInfoEx(UserName, static_cast<TavUserRecord*>(this));

    RpcClient->GetGroupIDFromUsersByUserName(UserName, &GroupId);
    RpcClient->GetGroupNameFromGroupByGroupID(GroupId, GroupName);
    GroupName[sizeof GroupName - 1] = '\0';

    RpcClient->GetWebsiteIP(WebsiteAddress, ServerAddress);
    WebsiteAddress[sizeof WebsiteAddress - 1] = '\0';

    ReadConfigInfo(&Config, true);

    SecretLevel = RpcClient->GetSecretLevel(UserName);

    PrintWay = 1;
    RpcClient->GetPrintWayFromUsersByUserName(UserName, &PrintWay);

    GetAuditInfo();
    GetDocPurpose();
    GetUserPayerInfo();

    PutInformationInLast_Ini();
    PutInformationInUser_Ini();
    return 0;
}

void OrixUser::GetInformationFromLast_Ini()
{
    // A file that exists but cannot be read (another user's, owner-only)
    // counts as missing: the configuration's proposals stay.
    const QString path = lastIniPath();
    const QFileInfo info(path);
    if (!info.exists() || !info.isReadable())
        return;
    QSettings settings(path, QSettings::IniFormat);
    CopyUtf8Text(ServerAddress, sizeof ServerAddress,
                 settingText(settings, "ServerName").constData());
    CopyUtf8Text(UserName, sizeof UserName, settingText(settings, "UserName").constData());
    CopyUtf8Text(Password, sizeof Password, settingText(settings, "PassWord").constData());
    SavePassword = settingText(settings, "SavePasswordFlag") == "1";
    AutoLogon = settingText(settings, "AutoLoginFlag") == "1";
    DomainAgentLogon = settingText(settings, "SaveDomainAgintLogFlag") == "1";
    CopyUtf8Text(ServerPort, sizeof ServerPort, settingText(settings, "ServerPort").constData());
}

// Writes the seven remembered-logon keys into the INI file at path.
static void writeRememberedLogon(const OrixUser& user, const QString& path)
{
    if (!prepareOwnerOnlyFile(path))
        return;
    {
        QSettings settings(path, QSettings::IniFormat);
        settings.setValue("ServerName", QString::fromUtf8(user.ServerAddress));
        settings.setValue("UserName", QString::fromUtf8(user.UserName));
        settings.setValue("PassWord",
                          user.SavePassword ? QString::fromUtf8(user.Password) : QString());
        settings.setValue("SavePasswordFlag", flagText(user.SavePassword));
        settings.setValue("AutoLoginFlag", flagText(user.AutoLogon));
        settings.setValue("SaveDomainAgintLogFlag", flagText(user.DomainAgentLogon));
        settings.setValue("ServerPort", QString::fromUtf8(user.ServerPort));
        settings.sync();
    }
    // The settings library may have replaced the file; keep it private.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

void OrixUser::PutInformationInLast_Ini()
{
    const QString folder = QString::fromUtf8(INIPATH);
    if (!QDir().mkpath(folder))
        return;
    writeRememberedLogon(*this, lastIniPath());
}

void OrixUser::PutInformationInUser_Ini()
{
    if (!usableAsFileName(UserName))
        return;
    const QString base = QString::fromUtf8(INIPATH);
    const QString name = QString::fromUtf8(UserName);
    if (!QDir().mkpath(base))
        return;
    const QString folder = base + QLatin1Char('/') + name;
    if (!prepareOwnerOnlyFolder(folder))
        return;
    writeRememberedLogon(*this, folder + QLatin1Char('/') + name + QStringLiteral(".ini"));
}

int OrixUser::GetUserMessage(QWidget* parent)
{
    Q_UNUSED(parent); // the pop-up stands on its own, in the screen's corner
    TavServerMessage message;
    memset(&message, 0, sizeof message);
    const int result = RpcClient->ReadMessage(UserName, &message);
    if (result != 0)
        return result;
    message.Headline[sizeof message.Headline - 1] = '\0';
    ServerMsgDlg::ShowNotice(this, message.Headline);
    return 0;
}
