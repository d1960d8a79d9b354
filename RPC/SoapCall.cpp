#include "SoapCall.h"

#include "KeptConnections.h"
#include "SafeFile.h"
#include "SoapTransport.h"
#include "SystemPaths.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <new>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

extern SOAP_NMAC struct Namespace namespaces[];

namespace
{

SoapCall::ContextHook g_contextHook = nullptr;

// Longest attachment file name the write callback accepts.
constexpr size_t kMaxAttachmentName = 255;
// Version bits of a DIME record header's first byte.
constexpr unsigned char kDimeVersion = 0x08;

constexpr int kUploadTransferTimeoutSeconds = 3600;

} // namespace

void SoapContextRelease::operator()(OrWSProxy* proxy) const
{
    struct soap* soap = proxy->soap;
    KeptConnections::Release(soap); // before the runtime closes the connection
    SoapDime::RemoveSaved(soap);
    soap_destroy(soap); // class instances made by the runtime
    soap_end(soap);     // every block the runtime allocated
    delete proxy;       // does not own the context
    soap_free(soap);    // ends and frees the context
}

SoapContext NewSoapContext()
{
    // The runtime's TLS set-up, once for every thread, before the context.
    SoapTransport::InitRuntime();
    struct soap* soap = soap_new();
    if (!soap)
        return SoapContext();
    OrWSProxy* proxy = new (std::nothrow) OrWSProxy(soap);
    if (!proxy) {
        soap_free(soap);
        return SoapContext();
    }
    if (!soap->namespaces)
        soap_set_namespaces(soap, namespaces);
    proxy->soap_endpoint = "http://localhost";
    return SoapContext(proxy);
}

SoapCall::SoapCall(SoapContext prepared, bool upload) : m_context(std::move(prepared))
{
    if (!m_context)
        return;
    struct soap* soap = m_context->soap;

    if (upload) {
        KeptConnections::MarkChangesServer(soap);
        soap->connect_timeout = 10;
        // A whole document may go in one call: its limit allows a large file
        // over a slow line, and still ends a server that never finishes.
        soap->transfer_timeout = kUploadTransferTimeoutSeconds;
        soap->fdimewriteopen = SoapDime::WriteOpen;
        soap->fdimewrite = SoapDime::Write;
        soap->fdimewriteclose = SoapDime::WriteClose;
    }
    if (g_contextHook)
        g_contextHook(soap);

    // Plain sockets are written with MSG_NOSIGNAL, but the TLS layer writes
    // with write(2): a peer that hangs up during an HTTPS exchange would
    // raise SIGPIPE and end the process. Keep SIGPIPE blocked in this thread
    // while the context lives and discard one raised meanwhile.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    sigset_t old;
    if (pthread_sigmask(SIG_BLOCK, &pipe, &old) == 0) {
        m_sigpipeBlocked = !sigismember(&old, SIGPIPE);
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        m_sigpipeWasPending = sigismember(&pending, SIGPIPE);
    }
}

SoapCall::~SoapCall()
{
    // The context goes first: ending a TLS connection may still write.
    m_context.reset();
    if (m_sigpipeBlocked) {
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        if (!m_sigpipeWasPending) {
            sigset_t pending;
            sigemptyset(&pending);
            if (sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE)) {
                const timespec zero = {0, 0};
                sigtimedwait(&pipe, nullptr, &zero);
            }
        }
        pthread_sigmask(SIG_UNBLOCK, &pipe, nullptr);
    }
}

void SoapCall::SetContextHook(ContextHook hook)
{
    g_contextHook = hook;
}

OrWSProxy& SoapCall::proxy()
{
    if (!m_context) {
        fprintf(stderr, "SoapCall::proxy() called without a runtime context\n");
        abort();
    }
    return *m_context;
}

const char* SoapCall::endpoint() const
{
    return m_context && m_context->soap_endpoint ? m_context->soap_endpoint : "";
}

// --- DIME attachment callbacks ----------------------------------------------

namespace
{

// An attachment file being streamed. The runtime reads it 1024 bytes at a
// time; a stream buffer as large as the file (up to kMaxStreamBuffer) makes
// that one read of the file instead of one per 4 KiB.
struct AttachmentStream {
    FILE* file = nullptr;
    char* buffer = nullptr;
};
constexpr size_t kMaxStreamBuffer = 1u << 20;

} // namespace

void* SoapDime::ReadOpen(struct soap* soap, void* handle, const char*, const char*, const char*)
{
    FILE* f = handle ? fopen(static_cast<const char*>(handle), "rb") : nullptr;
    AttachmentStream* stream = f ? new (std::nothrow) AttachmentStream : nullptr;
    if (!stream) {
        // Without an error the runtime would send the bytes at __ptr (the
        // path text and whatever follows it) as the attachment.
        soap->errnum = f ? ENOMEM : handle ? errno : EINVAL;
        soap->error = SOAP_EOF;
        if (f)
            fclose(f);
        return nullptr;
    }
    stream->file = f;
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && st.st_size > BUFSIZ) {
        const size_t size =
            static_cast<size_t>(st.st_size) < kMaxStreamBuffer ? st.st_size : kMaxStreamBuffer;
        stream->buffer = static_cast<char*>(malloc(size));
        if (stream->buffer)
            setvbuf(f, stream->buffer, _IOFBF, size);
    }
    return stream;
}

