// The spool folder: which job folder is handed over and when (the two-file
// rule, name order, folders set aside after the grace period, failed jobs
// offered again later, unsafe spool folders), then the monitor's worker and
// GUI thread with a recording job handler: the order of dialog, removal and
// handshake, the outcomes, the keep flag, a stop while the dialog is open
// and the progress dialog.

#include "MessageBoxes.h"
#include "QPrintJobMonitor.h"
#include "SpoolWatch.h"
#include "TestRoot.h"

#include <QProgressBar>
#include <QProgressDialog>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;
using Outcome = QPrintJobMonitor::JobOutcome;

Q_DECLARE_METATYPE(QPrintJobMonitor::JobOutcome)

namespace
{

// Makes <spool>/<name> holding the files listed ("job.pdf,options").
void makeJob(const QString& spool, const QString& name, const QString& files)
{
    QDir().mkpath(spool + '/' + name);
    for (const QString& file : files.split(',', Qt::SkipEmptyParts)) {
        QFile f(spool + '/' + name + '/' + file);
        f.open(QIODevice::WriteOnly);
        f.write("x");
    }
}

} // namespace

class TestPrintJobMonitor : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    QString m_spool; // the user's spool folder
    SpoolWatch::Options m_watchOptions;
    const SpoolWatch::Clock::time_point m_t0 = SpoolWatch::Clock::now();

    SpoolWatch::Step poll(SpoolWatch& watch, int state, std::chrono::milliseconds at)
    {
        return watch.poll(state, m_t0 + at);
    }

    // A monitor whose jobs go to handler, polling every 50 ms.
    std::unique_ptr<QPrintJobMonitor> startMonitor(QPrintJobMonitor::JobHandler handler,
                                                   bool keep = false)
    {
        QPrintJobMonitor::Options options;
        options.PollMs = 50;
        options.Watch.RetryFirst = 1500ms;
        options.Handler = std::move(handler);
        options.KeepFolders = keep;
        auto monitor = std::make_unique<QPrintJobMonitor>(options);
        monitor->setRunning(true);
        monitor->StartMonitor();
        return monitor;
    }

