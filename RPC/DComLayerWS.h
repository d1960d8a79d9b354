#pragma once

#include "SoapContext.h"
#include "TavRpcClientBase.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>

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
    // context), UTF-8 strings on kUtf8ServicePort, the shared TLS
    // context for HTTPS. Returns RpcResult::kOk.
    int InitSoap(OrWSProxy& proxy);
    // A new runtime context prepared by InitSoap, for the SoapCall of one
    // operation; empty when none could be made.
    SoapContext NewCallContext();
    // logonRecord is a TavUserRecord. RpcResult::kOk accepted, > 0 the
    // server's refusal code, < 0 the negated runtime error,
    // RpcResult::kLogonNoContext without a runtime context.
    int LogOn(void* logonRecord) override;
    // Raises code as an RpcFailure.
    void ErrorDescription(long code) override;
    void GetClientIpMac(QString& ip, QString& mac);

    // The port text of the server's UTF-8 service: strings travel as UTF-8
    // there and as Latin-1 bytes at any other port. The port text until the
    // session sets its own; the port a sign-on plug-in's logon remembers
    // when its server names none.
    static constexpr char kUtf8ServicePort[] = "8085";
    // The port text of a logon when none was ever given.
    static constexpr char kDefaultServicePort[] = "8086";
    static bool IsUtf8ServicePort(const char* port);
    // True when the strings of the calls travel as UTF-8 (the port text is
    // kUtf8ServicePort).
    bool UsesUtf8Strings() const;

    // Port text used by the next LogOn (at most 19 characters, cut to fit).
    void SetPort(const char* port);
    // Not for use while a logon may run on another thread.
    const char* Port() const { return m_Port; }

    // The administrator's proxy setting (the configuration's value: empty
    // takes the environment, "none" no proxy, else the proxy's URL; at most
    // 255 bytes, cut to fit), used from the next call on (ProxyChoice::For).
    void SetProxy(const char* setting);

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

    // --- uploads --------------------------------------------------------------------
    // Every document travels as DIME attachments streamed from private
    // temporary files (unique names, owner-only, never through a link), which
    // are removed when the call ends, whatever way it ends. A document above
    // kUploadBlockSize bytes goes in blocks of that size: one in memory at a
    // time. storedName is a buffer of at least 1024 bytes that receives the
    // name under which the server keeps the job (empty before the first
    // block).
    //
    // Failures leave as an RpcFailure: a failed exchange, a refused block or
    // a first block answered without a stored name as
    // RpcResult::kExchangeFailed; a document that cannot be sized as its
    // (negative) code, one that cannot be opened or that ends before its
    // size, and a temporary file that cannot be made, as kFileError through
    // ErrorDescription; the block files of the mobile upload as
    // kBlockRecordFileError and kBlockDataFileError.
    static constexpr unsigned long kUploadBlockSize = 102400;

    // taskRecord: the 664-byte _TAV_PRINT_TASK_INFO_; the files live in the
    // working folder.
    int SavePrintJob(void* taskRecord, char* appendixText, char* documentPath,
                     char* storedName) override;
    int SendOneBlockToServer(FILE* document, long blockType, unsigned long blockSize,
                             void* taskRecord, char* appendixText, unsigned long* bytesSent,
                             char* storedName) override;
    // taskRecord: the 1112-byte MobilePrintTaskInfo; the files live in /var/tmp.
    int SaveMobilePrintJob(void* taskRecord, char* reserved, char* documentPath,
                           char* storedName) override;
    int SendMobilePrintJobOneBlockToServer(FILE* document, long blockType, unsigned long blockSize,
                                           void* taskRecord, char* reserved,
                                           unsigned long* bytesSent, char* storedName) override;
    // The 932-byte copy request, sent without waiting for the answer.
    // RpcResult::kOk when it was sent, kNoContext without a runtime context,
    // kFileError when its file could not be made, else the runtime's error
    // code. Raises nothing.
    int SaveCopyJob(void* copyRecord, void* reserved);
    // One block of a disc request: size bytes of data (an UploadBlockType).
    // RpcResult::kOk on success (the stored name is taken from the answer to
    // the first block), kNoContext without a runtime context, kFileError
    // when the block file could not be made, else the runtime's error code.
    // Raises nothing.
    int SaveCDJobByBlock(int blockType, int size, void* data, char* storedName);
    // Writes the appendix record (the text, the client's MAC and IP address)
    // to path and its length into size. A file that cannot be written raises
    // RpcResult::kFileError through ErrorDescription.
    void SavePrintJobAppendixInfo(char* appendixText, char* path, int& size);

    // Progress of the print and mobile print uploads: called on the
    // uploading thread with the document bytes sent so far and the
    // document's size, after each block and once after a single-call
    // upload. Set it before an upload starts (not during one); an empty
    // function switches it off. An exception thrown by it ends the upload
    // (the temporary files are removed) and reaches the upload's caller.
    using UploadProgress = std::function<void(unsigned long long sent, unsigned long long total)>;
    void SetUploadProgress(UploadProgress progress) { m_UploadProgress = std::move(progress); }

    // --- notices ------------------------------------------------------------------
    // RpcResult::kOk a notice is in out; kNone none; kUnreachable no context
    // or the call failed.
    int ReadMessage(const char* userName, TavServerMessage* out);

private:
    // ErrorDescription(code), and the same code thrown as an RpcFailure
    // should an override of ErrorDescription return.
    [[noreturn]] void FailUpload(long code);
    void ReportProgress(unsigned long long sent, unsigned long long total) const;

    UploadProgress m_UploadProgress;
    char m_Endpoint[1024];
    char m_Port[20];
    char m_Proxy[256];
    int32_t m_UseHttps;
};
