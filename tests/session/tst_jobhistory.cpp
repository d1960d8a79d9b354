// The user's list of recent jobs: states from the server's notices, matching a notice to its job,
// the order, the bounds, the file it is kept in, and the table model over it.

#include "JobHistory.h"
#include "JobHistoryModel.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <thread>

Q_DECLARE_METATYPE(JobState)

namespace
{

constexpr qint64 kDay = 24LL * 3600 * 1000;
constexpr qint64 kNow = 1760000000000LL; // a fixed "now" for the clock

JobEntry job(const QString& name, qint64 at, JobState state = JobState::Submitted)
{
    JobEntry e;
    e.Document = name;
    e.Pages = 3;
    e.Copies = 2;
    e.Printer = QStringLiteral("HP-2楼");
    e.SubmittedAt = at;
    e.State = state;
    return e;
}

JobEntry kept(const QString& folder, qint64 at)
{
    JobEntry e = job(QStringLiteral("kept.pdf"), at, JobState::Kept);
    e.Folder = folder;
    return e;
}

int fileMode(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class tst_JobHistory : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString folder() const { return m_dir.path() + "/data/OrixClient"; }
    void fixedClock(JobHistory& h) const
    {
        h.setClock([] { return kNow; });
    }

private slots:
    void init() { QDir(m_dir.path() + "/data").removeRecursively(); }

    void noticeStates_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("audit");
        QTest::addColumn<bool>("hasAudit");
        QTest::addColumn<bool>("tells");
        QTest::addColumn<JobState>("state");
        QTest::newRow("received") << 0 << 0 << false << true << JobState::Received;
        QTest::newRow("approval asked") << 2 << 0 << true << true << JobState::WaitingApproval;
        QTest::newRow("approval, no code") << 2 << 0 << false << true << JobState::WaitingApproval;
        QTest::newRow("approved") << 2 << 1 << true << true << JobState::Approved;
        QTest::newRow("refused") << 12 << 2 << true << true << JobState::Refused;
        QTest::newRow("odd audit code") << 2 << 5 << true << false << JobState::Received;
        QTest::newRow("to the printer") << 3 << 0 << false << true << JobState::Printing;
        QTest::newRow("printing") << 4 << 0 << false << true << JobState::Printing;
        QTest::newRow("printed") << 512 << 0 << false << true << JobState::Printed;
        QTest::newRow("failed") << 511 << 0 << false << true << JobState::Failed;
        QTest::newRow("failure 520") << 520 << 0 << false << true << JobState::Failed;
        QTest::newRow("cancelled by time") << 514 << 0 << false << true << JobState::Failed;
        QTest::newRow("refused 515") << 515 << 0 << false << true << JobState::Refused;
        QTest::newRow("unknown type") << 7 << 0 << false << false << JobState::Received;
        QTest::newRow("cancelled by the user") << 706 << 0 << false << true << JobState::Failed;
        QTest::newRow("copy approval") << 642 << 1 << true << false << JobState::Received;
        QTest::newRow("disc request") << 2560 << 0 << false << false << JobState::Received;
    }
    void noticeStates()
    {
        QFETCH(int, type);
        QFETCH(int, audit);
        QFETCH(bool, hasAudit);
        QFETCH(bool, tells);
        QFETCH(JobState, state);
        JobState got = JobState::Received;
        QCOMPARE(NoticeState(type, audit, hasAudit, &got), tells);
        if (tells)
            QCOMPARE(got, state);
    }

