// orws-devserver: the development stand-in for the central server. Serves
// the OrWS SOAP service on 127.0.0.1 from an SQLite database.
//
//   orws-devserver --port P --db FILE [--tls CERT KEY] [--storage DIR]
//                  [--strings utf8|latin1] [--bind 127.0.0.1] [--parent-pid PID]
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
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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
            if (s->errnum != 0 && !g_stop)
                soap_print_fault(s, stderr);
            else
                service.saveJobCounts(); // a second without requests
            continue;                    // time-out, interruption or a failed accept
        }
        // SOAP_STOP: a discarded plain POST, already answered.
        if ((!tls || soap_ssl_accept(s) == SOAP_OK) && service.serve() != SOAP_OK &&
            s->error != SOAP_EOF && s->error != SOAP_STOP)
            soap_print_fault(s, stderr);
        else if (tls && s->error && s->error != SOAP_EOF && s->error != SOAP_STOP)
            soap_print_fault(s, stderr);
        service.destroy();
        service.endRequest();
        soap_closesock(s);
    }
    service.saveJobCounts();
    fprintf(stderr, "orws-devserver: stopped\n");
    return 0;
}
