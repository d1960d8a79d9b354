// Times the session's whole logon (every call of it) against a server:
//
//     bench_logon PORT ROUNDS [per-call-tls]
//
// The configuration (HTTP or HTTPS) comes from the relocated root the
// calling script prepared (ORIX_ROOT_PREFIX); the account is zhangsan.
// per-call-tls: every call builds its own TLS context and reads the trust
// store again, as before the context was shared. Prints
// "median_ms <m> mean_ms <a> failures <f>".

#include "KeptConnections.h"
#include "OrixUser.h"
#include "RpcResults.h"
#include "SoapTransport.h"
#include "TextUtil.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        fprintf(stderr, "usage: bench_logon PORT ROUNDS [per-call-tls]\n");
        return 2;
    }
    const int rounds = atoi(argv[2]);
    // ORIX_BENCH_KEEP_ALIVE=off: a new connection for every call, as before
    // connections were kept (the reference of scripts/bench/wan.sh).
    if (const char* keep = getenv("ORIX_BENCH_KEEP_ALIVE"))
        KeptConnections::SetEnabled(strcmp(keep, "off") != 0);
    SoapTransport::SetTlsShared(!(argc > 3 && strcmp(argv[3], "per-call-tls") == 0));

    OrixUser user;
    CopyText(user.ServerAddress, sizeof user.ServerAddress, "127.0.0.1");
    CopyText(user.RpcPort, sizeof user.RpcPort, argv[1]);
    CopyText(user.UserName, sizeof user.UserName, "zhangsan");
    CopyText(user.Password, sizeof user.Password, "E10ADC3949BA59ABBE56E057F20F883E");

    std::vector<double> times;
    int failures = 0;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        int result = -1;
        try {
            result = user.Logon();
        } catch (const RpcFailure&) {
        }
        times.push_back(clock.nsecsElapsed() / 1e6);
        failures += result != 0;
    }
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times)
        sum += t;
    printf("median_ms %.1f mean_ms %.1f failures %d\n", times[times.size() / 2], sum / times.size(),
           failures);
    return 0;
}