size_t SoapDime::Read(struct soap* soap, void* handle, char* buf, size_t len)
{
    FILE* f = static_cast<AttachmentStream*>(handle)->file;
    const size_t n = fread(buf, 1, len, f);
    if (n == 0 && len > 0 && soap->dime.size > 0) {
        // With a size set (__size), the runtime asks only for the bytes it
        // announced in the record header: a file that ends early (it shrank,
        // or __size was too large) must fail the call rather than send a
        // message shorter than it claims. The runtime does not stop on a
        // short read by itself, so the connection is shut down: everything
        // written after this fails. (Without a size the file is streamed to
        // its end and the final empty read is normal.)
        soap->errnum = ferror(f) ? errno : 0;
        soap->error = SOAP_EOF;
        if (soap_valid_socket(soap->socket))
            ::shutdown(soap->socket, SHUT_RDWR);
    }
    return n;
}

void SoapDime::ReadClose(struct soap*, void* handle)
{
    AttachmentStream* stream = static_cast<AttachmentStream*>(handle);
    fclose(stream->file);
    free(stream->buffer); // after the stream that used it
    delete stream;
}

bool SoapDime::AttachmentName(const char* options, size_t length, std::string* name)
{
    // One option element: 2 bytes type, 2 bytes big-endian length, the data.
    if (!options || length < 4)
        return false;
    const auto byte = [options](size_t i) { return static_cast<unsigned char>(options[i]); };
    const size_t declared = (static_cast<size_t>(byte(2)) << 8) | byte(3);
    if (declared == 0 || declared > kMaxAttachmentName || declared > length - 4)
        return false;
    name->assign(options + 4, declared);

    // Only a plain file name of a document: letters, digits, '-', '_' and
    // '.', not beginning with a dot (no hidden files, no "." or ".."), never a
    // path. Never a name the program or its plug-ins load or write in the
    // working folder: no library (".so" anywhere among the name's parts,
    // "ifclient.so", "x.so.1"), no settings file (".ini"), not the event log.
    if ((*name)[0] == '.')
        return false;
    for (char c : *name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!plain)
            return false;
    }
    std::string lower(*name);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    size_t begin = lower.find('.');
    while (begin != std::string::npos) {
        const size_t end = lower.find('.', begin + 1);
        const std::string part =
            lower.substr(begin + 1, end == std::string::npos ? std::string::npos : end - begin - 1);
        if (part == "so" || part == "ini")
            return false;
        begin = end;
    }
    return lower != "applog.txt" && lower != "background.bmp" &&
           lower.compare(0, 13, "orixclientapp") != 0;
}

size_t SoapDime::ReceivedOptionsLength(const struct soap* soap, const char* options)
{
    // The runtime hands the options over without their length (it only adds
    // a terminator, and the option's type bytes are often zero, so the
    // terminator does not tell the length either). The record header that
    // gave the length has just been read from the receive buffer: it sits
    // right before the three padded fields (options, id, type) that end at
    // the read position. The nearest place where a header fits that
    // describes exactly what was handed over is taken: a place nearer than
    // the true header lies inside the options and so describes fewer bytes
    // than they hold, never more. When none is found (the header straddled
    // a buffer refill, say) the result is 0 and the attachment is refused.
    if (!soap || !options)
        return 0;
    const auto padded = [](size_t n) { return (n + 3) & ~size_t(3); };
    const size_t idLength = soap->dime.id ? strlen(soap->dime.id) : 0;
    const size_t typeLength = soap->dime.type ? strlen(soap->dime.type) : 0;
    const size_t end = soap->bufidx;
    if (end > sizeof soap->buf)
        return 0;
    const size_t tail = padded(idLength) + padded(typeLength) + 12;
    const auto field = [](const unsigned char* at) { return (size_t(at[0]) << 8) | at[1]; };
    for (size_t optionsPadded = 4; optionsPadded + tail <= end; optionsPadded += 4) {
        const unsigned char* header =
            reinterpret_cast<const unsigned char*>(soap->buf) + end - tail - optionsPadded;
        const size_t length = field(header + 2);
        if (padded(length) == optionsPadded && length > 0 && (header[0] & 0xF8) == kDimeVersion &&
            field(header + 4) == idLength && field(header + 6) == typeLength &&
            memcmp(header + 12, options, length) == 0)
            return length;
    }
    return 0;
}

