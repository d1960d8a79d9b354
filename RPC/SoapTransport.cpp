#include "SoapTransport.h"

#include "KeptConnections.h"

#include "stdsoap2.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <string>
#include <system_error>
#include <thread>

namespace
{

// --- name lookup with a deadline --------------------------------------------------

using OpenFn = SOAP_SOCKET (*)(struct soap*, const char*, const char*, int);

// The runtime's own connect (the same function for every context).
std::atomic<OpenFn> g_runtimeOpen{nullptr};

struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int error = 0;
};

bool isNumericAddress(const char* host)
{
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, host, address) == 1 || inet_pton(AF_INET6, host, address) == 1;
}

// Looks host up on a thread of its own and waits at most
// kResolveMilliseconds for it. A lookup that overruns finishes on its own
// later and its answer is dropped. 0 when host resolves, else the lookup's
// error (EAI_AGAIN when it ran out of time).
int resolveWithinDeadline(const char* host)
{
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, name = std::string(host)] {
            addrinfo hints{};
            hints.ai_family = AF_UNSPEC;
            hints.ai_socktype = SOCK_STREAM;
            addrinfo* found = nullptr;
            const int error = getaddrinfo(name.c_str(), nullptr, &hints, &found);
            if (found)
                freeaddrinfo(found);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->finished = true;
            lookup->error = error;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return 0; // no thread to spare: the runtime looks the name up itself
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_for(lock, std::chrono::milliseconds(SoapTransport::kResolveMilliseconds),
                               [&] { return lookup->finished; }))
        return EAI_AGAIN;
    return lookup->error;
}

SOAP_SOCKET openWithDeadline(struct soap* soap, const char* endpoint, const char* host, int port)
{
    KeptConnections::RememberOpen(soap, g_runtimeOpen.load(), endpoint, host, port);
    const SOAP_SOCKET kept = KeptConnections::TakeOver(soap);
    if (soap_valid_socket(kept))
        return kept;
    // Through a proxy the runtime looks up the proxy, not the server.
    if (host && *host && !soap->proxy_host && !isNumericAddress(host)) {
        const int error = resolveWithinDeadline(host);
        if (error != 0) {
            soap->errnum = 0;
            soap_set_receiver_error(
                soap, error == EAI_AGAIN ? "name lookup timed out" : gai_strerror(error),
                "get host by name failed in tcp_connect()", SOAP_TCP_ERROR);
            return SOAP_INVALID_SOCKET;
        }
    }
    // The answer has just come in, so the runtime's own lookup of the same
    // name (which keeps its address fallback, SNI and certificate checks on
    // the name) is answered at once.
    return g_runtimeOpen.load()(soap, endpoint, host, port);
}

// --- the shared TLS context ---------------------------------------------------------------

struct SharedTls {
    std::mutex mutex;
    bool shared = true;
    SSL_CTX* context = nullptr;
    unsigned short flags = 0;
    int (*verify)(int, X509_STORE_CTX*) = nullptr;
    std::string storeKey; // the variables that chose the trust store
};

SharedTls& sharedTls()
{
    static SharedTls tls;
    return tls;
}

std::string trustStoreKey()
{
    std::string key;
    for (const char* name : {"SSL_CERT_FILE", "SSL_CERT_DIR"}) {
        const char* value = getenv(name);
        key += value ? value : "";
        key += '\n';
    }
    return key;
}

int perCallTls(struct soap* soap)
{
    return soap_ssl_client_context(soap, SOAP_SSL_REQUIRE_SERVER_AUTHENTICATION, nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
}

} // namespace

void SoapTransport::InitRuntime()
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { soap_ssl_init(); });
}

void SoapTransport::BoundNameResolution(struct soap* soap)
{
    if (soap->fopen == openWithDeadline)
        return;
    OpenFn expected = nullptr;
    g_runtimeOpen.compare_exchange_strong(expected, soap->fopen);
    soap->fopen = openWithDeadline;
}

int SoapTransport::UseClientTls(struct soap* soap)
{
    SharedTls& tls = sharedTls();
    std::lock_guard<std::mutex> lock(tls.mutex);
    InitRuntime();
    if (!tls.shared)
        return perCallTls(soap);

    const std::string key = trustStoreKey();
    if (!tls.context || key != tls.storeKey) {
        // The runtime makes the context exactly as it would for one call;
        // it is then kept instead of being freed with that call.
        struct soap* maker = soap_new();
        if (!maker)
            return soap->error = SOAP_EOM;
        if (perCallTls(maker) != SOAP_OK || !maker->ctx) {
            soap_free(maker);
            return perCallTls(soap);
        }
        if (tls.context)
            SSL_CTX_free(tls.context); // calls still using it hold their own reference
        tls.context = maker->ctx;
        tls.flags = maker->ssl_flags;
        tls.verify = maker->fsslverify;
        tls.storeKey = key;
        maker->ctx = nullptr;
        soap_free(maker);
    }
    // The runtime frees the context it holds when the call's context ends:
    // that reference is the call's own.
    SSL_CTX_up_ref(tls.context);
    soap->ctx = tls.context;
    soap->ssl_flags = tls.flags;
    soap->fsslverify = tls.verify;
    return SOAP_OK;
}

void SoapTransport::SetTlsShared(bool shared)
{
    SharedTls& tls = sharedTls();
    std::lock_guard<std::mutex> lock(tls.mutex);
    tls.shared = shared;
}
