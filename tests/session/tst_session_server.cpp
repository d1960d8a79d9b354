// The session on a shared workstation: objects another user planted in the
// shared folder never stop a logon or its remembering, and a logon that
// breaks off remembers nothing.

#include "DevServerProcess.h"
#include "OrixUser.h"
#include "PlantedObject.h"
#include "RawHttpServer.h"
#include "TestRoot.h"
#include "TextUtil.h"

#include <QtTest>

#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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
};

QTEST_MAIN(TestSessionServer)
#include "tst_session_server.moc"
