#include "TavRpcClientBase.h"

int TavRpcClientBase::InitDCOM()
{
    return -1;
}
int TavRpcClientBase::GetCurrentMode()
{
    return 1;
}
int TavRpcClientBase::UninitDCom()
{
    return -1;
}
int TavRpcClientBase::LogOn(void*)
{
    return -1;
}
void TavRpcClientBase::ErrorDescription(long) {}
int TavRpcClientBase::SavePrintJob(void*, char*, char*, char*)
{
    return -1;
}
int TavRpcClientBase::SendOneBlockToServer(FILE*, long, unsigned long, void*, char*, unsigned long*,
                                           char*)
{
    return -1;
}
int TavRpcClientBase::SaveMobilePrintJob(void*, char*, char*, char*)
{
    return -1;
}
int TavRpcClientBase::SendMobilePrintJobOneBlockToServer(FILE*, long, unsigned long, void*, char*,
                                                         unsigned long*, char*)
{
    return -1;
}
int TavRpcClientBase::GetGroupIDFromUsersByUserName(char*, void*)
{
    return -1;
}
int TavRpcClientBase::GetGroupNameFromGroupByGroupID(int, void*)
{
    return -1;
}
int TavRpcClientBase::GetWebsiteIP(char*, char*)
{
    return -1;
}
int TavRpcClientBase::GetSpecialAudit(char*, int*)
{
    return -1;
}
int TavRpcClientBase::GetAuditFlow(void*, void*)
{
    return -1;
}
int TavRpcClientBase::GetAuditFlowID(void*, int*)
{
    return -1;
}
int TavRpcClientBase::GetAuditFlowItems(long, void*)
{
    return -1;
}
int TavRpcClientBase::GetAuditorsInAuditFlow(void*, int, void*, void*)
{
    return -1;
}
int TavRpcClientBase::GetPayerInfo(char*, char*&)
{
    return -1;
}
int TavRpcClientBase::ns__QuotaVerification(char*, long*)
{
    return -1;
}
int TavRpcClientBase::GetSettingValueBySettingName(char*, char*, char*)
{
    return -1;
}

FILE* TavRpcClientBase::TavFopenEx(char* path, char* mode)
{
    for (int attempt = 0; attempt < kFopenAttempts; ++attempt) {
        FILE* f = fopen(path, mode);
        if (f)
            return f;
    }
    return nullptr;
}
