// The session's submission of a job against the development server, through
// a relay that keeps the requests: quota check, payer mapping, refusal,
// upload and the payer and project of the stored job; and a user with a
// Chinese logon name in both string modes of the client.

#include "DComLayerWS.h"
#include "DevServerProcess.h"
#include "MessageBoxes.h"
#include "OrixUser.h"
#include "RawHttpServer.h"
#include "TavCommon.h"
#include "TestRoot.h"
#include "TextUtil.h"

#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <thread>

namespace
{

// Each request as its operation, followed by the quota request or the SQL
// of an ExcuteSQL.
QStringList calls(const QList<RawHttpServer::Request>& requests)
{
    static const QRegularExpression op("<ns:(\\w+)"), detail("<(?:pJsonJobParam|strSQL)>([^<]*)<");
    QStringList list;
    for (const RawHttpServer::Request& r : requests) {
        const QString body = QString::fromUtf8(r.body.constData(), r.body.size())
                                 .replace("&quot;", "\"")
                                 .replace("&apos;", "'");
        list << (op.match(body).captured(1) + ' ' + detail.match(body).captured(1)).trimmed();
    }
    return list;
}

} // namespace

class TestSubmission : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    QStringList m_boxes;
    DevServerProcess m_server;
    RawHttpServer m_relay;               // to m_server, keeping the requests
    std::unique_ptr<OrixUser> m_zhaoliu; // payers 201 (a group's) and 202 (his own)

    // A job of pages x copies with a small document, ready to submit.
    void prepareJob(OrixUser& user, int pages, int copies)
    {
        MobilePrintTaskInfo& job = user.MobileTaskInfo;
        memset(&job, 0, sizeof job);
        strcpy(job.UserName, user.UserName);
        strcpy(job.DocName, "job.pdf");
        strcpy(job.PaperSize, "A3");
        job.ColorMode = 'M';
        job.DuplexMode = 'S';
        job.PageCount = pages;
        job.Copies = copies;
        QFile f(m_root.path() + "/job.pdf");
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(QByteArray(1000, 'j')) == 1000);
        strcpy(user.DocumentPath, QFile::encodeName(f.fileName()).constData());
    }

