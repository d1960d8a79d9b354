#include "OrixUser.h"

#include "DComLayerWS.h"
#include "TavCommon.h"
#include "TextUtil.h"

#include <cstdlib>
#include <cstring>

// TODO(session): construction in order, logon sequence, remembered logon.

OrixUser::OrixUser()
{
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
    SavePassword = false;
    AutoLogon = false;
    DomainAgentLogon = false;
    memset(&TaskInfo, 0, sizeof TaskInfo);
    memset(&MobileTaskInfo, 0, sizeof MobileTaskInfo);
    memset(DocumentPath, 0, sizeof DocumentPath);

    RpcClient.reset(new CDComLayerWS);
    RpcClient->InitDCOM();
    ReadConfigInfo(&Config, true);
    CopyUtf8Text(ServerAddress, sizeof ServerAddress, Config.ServerAddress);
    CopyUtf8Text(UserName, sizeof UserName, Config.UserName);
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
