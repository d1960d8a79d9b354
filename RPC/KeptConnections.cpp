#include "KeptConnections.h"

#include "stdsoap2.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

using SendFn = int (*)(struct soap*, const char*, size_t);
using RecvFn = size_t (*)(struct soap*, char*, size_t);

// A connection waiting between calls.
struct Idle {
    int fd = -1;
    SSL* ssl = nullptr;
    BIO* bio = nullptr;
    std::string key;
    Clock::time_point since;
};

// What one call's context knows about its connection.
struct CallState {
    SendFn send = nullptr;
    RecvFn recv = nullptr;
    KeptConnections::OpenFn open = nullptr; // how a new connection is made
    std::string endpoint, host;
    int port = 0;
    std::string key;            // what the connection leads to (keyOf at connect time)
    bool ours = false;          // connected by our transport (not a test's fake one)
    bool reused = false;        // the connection came from the idle list
    bool answered = false;      // a byte of an answer has arrived
    bool changesServer = false; // never sent twice
    bool resent = false;
    bool tooLong = false; // the request outgrew kMaxReplayBytes
    std::string sent;     // the request so far, while it may be sent again
};

struct Registry {
    std::mutex mutex;
    std::map<const struct soap*, std::shared_ptr<CallState>> calls;
    std::vector<Idle> idle; // oldest first
};

Registry& registry()
{
    static Registry r;
    return r;
}

std::atomic<bool> g_enabled{true};

std::shared_ptr<CallState> stateOf(const struct soap* soap)
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    const auto it = r.calls.find(soap);
    return it == r.calls.end() ? nullptr : it->second;
}

// The server, the scheme and the proxy a connection leads to, while the
// runtime connects (the endpoint text does not stay as it was then).
std::string keyOf(const struct soap* soap)
{
    const bool tls = soap->endpoint[0] && strncmp(soap->endpoint, "https:", 6) == 0;
    std::string key = tls ? "https://" : "http://";
    key += soap->host;
    key += ':' + std::to_string(soap->port);
    if (soap->proxy_host) {
        key += " via ";
        key += soap->proxy_host;
        key += ':' + std::to_string(soap->proxy_port);
        if (soap->proxy_userid)
            key += std::string(" as ") + soap->proxy_userid;
    }
    return key;
}

// Closes without a TLS close notice: the peer may be gone, and a write to it
// from a thread that does not block SIGPIPE would end the process.
void closeConnection(int fd, SSL* ssl)
{
    if (ssl)
        SSL_free(ssl); // with its BIO
    if (fd >= 0)
        ::close(fd);
}

// Nothing to read and not hung up: a server that closed the connection, or
// sent anything unasked, makes it unusable.
bool stillOpen(int fd)
{
    pollfd p = {fd, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) == 0;
}

// The connection of soap is gone: a reset, or an end of file that poll sees.
bool peerGone(struct soap* soap)
{
    if (soap->errnum == ECONNRESET || soap->errnum == EPIPE)
        return true;
    if (!soap_valid_socket(soap->socket))
        return false;
    pollfd p = {soap->socket, POLLIN | POLLRDHUP, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLRDHUP | POLLERR));
}

bool mayResend(const CallState& s)
{
    return s.reused && !s.answered && !s.changesServer && !s.resent && !s.tooLong && s.open;
}

// Replaces the dead connection of soap with a new one and sends the request
// again on it.
bool resend(struct soap* soap, CallState& s)
{
    s.resent = true;
    s.reused = false;
    closeConnection(soap->socket, soap->ssl);
    soap->ssl = nullptr;
    soap->bio = nullptr;
    soap->socket = SOAP_INVALID_SOCKET;
    soap->error = SOAP_OK;
    soap->errnum = 0;
    const SOAP_SOCKET fd = s.open(soap, s.endpoint.c_str(), s.host.c_str(), s.port);
    if (!soap_valid_socket(fd) || soap->error)
        return false;
    soap->socket = fd;
    return s.send(soap, s.sent.data(), s.sent.size()) == SOAP_OK;
}

int sendHook(struct soap* soap, const char* data, size_t length)
{
    const std::shared_ptr<CallState> s = stateOf(soap);
    if (!s)
        return SOAP_EOF;
    if (mayResend(*s)) {
        if (s->sent.size() + length > KeptConnections::kMaxReplayBytes) {
            s->tooLong = true;
            s->sent.clear();
            s->sent.shrink_to_fit();
        } else {
            s->sent.append(data, length);
        }
    }
    const int status = s->send(soap, data, length);
    if (status != SOAP_OK && mayResend(*s))
        return resend(soap, *s) ? SOAP_OK : status;
    return status;
}

size_t recvHook(struct soap* soap, char* buffer, size_t length)
{
    const std::shared_ptr<CallState> s = stateOf(soap);
    if (!s)
        return 0;
    size_t n = s->recv(soap, buffer, length);
    if (n == 0 && mayResend(*s) && peerGone(soap) && resend(soap, *s))
        n = s->recv(soap, buffer, length);
    if (n > 0) {
        s->answered = true;
        s->sent.clear();
        s->sent.shrink_to_fit();
    }
    return n;
}

} // namespace

