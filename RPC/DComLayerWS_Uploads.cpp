#include "DComLayerWS.h"

#include "KeptConnections.h"
#include "SoapCall.h"
#include "SystemPaths.h"
#include "TavCommon.h"
#include "TextUtil.h"
#include "UploadFile.h"

#include <QtEndian>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <unistd.h>

// The uploads: print jobs, mobile print jobs (every job the session submits),
// copy requests and disc request blocks.
//
// The request record, the document (or one block of it) and the print
// job's appendix travel as DIME attachments whose __ptr names a local file
// that the runtime streams. Each such file is an UploadFile: a unique,
// owner-only file that is gone again when the upload returns or throws (the
// block files of an upload serve all its blocks). Two desktop users (or two
// uploads of one user) never share one.

namespace
{

constexpr size_t kPrintTaskSize = 664;
constexpr size_t kMobileTaskSize = 1112;
constexpr size_t kCopyRecordSize = 932;
// The mobile task record's DocName (GBK), sent again as PrintFileName.
constexpr size_t kDocNameOffset = 714;
constexpr size_t kDocNameSize = 50;
// The caller's stored-name buffer.
constexpr size_t kStoredNameSize = 1024;
constexpr size_t kReadSize = 1024;

using RpcResult::kBlockDataFileError;
using RpcResult::kBlockRecordFileError;
using RpcResult::kExchangeFailed;
using RpcResult::kFileError;
using RpcResult::kNoContext;
using RpcResult::kOk;

// The print job's files live in the working folder, the others in /var/tmp.
const QByteArray kWorkingFolder;

void attach(ns__Data& item, char* path, size_t size)
{
    item.__ptr = reinterpret_cast<unsigned char*>(path);
    item.__size = static_cast<int>(size);
    item.type = const_cast<char*>("");
}

// The mobile record's DocName with a terminator, whatever the record holds.
QByteArray docNameOf(const void* mobileRecord)
{
    return BoundedText(static_cast<const char*>(mobileRecord) + kDocNameOffset, kDocNameSize);
}

// The first name of a whole-job answer, when it has one.
void copyFirstName(const arrayOfName& names, char* storedName)
{
    if (names.__ptr && names.__size > 0 && names.__ptr[0])
        CopyText(storedName, kStoredNameSize, names.__ptr[0]);
}

// The appendix record: five fields, each a 32-bit little-endian count and a
// slot of twice that many bytes holding its text (zero-terminated, the rest
// zero): the text (L + 1), the MAC address (M + 1), the IP address (I + 1),
// an empty field (1) and an empty field (2) whose slot ends the record,
// 2 * (L + M + I + 16) bytes in all.
QByteArray appendixRecord(const QByteArray& text, const QByteArray& mac, const QByteArray& ip)
{
    QByteArray record(2 * (text.size() + mac.size() + ip.size() + 16), '\0');
    int pos = 0;
    for (const QByteArray& field : {text, mac, ip, QByteArray(), QByteArray(1, '\0')}) {
        const int count = field.size() + 1;
        qToLittleEndian<qint32>(count, record.data() + pos);
        memcpy(record.data() + pos + 4, field.constData(), static_cast<size_t>(field.size()));
        pos += 4 + 2 * count;
    }
    return record;
}

// Reads exactly size bytes of document into buffer, at most kReadSize at a
// time, adding each read to *bytesSent. False when the document ends (it
// shrank since it was sized) or cannot be read.
bool readBlock(FILE* document, char* buffer, size_t size, unsigned long* bytesSent)
{
    size_t got = 0;
    while (got < size) {
        const size_t want = size - got < kReadSize ? size - got : kReadSize;
        const size_t n = fread(buffer + got, 1, want, document);
        if (n == 0)
            return false;
        got += n;
        if (bytesSent)
            *bytesSent += n;
    }
    return true;
}

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using FileHandle = std::unique_ptr<FILE, FileCloser>;

// The document of a block upload, read through a stream buffer of one
// block: the 1024-byte reads of a block then cost one read of the file
// instead of one per 4 KiB (a null buffer given to setvbuf keeps the
// default size). The buffer outlives the stream.
struct BlockDocument {
    std::unique_ptr<char[]> buffer{new (std::nothrow) char[CDComLayerWS::kUploadBlockSize]};
    FileHandle file;

    explicit BlockDocument(FILE* f) : file(f)
    {
        if (file && buffer)
            setvbuf(file.get(), buffer.get(), _IOFBF, CDComLayerWS::kUploadBlockSize);
    }
};

// The record and data files of the blocks of one upload: made once when the
// upload starts and rewritten for every block, since making and removing a
// file per block costs more than writing the block. The block functions
// take them from the upload that runs on their thread; called on their own
// they make files of their own.
struct BlockFiles {
    const CDComLayerWS* client;
    bool mobile;
    UploadFile record;
    UploadFile data;

