// The capture layer without a server: job options, dialog lists, the spool watch, the monitor.

#include "JobHistory.h"
#include "JobOptions.h"
#include "PrintSettingModel.h"
#include "QPrintJobMonitor.h"
#include "RpcResults.h"
#include "SessionTestKit.h"
#include "TavCommon.h"
#include "TestFiles.h"
#include "TestRoot.h"

#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;
using Outcome = QPrintJobMonitor::JobOutcome;

class TestPrintJobMonitor : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    const QString m_spool = QString::fromUtf8(SystemPaths::spoolRoot()) + "alice";
    const SpoolWatch::Clock::time_point m_t0 = SpoolWatch::Clock::now();

    // <spool>/<name> with the files listed; "@": a link to a file or folder elsewhere.
    void makeJob(const QString& name, const QString& files = "job.pdf,options")
    {
        QString folder = m_spool + '/' + name;
        if (name.startsWith('@')) {
            folder = m_root.path() + "/elsewhere";
            QFile::link(folder, m_spool + '/' + name.mid(1));
        }
        QDir().mkpath(folder);
        for (const QString& file : files.split(',', Qt::SkipEmptyParts)) {
            QFile f(file.startsWith('@') ? m_root.path() + "/linked" : folder + '/' + file);
            f.open(QIODevice::WriteOnly | QIODevice::Append);
            f.write("x");
            if (file.startsWith('@'))
                QFile::link(f.fileName(), folder + '/' + file.mid(1));
        }
    }
    SpoolWatch watch() const { return SpoolWatch(m_spool, "alice", {10s, 60s, 150s}); }
    SpoolWatch::Step poll(SpoolWatch& watch, int state, std::chrono::milliseconds at) const
    {
        return watch.poll(state, m_t0 + at);
    }
    // A started monitor whose jobs go to handler, polling every 50 ms.
    std::unique_ptr<QPrintJobMonitor> monitor(QPrintJobMonitor::JobHandler handler,
                                              bool keep = false)
    {
        QPrintJobMonitor::Options options{50, {}, std::move(handler), keep};
        options.Watch.RetryFirst = 1500ms;
        auto m = std::make_unique<QPrintJobMonitor>(options);
        m->setRunning(true);
        m->StartMonitor();
        return m;
    }

