// orws-devserver: the development stand-in for the central server. Serves
// the OrWS SOAP service on 127.0.0.1 from an SQLite database.
//
//   orws-devserver --port P --db FILE [--tls CERT KEY] [--storage DIR]
//                  [--strings utf8|latin1] [--bind 127.0.0.1] [--parent-pid PID]
//                  [--keep-alive on|off] [--idle-timeout S] [--max-connections N]
//                  [--max-requests N]
//   orws-devserver notice --db FILE --user NAME --type N --fields "job|printer|result|audit"
//   orws-devserver jobs --db FILE [--storage DIR]

#include "DevCdExtract.h"
#include "DevDatabase.h"
#include "DevDiscard.h"
#include "DevJobs.h"
#include "DevService.h"
#include "DevStorage.h"

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

// The namespace table of the service (defined with the generated code).
extern SOAP_NMAC struct Namespace namespaces[];

namespace
{

volatile sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

void usage()
{
    fprintf(stderr, "usage: orws-devserver --port P --db FILE [--tls CERT KEY] [--storage DIR] "
                    "[--strings utf8|latin1] [--bind 127.0.0.1] [--parent-pid PID]\n"
                    "                      [--keep-alive on|off] [--idle-timeout S] "
                    "[--max-connections N] [--max-requests N]\n"
                    "       orws-devserver notice --db FILE --user NAME --type N "
                    "--fields \"job|printer|result|audit\"\n"
                    "       orws-devserver jobs --db FILE [--storage DIR]\n"
                    "       orws-devserver cd-extract --db FILE [--storage DIR] "
                    "(--job NAME | --latest) --out DIR [--password P]\n");
}

bool parseInt(const char* text, long min, long max, long* value)
{
    if (!text || !*text)
        return false;
    char* end = nullptr;
    const long v = strtol(text, &end, 10);
    if (*end || v < min || v > max)
        return false;
    *value = v;
    return true;
}

int runNotice(int argc, char** argv)
{
    std::string db, user, fields;
    long type = -1;
    bool haveType = false;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--db" && next) {
            db = next;
        } else if (a == "--user" && next) {
            user = next;
        } else if (a == "--type" && next) {
            haveType = parseInt(next, -2147483647L - 1, 2147483647L, &type);
            if (!haveType) {
                fprintf(stderr, "orws-devserver: --type needs an integer\n");
                return 2;
            }
        } else if (a == "--fields" && next) {
            fields = next;
        } else {
            usage();
            return 2;
        }
        ++i;
    }
    if (db.empty() || user.empty() || !haveType) {
        usage();
        return 2;
    }
    DevDatabase database;
    if (!database.open(db)) {
        fprintf(stderr, "orws-devserver: %s: %s\n", db.c_str(), database.error().c_str());
        return 1;
    }
    const long long id = DevService::addNotice(database, user, static_cast<int>(type), fields);
    if (id < 0) {
        fprintf(stderr, "orws-devserver: cannot add the notice\n");
        return 1;
    }
    printf("notice %lld\n", id);
    return 0;
}

struct Options {
    long port = -1;
    long parentPid = 0;
    std::string db, storage, cert, key;
    std::string strings; // "utf8", "latin1" or empty: by the port
    // Persistent connections: each on a thread of its own, closed after
    // idleSeconds without a request or after maxRequests requests; beyond
    // maxConnections at once a connection carries one request and closes.
    bool keepAlive = true;
    long idleSeconds = 20;
    long maxConnections = 16;
    long maxRequests = 100;
};

bool parseOptions(int argc, char** argv, Options* o)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--port" && next) {
            if (!parseInt(next, 0, 65535, &o->port)) {
                fprintf(stderr, "orws-devserver: bad port %s\n", next);
                return false;
            }
            ++i;
        } else if (a == "--db" && next) {
            o->db = next;
            ++i;
        } else if (a == "--storage" && next) {
            o->storage = next;
            ++i;
        } else if (a == "--tls" && next && i + 2 < argc) {
            o->cert = next;
            o->key = argv[i + 2];
            i += 2;
        } else if (a == "--parent-pid" && next) {
            if (!parseInt(next, 1, 2147483647L, &o->parentPid)) {
                fprintf(stderr, "orws-devserver: bad process id %s\n", next);
                return false;
            }
            ++i;
        } else if (a == "--strings" && next) {
            // The client's string mode, which it picks by its port text:
            // UTF-8 on "8085", one byte per Latin-1 character elsewhere.
            if (strcmp(next, "utf8") != 0 && strcmp(next, "latin1") != 0) {
                fprintf(stderr, "orws-devserver: --strings takes utf8 or latin1\n");
                return false;
            }
            o->strings = next;
            ++i;
        } else if (a == "--keep-alive" && next) {
            if (strcmp(next, "on") != 0 && strcmp(next, "off") != 0) {
                fprintf(stderr, "orws-devserver: --keep-alive takes on or off\n");
                return false;
            }
            o->keepAlive = strcmp(next, "on") == 0;
            ++i;
        } else if ((a == "--idle-timeout" || a == "--max-connections" || a == "--max-requests") &&
                   next) {
            long* target = a == "--idle-timeout"      ? &o->idleSeconds
                           : a == "--max-connections" ? &o->maxConnections
                                                      : &o->maxRequests;
            if (!parseInt(next, 1, 100000, target)) {
                fprintf(stderr, "orws-devserver: %s needs a number from 1 to 100000\n", a.c_str());
                return false;
            }
            ++i;
        } else if (a == "--bind" && next) {
            // The development server is reachable from this machine only.
            if (strcmp(next, "127.0.0.1") != 0) {
                fprintf(stderr, "orws-devserver: only 127.0.0.1 can be served\n");
                return false;
            }
            ++i;
        } else {
            return false;
        }
    }
    return o->port >= 0 && !o->db.empty();
}

