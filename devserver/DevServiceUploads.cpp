#include "DevService.h"

#include "DevDatabase.h"
#include "DevStorage.h"
#include "TavCommon.h"

#include <QtEndian>
#include <sqlite3.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// The upload operations: every job gets a folder in the storage folder
// (task.bin = the request record, the document or disc data, appendix.bin)
// and a row in Uploads; a finished print job also a PrintProcTask row and a
// "received" notice for its user. Between the blocks of a job its data file
// stays open and its counts stay in memory (OpenJob).

namespace
{

struct KindInfo {
    const char* name;
    char prefix;
    size_t recordSize;
    const char* dataFile;
    int noticeType;
    const char* noticeLabel; // second notice field when the record names no printer
    const char* recordName;  // in the fault for a missing request record
};

// Record sizes: print task 664, mobile print task 1112, disc request 1024,
// copy request 932.
const KindInfo kPrint{"print", 'P', 664, "document.dat", 0, "刷卡打印", "print task"};
const KindInfo kMobile{"mobile", 'M', 1112, "document.dat", 0, "刷卡打印", "mobile print task"};
const KindInfo kDisc{"cd", 'C', 1024, "cd.dat", 2048, "刻录", "disc request"};
const KindInfo kCopy{"copy", 'K', 932, "", 640, "复印", "copy request"};

const char* at(const unsigned char* record, size_t offset)
{
    return reinterpret_cast<const char*>(record + offset);
}

// What the server keeps of a request record.
struct JobFields {
    std::string user, doc, printer, secret, purpose, auditors, color, duplex, paper;
    long long userId = 0, auditorCount = 0, pages = 0, copies = 0, jobState = 0;
};

std::string auditorList(const unsigned char* ids, long long count)
{
    std::string list;
    for (long long i = 0; i < count; ++i) {
        if (!list.empty())
            list += ',';
        list += std::to_string(qFromLittleEndian<qint32>(ids + 4 * i));
    }
    return list;
}

long long clampAuditors(int32_t count)
{
    return count < 0 ? 0 : (count > 10 ? 10 : count);
}

} // namespace

static const KindInfo& info(DevService::JobKind kind)
{
    switch (kind) {
    case DevService::JobKind::Print:
        return kPrint;
    case DevService::JobKind::Mobile:
        return kMobile;
    case DevService::JobKind::Disc:
        return kDisc;
    case DevService::JobKind::Copy:
        return kCopy;
    }
    return kCopy; // not reached: every kind is handled above
}

DevService::Bytes DevService::item(const arrayOfData* array, int index) const
{
    Bytes bytes;
    if (!array || !array->__ptr || index < 0 || index >= array->__size)
        return bytes;
    const ns__Data& d = array->__ptr[index];
    // A DIME attachment: __ptr is the handle of its buffer.
    for (const auto& buffer : m_attachments) {
        if (d.__ptr == reinterpret_cast<const unsigned char*>(buffer.get())) {
            bytes.data = buffer->empty() ? nullptr : buffer->data();
            bytes.size = buffer->size();
            return bytes;
        }
    }
    if (d.__ptr && d.__size > 0) { // inline base64
        bytes.data = d.__ptr;
        bytes.size = static_cast<size_t>(d.__size);
    }
    return bytes;
}

DevService::OpenJob* DevService::remember(const std::string& name, OpenJob job)
{
    if (m_openJobs.size() >= kMaxOpenJobs) {
        // Room for one more: the job that waited longest is closed.
        auto oldest = m_openJobs.begin();
        for (auto it = m_openJobs.begin(); it != m_openJobs.end(); ++it)
            if (it->second.lastUse < oldest->second.lastUse)
                oldest = it;
        closeJob(oldest->first);
    }
    job.lastUse = ++m_useCounter;
    return &(m_openJobs[name] = std::move(job));
}