void KeptConnections::Prepare(struct soap* soap)
{
    if (!g_enabled)
        return;
    auto s = std::make_shared<CallState>();
    s->send = soap->fsend;
    s->recv = soap->frecv;
    soap->fsend = sendHook;
    soap->frecv = recvHook;
    soap_set_imode(soap, SOAP_IO_KEEPALIVE);
    soap_set_omode(soap, SOAP_IO_KEEPALIVE);
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.calls[soap] = std::move(s);
}

void KeptConnections::MarkChangesServer(struct soap* soap)
{
    if (const std::shared_ptr<CallState> s = stateOf(soap))
        s->changesServer = true;
}

void KeptConnections::RememberOpen(struct soap* soap, OpenFn open, const char* endpoint,
                                   const char* host, int port)
{
    const std::shared_ptr<CallState> s = stateOf(soap);
    if (!s)
        return;
    s->open = open;
    s->endpoint = endpoint ? endpoint : "";
    s->host = host ? host : "";
    s->port = port;
    s->key = keyOf(soap);
    s->ours = true;
}

int KeptConnections::TakeOver(struct soap* soap)
{
    const std::shared_ptr<CallState> s = stateOf(soap);
    if (!s || !g_enabled)
        return SOAP_INVALID_SOCKET;
    const std::string key = keyOf(soap);
    const Clock::time_point now = Clock::now();
    Registry& r = registry();
    std::vector<Idle> stale;
    Idle found;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        for (auto it = r.idle.begin(); it != r.idle.end();) {
            if (now - it->since >= std::chrono::seconds(kIdleSeconds)) {
                stale.push_back(*it);
                it = r.idle.erase(it);
            } else {
                ++it;
            }
        }
        // The newest first: the least likely to have been closed.
        for (auto it = r.idle.rbegin(); it != r.idle.rend(); ++it) {
            if (it->key == key) {
                found = *it;
                r.idle.erase(std::next(it).base());
                break;
            }
        }
    }
    for (const Idle& c : stale)
        closeConnection(c.fd, c.ssl);
    while (found.fd >= 0) {
        if (stillOpen(found.fd)) {
            soap->ssl = found.ssl;
            soap->bio = found.bio;
            s->reused = true;
            return found.fd;
        }
        closeConnection(found.fd, found.ssl);
        found = Idle();
        std::lock_guard<std::mutex> lock(r.mutex);
        for (auto it = r.idle.rbegin(); it != r.idle.rend(); ++it) {
            if (it->key == key) {
                found = *it;
                r.idle.erase(std::next(it).base());
                break;
            }
        }
    }
    return SOAP_INVALID_SOCKET;
}

void KeptConnections::Release(struct soap* soap)
{
    std::shared_ptr<CallState> s;
    Registry& r = registry();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        const auto it = r.calls.find(soap);
        if (it == r.calls.end())
            return;
        s = it->second;
        r.calls.erase(it);
    }
    soap->fsend = s->send;
    soap->frecv = s->recv;
    // Only a finished exchange on our own connection, which the server
    // keeps open. A call that did not read its answer (sent and closed) or
    // failed leaves it to the runtime to close.
    if (!g_enabled || !s->ours || !s->answered || soap->error != SOAP_OK ||
        !soap_valid_socket(soap->socket) || soap->keep_alive == 0)
        return;
    // Kept open for longer than a call: no child process (a removal the
    // client runs, say) may hold it too.
    fcntl(soap->socket, F_SETFD, fcntl(soap->socket, F_GETFD) | FD_CLOEXEC);
    Idle kept;
    kept.fd = soap->socket;
    kept.ssl = soap->ssl;
    kept.bio = soap->bio;
    kept.key = s->key;
    kept.since = Clock::now();
    soap->socket = SOAP_INVALID_SOCKET;
    soap->ssl = nullptr;
    soap->bio = nullptr;
    soap->keep_alive = 0;
    Idle dropped;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        r.idle.push_back(std::move(kept));
        if (r.idle.size() > kMaxIdle) {
            dropped = r.idle.front();
            r.idle.erase(r.idle.begin());
        }
    }
    closeConnection(dropped.fd, dropped.ssl);
}

void KeptConnections::SetEnabled(bool enabled)
{
    g_enabled = enabled;
    if (!enabled)
        CloseIdle();
}

bool KeptConnections::Enabled()
{
    return g_enabled;
}

void KeptConnections::CloseIdle()
{
    std::vector<Idle> idle;
    {
        Registry& r = registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        idle.swap(r.idle);
    }
    for (const Idle& c : idle)
        closeConnection(c.fd, c.ssl);
}

size_t KeptConnections::IdleCount()
{
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.idle.size();
}