bool setUpTls(soap* s, const Options& o)
{
    soap_ssl_init();
    if (soap_ssl_server_context(s, SOAP_SSL_NO_AUTHENTICATION | SOAP_TLSv1_2, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, "orws-devserver")) {
        soap_print_fault(s, stderr);
        return false;
    }
    SSL_CTX* ctx = s->ctx;
    if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, o.cert.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, o.key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx) != 1) {
        fprintf(stderr, "orws-devserver: cannot use the certificate %s with the key %s\n",
                o.cert.c_str(), o.key.c_str());
        return false;
    }
    return true;
}

// Requests are served one at a time, whichever connection they come on: the
// database and the unfinished jobs are not shared between threads otherwise.
std::mutex g_serviceMutex;

struct ConnectionCount {
    std::mutex mutex;
    std::condition_variable changed;
    long count = 0;
};

ConnectionCount g_connections;

// Waits for the next request on a kept connection: false when none came
// within the idle limit or the server is stopping.
bool awaitRequest(soap* c, long idleSeconds)
{
    if (c->ssl && SSL_pending(c->ssl) > 0)
        return true;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(idleSeconds);
    while (!g_stop && std::chrono::steady_clock::now() < deadline) {
        pollfd p = {c->socket, POLLIN, 0};
        const int ready = poll(&p, 1, 200);
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return false;
    }
    return false;
}