    // Kept jobs first, then newest first; a notice goes to the newest job of its name sent
    // before it, within the week; a job sent after the notice (beyond the clocks' grace) or a
    // kept one never gets it.
    void orderAndMatching()
    {
        JobHistory h(folder());
        fixedClock(h);
        h.record(job("a.pdf", kNow - 3 * kDay));
        h.record(job("a.pdf", kNow - 2 * kDay));
        h.record(job("b.pdf", kNow - kDay));
        h.record(kept("/spool/k1", kNow - 5 * kDay));
        QCOMPARE(h.jobs().size(), 4);
        QVERIFY(h.jobs().at(0).isKept());
        QCOMPARE(h.jobs().at(1).Document, QString("b.pdf"));
        QCOMPARE(h.jobs().at(2).SubmittedAt, kNow - 2 * kDay);

        QSignalSpy changed(&h, &JobHistory::entryChanged);
        QVERIFY(h.notice(2, 0, true, "a.pdf", kNow - kDay));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).toInt(), 2);
        QCOMPARE(h.jobs().at(2).State, JobState::WaitingApproval);
        QCOMPARE(h.jobs().at(3).State, JobState::Submitted);
        QVERIFY(h.notice(512, 0, false, "a.pdf", kNow));
        QCOMPARE(h.jobs().at(2).State, JobState::Printed);
        QCOMPARE(h.jobs().at(2).Notices.size(), 2);

        QVERIFY(!h.notice(512, 0, false, "b.pdf", kNow - kDay - 2 * JobHistory::kClockGraceMs));
        QVERIFY(!h.notice(512, 0, false, "b.pdf", kNow + 8 * kDay));
        QVERIFY(!h.notice(512, 0, false, "kept.pdf", kNow));
        QVERIFY(!h.notice(512, 0, false, "none.pdf", kNow));
        QVERIFY(!h.notice(7, 0, false, "b.pdf", kNow)); // tells no state
        QCOMPARE(h.jobs().at(1).State, JobState::Submitted);
    }

    // A kept job is listed once per folder; sending it again replaces it; forgetting removes it.
    void keptJobs()
    {
        JobHistory h(folder());
        h.keep("/spool/alice/job-1");
        h.keep("/spool/alice/job-1");
        QCOMPARE(h.keptCount(), 1);
        QCOMPARE(h.jobs().at(0).Document, QString("job-1"));
        h.record(kept("/spool/alice/job-1", 0)); // the dialog's details replace the bare entry
        QCOMPARE(h.jobs().size(), 1);
        QCOMPARE(h.jobs().at(0).Document, QString("kept.pdf"));
        JobEntry sent = job("kept.pdf", 0);
        sent.Folder = "/spool/alice/job-1";
        h.record(sent); // sent again: no longer kept
        QCOMPARE(h.keptCount(), 0);
        QCOMPARE(h.jobs().size(), 1);
        QVERIFY(h.jobs().at(0).Folder.isEmpty());
        h.keep("/spool/alice/job-2");
        h.forget("/spool/alice/job-2");
        QCOMPARE(h.keptCount(), 0);
    }

    // The newest 200 stay whatever their age; beyond them only jobs of the last 90 days.
    void bounds()
    {
        JobHistory h(folder());
        fixedClock(h);
        for (int i = 0; i < 230; ++i)
            h.record(job(QString("old%1").arg(i), kNow - 100 * kDay + i));
        QCOMPARE(h.jobs().size(), JobHistory::kMostRecent);
        QCOMPARE(h.jobs().last().Document, QString("old30"));
        for (int i = 0; i < 250; ++i)
            h.record(job(QString("new%1").arg(i), kNow - kDay + i));
        QCOMPARE(h.jobs().size(), 250); // all recent; the old ones went beyond the newest 200
        h.record(kept("/spool/k", kNow - 200 * kDay));
        QCOMPARE(h.jobs().size(), 251);
        QVERIFY(h.jobs().at(0).isKept()); // kept jobs are never pruned
    }

    // Across runs, in a private folder and file holding names and numbers only; an unreadable,
    // foreign or broken file counts as an empty list and is replaced.
    void storage()
    {
        {
            JobHistory h(folder());
            JobEntry e = job("报告.pdf", kNow);
            h.record(e);
            QVERIFY(h.notice(0, 0, false, "报告.pdf", kNow + 1000));
            h.keep("/spool/alice/j9");
        }
        QCOMPARE(fileMode(folder()), 0700);
        QCOMPARE(fileMode(folder() + "/jobs.json"), 0600);
        JobHistory again(folder());
        QCOMPARE(again.jobs().size(), 2);
        QCOMPARE(again.jobs().at(0).Folder, QString("/spool/alice/j9"));
        const JobEntry& e = again.jobs().at(1);
        QCOMPARE(e.Document, QString("报告.pdf"));
        QCOMPARE(e.Printer, QStringLiteral("HP-2楼"));
        QCOMPARE(e.Pages, 3);
        QCOMPARE(e.Copies, 2);
        QCOMPARE(e.State, JobState::Received);
        QCOMPARE(e.Notices.size(), 1);

        QFile f(folder() + "/jobs.json");
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write("{\"jobs\": [ {\"doc\": tru");
        f.close();
        QVERIFY(JobHistory(folder()).jobs().isEmpty());
        QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::WriteOther |
                                 QFile::ReadOther));
        {
            JobHistory exposed(folder());
            QVERIFY(exposed.jobs().isEmpty());
            exposed.record(job("x.pdf", kNow));
        }
        QCOMPARE(fileMode(folder() + "/jobs.json"), 0600);
        QCOMPARE(JobHistory(folder()).jobs().size(), 1);
    }

    // Notices fetched by a worker reach the current history in its own thread.
    void postFromWorker()
    {
        JobHistory h(folder());
        JobHistory::setCurrent(&h);
        h.record(job("w.pdf", 0));
        std::thread worker([] { JobHistory::post(4, QByteArray("w.pdf|P1|0|0")); });
        worker.join();
        QTRY_COMPARE(h.jobs().at(0).State, JobState::Printing);
        JobHistory::setCurrent(nullptr);
        JobHistory::post(512, "w.pdf|P1|0|0"); // no history: dropped
        QCoreApplication::processEvents();
        QCOMPARE(h.jobs().at(0).State, JobState::Printing);
    }

    void model()
    {
        JobHistory h(folder());
        JobHistoryModel m(&h);
        QCOMPARE(m.rowCount(), 0);
        QCOMPARE(m.columnCount(), JobHistoryModel::kColumns);
        QSignalSpy reset(&m, &QAbstractItemModel::modelReset);
        JobEntry e = job("m.pdf", kNow);
        e.Printer.clear();
        h.record(e);
        QCOMPARE(reset.count(), 1);
        QCOMPARE(m.rowCount(), 1);
        QCOMPARE(m.index(0, JobHistoryModel::DocumentColumn).data().toString(), QString("m.pdf"));
        QCOMPARE(m.index(0, JobHistoryModel::PrinterColumn).data().toString(), QString("刷卡打印"));
        QCOMPARE(m.index(0, JobHistoryModel::StateColumn).data().toString(), QString("已提交"));
        QSignalSpy data(&m, &QAbstractItemModel::dataChanged);
        QVERIFY(h.notice(2, 0, true, "m.pdf", kNow + 5000));
        QCOMPARE(data.count(), 1);
        QCOMPARE(m.index(0, JobHistoryModel::StateColumn).data().toString(), QString("等待审批"));
        const QStringList lines = m.timeline(0).split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines.at(0).endsWith("已提交"));
        QVERIFY(lines.at(1).endsWith("等待审批"));
    }
};

QTEST_GUILESS_MAIN(tst_JobHistory)
#include "tst_jobhistory.moc"
