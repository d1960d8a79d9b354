#include "DComLayerWS.h"

// Server queries: user, group, settings, printers, payers, quota.
// TODO(queries): implement; the stubs answer "exchange failed".

int CDComLayerWS::GetGroupIDFromUsersByUserName(char*, void*) { return 15; }
int CDComLayerWS::GetPrintWayFromUsersByUserName(char*, int*) { return 15; }
int CDComLayerWS::GetGroupNameFromGroupByGroupID(int, void*) { return 15; }
int CDComLayerWS::GetSettingValueBySettingName(char*, char*, char*) { return 15; }
int CDComLayerWS::GetWebsiteIP(char*, char*) { return 0; }
int CDComLayerWS::GetUserInfo(char*, void*) { return 15; }
int CDComLayerWS::GetUserInfoEx(char*, void*) { return 15; }
int CDComLayerWS::GetPrinterList(char*, void**) { return 15; }
int CDComLayerWS::GetSecretLevel(char*) { return 0; }
int CDComLayerWS::GetSpecialAudit(char*, int* specialAudit)
{
    *specialAudit = 0;
    return 15;
}
int CDComLayerWS::GetPayerInfo(char*, char*&) { return 20; }
int CDComLayerWS::ExecSQL(char*) { return 0; }
int CDComLayerWS::UpdateProjectIDOfPrintProcTask(void*, char*) { return 0; }
int CDComLayerWS::QuotaVerification(char*) { return 0; }