private slots:
    void initTestCase()
    {
        m_spool = QString::fromUtf8(SystemPaths::spoolRoot()) + "alice";
        m_watchOptions.Grace = 10s;
        m_watchOptions.RetryFirst = 60s;
        m_watchOptions.RetryMax = 150s;
    }

    void init()
    {
        QDir(m_spool).removeRecursively();
        QDir().mkpath(m_spool);
        QFile::setPermissions(m_spool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_nMonitorFolderState = 0;
    }

    void cleanupTestCase() { MessageBoxes::setInformationHook({}); }

    void twoFileRule_data()
    {
        QTest::addColumn<QStringList>("jobs"); // name:files
        QTest::addColumn<QString>("handed");   // "" none
        QTest::addColumn<int>("state");
        QTest::newRow("empty") << QStringList() << "" << 0;
        QTest::newRow("complete") << QStringList{"j:job.pdf,options"} << "j" << 2;
        QTest::newRow("document only") << QStringList{"j:job.pdf"} << "" << 1;
        QTest::newRow("three files") << QStringList{"j:job.pdf,options,x"} << "" << 1;
        QTest::newRow("two other files") << QStringList{"j:job.pdf,x"} << "" << 1;
        QTest::newRow("name order ignoring case")
            << QStringList{"b:job.pdf,options", "A:job.pdf,options", "C:job.pdf"} << "A" << 2;
        QTest::newRow("the first one decides")
            << QStringList{"a:job.pdf", "b:job.pdf,options"} << "" << 1;
        QTest::newRow("hidden folder") << QStringList{".a:job.pdf,options"} << "" << 0;
        QTest::newRow("hidden file not counted")
            << QStringList{"j:job.pdf,options,.lock"} << "j" << 2;
    }

    void twoFileRule()
    {
        QFETCH(QStringList, jobs);
        QFETCH(QString, handed);
        QFETCH(int, state);
        for (const QString& job : jobs)
            makeJob(m_spool, job.section(':', 0, 0), job.section(':', 1));
        SpoolWatch watch(m_spool, "alice", m_watchOptions);
        SpoolWatch::Step step = poll(watch, 0, 0ms);
        QCOMPARE(step.HandOver, handed);
        QCOMPARE(step.State, state);
        QCOMPARE(step.Perform, state == 1);
        QCOMPARE(step.ResetProgress, state == 1);
        if (state != 1)
            return;
        // Still being written: the progress goes on, the job is never handed.
        for (int i = 1; i < 5; ++i) {
            step = poll(watch, 1, i * 1s);
            QCOMPARE(step.State, 1);
            QVERIFY(step.Perform && !step.ResetProgress && step.HandOver.isEmpty());
        }
    }

    void linksAreNotFollowed()
    {
        // A link to a complete job folder, and a job whose document is a link.
        makeJob(m_root.path(), "elsewhere", "job.pdf,options");
        QVERIFY(QFile::link(m_root.path() + "/elsewhere", m_spool + "/a"));
        makeJob(m_spool, "b", "options");
        QVERIFY(QFile::link(m_root.path() + "/elsewhere/job.pdf", m_spool + "/b/job.pdf"));
        SpoolWatch watch(m_spool, "alice", m_watchOptions);
        QCOMPARE(poll(watch, 0, 0ms).State, 1); // b, incomplete
    }

    void gracePeriod()
    {
        makeJob(m_spool, "a", "job.pdf");
        makeJob(m_spool, "b", "job.pdf,options");
        SpoolWatch watch(m_spool, "alice", m_watchOptions);
        QCOMPARE(poll(watch, 0, 0ms).State, 1);
        QCOMPARE(poll(watch, 1, 9s).State, 1);
        // A change starts the period again.
        QFile f(m_spool + "/a/job.pdf");
        QVERIFY(f.open(QIODevice::Append) && f.write("more") == 4);
        f.close();
        QCOMPARE(poll(watch, 1, 11s).State, 1);
        QCOMPARE(poll(watch, 1, 20s).State, 1);
        const SpoolWatch::Step aside = poll(watch, 1, 21s);
        QCOMPARE(aside.State, 0);
        QVERIFY(aside.Cancel);
        QVERIFY(!QFileInfo::exists(m_spool + "/a"));
        QVERIFY(QFileInfo::exists(m_spool + "/.incomplete-a/job.pdf")); // kept, not deleted
        QCOMPARE(poll(watch, 0, 21500ms).HandOver, QString("b"));
    }

    void failedJobComesBackLater()
    {
        makeJob(m_spool, "a", "job.pdf,options");
        makeJob(m_spool, "b", "job.pdf,options");
        SpoolWatch watch(m_spool, "alice", m_watchOptions);
        QCOMPARE(poll(watch, 0, 0ms).HandOver, QString("a"));
        watch.jobDone(SpoolWatch::Outcome::Failed, m_t0 + 1s);
        // The next job goes on meanwhile.
        QCOMPARE(poll(watch, 0, 1s).HandOver, QString("b"));
        QDir(m_spool + "/b").removeRecursively();
        watch.jobDone(SpoolWatch::Outcome::Removed, m_t0 + 2s);
        QCOMPARE(poll(watch, 0, 60s).State, 0);
        QCOMPARE(poll(watch, 0, 61s).HandOver, QString("a"));
        // Failing again: twice as long.
        watch.jobDone(SpoolWatch::Outcome::Failed, m_t0 + 62s);
        QCOMPARE(poll(watch, 0, 182s - 1ms).State, 0);
        QCOMPARE(poll(watch, 0, 182s).HandOver, QString("a"));
        watch.jobDone(SpoolWatch::Outcome::Failed, m_t0 + 183s);
        QCOMPARE(poll(watch, 0, 200s).State, 0);
        watch.retryAllNow(); // a new online session
        QCOMPARE(poll(watch, 0, 201s).HandOver, QString("a"));
        // A kept job comes again at once.
        watch.jobDone(SpoolWatch::Outcome::Kept, m_t0 + 202s);
        QCOMPARE(poll(watch, 0, 202s).HandOver, QString("a"));
    }

    void unsafeSpoolFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a link") << "link";
        QTest::newRow("writable by others") << "open";
        QTest::newRow("another user's") << "foreign";
    }

    void unsafeSpoolFolder()
    {
        QFETCH(QString, kind);
        makeJob(m_spool, "j", "job.pdf,options");
        const QByteArray path = QFile::encodeName(m_spool);
        if (kind == "link") {
            QVERIFY(QDir(m_spool).rename(m_spool, m_root.path() + "/planted"));
            QVERIFY(QFile::link(m_root.path() + "/planted", m_spool));
        } else if (kind == "open") {
            QCOMPARE(chmod(path.constData(), 0777), 0);
        } else {
            if (geteuid() != 0)
                QSKIP("needs root to give the folder away");
            QCOMPARE(chown(path.constData(), 65534, 65534), 0); // nobody, not alice
        }
        SpoolWatch watch(m_spool, "alice", m_watchOptions);
        const SpoolWatch::Step step = poll(watch, 0, 0ms);
        QCOMPARE(step.State, 0);
        QVERIFY(step.HandOver.isEmpty());
        if (kind == "link")
            QFile::remove(m_spool);
    }

    void missingFolderIsCreated()
    {
        QDir(m_spool).removeRecursively();
        SpoolWatch watch(m_spool, "alice", m_watchOptions);
        QCOMPARE(poll(watch, 0, 0ms).State, 0);
        QVERIFY(!QFileInfo::exists(m_spool));
        QCOMPARE(poll(watch, 0, 2s).State, 0);
        struct stat st;
        QCOMPARE(lstat(QFile::encodeName(m_spool).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, mode_t(0700));
    }

    // --- the monitor -----------------------------------------------------------------

    // Dialog, submission, removal, state 0: then the next job in name order.
    void order()
    {
        makeJob(m_spool, "b", "job.pdf,options");
        makeJob(m_spool, "A", "job.pdf,options");
        QStringList seen;
        auto monitor = startMonitor([&](OrixUser*, const QString& document, const QString&) {
            const QString job = QFileInfo(document).dir().dirName();
            seen << QString("%1 state %2 %3 A:%4")
                        .arg(job)
                        .arg(m_nMonitorFolderState.load())
                        .arg(QFileInfo::exists(document) ? "here" : "gone")
                        .arg(QFileInfo::exists(m_spool + "/A") ? "here" : "gone");
            return Outcome::Submitted;
        });
        QTRY_COMPARE(seen.size(), 2);
        QCOMPARE(seen, (QStringList{"A state 2 here A:here", "b state 2 here A:gone"}));
        QTRY_VERIFY(!QFileInfo::exists(m_spool + "/b"));
        QTRY_COMPARE(m_nMonitorFolderState.load(), 0);
    }

    void outcomes_data()
    {
        QTest::addColumn<int>("outcome"); // -1: the handler throws
        QTest::addColumn<bool>("keep");
        QTest::addColumn<bool>("removed");
        QTest::addColumn<int>("offeredAgainAfterMs"); // -1: not within 2.5 s
        QTest::addColumn<QString>("box");
        QTest::newRow("submitted") << int(Outcome::Submitted) << false << true << -1 << "";
        QTest::newRow("cancelled") << int(Outcome::Cancelled) << false << true << -1 << "";
        QTest::newRow("quota refused") << int(Outcome::Refused) << false << true << -1 << "";
        QTest::newRow("no printer") << int(Outcome::Dropped) << false << true << -1 << "";
        QTest::newRow("upload failed: kept, offered later")
            << int(Outcome::Failed) << false << false << 1500 << "";
        QTest::newRow("exception: kept, offered later")
            << -1 << false << false << 1500 << "错误|save printjob failed.";
        QTest::newRow("keep flag: offered again at once")
            << int(Outcome::Submitted) << true << false << 0 << "";
    }

    void outcomes()
    {
        QFETCH(int, outcome);
        QFETCH(bool, keep);
        QFETCH(int, offeredAgainAfterMs);
        QStringList boxes;
        MessageBoxes::setInformationHook([&](QWidget*, const QString& title, const QString& text) {
            boxes << title + '|' + text.section('\n', 0, 0);
        });
        makeJob(m_spool, "j", "job.pdf,options");
        QList<qint64> calls;
        QElapsedTimer clock;
        clock.start();
        auto monitor = startMonitor(
            [&](OrixUser*, const QString&, const QString&) {
                calls << clock.elapsed();
                if (outcome < 0)
                    throw 0x80000000u;
                return Outcome(outcome);
            },
            keep);
        QTRY_COMPARE(calls.size(), 1);
        QTRY_COMPARE(m_nMonitorFolderState.load(), 0);
        QTEST(!QFileInfo::exists(m_spool + "/j"), "removed");
        QTEST(boxes.value(0), "box");
        if (offeredAgainAfterMs < 0) {
            QTest::qWait(500);
            QCOMPARE(calls.size(), 1);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(calls.size(), 2, 5000);
        QVERIFY2(calls[1] - calls[0] >= offeredAgainAfterMs,
                 qPrintable(QString::number(calls[1] - calls[0])));
        QCOMPARE(boxes.size(), outcome < 0 ? 2 : 0);
    }

    void stopWhileDialogOpen()
    {
        makeJob(m_spool, "a", "job.pdf,options");
        QStringList seen;
        std::unique_ptr<QPrintJobMonitor> monitor;
        monitor = startMonitor([&](OrixUser*, const QString& document, const QString&) {
            seen << QFileInfo(document).dir().dirName();
            if (seen.size() == 1) {
                // Offline while the dialog is open; a job arrives meanwhile.
                monitor->StopMonitor();
                makeJob(m_spool, "b", "job.pdf,options");
                QTest::qWait(200);
            }
            return Outcome::Submitted;
        });
        QTRY_COMPARE(seen.size(), 1);
        QTRY_VERIFY(!QFileInfo::exists(m_spool + "/a"));
        QTRY_COMPARE(m_nMonitorFolderState.load(), 0);
        QTest::qWait(300);
        QCOMPARE(seen, QStringList{"a"}); // nothing looked at while stopped
        monitor->setRunning(true);
        monitor->StartMonitor();
        QTRY_COMPARE(seen, (QStringList{"a", "b"}));
    }

    // A job being written: the progress dialog comes up and advances by 4
    // up to 80, then by 1; it goes when the job is complete.
    void progressWhileWritten()
    {
        makeJob(m_spool, "p", "job.pdf");
        int calls = 0;
        auto monitor = startMonitor([&](OrixUser*, const QString&, const QString&) {
            ++calls;
            return Outcome::Submitted;
        });
        QList<int> values;
        QProgressDialog* progress = monitor->progressDialog();
        QVERIFY(progress);
        QProgressBar* bar = progress->findChild<QProgressBar*>();
        connect(bar, &QProgressBar::valueChanged, this, [&](int v) { values << v; });
        QTRY_VERIFY(progress->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(values.size() >= 25, 5000);
        QList<int> expected;
        for (int v = 0; v <= 80; v += 4)
            expected << v;
        expected << 81 << 82 << 83 << 84;
        QCOMPARE(values.mid(0, expected.size()), expected);
        makeJob(m_spool, "p", "options");
        QTRY_COMPARE(calls, 1);
        QVERIFY(!progress->isVisible());
        monitor->StopMonitor();
        QVERIFY(!monitor->progressDialog());
    }
};

QTEST_MAIN(TestPrintJobMonitor)
#include "tst_printjobmonitor.moc"
