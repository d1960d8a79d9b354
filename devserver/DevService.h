#pragma once

#include "soapOrWSService.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

class DevDatabase;
class DevStorage;

// Limits on what a request may make the server do.
struct DevLimits {
    static constexpr long long kMaxFieldSize = 8192;     // bytes per text value
    static constexpr int kMaxRows = 10000;               // rows per field query
    static constexpr size_t kMaxReplyBytes = 4u << 20;   // field query reply
    static constexpr long long kMaxJobBytes = 1ll << 30; // stored document
    static constexpr int kMaxBlocks = 100000;            // blocks per job
    static constexpr size_t kMaxAttachment = 16u << 20;  // one DIME attachment
};

// Result codes in the GetFieldValuesBySQL reply (offset 4).
enum DevFieldError {
    kFieldOk = 0,
    kFieldSqlError = 1,    // SQLite rejected the text or failed running it
    kFieldBadRequest = 3,  // FieldType other than 0/1, or FieldSize below 1
    kFieldNotReadOnly = 4, // more than one statement, or one that writes
};

// Result of ExcuteSQL when SQLite rejects the text (no change is kept).
constexpr int kExcuteSqlError = -1;

// The OrWS service over the development database and storage folder.
class DevService : public OrWSService
{
public:
    DevService(DevDatabase& db, DevStorage& storage, soap_mode mode);
    // The service on one more connection (its own runtime context, which it
    // does not own): the database, storage and unfinished jobs of primary.
    // Calls on the two must not run at the same time.
    DevService(DevService& primary, struct soap* connection);

    int UserLogon(char* UserName, char* PassWord, LONG64 UserType, LONG64* LogResult) override;
    int GetUserInfo(char* UserName, ns__GetUserInfoResponse& result) override;
    int GetUserInfoEx(char* UserName, ns__GetUserInfoExResponse& result) override;
    int GetPrinterList(char* UserName, ns__GetPrinterListResponse& result) override;
    int GetSecretLevel(char* UserName, LONG64* SercretLevel) override;
    int GetUserMessage(char* UserName, ns__GetUserMessageResponse& result) override;
    int ExcuteSQL(char* strSQL, int* Result) override;
    int GetSpecialAuditOfUser(char* lpUserName, ns__structGetSpecialAuditOfUser& result) override;
    int GetFieldValuesBySQL(char* pSQL, char* pFieldName, LONG64 FieldType, LONG64 FieldSize,
                            ns__GetFieldValuesBySQLResponse& result) override;
    int GetPayerInfo(char* pItem, char** pPayerParam) override;
    int QuotaVerification(char* pJsonJobParam, LONG64* pRet) override;
    int SavePrintJobEx(arrayOfData* data, ns__SavePrintJobExResponse& result) override;
    int SavePrintJobByBlockForLinuxClient(arrayOfData* data, LONG64 BlockType, char* SplFileNameIn,
                                          ns__structSavePrintJobByBlock& result) override;
    int SaveMobilePrintJob(arrayOfData* data, char* PrintFileName,
                           ns__SaveMobilePrintJobResponse& result) override;
    int SaveMobilePrintJobByBlock(char* PrintFileName, arrayOfData* data, LONG64 BlockType,
                                  char* SplFileNameIn,
                                  ns__structSavePrintJobByBlock& result) override;
    int SaveCDRecordJobByBlock(char* PrintFileName, arrayOfData* data, LONG64 BlockType,
                               char* SplFileNameIn, ns__structSavePrintJobByBlock& result) override;
    int SaveCopyJobSQL(arrayOfData* CopyInfo, arrayOfName* names, char** TaskIds) override;

    // Adds an undelivered notice; returns its id or -1.
    static long long addNotice(DevDatabase& db, const std::string& user, int type,
                               const std::string& fieldsUtf8);

    // The kinds of job the server stores.
    enum class JobKind { Print, Mobile, Disc, Copy };

    // Releases the attachments of the request just served.
    void endRequest() { m_attachments.clear(); }

    // Writes the byte and block counts of the jobs under way to their
    // Uploads rows (the server calls it when it has been idle for a while
    // and before it stops; a finished job's row is written at once).
    void saveJobCounts();
    ~DevService() override;

private:
    // DIME attachments are received through these callbacks: the runtime
    // hands them over in pieces of its input buffer (its own receiving
    // copies them byte by byte). Each is kept in memory, at most
    // kMaxAttachment bytes, until endRequest(); the ns__Data of an
    // attachment points at its buffer.
    static void* attachmentOpen(struct soap* soap, const char* id, const char* type,
                                const char* options);
    static int attachmentWrite(struct soap* soap, void* handle, const char* buf, size_t len);
    static void attachmentClose(struct soap* soap, void* handle);
    std::vector<std::unique_ptr<std::vector<unsigned char>>> m_attachments;

    struct Bytes {
        const unsigned char* data = nullptr;
        size_t size = 0;
    };

    Bytes item(const arrayOfData* array, int index) const;
    ns__Data makeData(const std::vector<unsigned char>& bytes);
    int fault(const char* operation, const std::string& text);

    // A whole print or mobile print job in one call.
    int saveWhole(const char* operation, JobKind kind, arrayOfData* data, arrayOfName& names);
    int saveBlock(const char* operation, JobKind kind, arrayOfData* data, LONG64 blockType,
                  const char* nameIn, ns__structSavePrintJobByBlock& result);

    // A job whose blocks are arriving: its data file stays open for
    // appending and its counts are kept here between its blocks, so that a
    // block costs one write and no database change. Its Uploads row holds
    // kind, owner and data file from the first block on; the counts reach
    // the row when the job finishes, on saveJobCounts() and when the job is
    // closed to make room. A job not held here (the server restarted, or it
    // was closed) is taken up again from its row and the file's size.
    struct OpenJob {
        JobKind kind = JobKind::Copy;
        std::string user;
        int fd = -1;          // the data file, appending; -1 for a copy request
        long long bytes = 0;  // in the data file
        long long blocks = 0; // appended so far
        bool countsSaved = true;
        unsigned long long lastUse = 0;
    };
    static constexpr size_t kMaxOpenJobs = 64;
    // The unfinished jobs, shared by the services of every connection.
    struct JobTable {
        std::map<std::string, OpenJob> jobs;
        unsigned long long useCounter = 0;
    };

    // Block 0 or a whole job: a new job with its row, its (empty) data
    // file and its entry here. Null (and *error) on failure.
    OpenJob* beginJob(JobKind kind, const std::string& user, std::string* name, std::string* error);
    // A later block: the unfinished job of this kind named name. Null (and
    // *error) when there is none.
    OpenJob* continueJob(JobKind kind, const std::string& name, std::string* error);
    bool appendDocument(OpenJob& job, const Bytes& bytes, std::string* error);
    bool finishJob(JobKind kind, const std::string& name, const Bytes& record,
                   const Bytes& appendix, std::string* error);
    // Saves the job's counts to its row and forgets it.
    void closeJob(const std::string& name);
    OpenJob* remember(const std::string& name, OpenJob job);

    DevDatabase& m_db;
    DevStorage& m_storage;
    std::shared_ptr<JobTable> m_table;
    bool m_ownsJobs; // the primary service closes them when it ends
    std::map<std::string, OpenJob>& m_openJobs;
    unsigned long long& m_useCounter;
};