private slots:
    void init()
    {
        QDir(m_spool).removeRecursively();
        QDir().mkpath(m_spool);
        chmod(QFile::encodeName(m_spool).constData(), 0700);
        m_nMonitorFolderState = 0;
    }

    // GetJobInfo on options files as the backend writes them.
    void jobOptions_data()
    {
        QTest::addColumn<QByteArray>("options"); // null: no options file
        QTest::addColumn<QString>("doc");        // DocName, stored in GBK
        QTest::addColumn<QString>("fields");     // DuplexMode ColorMode, copies, pages, paper
        const auto row = [](const char* name, const QByteArray& options, const QString& doc,
                            const char* fields) {
            QTest::newRow(name) << options << doc << QString(fields);
        };
        row("only copies, impressions, size", "copies=3 job-impressions=12 PageSize=A3\n",
            "TEST.pdf", "SM 3 4 A3");
        row("no options file", QByteArray(), "TEST.pdf", "SM 1 1 A4");
        row("a full job line",
            "job-uuid=urn:uuid:0c1f-77 job-originating-host-name=localhost number-up=1 "
            "PageSize=A4 Duplex=DuplexNoTumble ColorModel=RGB job-impressions=6 copies=2 "
            "title='Microsoft Word - 季度 报告.docx'\n",
            "季度 报告.docx", "VC 2 3 A4");
        row("short edge, CMYK", "Duplex=DuplexTumble ColorModel=CMYK", "TEST.pdf", "HC 1 1 A4");
        row("Duplex None, Gray", "Duplex=None ColorModel=Gray", "TEST.pdf", "SM 1 1 A4");
        row("colour is exact", "ColorModel=rgb", "TEST.pdf", "SM 1 1 A4");
        row("RGBW is no colour", "ColorModel=RGBW", "TEST.pdf", "SM 1 1 A4");
        row("title that is a path", "title=/home/u/a/b.txt", "b.txt", "SM 1 1 A4");
        row("prefixes anywhere", "title=\"Microsoft Excel - a - Microsoft PowerPoint - b\"",
            "a - b", "SM 1 1 A4");
        row("empty after the last slash",
            "title=/tmp/dir/ document-name-supplied='Microsoft PowerPoint - 方案/终稿.pptx'",
            "方案/终稿.pptx", "SM 1 1 A4");
        row("copies 0 never divides", "copies=0 job-impressions=7", "TEST.pdf", "SM 0 7 A4");
        row("not a number", "copies=abc job-impressions=5", "TEST.pdf", "SM 0 5 A4");
        // 30 characters, 60 GBK bytes: cut after 24 characters, NUL in byte 48.
        row("over-long title", "title=" + QByteArray("文").repeated(30), QString(24, u'文'),
            "SM 1 1 A4");
    }

    void jobOptions()
    {
        QFETCH(QByteArray, options);
        QTemporaryDir dir;
        QVERIFY(options.isNull() || writeFile(dir.filePath("options"), options));
        MobilePrintTaskInfo info;
        memset(&info, 0x55, sizeof info);
        memset(info.DocName, 0, sizeof info.DocName);
        strcpy(info.DocName, "TEST.pdf");
        GetJobInfo(&info, dir.filePath("options"));

        QByteArray expected = UTF82GBK(fetch<QString>("doc").toUtf8().constData());
        expected.append(QByteArray(int(sizeof info.DocName) - expected.size(), '\0'));
        QCOMPARE(QByteArray(info.DocName, sizeof info.DocName), expected);
        QTEST(QString::asprintf("%c%c %d %d %s", info.DuplexMode, info.ColorMode, info.Copies,
                                info.PageCount, info.PaperSize),
              "fields");
        QCOMPARE(info.PaperSize[sizeof info.PaperSize - 1], '\0');
        QVERIFY(info.JobState == 0x55555555 && info.Orientation == '\x55'); // not filled: kept
    }

    void printerList_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("printWay");
        QTest::addColumn<QStringList>("items"); // enabled unless card swipe is all
        const auto row = [](const char* name, const QByteArray& reply, int way,
                            const QStringList& items) {
            QTest::newRow(name) << reply << way << items;
        };
        row("two of five", QByteArray("5\0A\0B\0\0", 7), 1, {"刷卡打印", "A", "B"});
        row("print way 2", QByteArray("5\0A\0B\0\0", 7), 2, {"A", "B"});
        row("every printer", QByteArray("2\0A\0B\0\0", 7), 1, {"刷卡打印"});
        row("no name", QByteArray("3\0\0", 3), 1, {"刷卡打印"});
        row("GBK name up to the end", QByteArray("5\0", 2) + UTF82GBK("3楼"), 1,
            {"刷卡打印", "3楼"});
        row("one byte left is no name", QByteArray("5\0A\0B", 5), 1, {"刷卡打印", "A"});
        row("total not a number", QByteArray("x\0A\0\0", 5), 1, {"刷卡打印"});
    }

    void printerList()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, items);
        // Exactly the reply's bytes on the heap: the sanitizer build catches a read past them.
        std::vector<char> bytes(reply.begin(), reply.end());
        const PrinterChoices choices = BuildPrinterChoices(
            ParsePrinterList(bytes.data(), bytes.size()), fetch<int>("printWay"));
        QCOMPARE(choices.Items, items);
        QCOMPARE(choices.Enabled, items != QStringList{"刷卡打印"});
    }

    void secretLevels()
    {
        // 公开, 内部 with a note, empty names, a count beyond the block; cut at the user's level.
        std::vector<unsigned char> block(TavUserRecord::kUserInfoExSize, 0);
        qToLittleEndian<qint32>(1000, block.data());
        char* entries = reinterpret_cast<char*>(block.data()) + 4;
        CopyText(entries, 50, UTF82GBK("公开").constData());
        CopyText(entries + 364, 50, UTF82GBK("内部").constData());
        CopyText(entries + 364 + 50, 50, UTF82GBK("项目").constData());
        QCOMPARE(SecretLevelItems(block.data(), block.size(), 99),
                 QStringList({"公开", "内部(项目)"}));
        QCOMPARE(SecretLevelItems(block.data(), block.size(), 1), QStringList{"公开"});
    }

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
            << QStringList{"b:job.pdf,options", "A:job.pdf,options"} << "A" << 2;
        QTest::newRow("the first one decides")
            << QStringList{"a:job.pdf", "b:job.pdf,options"} << "" << 1;
        QTest::newRow("hidden folder and file")
            << QStringList{".a:job.pdf,options", "b:job.pdf,options,.x"} << "b" << 2;
        QTest::newRow("link to a folder") << QStringList{"@a:job.pdf,options"} << "" << 0;
        QTest::newRow("document is a link") << QStringList{"a:@job.pdf,options"} << "" << 1;
    }

    void twoFileRule()
    {
        QFETCH(QStringList, jobs);
        QFETCH(int, state);
        for (const QString& job : jobs)
            makeJob(job.section(':', 0, 0), job.section(':', 1));
        SpoolWatch w = watch();
        SpoolWatch::Step step = poll(w, 0, 0ms);
        QTEST(step.HandOver, "handed");
        QCOMPARE(step.State, state);
        QCOMPARE(step.Perform && step.ResetProgress, state == 1);
        // Still being written: the progress goes on, nothing is handed over.
        for (int i = 1; state == 1 && i < 4; ++i) {
            step = poll(w, 1, i * 1s);
            QVERIFY(step.State == 1 && step.Perform && !step.ResetProgress);
        }
    }

    // Stuck past the grace period: set aside, else left out for the longest retry time.
    void incompleteJobs()
    {
        makeJob("a", "job.pdf");
        makeJob("b", "job.pdf");
        makeJob("c");
        for (int n = 0; n < 100; ++n)
            QVERIFY(QDir().mkpath(m_spool + "/.incomplete-b" + (n ? QString("-%1").arg(n) : "")));
        SpoolWatch w = watch();
        QCOMPARE(poll(w, 0, 0ms).State, 1);
        QCOMPARE(poll(w, 1, 9s).State, 1);
        makeJob("a", "job.pdf");
        QCOMPARE(poll(w, 1, 11s).State, 1);
        QCOMPARE(poll(w, 1, 20s).State, 1);
        QCOMPARE(poll(w, 1, 21s).State, 0);
        QVERIFY(QFileInfo::exists(m_spool + "/.incomplete-a/job.pdf"));
        QCOMPARE(poll(w, 0, 22s).State, 1);
        QCOMPARE(poll(w, 1, 32s).State, 0);
        QVERIFY(QFileInfo::exists(m_spool + "/b/job.pdf"));
        QCOMPARE(poll(w, 0, 33s).HandOver, QString("c"));
        QDir(m_spool + "/c").removeRecursively();
        w.jobDone(SpoolWatch::Outcome::Removed, m_t0 + 34s);
        QCOMPARE(poll(w, 0, 181s).State, 0); // b left out until 32 s + 150 s
        QCOMPARE(poll(w, 0, 182s).State, 1);
    }

    void failedJobComesBackLater()
    {
        makeJob("a");
        makeJob("b");
        SpoolWatch w = watch();
        QCOMPARE(poll(w, 0, 0ms).HandOver, QString("a"));
        w.jobDone(SpoolWatch::Outcome::Failed, m_t0 + 1s);
        QCOMPARE(poll(w, 0, 1s).HandOver, QString("b")); // the next job goes on
        QDir(m_spool + "/b").removeRecursively();
        w.jobDone(SpoolWatch::Outcome::Removed, m_t0 + 2s);
        // a back after 60 s, then twice as long each time, up to the cap of 150 s.
        for (auto due : {61s, 182s, 333s, 484s}) {
            QCOMPARE(poll(w, 0, due - 1s).State, 0);
            QCOMPARE(poll(w, 0, due).HandOver, QString("a"));
            w.jobDone(SpoolWatch::Outcome::Failed, m_t0 + due + 1s);
        }
        w.retryAllNow(); // a new online session
        QCOMPARE(poll(w, 0, 486s).HandOver, QString("a"));
    }

    // Nothing is taken from a folder another user could have changed; a missing one is made.
    void unsafeSpoolFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a link") << "link";
        QTest::newRow("writable by others") << "open";
        QTest::newRow("writable by its group") << "group";
        QTest::newRow("another user's") << "foreign";
        QTest::newRow("missing") << "missing";
    }

    void unsafeSpoolFolder()
    {
        QFETCH(QString, kind);
        makeJob("j");
        const QByteArray path = QFile::encodeName(m_spool);
        if (kind == "link") {
            QVERIFY(QDir().rename(m_spool, m_root.path() + "/planted"));
            QVERIFY(QFile::link(m_root.path() + "/planted", m_spool));
        } else if (kind == "open" || kind == "group") {
            QCOMPARE(chmod(path.constData(), kind == "open" ? 0777 : 0770), 0);
        } else if (kind == "missing") {
            QVERIFY(QDir(m_spool).removeRecursively());
        } else if (geteuid() != 0) {
            QSKIP("needs root to give the folder away");
        } else {
            QCOMPARE(chown(path.constData(), 65534, 65534), 0); // nobody, not alice
        }
        SpoolWatch w = watch();
        QCOMPARE(poll(w, 0, 0ms).State, 0);
        QCOMPARE(QFileInfo::exists(m_spool), kind != "missing");
        poll(w, 0, 2s);
        QVERIFY(kind != "missing" || (modeOf(m_spool) == 0700 && QFileInfo(m_spool).isDir()));
        QFile::remove(m_spool);
    }

    void outcomes_data()
    {
        QTest::addColumn<int>("outcome"); // -1: the handler throws
        QTest::addColumn<bool>("keep");
        QTest::addColumn<int>("againAfterMs"); // -1: not again (folder removed)
        QTest::addColumn<QString>("box");
        QTest::newRow("submitted") << int(Outcome::Submitted) << false << -1 << "";
        QTest::newRow("cancelled") << int(Outcome::Cancelled) << false << -1 << "";
        QTest::newRow("quota refused") << int(Outcome::Refused) << false << -1 << "";
        QTest::newRow("no printer") << int(Outcome::Dropped) << false << -1 << "";
        QTest::newRow("upload failed") << int(Outcome::Failed) << false << 1500 << "";
        QTest::newRow("exception") << -1 << false << 1500 << "错误|save printjob failed.";
        QTest::newRow("keep flag") << int(Outcome::Submitted) << true << 0 << "";
    }

    void outcomes()
    {
        QFETCH(int, outcome);
        QFETCH(int, againAfterMs);
        QFETCH(bool, keep);
        BoxRecorder boxes;
        makeJob("j");
        QList<qint64> calls;
        QElapsedTimer clock;
        clock.start();
        auto handler = [&](OrixUser*, const CapturedJob&) {
            calls << clock.elapsed();
            if (outcome < 0)
                throw RpcFailure(RpcResult::kExchangeFailed);
            return Outcome(outcome);
        };
        auto m = monitor(handler, keep);
        QTRY_COMPARE(calls.size(), 1);
        QTRY_COMPARE(m_nMonitorFolderState.load(), 0);
        QCOMPARE(QFileInfo::exists(m_spool + "/j"), againAfterMs >= 0);
        QTEST(boxes.boxes.value(0, "").section('\n', 0, 0), "box");
        if (againAfterMs < 0) {
            QTest::qWait(300);
            QCOMPARE(calls.size(), 1);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(calls.size(), 2, 5000);
        QVERIFY(calls[1] - calls[0] >= againAfterMs);
    }

    // A job whose upload failed is listed as kept; "重新提交" offers it again at once (not after
    // its retry time), and a job sent is no longer kept; "删除" removes its folder, and nothing
    // outside the spool folder or being handled can be removed.
    void keptJobs()
    {
        JobHistory history(m_root.path() + "/history");
        JobHistory::setCurrent(&history);
        makeJob("k");
        int calls = 0;
        Outcome next = Outcome::Failed;
        // Its retry time is an hour away: only the user's choice brings it back.
        QPrintJobMonitor::Options options{50,
                                          {},
                                          [&](OrixUser*, const CapturedJob&) {
                                              ++calls;
                                              return next;
                                          },
                                          false};
        options.Watch.RetryFirst = 1h;
        auto m = std::make_unique<QPrintJobMonitor>(options);
        m->setRunning(true);
        m->StartMonitor();
        QTRY_COMPARE(history.keptCount(), 1);
        QCOMPARE(history.jobs().at(0).Folder, m_spool + "/k");
        QTRY_COMPARE(m_nMonitorFolderState.load(), 0);
        next = Outcome::Submitted;
        QVERIFY(!m->retryKeptJob(m_root.path() + "/k"));
        QVERIFY(!m->retryKeptJob(m_spool + "/../k"));
        QVERIFY(m->retryKeptJob(m_spool + "/k"));
        QTRY_COMPARE(calls, 2);
        QTRY_COMPARE(history.keptCount(), 0);
        QTRY_VERIFY(!QFileInfo::exists(m_spool + "/k"));

        makeJob("r");
        next = Outcome::Failed;
        QTRY_COMPARE(history.keptCount(), 1);
        QTRY_COMPARE(m_nMonitorFolderState.load(), 0);
        m->StopMonitor();
        QVERIFY(!m->removeKeptJob(m_root.path() + "/elsewhere"));
        QVERIFY(m->removeKeptJob(m_spool + "/r"));
        QVERIFY(!QFileInfo::exists(m_spool + "/r"));
        QCOMPARE(history.keptCount(), 0);
        JobHistory::setCurrent(nullptr);
    }

    void stopWhileDialogOpen()
    {
        makeJob("a");
        QStringList seen;
        std::unique_ptr<QPrintJobMonitor> m;
        m = monitor([&](OrixUser*, const CapturedJob& job) {
            seen << QFileInfo(job.Folder).fileName();
            if (seen.size() == 1) { // offline while the dialog is open; a job arrives
                m->StopMonitor();
                makeJob("b");
                QTest::qWait(200);
            }
            return Outcome::Submitted;
        });
        QTRY_COMPARE(m_nMonitorFolderState.load(), 0);
        QTRY_VERIFY(!QFileInfo::exists(m_spool + "/a"));
        QTest::qWait(300);
        QCOMPARE(seen, QStringList{"a"}); // nothing looked at while stopped
        m->setRunning(true);
        m->StartMonitor();
        QTRY_COMPARE(seen, (QStringList{"a", "b"}));
    }

    // Progress by 4 up to 80, then by 1, while the first job is written; then the jobs in order.
    void orderAndProgress()
    {
        makeJob("A", "job.pdf");
        makeJob("b");
        QStringList seen;
        auto m = monitor([&](OrixUser*, const CapturedJob& job) {
            seen << QFileInfo(job.Folder).fileName() + QString::number(m_nMonitorFolderState) +
                        (QFileInfo::exists(m_spool + "/A") ? " A here" : " A gone");
            return Outcome::Submitted;
        });
        QProgressDialog* progress = m->progressDialog();
        QList<int> values;
        connect(progress->findChild<QProgressBar*>(), &QProgressBar::valueChanged, this,
                [&](int v) { values << v; });
        QTRY_VERIFY(progress->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(values.size() >= 25, 5000);
        QList<int> expected;
        for (int v = 0; v <= 84; v += v < 80 ? 4 : 1)
            expected << v;
        QCOMPARE(values.mid(0, expected.size()), expected);
        QCOMPARE(seen, QStringList());
        makeJob("A", "options");
        QTRY_COMPARE(seen, (QStringList{"A2 A here", "b2 A gone"}));
        QTRY_VERIFY(!progress->isVisible());
        QTRY_VERIFY(!QFileInfo::exists(m_spool + "/b"));
        QTRY_COMPARE(m_nMonitorFolderState.load(), 0);
        m->StopMonitor();
        QVERIFY(!m->progressDialog());
    }
};

QTEST_MAIN(TestPrintJobMonitor)
#include "tst_printjobmonitor.moc"
