#include "TavRpcClientBase.h"

int TavRpcClientBase::InitDCOM()
{
    return RpcResult::kNone;
}
int TavRpcClientBase::GetCurrentMode()
{
    return 1;
}
int TavRpcClientBase::UninitDCom()
{
    return RpcResult::kNone;
}
int TavRpcClientBase::LogOn(void*)
{
    return RpcResult::kNone;
}
void TavRpcClientBase::ErrorDescription(long) {}
int TavRpcClientBase::SavePrintJob(void*, char*, char*, char*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::SendOneBlockToServer(FILE*, long, unsigned long, void*, char*, unsigned long*,
                                           char*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::SaveMobilePrintJob(void*, char*, char*, char*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::SendMobilePrintJobOneBlockToServer(FILE*, long, unsigned long, void*, char*,
                                                         unsigned long*, char*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::GetGroupIDFromUsersByUserName(char*, void*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::GetGroupNameFromGroupByGroupID(int, void*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::GetWebsiteIP(char*, char*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::GetSpecialAudit(char*, int*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::GetAuditFlow(void*, void*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::GetAuditFlowID(void*, int*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::GetAuditFlowItems(long, void*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::GetAuditorsInAuditFlow(void*, int, void*, void*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::GetPayerInfo(char*, char*&)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::ns__QuotaVerification(char*, long*)
{
    return RpcResult::kNone;
}
int TavRpcClientBase::GetSettingValueBySettingName(char*, char*, char*)
{
    return RpcResult::kNone;
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
