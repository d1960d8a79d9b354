// The session against the development server: what a logon fills in, in
// which order it asks the server, and the notices fetched after it.

#include "DevServerProcess.h"
#include "OrixUser.h"
#include "PlantedObject.h"
#include "RawHttpServer.h"
#include "ServerMsgDlg.h"
#include "TestRoot.h"
#include "TextUtil.h"

#include <QLabel>
#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The operation of each request in arrival order; for a field query, the
// operation, a blank and the SQL.
QStringList operations(const QList<RawHttpServer::Request>& requests)
{
    static const QRegularExpression op("<ns:(\\w+)"), sql("<pSQL>([^<]*)</pSQL>");
    QStringList names;
    for (const RawHttpServer::Request& request : requests) {
        const QString text = QString::fromUtf8(request.body).replace("&apos;", "'");
        names << (op.match(text).captured(1) + ' ' + sql.match(text).captured(1)).trimmed();
    }
    return names;
}

} // namespace

class TestSessionServer : public QObject
{
    Q_OBJECT

    DevServerProcess m_server;

private slots:
    void initTestCase() { QVERIFY2(m_server.start(), qPrintable(m_server.errorString())); }

    void plantedObjects_data()
    {
        // What another user of the workstation leaves in the shared folder.
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("foreign"); // owned by another user (needs root to plant)
        QTest::addColumn<bool>("logged");
        QTest::newRow("Last.ini: FIFO") << "Last.ini"
                                        << "fifo" << false << true;
        QTest::newRow("Last.ini: link to the user's file") << "Last.ini"
                                                           << "link" << false << true;
        QTest::newRow("Last.ini: another user's, proposing his server") << "Last.ini"
                                                                        << "file" << true << true;
        QTest::newRow("settings lock: FIFO") << "Last.ini.lock"
                                             << "fifo" << false << false;
        QTest::newRow("settings lock: another user's folder") << "Last.ini.lock"
                                                              << "folder" << true << false;
        QTest::newRow("per-user folder: another user's, with a FIFO")
            << "lisi"
            << "folder+fifo" << true << true;
    }

    void plantedObjects()
    {
        // The client starts, logs on, and finds the remembered logon at the next
        // start, without ever waiting on or writing through the planted object.
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(bool, foreign);
        QFETCH(bool, logged);
        if (foreign && geteuid() != 0)
            QSKIP("planting another user's object needs root (chown to nobody)");
        TestRoot root;
        root.writeConfig("[Debug]\nLevel=2\n");
        const QString path = root.varTmp() + "/" + name;
        const QByteArray at = QFile::encodeName(path);
        QFile notes(root.home() + "/notes.txt");
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("precious") > 0);
        notes.close();
        QVERIFY(PlantedObject::plant(
            path, kind.section('+', 0, 0), foreign,
            "[General]\nServerName=10.6.6.6\nUserName=lisi\nAutoLoginFlag=1\n", notes.fileName()));
        if (kind == "folder+fifo")
            QVERIFY(PlantedObject::plant(path + "/lisi.ini", "fifo", true));
        const QString before = PlantedObject::snapshot(path);

