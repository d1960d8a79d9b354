#pragma once

#include "RpcResults.h"

#include <cstdio>

// Block types of the block uploads: the first block (the server answers it
// with the name it stores the job under), the blocks between, the last one.
enum UploadBlockType { kFirstBlock = 0, kMiddleBlock = 1, kLastBlock = 2 };

// The RPC client interface through which the session reaches the server.
// The order of the virtual operations is the order of the slots of the
// interface; the base class answers every operation with its default
// (-1 is RpcResult::kNone).
class TavRpcClientBase
{
public:
    virtual ~TavRpcClientBase() = default;

    virtual int InitDCOM();                   // slot 1: -1
    virtual int GetCurrentMode();             // slot 2: 1
    virtual int UninitDCom();                 // slot 3: -1
    virtual int LogOn(void* logonRecord);     // slot 4: -1
    virtual void ErrorDescription(long code); // slot 5: nothing
    virtual int SavePrintJob(void* taskRecord, char* appendixText, char* documentPath,
                             char* storedName); // slot 6: -1
    virtual int SendOneBlockToServer(FILE* document, long blockType, unsigned long blockSize,
                                     void* taskRecord, char* appendixText, unsigned long* bytesSent,
                                     char* storedName); // slot 7: -1
    virtual int SaveMobilePrintJob(void* taskRecord, char* reserved, char* documentPath,
                                   char* storedName); // slot 8: -1
    virtual int SendMobilePrintJobOneBlockToServer(FILE* document, long blockType,
                                                   unsigned long blockSize, void* taskRecord,
                                                   char* reserved, unsigned long* bytesSent,
                                                   char* storedName);         // slot 9: -1
    virtual int GetGroupIDFromUsersByUserName(char* userName, void* groupId); // slot 10: -1
    virtual int GetGroupNameFromGroupByGroupID(int groupId, void* groupName); // slot 11: -1
    virtual int GetWebsiteIP(char* websiteAddress, char* serverAddress);      // slot 12: -1
    virtual int GetSpecialAudit(char* userName, int* specialAudit);           // slot 13: -1
    virtual int GetAuditFlow(void* auditFlow, void* userRecord);              // slot 14: -1
    virtual int GetAuditFlowID(void* userRecord, int* flowId);                // slot 15: -1
    virtual int GetAuditFlowItems(long flowId, void* auditFlow);              // slot 16: -1
    virtual int GetAuditorsInAuditFlow(void* userRecord, int levelIndex, void* secret,
                                       void* auditorArray);           // slot 17: -1
    virtual int GetPayerInfo(char* item, char*& payerParam);          // slot 18: -1
    virtual int ns__QuotaVerification(char* jsonParam, long* result); // slot 19: -1
    virtual int GetSettingValueBySettingName(char* settingName, char* value,
                                             char* defaultValue); // slot 20: -1

    // fopen(path, mode) tried up to 1501 times in a row; null when all fail.
    FILE* TavFopenEx(char* path, char* mode);

    // Number of fopen attempts TavFopenEx makes before it gives up.
    static constexpr int kFopenAttempts = 1501;
};