    BlockFiles(const CDComLayerWS* c, bool m, const QByteArray& folder)
        : client(c), mobile(m), record(folder, "SendOneBlockToServerInfo-", ".bin"),
          data(folder, "SendOneBlockToServerData-", ".bin")
    {
    }
};
thread_local BlockFiles* t_blockFiles = nullptr;

// Offers files to the block functions of this thread while it lives.
class BlockFilesInUse
{
public:
    explicit BlockFilesInUse(BlockFiles* files) : m_previous(t_blockFiles) { t_blockFiles = files; }
    ~BlockFilesInUse() { t_blockFiles = m_previous; }
    BlockFilesInUse(const BlockFilesInUse&) = delete;
    BlockFilesInUse& operator=(const BlockFilesInUse&) = delete;

private:
    BlockFiles* m_previous;
};

// The files a block is written to: the upload's, else a pair of its own.
class BlockFileChoice
{
public:
    BlockFileChoice(const CDComLayerWS* client, bool mobile, const QByteArray& folder)
    {
        if (t_blockFiles && t_blockFiles->client == client && t_blockFiles->mobile == mobile)
            m_files = t_blockFiles;
        else
            m_files = (m_own = std::make_unique<BlockFiles>(client, mobile, folder)).get();
    }
    UploadFile& record() { return m_files->record; }
    UploadFile& data() { return m_files->data; }

private:
    std::unique_ptr<BlockFiles> m_own;
    BlockFiles* m_files;
};

// Sends a document of more than one block: the first block, the full blocks
// between, then the rest as the last block, each through send(type, size,
// &sent), with the progress after each.
template <typename Send, typename Report>
void sendInBlocks(unsigned long long total, Send send, Report report)
{
    constexpr unsigned long block = CDComLayerWS::kUploadBlockSize;
    unsigned long sent = 0;
    const unsigned long long blocks = (total + block - 1) / block;
    send(kFirstBlock, block, &sent);
    report(sent);
    for (unsigned long long i = 0; i + 2 < blocks; ++i) {
        send(kMiddleBlock, block, &sent);
        report(sent);
    }
    send(kLastBlock, static_cast<unsigned long>(total - sent), &sent);
    report(sent);
}

} // namespace

void CDComLayerWS::FailUpload(long code)
{
    ErrorDescription(code);
    throw RpcFailure(code);
}

void CDComLayerWS::ReportProgress(unsigned long long sent, unsigned long long total) const
{
    if (m_UploadProgress)
        m_UploadProgress(sent, total);
}

void CDComLayerWS::SavePrintJobAppendixInfo(char* appendixText, char* path, int& size)
{
    QString ip, mac;
    GetClientIpMac(ip, mac);
    const QByteArray record =
        appendixRecord(QByteArray(appendixText ? appendixText : ""), mac.toLatin1(), ip.toLatin1());
    size = 0;
    // Never through a link; a file made by UploadFile is rewritten in place.
    FILE* f = nullptr;
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && !(f = fdopen(fd, "wb")))
        close(fd);
    const bool written = f && fwrite(record.constData(), 1, static_cast<size_t>(record.size()),
                                     f) == static_cast<size_t>(record.size());
    if (!f || fclose(f) != 0 || !written)
        FailUpload(kFileError);
    size = record.size();
}

// --- print job (664-byte record, appendix, working folder) ----------------------------

int CDComLayerWS::SavePrintJob(void* taskRecord, char* appendixText, char* documentPath,
                               char* storedName)
{
    UploadFile task(kWorkingFolder, "taskinfo-", ".bin");
    if (!task.write(taskRecord, kPrintTaskSize))
        FailUpload(kFileError);

    long long size = -1;
    const int sized = GetBigFileSize(documentPath, &size);
    if (sized < 0)
        FailUpload(sized);
    const unsigned long long total = static_cast<unsigned long long>(size);

    if (total > kUploadBlockSize) {
        BlockDocument document(TavFopenEx(documentPath, const_cast<char*>("rb")));
        if (!document.file)
            FailUpload(kFileError);
        BlockFiles files(this, false, kWorkingFolder);
        BlockFilesInUse offered(&files);
        sendInBlocks(
            total,
            [&](long type, unsigned long size, unsigned long* sent) {
                SendOneBlockToServer(document.file.get(), type, size, taskRecord, appendixText,
                                     sent, storedName);
            },
            [&](unsigned long sent) { ReportProgress(sent, total); });
        return kOk;
    }

    UploadFile appendix(kWorkingFolder, "appendix-", ".bin");
    if (!appendix.ok())
        FailUpload(kFileError);
    int appendixSize = 0;
    SavePrintJobAppendixInfo(appendixText, appendix.path(), appendixSize);

    SoapCall call(NewCallContext(), /*upload=*/true);
    if (!call.ok())
        throw RpcFailure(kExchangeFailed);
    arrayOfData data(call.soap(), 3);
    if (data.size() != 3)
        throw RpcFailure(kExchangeFailed);
    attach(data[0], task.path(), kPrintTaskSize);
    attach(data[1], documentPath, total);
    attach(data[2], appendix.path(), static_cast<size_t>(appendixSize));
    ns__SavePrintJobExResponse answer{};
    if (call.proxy().SavePrintJobEx(call.endpoint(), nullptr, &data, answer) != SOAP_OK)
        throw RpcFailure(kExchangeFailed);
    copyFirstName(answer.names, storedName);
    ReportProgress(total, total);
    return kOk;
}

