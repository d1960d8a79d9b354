// The desktop's services for the benchmarks, on the session bus of
// DBUS_SESSION_BUS_ADDRESS until the program is stopped: a StatusNotifier
// watcher with a registered host and a notification server (the fakes of the
// tests). Prints "ready" once both are on the bus, then a line for each
// status icon that registers and each notification that arrives:
//
//     <ms since the epoch> item <service>
//     <ms since the epoch> notify <id> open <notifications open>
#include "FakeDesktop.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTimer>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    FakeDesktop desktop;
    if (!desktop.startWatcher(true) ||
        !desktop.startNotifications({"actions", "body", "body-markup"})) {
        fprintf(stderr, "fake_desktop: no session bus\n");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);

    // New events, looked for every 50 milliseconds.
    int items = 0, notifications = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        const QStringList registered = desktop.watcher()->registeredItems();
        for (; items < registered.size(); ++items)
            printf("%lld item %s\n", now, qPrintable(registered[items].section(' ', 1)));
        const auto sent = desktop.notifications()->notifications();
        const int open = desktop.notifications()->open().size();
        for (; notifications < sent.size(); ++notifications)
            printf("%lld notify %u open %d\n", now, sent[notifications].id, open);
        fflush(stdout);
    });
    poll.start(50);
    return app.exec();
}
