// The generated service skeleton declares one virtual function per operation
// and leaves their definitions to the program. DevService overrides all of
// them; these base versions only answer a fault should one ever be reached.
#include "soapOrWSService.h"

int OrWSService::UserLogon(char*, char*, LONG64, LONG64*)
{
    return soap_senderfault("UserLogon is not served", nullptr);
}

int OrWSService::GetUserInfo(char*, struct ns__GetUserInfoResponse&)
{
    return soap_senderfault("GetUserInfo is not served", nullptr);
}

int OrWSService::GetUserInfoEx(char*, struct ns__GetUserInfoExResponse&)
{
    return soap_senderfault("GetUserInfoEx is not served", nullptr);
}

int OrWSService::GetPrinterList(char*, struct ns__GetPrinterListResponse&)
{
    return soap_senderfault("GetPrinterList is not served", nullptr);
}

int OrWSService::GetSecretLevel(char*, LONG64*)
{
    return soap_senderfault("GetSecretLevel is not served", nullptr);
}

int OrWSService::GetUserMessage(char*, struct ns__GetUserMessageResponse&)
{
    return soap_senderfault("GetUserMessage is not served", nullptr);
}

int OrWSService::ExcuteSQL(char*, int*)
{
    return soap_senderfault("ExcuteSQL is not served", nullptr);
}

int OrWSService::GetSpecialAuditOfUser(char*, struct ns__structGetSpecialAuditOfUser&)
{
    return soap_senderfault("GetSpecialAuditOfUser is not served", nullptr);
}

int OrWSService::GetFieldValuesBySQL(char*, char*, LONG64, LONG64,
                                     struct ns__GetFieldValuesBySQLResponse&)
{
    return soap_senderfault("GetFieldValuesBySQL is not served", nullptr);
}

int OrWSService::GetPayerInfo(char*, char**)
{
    return soap_senderfault("GetPayerInfo is not served", nullptr);
}

int OrWSService::QuotaVerification(char*, LONG64*)
{
    return soap_senderfault("QuotaVerification is not served", nullptr);
}

int OrWSService::SavePrintJobEx(arrayOfData*, struct ns__SavePrintJobExResponse&)
{
    return soap_senderfault("SavePrintJobEx is not served", nullptr);
}

int OrWSService::SavePrintJobByBlockForLinuxClient(arrayOfData*, LONG64, char*,
                                                   struct ns__structSavePrintJobByBlock&)
{
    return soap_senderfault("SavePrintJobByBlockForLinuxClient is not served", nullptr);
}

int OrWSService::SaveMobilePrintJob(arrayOfData*, char*, struct ns__SaveMobilePrintJobResponse&)
{
    return soap_senderfault("SaveMobilePrintJob is not served", nullptr);
}

int OrWSService::SaveMobilePrintJobByBlock(char*, arrayOfData*, LONG64, char*,
                                           struct ns__structSavePrintJobByBlock&)
{
    return soap_senderfault("SaveMobilePrintJobByBlock is not served", nullptr);
}

int OrWSService::SaveCDRecordJobByBlock(char*, arrayOfData*, LONG64, char*,
                                        struct ns__structSavePrintJobByBlock&)
{
    return soap_senderfault("SaveCDRecordJobByBlock is not served", nullptr);
}

int OrWSService::SaveCopyJobSQL(arrayOfData*, arrayOfName*, char**)
{
    return soap_senderfault("SaveCopyJobSQL is not served", nullptr);
}