int CDComLayerWS::SendOneBlockToServer(FILE* document, long blockType, unsigned long blockSize,
                                       void* taskRecord, char* appendixText,
                                       unsigned long* bytesSent, char* storedName)
{
    SoapCall call(NewCallContext(), /*upload=*/true);
    if (!call.ok())
        throw RpcFailure(kExchangeFailed);
    std::unique_ptr<char[]> block(new (std::nothrow) char[blockSize ? blockSize : 1]);
    if (!block)
        throw RpcFailure(kExchangeFailed);
    if (!readBlock(document, block.get(), blockSize, bytesSent))
        FailUpload(kFileError);

    BlockFileChoice files(this, false, kWorkingFolder);
    UploadFile& task = files.record();
    UploadFile& blockFile = files.data();
    if (!task.rewrite(taskRecord, kPrintTaskSize) || !blockFile.rewrite(block.get(), blockSize))
        FailUpload(kFileError);
    block.reset(); // the block's bytes are in their file now

    // The appendix goes with the last block only; earlier blocks send the
    // third item empty.
    std::unique_ptr<UploadFile> appendix;
    int appendixSize = 0;
    if (blockType == kLastBlock) {
        appendix.reset(new UploadFile(kWorkingFolder, "appendix-", ".bin"));
        if (!appendix->ok())
            FailUpload(kFileError);
        SavePrintJobAppendixInfo(appendixText, appendix->path(), appendixSize);
    }

    arrayOfData data(call.soap(), 3);
    if (data.size() != 3)
        throw RpcFailure(kExchangeFailed);
    attach(data[0], task.path(), kPrintTaskSize);
    attach(data[1], blockFile.path(), blockSize);
    if (appendix)
        attach(data[2], appendix->path(), static_cast<size_t>(appendixSize));
    ns__structSavePrintJobByBlock answer{};
    if (call.proxy().SavePrintJobByBlockForLinuxClient(call.endpoint(), nullptr, &data, blockType,
                                                       storedName, answer) != SOAP_OK)
        throw RpcFailure(kExchangeFailed);
    if (blockType == kFirstBlock) {
        if (!answer.return_ || !answer.return_->SplFileNameOut)
            throw RpcFailure(kExchangeFailed);
        CopyText(storedName, kStoredNameSize, answer.return_->SplFileNameOut);
    }
    return kOk;
}

// --- mobile print job (1112-byte record, /var/tmp) --------------------------------------

int CDComLayerWS::SaveMobilePrintJob(void* taskRecord, char* reserved, char* documentPath,
                                     char* storedName)
{
    UploadFile task(SystemPaths::varTmp(), "taskinfo-", ".bin");
    if (!task.write(taskRecord, kMobileTaskSize))
        FailUpload(kFileError);

    long long size = -1;
    const int sized = GetBigFileSize(documentPath, &size);
    if (sized < 0)
        FailUpload(sized);
    const unsigned long long total = static_cast<unsigned long long>(size);

    if (total > kUploadBlockSize) {
        BlockDocument document(fopen(documentPath, "rb"));
        if (!document.file)
            FailUpload(kFileError);
        BlockFiles files(this, true, SystemPaths::varTmp());
        BlockFilesInUse offered(&files);
        sendInBlocks(
            total,
            [&](long type, unsigned long size, unsigned long* sent) {
                SendMobilePrintJobOneBlockToServer(document.file.get(), type, size, taskRecord,
                                                   reserved, sent, storedName);
            },
            [&](unsigned long sent) { ReportProgress(sent, total); });
        return kOk;
    }

    SoapCall call(NewCallContext(), /*upload=*/true);
    if (!call.ok())
        throw RpcFailure(kExchangeFailed);
    arrayOfData data(call.soap(), 2);
    if (data.size() != 2)
        throw RpcFailure(kExchangeFailed);
    attach(data[0], task.path(), kMobileTaskSize);
    attach(data[1], documentPath, total);
    QByteArray docName = docNameOf(taskRecord);
    ns__SaveMobilePrintJobResponse answer{};
    if (call.proxy().SaveMobilePrintJob(call.endpoint(), nullptr, &data, docName.data(), answer) !=
        SOAP_OK)
        throw RpcFailure(kExchangeFailed);
    copyFirstName(answer.names, storedName);
    ReportProgress(total, total);
    return kOk;
}

