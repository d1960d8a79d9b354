#include "OrixUser.h"

#include "DComLayerWS.h"
#include "EventLog.h"
#include "JobHistory.h"
#include "RememberedLogon.h"
#include "TavCommon.h"
#include "TavQuotaRequest.h"
#include "TextUtil.h"

#include <QHostInfo>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace
{

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
    // Every text member starts empty, every number at its default.
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
    PayerType = kPayerOwnAccount;
    PayerCount = 0;
    Payers = nullptr;
    JobState = 20;
    memset(RpcPort, 0, sizeof RpcPort);
    memset(&MobileTaskInfo, 0, sizeof MobileTaskInfo);
    memset(DocumentPath, 0, sizeof DocumentPath);

    RpcClient.reset(new CDComLayerWS);
    RpcClient->InitDCOM();

    // Also sets INIPATH, the folder of the remembered logon read below.
    ReadConfigInfo(&Config, true);

    // The configuration proposes server and user; a remembered logon
    // replaces them.
    CopyUtf8Text(ServerAddress, sizeof ServerAddress, Config.ServerAddress);
    CopyUtf8Text(UserName, sizeof UserName, Config.UserName);

    // The logon options start off; a remembered logon may set them.
    SavePassword = false;
    AutoLogon = false;
    DomainAgentLogon = false;

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
    const std::unique_lock<std::shared_mutex> exclusive(SessionLock);
    UseSsl = Config.UseSsl;
    if (RpcPort[0] == '\0')
        CopyText(RpcPort, sizeof RpcPort, CDComLayerWS::kDefaultServicePort);
    RpcClient->SetPort(RpcPort);
    RpcClient->SetProxy(Config.Proxy);

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

// The remembered logon lives in RememberedLogon.cpp.
void OrixUser::GetInformationFromLast_Ini()
{
    RememberedLogon::Read(*this);
}

void OrixUser::PutInformationInLast_Ini()
{
    RememberedLogon::WriteLast(*this);
}

void OrixUser::PutInformationInUser_Ini()
{
    RememberedLogon::WriteUserCopy(*this);
}

namespace
{
OrixUser::NoticeShower noticeShower = nullptr;
} // namespace

void OrixUser::SetNoticeShower(NoticeShower shower)
{
    noticeShower = shower;
}

int OrixUser::GetUserMessage(QWidget* parent)
{
    Q_UNUSED(parent); // the pop-up stands on its own, in the screen's corner
    QByteArray headline;
    const int result = ReadUserMessage(QByteArray(UserName), &headline);
    if (result == RpcResult::kOk && noticeShower)
        noticeShower(this, headline.constData());
    return result;
}

int OrixUser::ReadUserMessage(const QByteArray& userName, QByteArray* headline) const
{
    try {
        TavServerMessage message;
        memset(&message, 0, sizeof message);
        const int result = RpcClient->ReadMessage(userName.constData(), &message);
        if (result == RpcResult::kOk) {
            message.Headline[sizeof message.Headline - 1] = '\0';
            message.Detail[sizeof message.Detail - 1] = '\0';
            *headline = message.Headline;
            JobHistory::post(message.Type, QByteArray(message.Detail));
        }
        return result;
    } catch (const RpcFailure&) {
        return RpcResult::kUnreachable;
    } catch (const std::exception&) {
        // Nothing else of the notice path should throw (an allocation);
        // it counts as an unreachable server all the same.
        LogException("notice query", std::current_exception());
        return RpcResult::kUnreachable;
    }
}