private slots:
    void initTestCase()
    {
        MessageBoxes::setInformationHook(
            [this](QWidget*, const QString& title, const QString& text) {
                m_boxes << title + '|' + text;
            });
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_relay.forwardTo(m_server.port());
        m_zhaoliu.reset(new OrixUser);
        OrixUser& user = *m_zhaoliu;
        CopyText(user.ServerAddress, sizeof user.ServerAddress, "127.0.0.1");
        CopyText(user.RpcPort, sizeof user.RpcPort, m_relay.portText().constData());
        CopyText(user.UserName, sizeof user.UserName, "zhaoliu");
        CopyText(user.Password, sizeof user.Password, kSeedPasswordDigest);
        QCOMPARE(user.Logon(), 0);
        QCOMPARE(user.PayerCount, 2);
    }
    void cleanupTestCase() { MessageBoxes::setInformationHook({}); }

    void payers_data()
    {
        QTest::addColumn<bool>("costControl");
        QTest::addColumn<bool>("project");
        QTest::addColumn<int>("payerType");
        QTest::addColumn<int>("payer"); // the payer chosen in the dialog
        QTest::addColumn<bool>("group");
        QTest::addColumn<int>("pages");  // of one copy
        QTest::addColumn<int>("copies"); // 0: refused, nothing uploaded
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("stored"); // PayerID PayerType ProjectID
        const QString quota =
            "QuotaVerification {\"PayerType\":%1,\"PayerID\":%2,\"TotalPages\":%3,"
            "\"PaperWidth\":210,\"PaperHeight\":297,\"TaskID\":0,\"PrinterName\":"
            "\"\",\"Color\":\"M\",\"Duplex\":\"S\",\"PaperSize\":\"A3\"}";
        const QString update = "ExcuteSQL UPDATE PrintProcTask SET PayerID=%1,PayerType=%2,"
                               "ProjectID = %3 WHERE SPLFileName='";
        QTest::newRow("type 6, group payer")
            << true << false << 6 << 201 << true << 4 << 3
            << QStringList{quota.arg(2).arg(201).arg(12), "SaveMobilePrintJob",
                           update.arg(201).arg(2).arg(0)}
            << "201 2 0";
        QTest::newRow("type 6, own payer: 10 pages of 1 yuan")
            << true << false << 6 << 202 << false << 5 << 2
            << QStringList{quota.arg(4).arg(202).arg(10), "SaveMobilePrintJob",
                           update.arg(202).arg(4).arg(202)}
            << "202 4 202";
        QTest::newRow("type 6, own payer: 12 pages refused")
            << true << false << 6 << 202 << false << 4 << 3
            << QStringList{quota.arg(4).arg(202).arg(12)} << "";
        QTest::newRow("type 2: the first payer of the list, check box cleared")
            << true << false << 2 << 202 << false << 1 << 1
            << QStringList{quota.arg(2).arg(201).arg(1), "SaveMobilePrintJob",
                           update.arg(201).arg(2).arg(0)}
            << "201 2 0";
        QTest::newRow("project payer, no cost control")
            << false << true << 4 << 102 << false << 1 << 1
            << QStringList{"SaveMobilePrintJob", update.arg(102).arg(4).arg(102)} << "102 4 102";
        QTest::newRow("check box cleared, no cost control: no project update")
            << false << false << 4 << 102 << false << 1 << 1 << QStringList{"SaveMobilePrintJob"}
            << "0 0 0";
    }

    void payers()
    {
        QFETCH(bool, costControl);
        QFETCH(bool, project);
        QFETCH(int, payerType);
        QFETCH(int, payer);
        QFETCH(bool, group);
        QFETCH(int, pages);
        QFETCH(int, copies);
        OrixUser& user = *m_zhaoliu;
        user.IsSupportCostControl = costControl;
        user.IsSupportProject = project;
        user.PayerType = payerType;
        user.SelectedPayer.PayerID = payer;
        user.SelectedPayerIsGroup = group;
        prepareJob(user, pages, copies);
        const qlonglong before = m_server.scalar("SELECT count(*) FROM Uploads").toLongLong();
        m_relay.clearRequests();
        m_boxes.clear();

        QFETCH(QString, stored);
        QCOMPARE(user.SaveMobileJob(), stored.isEmpty() ? 0 : 1);
        QStringList made = calls(m_relay.requests());
        if (!made.isEmpty() && made.last().startsWith("ExcuteSQL"))
            made.last() = made.last().section('\'', 0, 0) + '\''; // without the stored name
        QTEST(made, "calls");
        if (stored.isEmpty()) {
            QCOMPARE(m_boxes, QStringList{"错误|余额不足，无法提交作业！请联系管理员进行充值！"});
            QCOMPARE(m_server.scalar("SELECT count(*) FROM Uploads").toLongLong(), before);
            return;
        }
        QVERIFY(m_boxes.isEmpty());
        const QVariantList row =
            m_server
                .query("SELECT PayerID || ' ' || PayerType || ' ' || ProjectID, "
                       "UserName, JobState, PageCount * Copies FROM "
                       "PrintProcTask ORDER BY TaskID DESC LIMIT 1")
                .value(0);
        QCOMPARE(row, (QVariantList{stored, "zhaoliu", 20LL, qlonglong(pages * copies)}));
    }

    void logonWaitsForTheJobUnderWay()
    {
        // A logon (after an outage, say) rewrites the payer list that a job
        // being submitted reads: it starts only once the job is on the server.
        OrixUser& user = *m_zhaoliu;
        user.IsSupportCostControl = false;
        user.IsSupportProject = true;
        user.PayerType = 4;
        user.SelectedPayer.PayerID = 102;
        prepareJob(user, 1, 1);
        m_relay.clearRequests();
        m_relay.delayNext("<ns:SaveMobilePrintJob", 800);
        int submitted = -1;
        int logon = -1;
        std::thread job([&] { submitted = user.SaveMobileJob(); });
        QTest::qWait(200);
        std::thread relogon([&] { logon = user.Logon(); });
        job.join();
        relogon.join();
        QCOMPARE(submitted, 1);
        QCOMPARE(logon, 0);
        const QStringList made = calls(m_relay.requests());
        QVERIFY2(made.indexOf("UserLogon") > made.indexOf(QRegularExpression("ExcuteSQL UPDATE.*")),
                 qPrintable(made.join('\n')));
    }

    void chineseUser_data()
    {
        QTest::addColumn<QString>("strings");
        QTest::newRow("Latin-1 strings (any port but 8085)") << "latin1";
        QTest::newRow("UTF-8 strings (port 8085)") << "utf8";
    }

    void chineseUser()
    {
        // The logon name, the SQL texts and the payer query carry Chinese in
        // the client's string mode; the server must read them the same way.
        QFETCH(QString, strings);
        DevServerProcess server;
        server.setStrings(strings);
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        const bool utf8 = strings == "utf8";
        OrixUser user;
        // Port text "8085" switches the client to UTF-8; the path part of
        // the endpoint then carries it while the real port is the server's.
        const QByteArray address =
            "127.0.0.1" + (utf8 ? ":" + QByteArray::number(server.port()) + "/" : QByteArray());
        CopyText(user.ServerAddress, sizeof user.ServerAddress, address.constData());
        CopyText(user.RpcPort, sizeof user.RpcPort,
                 utf8 ? "8085" : QByteArray::number(server.port()).constData());
        CopyText(user.UserName, sizeof user.UserName, "陈小明");
        CopyText(user.Password, sizeof user.Password, kSeedPasswordDigest);
        QCOMPARE(user.Logon(), 0);
        QCOMPARE(QString::fromUtf8(user.FullName), QString("陈小明"));
        QCOMPARE(user.UserId, 201);
        QVERIFY(user.IsSupportCostControl);
        QCOMPARE(user.PayerCount, 2);
        // Payer names: GB18030 bytes with Latin-1 strings, characters (held
        // as UTF-8) with UTF-8 strings.
        const QString own = "陈小明个人账户";
        QCOMPARE(QByteArray(user.Payers[1].PayerName),
                 utf8 ? own.toUtf8() : UTF82GBK(own.toUtf8().constData()));

        user.SelectedPayer = user.Payers[1];
        user.SelectedPayerIsGroup = user.Payers[1].IsGroup;
        prepareJob(user, 2, 1);
        QCOMPARE(user.SaveMobileJob(), 1);
        QCOMPARE(server
                     .query("SELECT UserName, PayerID, ProjectID FROM PrintProcTask "
                            "WHERE UserID = 201")
                     .value(0),
                 (QVariantList{"陈小明", 302LL, 302LL}));
        const QString jobs = server.jobs();
        QVERIFY2(jobs.contains("  user: 陈小明\n") && jobs.contains("  payer: 302 (type 4)\n"),
                 qPrintable(jobs));
    }
};

QTEST_MAIN(TestSubmission)
#include "tst_submission.moc"