int CDComLayerWS::SendMobilePrintJobOneBlockToServer(FILE* document, long blockType,
                                                     unsigned long blockSize, void* taskRecord,
                                                     char*, unsigned long* bytesSent,
                                                     char* storedName)
{
    SoapCall call(NewCallContext(), /*upload=*/true);
    if (!call.ok())
        throw RpcFailure(kExchangeFailed);
    std::unique_ptr<char[]> block(new (std::nothrow) char[blockSize ? blockSize : 1]);
    if (!block)
        throw RpcFailure(kExchangeFailed);
    if (!readBlock(document, block.get(), blockSize, bytesSent))
        FailUpload(kFileError);

    BlockFileChoice files(this, true, SystemPaths::varTmp());
    UploadFile& task = files.record();
    UploadFile& blockFile = files.data();
    if (!task.rewrite(taskRecord, kMobileTaskSize))
        throw RpcFailure(kBlockRecordFileError);
    if (!blockFile.rewrite(block.get(), blockSize))
        throw RpcFailure(kBlockDataFileError);
    block.reset();

    arrayOfData data(call.soap(), 2);
    if (data.size() != 2)
        throw RpcFailure(kExchangeFailed);
    attach(data[0], task.path(), kMobileTaskSize);
    attach(data[1], blockFile.path(), blockSize);
    QByteArray docName = docNameOf(taskRecord);
    ns__structSavePrintJobByBlock answer{};
    if (call.proxy().SaveMobilePrintJobByBlock(call.endpoint(), nullptr, docName.data(), &data,
                                               blockType, storedName, answer) != SOAP_OK)
        throw RpcFailure(kExchangeFailed);
    if (blockType == kFirstBlock) {
        if (!answer.return_ || !answer.return_->SplFileNameOut)
            throw RpcFailure(kExchangeFailed);
        CopyText(storedName, kStoredNameSize, answer.return_->SplFileNameOut);
    }
    return kOk;
}

// --- copy request and disc request blocks ------------------------------------------------

int CDComLayerWS::SaveCopyJob(void* copyRecord, void*)
{
    UploadFile record(SystemPaths::varTmp(), "orixjob", "");
    if (!record.write(copyRecord, kCopyRecordSize))
        return kFileError;
    SoapCall call(NewCallContext());
    if (!call.ok())
        return kNoContext;
    arrayOfData data(call.soap(), 1);
    if (data.size() != 1)
        return SOAP_EOM;
    attach(data[0], record.path(), kCopyRecordSize);
    arrayOfName names(call.soap(), 0);
    KeptConnections::MarkChangesServer(call.soap());
    // No result wanted: the request is sent and the connection closed.
    return call.proxy().SaveCopyJobSQL(call.endpoint(), nullptr, &data, &names, nullptr);
}

int CDComLayerWS::SaveCDJobByBlock(int blockType, int size, void* data, char* storedName)
{
    SoapCall call(NewCallContext(), /*upload=*/true);
    if (!call.ok())
        return kNoContext;
    UploadFile block(SystemPaths::varTmp(), "orixcd-", ".bin");
    if (size < 0 || (size > 0 && !data) || !block.write(data, static_cast<size_t>(size)))
        return kFileError;
    arrayOfData items(call.soap(), 1);
    if (items.size() != 1)
        return SOAP_EOM;
    attach(items[0], block.path(), static_cast<size_t>(size));
    char printFileName[] = "cd.dat";
    ns__structSavePrintJobByBlock answer{};
    const int status = call.proxy().SaveCDRecordJobByBlock(call.endpoint(), nullptr, printFileName,
                                                           &items, blockType, storedName, answer);
    if (status != SOAP_OK)
        return status;
    if (blockType == kFirstBlock) {
        // Without the name no later block could be added to the job.
        if (!answer.return_ || !answer.return_->SplFileNameOut)
            return SOAP_NO_TAG;
        CopyText(storedName, kStoredNameSize, answer.return_->SplFileNameOut);
    }
    return kOk;
}