        {
            OrixUser user;
            QCOMPARE(QByteArray(user.ServerAddress), QByteArray("127.0.0.1"));
            QVERIFY(!user.AutoLogon);
            CopyText(user.RpcPort, sizeof user.RpcPort, QByteArray::number(m_server.port()));
            CopyText(user.ServerPort, sizeof user.ServerPort, "8086");
            CopyText(user.UserName, sizeof user.UserName, "lisi");
            CopyText(user.Password, sizeof user.Password, kSeedPasswordDigest);
            user.SavePassword = user.AutoLogon = true;
            QCOMPARE(user.Logon(), 0);
        }
        const OrixUser next;
        QCOMPARE(QByteArrayList({next.ServerAddress, next.UserName, next.Password}).join(' '),
                 QByteArray("127.0.0.1 lisi ") + kSeedPasswordDigest);
        QVERIFY(next.AutoLogon && next.SavePassword);
        QCOMPARE(PlantedObject::snapshot(path), before);
        QFile log(root.programFolder() + "AppLog.txt");
        log.open(QIODevice::ReadOnly);
        QCOMPARE(log.readAll().contains("remembered logon: " + at), logged);
    }

    void nothingRememberedWhenTheSequenceBreaksOff()
    {
        // The server accepts the logon, then the connection is lost: the query
        // that meets it raises the RPC layer's exception, and nothing of the
        // logon is remembered.
        TestRoot root;
        RawHttpServer server;
        server.queueReply(RawHttpServer::soapResponse(
            "<ns:UserLogonResponse><LogResult>0</LogResult></ns:UserLogonResponse>"));
        server.closeWithoutReply();
        OrixUser user;
        CopyText(user.RpcPort, sizeof user.RpcPort, server.portText().constData());
        CopyText(user.UserName, sizeof user.UserName, "lisi");
        user.SavePassword = true;
        QVERIFY_EXCEPTION_THROWN(user.Logon(), unsigned int);
        QCOMPARE(QDir(root.varTmp()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
        QVERIFY(!QDir(root.home() + "/.local").exists());
    }

    void logonAndNotices()
    {
        DevServerProcess& server = m_server;
        TestRoot root;
        root.writeConfig("[Main%20Window]\n2015=\"会议材料;合同\"\n2014=\"x;y\"\n");
        // A relay to the server that keeps the requests it passes on.
        std::unique_ptr<RawHttpServer> relay(new RawHttpServer);
        relay->forwardTo(server.port());
        OrixUser user;
        CopyText(user.ServerAddress, sizeof user.ServerAddress, "127.0.0.1");
        CopyText(user.RpcPort, sizeof user.RpcPort, relay->portText().constData());
        CopyText(user.UserName, sizeof user.UserName, "lisi");
        CopyText(user.Password, sizeof user.Password, kSeedPasswordDigest);
        user.SavePassword = true;
        QCOMPARE(user.Logon(), 0);

        QCOMPARE(QString::fromUtf8(user.FullName), QString("李四"));
        QCOMPARE(user.UserId, 2);
        QCOMPARE(user.GroupId, 2);
        QCOMPARE(QString::fromUtf8(user.GroupName), QString("财务部"));
        QCOMPARE(QByteArray(user.WebsiteAddress), QByteArray("127.0.0.1:8080"));
        QCOMPARE(user.SecretLevel, 2);
        QCOMPARE(user.PrintWay, 2);
        QCOMPARE(user.JobState, 20);
        int entries = 0;
        memcpy(&entries, user.UserInfoEx, sizeof entries);
        QCOMPARE(entries, 4);
        // lisi's own flow 1, cut to his two secret levels; not the configuration's.
        QCOMPARE(user.AuditFlow.FlowID, 1);
        QCOMPARE(user.AuditFlow.Secrets.size(), 2);
        QCOMPARE(QString::fromUtf8(user.AuditFlow.Secrets[1].SecretLevelName), QString("内部"));
        QCOMPARE(QString::fromUtf8(user.AuditFlow.Purposes[1].Name), QString("合同"));
        QVERIFY(user.IsSupportCostControl && !user.IsSupportProject);
        QCOMPARE(user.PayerType, 1);
        QCOMPARE(user.PayerCount, 1);
        QCOMPARE(user.Payers[0].PayerID, 2);
        QVERIFY(QFile::exists(root.varTmp() + "/lisi/lisi.ini"));

        // lisi's one notice, then none.
        QCOMPARE(user.GetUserMessage(nullptr), 0);
        QCOMPARE(QApplication::topLevelWidgets().size(), 1);
        auto* shown = qobject_cast<ServerMsgDlg*>(QApplication::topLevelWidgets()[0]);
        QCOMPARE(shown->findChild<QLabel*>("labelMsg")->text(), QString("<报销单.pdf>审批通过!"));
        QVERIFY(shown->isVisible() && shown->testAttribute(Qt::WA_DeleteOnClose));
        delete shown;
        QCOMPARE(user.GetUserMessage(nullptr), -1);

        const QStringList calls = operations(relay->requests());
        relay.reset(); // the relay is gone from here on
        const QStringList expected = {
            "UserLogon",
            "GetFieldValuesBySQL SELECT SettingValue FROM SysSettings WHERE SettingName = "
            "'LinuxPrintStateNew'",
            "GetUserInfo",
            "GetUserInfoEx",
            "GetFieldValuesBySQL SELECT GroupID FROM Users WHERE UserName = 'lisi'",
            "GetFieldValuesBySQL SELECT GroupName FROM Groups WHERE GroupID = 2",
            "GetFieldValuesBySQL SELECT WebsiteIP FROM Servers WHERE ServerIP='127.0.0.1' AND "
            "IsMonitored='Y' AND  IsDeleted='N'",
            "GetSecretLevel",
            "GetFieldValuesBySQL SELECT PrintWay FROM Users WHERE UserName = 'lisi'",
            "GetFieldValuesBySQL SELECT AuditFlowID FROM Users WHERE UserID=2",
        };
        QCOMPARE(calls.mid(0, expected.size()), expected);
        // The payers come last, after the audit flow's queries.
        QCOMPARE(calls.mid(calls.indexOf("GetPayerInfo")),
                 (QStringList{"GetPayerInfo", "GetUserMessage", "GetUserMessage"}));

        QCOMPARE(user.GetUserMessage(nullptr), -2);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }
};

QTEST_MAIN(TestSessionServer)
#include "tst_session_server.moc"