DevService::OpenJob* DevService::beginJob(JobKind kind, const std::string& user, std::string* name,
                                          std::string* error)
{
    const KindInfo& k = info(kind);
    *name = m_storage.createJob(k.prefix);
    if (name->empty()) {
        *error = "cannot create a job folder in " + m_storage.dir();
        return nullptr;
    }
    OpenJob job;
    job.kind = kind;
    job.user = user;
    const std::string data = *k.dataFile ? m_storage.jobPath(*name, k.dataFile) : std::string();
    if (!data.empty()) {
        job.fd = open(data.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_NOFOLLOW | O_CLOEXEC,
                      0600);
        if (job.fd < 0) {
            *error = "cannot create " + data;
            return nullptr;
        }
    }
    DevStatement q(m_db.handle(), "INSERT INTO Uploads (StoredName, Kind, UserName, DataPath) "
                                  "VALUES (?, ?, ?, ?)");
    q.bind(1, *name).bind(2, std::string(k.name)).bind(3, user).bind(4, data);
    if (!q.run()) {
        *error = std::string("database: ") + sqlite3_errmsg(m_db.handle());
        if (job.fd >= 0)
            close(job.fd);
        return nullptr;
    }
    return remember(*name, std::move(job));
}

DevService::OpenJob* DevService::continueJob(JobKind kind, const std::string& name,
                                             std::string* error)
{
    const KindInfo& k = info(kind);
    const auto held = m_openJobs.find(name);
    if (held != m_openJobs.end()) {
        if (held->second.kind != kind) {
            *error = "unknown stored name \"" + name + "\"";
            return nullptr;
        }
        held->second.lastUse = ++m_useCounter;
        return &held->second;
    }
    DevStatement q(m_db.handle(), "SELECT Finished, UserName, Blocks FROM Uploads "
                                  "WHERE StoredName = ? AND Kind = ?");
    q.bind(1, name).bind(2, std::string(k.name));
    if (!DevStorage::isValidName(name) || !q.next()) {
        *error = "unknown stored name \"" + name + "\"";
        return nullptr;
    }
    if (q.integer(0) != 0) {
        *error = "the job " + name + " is already complete";
        return nullptr;
    }
    OpenJob job;
    job.kind = kind;
    job.user = q.text(1);
    job.blocks = q.integer(2);
    // The data file's place follows from the checked stored name alone,
    // never from a path read back from the database (whatever wrote it).
    const std::string data = *k.dataFile ? m_storage.jobPath(name, k.dataFile) : std::string();
    if (!data.empty()) {
        // The file holds every block appended so far, whatever the row says.
        job.fd = open(data.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
        struct stat st;
        if (job.fd < 0 || fstat(job.fd, &st) != 0) {
            if (job.fd >= 0)
                close(job.fd);
            *error = "the job's data file is missing";
            return nullptr;
        }
        job.bytes = st.st_size;
    }
    return remember(name, std::move(job));
}

bool DevService::appendDocument(OpenJob& job, const Bytes& bytes, std::string* error)
{
    if (job.blocks >= DevLimits::kMaxBlocks) {
        *error = "too many blocks";
        return false;
    }
    if (job.fd < 0) {
        *error = "the job has no data file";
        return false;
    }
    if (job.bytes + static_cast<long long>(bytes.size) > DevLimits::kMaxJobBytes) {
        *error = "the job is larger than the server accepts";
        return false;
    }
    const char* p = reinterpret_cast<const char*>(bytes.data);
    size_t left = bytes.size;
    while (left > 0) {
        const ssize_t n = write(job.fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // Nothing of a failed block stays in the document.
            *error = std::string("cannot write the job's data file: ") + strerror(errno);
            if (ftruncate(job.fd, job.bytes) != 0)
                *error += " (and it keeps part of the block)";
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    job.bytes += static_cast<long long>(bytes.size);
    ++job.blocks;
    job.countsSaved = false;
    return true;
}

void DevService::closeJob(const std::string& name)
{
    const auto it = m_openJobs.find(name);
    if (it == m_openJobs.end())
        return;
    OpenJob& job = it->second;
    if (!job.countsSaved) {
        DevStatement q(m_db.handle(),
                       "UPDATE Uploads SET Bytes = ?, Blocks = ? WHERE StoredName = ?");
        q.bind(1, job.bytes).bind(2, job.blocks).bind(3, name);
        if (!q.run())
            fprintf(stderr, "orws-devserver: cannot save the counts of %s: %s\n", name.c_str(),
                    sqlite3_errmsg(m_db.handle()));
    }
    if (job.fd >= 0)
        close(job.fd);
    m_openJobs.erase(it);
}

void DevService::saveJobCounts()
{
    bool any = false;
    for (const auto& entry : m_openJobs)
        any = any || !entry.second.countsSaved;
    if (!any || !m_db.exec("BEGIN"))
        return;
    for (auto& entry : m_openJobs) {
        OpenJob& job = entry.second;
        if (job.countsSaved)
            continue;
        DevStatement q(m_db.handle(),
                       "UPDATE Uploads SET Bytes = ?, Blocks = ? WHERE StoredName = ?");
        q.bind(1, job.bytes).bind(2, job.blocks).bind(3, entry.first);
        job.countsSaved = q.run();
    }
    if (!m_db.exec("COMMIT")) {
        fprintf(stderr, "orws-devserver: cannot save the job counts: %s\n", m_db.error().c_str());
        m_db.exec("ROLLBACK");
        for (auto& entry : m_openJobs)
            entry.second.countsSaved = false;
    }
}

DevService::~DevService()
{
    while (m_ownsJobs && !m_openJobs.empty())
        closeJob(m_openJobs.begin()->first);
}

bool DevService::finishJob(JobKind kind, const std::string& name, const Bytes& record,
                           const Bytes& appendix, std::string* error)
{
    const KindInfo& k = info(kind);
    if (record.size < k.recordSize) {
        *error = "the request record has " + std::to_string(record.size) + " bytes, not " +
                 std::to_string(k.recordSize);
        return false;
    }
    const std::string recordPath = m_storage.jobPath(name, "task.bin");
    if (!DevStorage::writeFile(recordPath, record.data, record.size, false)) {
        *error = "cannot write " + recordPath;
        return false;
    }
    std::string appendixPath;
    if (appendix.size > 0) {
        appendixPath = m_storage.jobPath(name, "appendix.bin");
        if (!DevStorage::writeFile(appendixPath, appendix.data, appendix.size, false)) {
            *error = "cannot write " + appendixPath;
            return false;
        }
    }

    const unsigned char* r = record.data;
    JobFields f;
    switch (kind) {
    case JobKind::Print: // text in UTF-8
        f.user = FieldText(at(r, 0), 50);
        f.auditorCount = clampAuditors(qFromLittleEndian<qint32>(r + 52));
        f.auditors = auditorList(r + 60, f.auditorCount);
        f.secret = FieldText(at(r, 100), 50);
        f.purpose = FieldText(at(r, 150), 512);
        f.doc = name;
        break;
    case JobKind::Mobile: // names and choices in GB18030 (captured) or UTF-8 (mobile)
        f.user = FieldText(at(r, 0), 50);
        f.userId = qFromLittleEndian<qint32>(r + 100);
        f.auditorCount = clampAuditors(qFromLittleEndian<qint32>(r + 104));
        f.auditors = auditorList(r + 112, f.auditorCount);
        f.secret = MobileRecordText(r, 152, 50);
        f.purpose = MobileRecordText(r, 202, 512);
        f.doc = MobileRecordText(r, 714, 50);
        f.color = FieldText(at(r, 865), 1);
        f.duplex = FieldText(at(r, 866), 1);
        f.jobState = qFromLittleEndian<qint32>(r + 868);
        f.pages = qFromLittleEndian<qint32>(r + 872);
        f.copies = qFromLittleEndian<qint32>(r + 876);
        f.paper = FieldText(at(r, 880), 50);
        f.printer = MobileRecordText(r, 960, 50);
        break;
    case JobKind::Disc: // UTF-8
        f.user = FieldText(at(r, 34), 50);
        f.doc = FieldText(at(r, 750), 50);
        break;
    case JobKind::Copy: // UTF-8
        f.user = FieldText(at(r, 0), 50);
        f.doc = FieldText(at(r, 714), 50);
        break;
    }
    if (f.userId == 0) {
        DevStatement id(m_db.handle(), "SELECT UserID FROM Users WHERE UserName = ?");
        id.bind(1, f.user);
        if (id.next())
            f.userId = id.integer(0);
    }

    if (!m_db.exec("BEGIN")) {
        *error = "database: " + m_db.error();
        return false;
    }
    bool ok = true;
    const auto held = m_openJobs.find(name);
    const long long bytes = held != m_openJobs.end() ? held->second.bytes : 0;
    const long long blocks = held != m_openJobs.end() ? held->second.blocks : 0;
    {
        DevStatement q(m_db.handle(), "UPDATE Uploads SET Finished = 1, UserName = ?, DocName = ?, "
                                      "RecordPath = ?, AppendixPath = ?, Bytes = ?, Blocks = ? "
                                      "WHERE StoredName = ?");
        q.bind(1, f.user).bind(2, f.doc).bind(3, recordPath).bind(4, appendixPath);
        q.bind(5, bytes).bind(6, blocks).bind(7, name);
        ok = q.run();
    }
    if (ok && (kind == JobKind::Print || kind == JobKind::Mobile)) {
        DevStatement q(m_db.handle(),
                       "INSERT INTO PrintProcTask (SPLFileName, UserName, UserID, DocName, "
                       "PrinterName, SecretLevel, Purpose, AuditorCount, AuditorIDs, PageCount, "
                       "Copies, ColorMode, DuplexMode, PaperSize, JobState, Bytes) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        q.bind(1, name).bind(2, f.user).bind(3, f.userId).bind(4, f.doc).bind(5, f.printer);
        q.bind(6, f.secret).bind(7, f.purpose).bind(8, f.auditorCount).bind(9, f.auditors);
        q.bind(10, f.pages).bind(11, f.copies).bind(12, f.color).bind(13, f.duplex);
        q.bind(14, f.paper).bind(15, f.jobState).bind(16, bytes);
        ok = q.run();
    }
    if (ok && !f.user.empty()) {
        const std::string where = f.printer.empty() ? std::string(k.noticeLabel) : f.printer;
        const std::string doc = f.doc.empty() ? name : f.doc;
        ok = addNotice(m_db, f.user, k.noticeType, doc + "|" + where + "|0|0") > 0;
    }
    if (!ok) {
        *error = std::string("database: ") + sqlite3_errmsg(m_db.handle());
        m_db.exec("ROLLBACK");
        return false;
    }
    if (!m_db.exec("COMMIT")) {
        *error = "database: " + m_db.error();
        m_db.exec("ROLLBACK");
        return false;
    }
    if (held != m_openJobs.end()) {
        held->second.countsSaved = true;
        closeJob(name);
    }
    fprintf(stderr, "orws-devserver: stored %s job %s for %s (%lld bytes)\n", k.name, name.c_str(),
            f.user.c_str(), bytes);
    return true;
}

int DevService::saveBlock(const char* operation, JobKind kind, arrayOfData* data, LONG64 blockType,
                          const char* nameIn, ns__structSavePrintJobByBlock& result)
{
    // Block 0 starts a job and names it; 1 appends; 2 appends and finishes.
    // Print and mobile blocks carry the record as item 0 and the data as
    // item 1 (the print job's appendix as item 2 of the last block); disc
    // blocks carry the data as item 0 and, in the last block, the record.
    if (blockType < 0 || blockType > 2)
        return fault(operation, "unknown block type " + std::to_string(blockType));
    const bool disc = kind == JobKind::Disc;
    const Bytes record = disc ? Bytes() : item(data, 0);
    const Bytes block = item(data, disc ? 0 : 1);
    const KindInfo& k = info(kind);
    std::string error;
    std::string name;
    // The user named by a print or mobile block's record; the first block's
    // owns the job, and later blocks must come from the same user.
    const std::string user =
        !disc && record.size >= k.recordSize ? FieldText(at(record.data, 0), 50) : std::string();
    OpenJob* job = nullptr;
    if (blockType == 0) {
        if (!disc && record.size < k.recordSize)
            return fault(operation, "the first block carries no request record");
        job = beginJob(kind, user, &name, &error);
        if (!job)
            return fault(operation, error);
    } else {
        name = nameIn ? nameIn : "";
        job = continueJob(kind, name, &error);
        if (!job)
            return fault(operation, error);
        if (!disc && (record.size < k.recordSize || job->user != user))
            return fault(operation, "the job " + name + " belongs to another user");
    }
    const bool last = blockType == 2;
    if (!(disc && last) && !appendDocument(*job, block, &error))
        return fault(operation, error);
    if (last) {
        const Bytes finalRecord = disc ? block : record;
        const Bytes appendix = kind == JobKind::Print ? item(data, 2) : Bytes();
        if (!finishJob(kind, name, finalRecord, appendix, &error))
            return fault(operation, error);
    }
    result.return_ = soap_new_ns__classSavePrintJobByBlock(soap);
    if (!result.return_)
        return soap->error = SOAP_EOM;
    result.return_->SplFileNameOut = soap_strdup(soap, name.c_str());
    return SOAP_OK;
}

int DevService::saveWhole(const char* operation, JobKind kind, arrayOfData* data,
                          arrayOfName& names)
{
    // Item 0 is the record, item 1 the document, item 2 the print job's
    // appendix.
    const KindInfo& k = info(kind);
    std::string error;
    const Bytes record = item(data, 0);
    if (record.size < k.recordSize)
        return fault(operation, std::string("no ") + k.recordName + " record");
    const Bytes appendix = kind == JobKind::Print ? item(data, 2) : Bytes();
    std::string name;
    OpenJob* job = beginJob(kind, std::string(), &name, &error);
    if (!job || !appendDocument(*job, item(data, 1), &error) ||
        !finishJob(kind, name, record, appendix, &error))
        return fault(operation, error);
    names.resize(1);
    if (names.size() != 1)
        return soap->error = SOAP_EOM;
    names[0] = soap_strdup(soap, name.c_str());
    return SOAP_OK;
}

int DevService::SavePrintJobEx(arrayOfData* data, ns__SavePrintJobExResponse& result)
{
    return saveWhole("SavePrintJobEx", JobKind::Print, data, result.names);
}

int DevService::SaveMobilePrintJob(arrayOfData* data, char*, ns__SaveMobilePrintJobResponse& result)
{
    // The document name is taken from the record (PrintFileName repeats it).
    return saveWhole("SaveMobilePrintJob", JobKind::Mobile, data, result.names);
}

int DevService::SavePrintJobByBlockForLinuxClient(arrayOfData* data, LONG64 BlockType,
                                                  char* SplFileNameIn,
                                                  ns__structSavePrintJobByBlock& result)
{
    return saveBlock("SavePrintJobByBlockForLinuxClient", JobKind::Print, data, BlockType,
                     SplFileNameIn, result);
}

int DevService::SaveMobilePrintJobByBlock(char*, arrayOfData* data, LONG64 BlockType,
                                          char* SplFileNameIn,
                                          ns__structSavePrintJobByBlock& result)
{
    return saveBlock("SaveMobilePrintJobByBlock", JobKind::Mobile, data, BlockType, SplFileNameIn,
                     result);
}

int DevService::SaveCDRecordJobByBlock(char*, arrayOfData* data, LONG64 BlockType,
                                       char* SplFileNameIn, ns__structSavePrintJobByBlock& result)
{
    return saveBlock("SaveCDRecordJobByBlock", JobKind::Disc, data, BlockType, SplFileNameIn,
                     result);
}

int DevService::SaveCopyJobSQL(arrayOfData* CopyInfo, arrayOfName*, char** TaskIds)
{
    std::string error;
    const Bytes record = item(CopyInfo, 0);
    if (record.size < kCopy.recordSize)
        return fault("SaveCopyJobSQL", std::string("no ") + kCopy.recordName + " record");
    std::string name;
    if (!beginJob(JobKind::Copy, std::string(), &name, &error) ||
        !finishJob(JobKind::Copy, name, record, Bytes(), &error))
        return fault("SaveCopyJobSQL", error);
    DevStatement q(m_db.handle(), "SELECT UploadID FROM Uploads WHERE StoredName = ?");
    q.bind(1, name);
    *TaskIds = soap_strdup(soap, q.next() ? std::to_string(q.integer(0)).c_str() : "");
    return SOAP_OK;
}
