// Capture latency, for scripts/bench/capture-latency.sh: the monitor with the
// real settings dialog, a session logged on to the development server, jobs
// cancelled in the dialog as soon as it shows.
//
//   folder  a complete job folder renamed into the spool folder -> dialog shown
//   lp      lp to the TavPDF queue of a private CUPS server -> dialog shown
//           (root only), with lp -> job folder complete as its reference
//   dialog  reference: the dialog built, filled and shown directly
//
// Prints one line per figure: "<name> <median ms> <p90 ms> <max ms> <runs>".

#include "DevServerProcess.h"
#include "LocalUser.h"
#include "OrixUser.h"
#include "PrintSettingDlg.h"
#include "PrivateCupsd.h"
#include "QPrintJobMonitor.h"
#include "SamplePdf.h"
#include "SystemPaths.h"
#include "TextUtil.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <pwd.h>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

QElapsedTimer g_clock;
qint64 g_shownAt = -1; // ms on g_clock when the last settings dialog showed

// Notes when a settings dialog shows and cancels it at once.
class DialogWatch : public QObject
{
public:
    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto* dialog = qobject_cast<PrintSettingDlg*>(object)) {
                g_shownAt = g_clock.elapsed();
                QTimer::singleShot(0, dialog, &QDialog::reject);
            }
        }
        return false;
    }
};

void report(const char* name, std::vector<double> ms)
{
    if (ms.empty()) {
        printf("%s - - - 0\n", name);
        return;
    }
    std::sort(ms.begin(), ms.end());
    const size_t n = ms.size();
    const double median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    printf("%s %.0f %.0f %.0f %zu\n", name, median, ms[(n * 9 + 9) / 10 - 1], ms.back(), n);
    fflush(stdout);
}

