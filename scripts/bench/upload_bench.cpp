// orix-upload-bench: the client's side of scripts/bench/upload.sh.
//
//   orix-upload-bench PORT DOCUMENT [USER PASSWORD-DIGEST]
//       One upload of DOCUMENT through the mobile print path
//       (SaveMobilePrintJob) to the server on 127.0.0.1:PORT. Prints
//           bytes=N seconds=S peak_rss_kb=K stored=NAME
//
//   orix-upload-bench --requests DIR PORT DOCUMENT NAME
//       The same upload (logged on at PORT as zhangsan) with the connection
//       replaced by a recorder: nothing is sent, the requests the client
//       would send are written to DIR, and the first block is answered with
//       the stored name NAME. DIR/head gets the HTTP head of the requests
//       (request line and header lines, the same for every block) and
//       DIR/NNNNNN.body the body of block NNNNNN, de-chunked: exactly the
//       bytes the client streams. Prints blocks=N.
//
//   orix-upload-bench --rename DIR FROM TO
//       Puts the stored name TO in place of FROM (same length) in the bodies
//       of the blocks after the first, which repeat the name in their
//       envelope. Prints renamed=N.

#include "DComLayerWS.h"
#include "KeptConnections.h"
#include "SoapCall.h"
#include "TaskRecords.h"
#include "TavUserRecord.h"
#include "TextUtil.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

// --- the recorder: a transport that keeps the requests and answers itself ------

struct Recorder {
    std::string dir;
    std::string name;
    std::string request; // the bytes of the current connection
    std::string reply;
    size_t replied = 0;
    int blocks = 0;
    bool failed = false;
    std::string head;
};
Recorder g_recorder;
int g_connection = -1;

bool writeAll(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    const bool ok = f && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return f && fclose(f) == 0 && ok;
}

// The body of a chunked request: the chunks' data one after another.
bool dechunk(const std::string& chunked, std::string* body)
{
    size_t at = 0;
    for (;;) {
        const size_t eol = chunked.find("\r\n", at);
        if (eol == std::string::npos)
            return false;
        const unsigned long size = strtoul(chunked.c_str() + at, nullptr, 16);
        at = eol + 2;
        if (size == 0)
            return true;
        if (size > chunked.size() - at)
            return false;
        body->append(chunked, at, size);
        at += size + 2;
    }
}

// The request is complete when the client starts to read the answer.
void finishRequest()
{
    Recorder& r = g_recorder;
    const size_t end = r.request.find("\r\n\r\n");
    std::string body;
    if (end == std::string::npos || !dechunk(r.request.substr(end + 4), &body)) {
        r.failed = true;
        return;
    }
    const std::string head = r.request.substr(0, end + 2);
    if (r.blocks == 0)
        r.head = head;
    else if (head != r.head)
        r.failed = true;
    char file[32];
    snprintf(file, sizeof file, "/%06d.body", r.blocks);
    if (!writeAll(r.dir + file, body) || (r.blocks == 0 && !writeAll(r.dir + "/head", head)))
        r.failed = true;
    ++r.blocks;
    const std::string envelope =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SOAP-ENV:Envelope"
        " xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" xmlns:ns=\"urn:OrWS\">"
        "<SOAP-ENV:Body><ns:SaveMobilePrintJobByBlockResponse><return><SplFileNameOut>" +
        r.name +
        "</SplFileNameOut></return></ns:SaveMobilePrintJobByBlockResponse></SOAP-ENV:Body>"
        "</SOAP-ENV:Envelope>";
    r.reply = "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
              std::to_string(envelope.size()) + "\r\nConnection: close\r\n\r\n" + envelope;
    r.replied = 0;
}

SOAP_SOCKET recorderOpen(struct soap*, const char*, const char*, int)
{
    g_recorder.request.clear();
    g_recorder.reply.clear();
    return g_connection;
}
int recorderSend(struct soap*, const char* data, size_t length)
{
    g_recorder.request.append(data, length);
    return SOAP_OK;
}
size_t recorderReceive(struct soap*, char* buffer, size_t length)
{
    Recorder& r = g_recorder;
    if (r.reply.empty())
        finishRequest();
    const size_t n = std::min(length, r.reply.size() - r.replied);
    memcpy(buffer, r.reply.data() + r.replied, n);
    r.replied += n;
    return n;
}
int recorderClose(struct soap*)
{
    return SOAP_OK;
}
int recorderCloseSocket(struct soap*, SOAP_SOCKET)
{
    return SOAP_OK;
}
int recorderShutdown(struct soap*, SOAP_SOCKET, int)
{
    return SOAP_OK;
}
void installRecorder(struct soap* soap)
{
    soap->fopen = recorderOpen;
    soap->fsend = recorderSend;
    soap->frecv = recorderReceive;
    soap->fclose = recorderClose;
    soap->fclosesocket = recorderCloseSocket;
    soap->fshutdownsocket = recorderShutdown;
}