// Serves the requests of one accepted connection (c owns its socket) until
// the client or the limits close it. keepAlive false: one request.
void serveConnection(DevService& primary, soap* c, bool tls, const Options& o, bool keepAlive)
{
    {
        DevService service(primary, c);
        if (keepAlive) {
            soap_set_imode(c, SOAP_IO_KEEPALIVE);
            soap_set_omode(c, SOAP_IO_KEEPALIVE);
            c->max_keep_alive = static_cast<int>(o.maxRequests);
        } else {
            soap_clr_imode(c, SOAP_IO_KEEPALIVE);
            soap_clr_omode(c, SOAP_IO_KEEPALIVE);
        }
        if (!tls || soap_ssl_accept(c) == SOAP_OK) {
            // As the runtime's own serve loop, with the wait for the next
            // request bounded and each request served alone.
            c->keep_alive = c->max_keep_alive + 1;
            bool first = true;
            do {
                if (c->keep_alive > 0 && c->max_keep_alive > 0)
                    c->keep_alive--;
                if (!first && !awaitRequest(c, o.idleSeconds))
                    break;
                first = false;
                if (soap_begin_serve(c)) {
                    if (c->error >= SOAP_STOP) // a discarded plain POST, answered
                        continue;
                    if (c->error != SOAP_EOF)
                        soap_print_fault(c, stderr);
                    break;
                }
                std::lock_guard<std::mutex> lock(g_serviceMutex);
                const bool failed =
                    service.dispatch() != SOAP_OK && c->error && c->error < SOAP_STOP;
                if (failed) {
                    soap_send_fault(c);
                    if (c->error != SOAP_EOF)
                        soap_print_fault(c, stderr);
                }
                service.destroy();
                service.endRequest();
                if (failed)
                    break;
            } while (keepAlive && c->keep_alive && !g_stop);
        } else if (c->error && c->error != SOAP_EOF) {
            soap_print_fault(c, stderr);
        }
        service.destroy();
        service.endRequest();
        soap_force_closesock(c);
    }
    soap_free(c);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && strcmp(argv[1], "notice") == 0)
        return runNotice(argc, argv);
    if (argc > 1 && strcmp(argv[1], "cd-extract") == 0)
        return runCdExtract(argc, argv);
    if (argc > 1 && strcmp(argv[1], "jobs") == 0)
        return RunJobsCommand(argc, argv);
    Options o;
    if (!parseOptions(argc, argv, &o)) {
        usage();
        return 2;
    }
    if (o.storage.empty())
        o.storage = o.db + "-storage";
    if (o.parentPid > 0) {
        // Started by a test: end with it, even when it dies without
        // stopping the server.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != static_cast<pid_t>(o.parentPid))
            return 1;
    }

    DevDatabase db;
    bool created = false;
    if (!db.open(o.db, &created)) {
        fprintf(stderr, "orws-devserver: %s: %s\n", o.db.c_str(), db.error().c_str());
        return 1;
    }
    if (created)
        fprintf(stderr, "orws-devserver: created %s with the schema and seed data\n", o.db.c_str());
    // Every upload block changes a row. A write-ahead log without a flush to
    // disk per change keeps that cheap; a crash of the machine may lose the
    // last changes, which a development database can afford.
    if (!db.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL"))
        fprintf(stderr, "orws-devserver: %s: %s\n", o.db.c_str(), db.error().c_str());
    DevStorage storage;
    std::string error;
    if (!storage.init(o.storage, &error)) {
        fprintf(stderr, "orws-devserver: %s\n", error.c_str());
        return 1;
    }

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal; // no SA_RESTART: a blocked call returns at once
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    DevService service(db, storage, SOAP_IO_DEFAULT);
    soap* s = service.soap;
    soap_set_namespaces(s, namespaces);
    s->bind_flags = SO_REUSEADDR;
    s->socket_flags = MSG_NOSIGNAL;
    s->accept_timeout = 1; // to notice a stop request
    s->recv_timeout = 30;
    s->send_timeout = 30;
    s->transfer_timeout = 300;
    s->recv_maxlength = 64u << 20; // a request is at most one block plus its records
    const bool tls = !o.cert.empty();
    if (tls && !setUpTls(s, o))
        return 1;

    if (!soap_valid_socket(soap_bind(s, "127.0.0.1", static_cast<int>(o.port), 16))) {
        soap_print_fault(s, stderr);
        return 1;
    }
    sockaddr_in bound;
    socklen_t length = sizeof bound;
    if (getsockname(s->master, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        perror("orws-devserver: getsockname");
        return 1;
    }
    const bool utf8 = o.strings.empty() ? ntohs(bound.sin_port) == 8085 : o.strings == "utf8";
    if (utf8) {
        soap_set_imode(s, SOAP_C_UTFSTRING);
        soap_set_omode(s, SOAP_C_UTFSTRING);
    }
    InstallDiscardSink(s);
    printf("listening on 127.0.0.1:%d\n", ntohs(bound.sin_port));
    fflush(stdout);
    fprintf(stderr, "orws-devserver: %s, %s strings, database %s, storage %s\n",
            tls ? "HTTPS" : "HTTP", utf8 ? "UTF-8" : "Latin-1", o.db.c_str(),
            storage.dir().c_str());

    while (!g_stop) {
        if (!soap_valid_socket(soap_accept(s))) {
            if (s->errnum != 0 && !g_stop) {
                soap_print_fault(s, stderr);
            } else {
                std::lock_guard<std::mutex> lock(g_serviceMutex);
                service.saveJobCounts(); // a second without requests
            }
            continue; // time-out, interruption or a failed accept
        }
        // The connection's own context takes the socket over.
        soap* c = soap_copy(s);
        s->socket = SOAP_INVALID_SOCKET;
        if (!c) {
            soap_force_closesock(s);
            continue;
        }
        bool threaded = false;
        if (o.keepAlive) {
            std::lock_guard<std::mutex> lock(g_connections.mutex);
            if (g_connections.count < o.maxConnections) {
                try {
                    std::thread([&service, c, tls, &o] {
                        serveConnection(service, c, tls, o, true);
                        std::lock_guard<std::mutex> lock(g_connections.mutex);
                        --g_connections.count;
                        g_connections.changed.notify_all();
                    }).detach();
                    ++g_connections.count;
                    threaded = true;
                } catch (...) {
                }
            }
        }
        if (!threaded) // keep-alive off, or as many threads as allowed: one request
            serveConnection(service, c, tls, o, false);
    }
    {
        // The connections notice the stop while they wait for a request.
        std::unique_lock<std::mutex> lock(g_connections.mutex);
        g_connections.changed.wait_for(lock, std::chrono::seconds(60),
                                       [] { return g_connections.count == 0; });
    }
    std::lock_guard<std::mutex> lock(g_serviceMutex);
    service.saveJobCounts();
    fprintf(stderr, "orws-devserver: stopped\n");
    return 0;
}