// Runs the event loop until done() or timeoutMs.
template <typename Done> bool waitFor(Done done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(1, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

bool spoolEmpty(const QString& spool)
{
    return QDir(spool).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty();
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    QTemporaryDir root(QDir::tempPath() + "/orix-bench-capture-XXXXXX");
    chmod(QFile::encodeName(root.path()).constData(), 0755);
    // The printer writes no job of root's nor of special accounts (nobody):
    // as root, the desktop user (and the one who prints) is a throwaway user.
    const bool asRoot = geteuid() == 0;
    const passwd* me = getpwuid(geteuid());
    LocalUser person;
    if (asRoot && !person.create("b")) {
        fprintf(stderr, "capture bench: %s\n", qPrintable(person.errorString()));
        return 1;
    }
    const QString user = asRoot ? person.name()
                         : me   ? QString::fromLocal8Bit(me->pw_name)
                                : QString("root");
    qputenv(SystemPaths::kRootPrefixVariable, QFile::encodeName(root.path()));
    qputenv("HOME", QFile::encodeName(root.path() + "/home/" + user));
    QDir().mkpath(root.path() + "/home/" + user);
    QDir().mkpath(QString::fromUtf8(SystemPaths::programFolder()));
    QDir().mkpath(QString::fromUtf8(SystemPaths::varTmp()));
    const QString spool = QString::fromUtf8(SystemPaths::spoolRoot()) + user;
    QDir().mkpath(spool);
    chmod(QFile::encodeName(spool).constData(), 0700);
    if (const passwd* owner = asRoot ? getpwnam(user.toUtf8().constData()) : nullptr) {
        if (chown(QFile::encodeName(spool).constData(), owner->pw_uid, owner->pw_gid) != 0)
            perror("capture bench: chown");
    }

    QApplication app(argc, argv);
    g_clock.start();
    DevServerProcess server;
    if (!server.start()) {
        fprintf(stderr, "capture bench: %s\n", qPrintable(server.errorString()));
        return 1;
    }
    OrixUser session;
    CopyText(session.ServerAddress, sizeof session.ServerAddress, "127.0.0.1");
    CopyText(session.RpcPort, sizeof session.RpcPort,
             QByteArray::number(server.port()).constData());
    CopyText(session.UserName, sizeof session.UserName, "zhangsan");
    CopyText(session.Password, sizeof session.Password, kSeedPasswordDigest);
    if (session.Logon() != 0) {
        fprintf(stderr, "capture bench: cannot log on to the development server\n");
        return 1;
    }
    DialogWatch watch;
    app.installEventFilter(&watch);
    std::mt19937 random(42);

    // Reference: the dialog on its own.
    {
        QFile options(root.path() + "/options");
        options.open(QIODevice::WriteOnly);
        options.write("copies=1 job-impressions=1\n");
        options.close();
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            const qint64 t0 = g_clock.elapsed();
            g_shownAt = -1;
            PrintSettingDlg dialog;
            dialog.setUser(&session);
            dialog.setJob({root.path(), root.path() + "/job.pdf", options.fileName()});
            if (dialog.displayDialog() == 0)
                break;
            dialog.exec();
            if (g_shownAt >= 0)
                ms.push_back(double(g_shownAt - t0));
        }
        report("dialog", ms);
    }

    QPrintJobMonitor monitor;
    monitor.setUser(&session);
    monitor.setRunning(true);
    monitor.StartMonitor();

    // A complete job folder renamed into place, at a random phase of the poll.
    {
        const QByteArray pdf = SamplePdf(2);
        std::vector<double> ms;
        for (int i = 0; i < runs; ++i) {
            const QString hidden = spool + QString("/.bench-%1").arg(i);
            QDir().mkpath(hidden);
            QFile doc(hidden + "/job.pdf"), options(hidden + "/options");
            doc.open(QIODevice::WriteOnly);
            doc.write(pdf);
            doc.close();
            options.open(QIODevice::WriteOnly);
            options.write("copies=1 job-impressions=2 title=bench.pdf\n");
            options.close();
            waitFor([&] { return false; }, int(random() % 500));
            g_shownAt = -1;
            const qint64 t0 = g_clock.elapsed();
            QDir().rename(hidden, spool + QString("/job-%1").arg(i, 4, 10, QChar('0')));
            if (!waitFor([&] { return g_shownAt >= 0 && spoolEmpty(spool); }, 10000))
                break;
            ms.push_back(double(g_shownAt - t0));
            waitFor([] { return m_nMonitorFolderState.load() == 0; }, 5000);
        }
        report("folder", ms);
    }

    // lp through a private CUPS server.
    PrivateCupsd cups;
    if (!cups.start(root.path())) {
        printf("lp-skipped %s\n", qPrintable(cups.errorString()));
        return 0;
    }
    const QString document = cups.folder() + "/bench.pdf";
    {
        QFile f(document);
        f.open(QIODevice::WriteOnly);
        f.write(SamplePdf(2));
        f.close();
        f.setPermissions(f.permissions() | QFile::ReadOther);
    }
    std::vector<double> toDialog, toFolder;
    for (int i = 0; i < runs; ++i) {
        waitFor([&] { return false; }, int(random() % 500));
        // The folder's arrival, seen by a thread that looks every millisecond.
        std::atomic<qint64> folderAt{-1};
        std::atomic<bool> stop{false};
        std::thread seer([&] {
            while (!stop && folderAt < 0) {
                if (!spoolEmpty(spool))
                    folderAt = g_clock.elapsed();
                usleep(1000);
            }
        });
        g_shownAt = -1;
        const qint64 t0 = g_clock.elapsed();
        const int job = cups.print({document}, asRoot ? user : QString());
        const bool ok = job > 0 &&
                        waitFor([&] { return g_shownAt >= 0 && folderAt >= 0; }, 30000) &&
                        waitFor([&] { return spoolEmpty(spool); }, 10000);
        stop = true;
        seer.join();
        if (!ok) {
            fprintf(stderr, "capture bench: job %d did not come up (%s)\n", i,
                    qPrintable(cups.errorString()));
            break;
        }
        toDialog.push_back(double(g_shownAt - t0));
        toFolder.push_back(double(folderAt - t0));
        waitFor([] { return m_nMonitorFolderState.load() == 0; }, 5000);
    }
    report("lp-folder", toFolder);
    report("lp-dialog", toDialog);
    monitor.StopMonitor();
    return 0;
}