namespace
{

// An attachment being saved: its file and what was written to it.
struct SavedAttachment {
    FILE* file = nullptr;
    std::string path;
    size_t written = 0;
    bool failed = false;
};

// What each call has saved so far.
struct SavedByCall {
    std::vector<std::string> paths;
    size_t bytes = 0;
};

struct SavedRegistry {
    std::mutex mutex;
    std::map<const struct soap*, SavedByCall> calls;
};

SavedRegistry& savedRegistry()
{
    static SavedRegistry r;
    return r;
}

} // namespace

void SoapDime::RemoveSaved(struct soap* soap)
{
    SavedByCall saved;
    {
        SavedRegistry& r = savedRegistry();
        std::lock_guard<std::mutex> lock(r.mutex);
        const auto it = r.calls.find(soap);
        if (it == r.calls.end())
            return;
        saved = std::move(it->second);
        r.calls.erase(it);
    }
    for (const std::string& path : saved.paths)
        unlink(path.c_str());
}

void SoapDime::RemoveLeftovers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const std::string folder = AttachmentFolder();
        if (folder.empty() || SafeFile::EnsurePrivateFolder(folder.c_str()) != SafeFile::Check::Ok)
            return;
        const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        DIR* listing = dir >= 0 ? fdopendir(dir) : nullptr;
        if (!listing) {
            if (dir >= 0)
                close(dir);
            return;
        }
        while (const dirent* entry = readdir(listing)) {
            struct stat st;
            if (fstatat(dir, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                (S_ISREG(st.st_mode) || S_ISLNK(st.st_mode)))
                unlinkat(dir, entry->d_name, 0);
        }
        closedir(listing);
    });
}

std::string SoapDime::AttachmentFolder()
{
    const QByteArray folder = SystemPaths::privateFolder();
    return folder.isEmpty() ? std::string() : folder.toStdString() + "/attachments";
}

void* SoapDime::WriteOpen(struct soap* soap, const char*, const char*, const char* options)
{
    {
        // A bounded number per call: each one is a file in the user's home.
        SavedRegistry& r = savedRegistry();
        std::lock_guard<std::mutex> lock(r.mutex);
        const auto it = r.calls.find(soap);
        if (it != r.calls.end() && it->second.paths.size() >= kMaxSavedPerCall) {
            soap->errnum = EMLINK;
            soap->error = SOAP_EOF;
            return nullptr;
        }
    }
    std::string name;
    if (!AttachmentName(options, ReceivedOptionsLength(soap, options), &name)) {
        soap->error = soap_sender_fault(
            soap, "Cannot save to file, because no file name was present in attachment", nullptr);
        return nullptr;
    }
    // A new owner-only file in the user's own folder: never over a file
    // that has the name already, never through a link someone put there.
    const std::string folder = AttachmentFolder();
    int fd = -1;
    std::string path;
    if (!folder.empty() && SafeFile::EnsurePrivateFolder(folder.c_str()) == SafeFile::Check::Ok) {
        for (int n = 0; n < 100 && fd < 0; ++n) {
            path = folder + '/' + (n ? std::to_string(n) + '-' : std::string()) + name;
            fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0 && errno != EEXIST)
                break;
        }
    } else {
        errno = EPERM;
    }
    FILE* f = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    SavedAttachment* saved = f ? new (std::nothrow) SavedAttachment : nullptr;
    if (!saved) {
        soap->errnum = fd >= 0 ? ENOMEM : errno;
        if (f)
            fclose(f);
        else if (fd >= 0)
            close(fd);
        if (fd >= 0)
            unlink(path.c_str());
        soap->error = SOAP_EOF;
        return nullptr;
    }
    saved->file = f;
    saved->path = path;
    SavedRegistry& r = savedRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.calls[soap].paths.push_back(path);
    return saved;
}

int SoapDime::Write(struct soap* soap, void* handle, const char* buf, size_t len)
{
    SavedAttachment* saved = static_cast<SavedAttachment*>(handle);
    bool callFull = false;
    {
        SavedRegistry& r = savedRegistry();
        std::lock_guard<std::mutex> lock(r.mutex);
        SavedByCall& call = r.calls[soap];
        callFull = len > kMaxSavedBytesPerCall - call.bytes;
        if (!callFull)
            call.bytes += len;
    }
    if (callFull) {
        saved->failed = true;
        soap->errnum = EFBIG;
        return SOAP_EOF;
    }
    if (len > kMaxSavedAttachment - saved->written) {
        // Larger than any attachment the client keeps: the call fails and
        // nothing of it stays.
        saved->failed = true;
        soap->errnum = EFBIG;
        return SOAP_EOF;
    }
    saved->written += len;
    while (len) {
        const size_t n = fwrite(buf, 1, len, saved->file);
        if (n == 0) {
            saved->failed = true;
            soap->errnum = errno;
            return SOAP_EOF;
        }
        buf += n;
        len -= n;
    }
    return SOAP_OK;
}

void SoapDime::WriteClose(struct soap*, void* handle)
{
    SavedAttachment* saved = static_cast<SavedAttachment*>(handle);
    if (fclose(saved->file) != 0 || saved->failed)
        unlink(saved->path.c_str());
    delete saved;
}