// --- renaming the stored name in recorded bodies ----------------------------------

int rename(const char* dir, const std::string& from, const std::string& to)
{
    if (from.size() != to.size() || from.empty()) {
        fprintf(stderr, "orix-upload-bench: the names differ in length\n");
        return 1;
    }
    const std::string tag = "<SplFileNameIn>" + from + "</SplFileNameIn>";
    int renamed = 0;
    for (int block = 1;; ++block) {
        char path[4096];
        snprintf(path, sizeof path, "%s/%06d.body", dir, block);
        const int fd = open(path, O_RDWR | O_CLOEXEC);
        if (fd < 0)
            break;
        // The name is in the envelope, the first record of the message.
        char start[8192];
        const ssize_t n = pread(fd, start, sizeof start, 0);
        const void* found =
            n > 0 ? memmem(start, static_cast<size_t>(n), tag.data(), tag.size()) : nullptr;
        const off_t at = found ? static_cast<const char*>(found) - start + 15 : -1;
        const bool ok =
            at >= 0 && pwrite(fd, to.data(), to.size(), at) == static_cast<ssize_t>(to.size());
        close(fd);
        if (!ok) {
            fprintf(stderr, "orix-upload-bench: no stored name %s in %s\n", from.c_str(), path);
            return 1;
        }
        ++renamed;
    }
    printf("renamed=%d\n", renamed);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && strcmp(argv[1], "--rename") == 0)
        return rename(argv[2], argv[3], argv[4]);
    const bool record = argc == 6 && strcmp(argv[1], "--requests") == 0;
    if (!record && argc != 3 && argc != 5) {
        fprintf(stderr, "usage: orix-upload-bench PORT DOCUMENT [USER PASSWORD-DIGEST]\n"
                        "       orix-upload-bench --requests DIR PORT DOCUMENT NAME\n"
                        "       orix-upload-bench --rename DIR FROM TO\n");
        return 2;
    }
    const char* port = record ? argv[3] : argv[1];
    const char* document = record ? argv[4] : argv[2];
    const char* user = argc == 5 ? argv[3] : "zhangsan";
    const char* digest = argc == 5 ? argv[4] : "E10ADC3949BA59ABBE56E057F20F883E";

    // ORIX_BENCH_KEEP_ALIVE=off: a new connection for every call, as before
    // connections were kept (the reference of scripts/bench/wan.sh).
    if (const char* keep = getenv("ORIX_BENCH_KEEP_ALIVE"))
        KeptConnections::SetEnabled(strcmp(keep, "off") != 0);
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(port);
    TavUserRecord logon{};
    CopyText(logon.UserName, sizeof logon.UserName, user);
    CopyText(logon.Password, sizeof logon.Password, digest);
    CopyText(logon.ServerAddress, sizeof logon.ServerAddress, "127.0.0.1");
    const int logonResult = client.LogOn(&logon);
    if (logonResult != 0) {
        fprintf(stderr, "orix-upload-bench: logon result %d\n", logonResult);
        return 1;
    }
    if (record) {
        g_recorder.dir = argv[2];
        g_recorder.name = argv[5];
        g_connection = open("/dev/null", O_RDWR | O_CLOEXEC);
        SoapCall::SetContextHook(installRecorder);
    }

    MobilePrintTaskInfo job;
    memset(&job, 0, sizeof job);
    CopyText(job.UserName, sizeof job.UserName, user);
    CopyText(job.DocName, sizeof job.DocName, "bench.pdf");
    CopyText(job.PaperSize, sizeof job.PaperSize, "A4");
    CopyText(job.DocType, sizeof job.DocType, "pdf");
    CopyText(job.PageRange, sizeof job.PageRange, "-1");
    job.Orientation = 'P';
    job.ColorMode = 'M';
    job.DuplexMode = 'S';
    job.PageCount = 1;
    job.Copies = 1;
    job.JobState = 20;

    char reserved[] = "";
    char stored[1024] = {};
    unsigned long long sent = 0;
    client.SetUploadProgress([&](unsigned long long done, unsigned long long) { sent = done; });
    const auto start = std::chrono::steady_clock::now();
    try {
        client.SaveMobilePrintJob(&job, reserved, const_cast<char*>(document), stored);
    } catch (const RpcFailure& e) {
        fprintf(stderr, "orix-upload-bench: upload failed (code %#lx)\n", e.code());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (record) {
        // A document of one block goes in a call of another kind, which the
        // recorder does not answer.
        if (g_recorder.failed || g_recorder.blocks < 2) {
            fprintf(stderr, "orix-upload-bench: the requests could not be recorded\n");
            return 1;
        }
        printf("blocks=%d\n", g_recorder.blocks);
        return 0;
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("bytes=%llu seconds=%.3f peak_rss_kb=%ld stored=%s\n", sent, seconds, usage.ru_maxrss,
           stored);
    return 0;
}
