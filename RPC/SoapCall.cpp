#include "SoapCall.h"

#include "DComLayerWS.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <pthread.h>
#include <sys/socket.h>

extern SOAP_NMAC struct Namespace namespaces[];

namespace
{

// Longest attachment file name the write callback accepts.
constexpr size_t kMaxAttachmentName = 255;

constexpr int kUploadTransferTimeoutSeconds = 3600;

} // namespace

SoapCall::SoapCall(CDComLayerWS& client, bool upload) : m_client(client)
{
    // (The TLS library is set up by the first HTTPS call, SoapTransport.)
    m_soap = soap_new();
    if (!m_soap)
        return;
    m_proxy = new (std::nothrow) OrWSProxy(m_soap);
    if (!m_proxy) {
        soap_free(m_soap);
        m_soap = nullptr;
        return;
    }
    if (!m_soap->namespaces)
        soap_set_namespaces(m_soap, namespaces);
    m_proxy->soap_endpoint = "http://localhost";

    m_client.InitSoap(*m_proxy);

    if (upload) {
        m_soap->connect_timeout = 10;
        // A whole document may go in one call: its limit allows a large file
        // over a slow line, and still ends a server that never finishes.
        m_soap->transfer_timeout = kUploadTransferTimeoutSeconds;
        m_soap->fdimewriteopen = SoapDime::WriteOpen;
        m_soap->fdimewrite = SoapDime::Write;
        m_soap->fdimewriteclose = SoapDime::WriteClose;
    }

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
    if (m_soap) {
        soap_destroy(m_soap); // class instances made by the runtime
        soap_end(m_soap);     // every block the runtime allocated
        delete m_proxy;       // does not own the context
        soap_free(m_soap);    // ends and frees the context
    }
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

OrWSProxy& SoapCall::proxy()
{
    if (!m_proxy) {
        fprintf(stderr, "SoapCall::proxy() called without a runtime context\n");
        abort();
    }
    return *m_proxy;
}

const char* SoapCall::endpoint() const
{
    return m_proxy ? m_proxy->soap_endpoint : m_client.Endpoint();
}

// --- DIME attachment callbacks ----------------------------------------------

void* SoapDime::ReadOpen(struct soap* soap, void* handle, const char*, const char*, const char*)
{
    FILE* f = handle ? fopen(static_cast<const char*>(handle), "rb") : nullptr;
    if (!f) {
        // Without an error the runtime would send the bytes at __ptr (the
        // path text and whatever follows it) as the attachment.
        soap->errnum = handle ? errno : EINVAL;
        soap->error = SOAP_EOF;
    }
    return f;
}

size_t SoapDime::Read(struct soap* soap, void* handle, char* buf, size_t len)
{
    const size_t n = fread(buf, 1, len, static_cast<FILE*>(handle));
    if (n == 0 && len > 0 && soap->dime.size > 0) {
        // With a size set (__size), the runtime asks only for the bytes it
        // announced in the record header: a file that ends early (it shrank,
        // or __size was too large) must fail the call rather than send a
        // message shorter than it claims. The runtime does not stop on a
        // short read by itself, so the connection is shut down: everything
        // written after this fails. (Without a size the file is streamed to
        // its end and the final empty read is normal.)
        soap->errnum = ferror(static_cast<FILE*>(handle)) ? errno : 0;
        soap->error = SOAP_EOF;
        if (soap_valid_socket(soap->socket))
            ::shutdown(soap->socket, SHUT_RDWR);
    }
    return n;
}

void SoapDime::ReadClose(struct soap*, void* handle)
{
    fclose(static_cast<FILE*>(handle));
}

void* SoapDime::WriteOpen(struct soap* soap, const char*, const char*, const char* options)
{
    // DIME options: 2 bytes option type, 2 bytes big-endian length, then the
    // file name. The runtime terminates the options block, so the name is
    // also bounded by its terminator.
    if (!options) {
        soap->error = soap_sender_fault(
            soap, "Cannot save to file, because no file name was present in attachment", nullptr);
        return nullptr;
    }
    const size_t declared =
        (static_cast<unsigned char>(options[2]) << 8) | static_cast<unsigned char>(options[3]);
    const size_t len =
        strnlen(options + 4, declared < kMaxAttachmentName ? declared : kMaxAttachmentName);
    char name[kMaxAttachmentName + 1];
    memcpy(name, options + 4, len);
    name[len] = '\0';
    // The name comes from the server: only a plain file name in the working
    // folder is accepted, never a path.
    if (len == 0 || strchr(name, '/') || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) {
        soap->error = soap_sender_fault(
            soap, "Cannot save to file, because no file name was present in attachment", nullptr);
        return nullptr;
    }
    FILE* f = fopen(name, "wb");
    if (!f) {
        soap->errnum = errno;
        soap->error = SOAP_EOF;
    }
    return f;
}

int SoapDime::Write(struct soap* soap, void* handle, const char* buf, size_t len)
{
    FILE* f = static_cast<FILE*>(handle);
    while (len) {
        const size_t n = fwrite(buf, 1, len, f);
        if (n == 0) {
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
    fclose(static_cast<FILE*>(handle));
}
