#pragma once

#include "TavRpcClientBase.h"

#include <QString>
#include <cstddef>
#include <cstdint>

class OrWSProxy;

// A server notice decoded for the pop-up.
struct TavServerMessage {
    int32_t Type;       // notice type as the server sent it
    char Headline[255]; // "<job name>status", UTF-8, at most 254 bytes
    char Detail[256];   // the notice's field text, UTF-8, cut to fit
};

// The SOAP implementation of the RPC client. Every operation builds a fresh
// runtime context, makes its call and releases the context before it
// returns; only the endpoint, the port text and the HTTPS flag live between
// calls (set by LogOn). Operations may run on several threads at once (a
// poll, an upload, a logon): each call takes its own copy of these settings.
class CDComLayerWS : public TavRpcClientBase
{
public:
    CDComLayerWS();
    ~CDComLayerWS() override;

    // --- connection ---------------------------------------------------------
    int InitDCOM() override;
    int InitServerPort();
    int UninitDCom() override;
    // Prepares the context of a fresh proxy: chunked HTTP both ways, DIME
    // read callbacks, 30 s time-outs and a 60 s limit for the whole
    // exchange, a bounded name lookup, the endpoint (copied into the
    // context), UTF-8 strings when the port text is "8085", the shared TLS
    // context for HTTPS. Returns 0.
    int InitSoap(OrWSProxy& proxy);
    // logonRecord is a TavUserRecord. 0 accepted, > 0 the server's refusal
    // code, < 0 the negated runtime error, -20 without a runtime context.
    int LogOn(void* logonRecord) override;
    // Raises code as an exception of type long.
    void ErrorDescription(long code) override;
    void GetClientIpMac(QString& ip, QString& mac);

    // Port text used by the next LogOn (at most 19 characters, cut to fit).
    void SetPort(const char* port);
    // Not for use while a logon may run on another thread.
    const char* Port() const { return m_Port; }
    const char* Endpoint() const { return m_Endpoint; }

    // --- queries --------------------------------------------------------------
    // groupId is an int*; groupName a buffer of 256 bytes.
    int GetGroupIDFromUsersByUserName(char* userName, void* groupId) override;
    int GetPrintWayFromUsersByUserName(char* userName, int* printWay);
    int GetGroupNameFromGroupByGroupID(int groupId, void* groupName) override;
    // value is a buffer of 256 bytes.
    int GetSettingValueBySettingName(char* settingName, char* value, char* defaultValue) override;
    // websiteAddress is a buffer of 256 bytes.
    int GetWebsiteIP(char* websiteAddress, char* serverAddress) override;
    // session is a TavUserRecord: FullName and UserId / UserInfoEx are filled.
    int GetUserInfo(char* userName, void* session);
    int GetUserInfoEx(char* userName, void* session);
    // *printerList receives a block made by SysAllocStringLen; the caller
    // releases it with SysFreeString.
    int GetPrinterList(char* userName, void** printerList);
    int GetSecretLevel(char* userName);
    int GetSpecialAudit(char* userName, int* specialAudit) override;
    // payerParam receives a malloc'ed copy of the answer (or stays as it was
    // when the server sent none); the caller frees it.
    int GetPayerInfo(char* item, char*& payerParam) override;
    int ExecSQL(char* sql);
    // quotaRequest is a TavQuotaRequest.
    int UpdateProjectIDOfPrintProcTask(void* quotaRequest, char* storedName);
    int QuotaVerification(char* quotaRequest);

    // --- audit flow -------------------------------------------------------------
    // auditFlow is a TavAuditFlow, userRecord a TavUserRecord, itemList a
    // TavAuditFlowItemList, secret a TavSecret, auditorArray a TavAuditorArray.
    int GetAuditFlow(void* auditFlow, void* userRecord) override;
    int GetAuditFlowID(void* userRecord, int* flowId) override;
    int GetAuditFlowItems(long flowId, void* itemList) override;
    int GetAuditorsInAuditFlow(void* userRecord, int levelIndex, void* secret,
                               void* auditorArray) override;

    // --- notices ------------------------------------------------------------------
    // 0 a notice is in out; -1 none; -2 no context or the call failed.
    int ReadMessage(const char* userName, TavServerMessage* out);

private:
    char m_Endpoint[1024];
    char m_Port[20];
    int32_t m_UseHttps;
};
