// Many notices received by the client's notice path (ServerMsgDlg::ShowNotice,
// as each poll's notice is shown), on the display and session bus of the
// environment:
//
//     orix-notice-bench COUNT
//
// One notice every millisecond, every third a request for approval; then the
// notices that close by themselves are given time to close. Prints
// "rss_before_kb <k> rss_after_kb <k> windows <w> on_screen <n>": resident
// memory before the first notice and after the last, the windows of the
// program still on screen, and the notices it counts as up (desktop
// notifications and pop-ups).
#include "NoticeCenter.h"
#include "OrixUser.h"
#include "ServerMsgDlg.h"
#include "TextUtil.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace
{

// Lets the event loop run for ms milliseconds.
void wait(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

long residentKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        fprintf(stderr, "usage: orix-notice-bench COUNT\n");
        return 2;
    }
    const int count = QByteArray(argv[1]).toInt();
    OrixUser user;
    CopyText(user.UserName, sizeof user.UserName, "zhangsan");
    CopyText(user.WebsiteAddress, sizeof user.WebsiteAddress, "127.0.0.1");

    // The client asks the notification server at start; the answer is in
    // before the first notice.
    NoticeCenter* center = NoticeCenter::instance();
    wait(1000);
    const long before = residentKb();

    for (int i = 1; i <= count; ++i) {
        const QByteArray headline =
            "<job-" + QByteArray::number(i) + ".pdf>" + (i % 3 ? "打印成功!" : "等待审批!");
        ServerMsgDlg::ShowNotice(&user, headline.constData());
        wait(1);
    }
    wait(ServerMsgDlg::kShowMilliseconds + 2000);

    int windows = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        windows += widget->isVisible();
    printf("rss_before_kb %ld rss_after_kb %ld windows %d on_screen %d\n", before, residentKb(),
           windows, center->onScreen());
    return 0;
}
