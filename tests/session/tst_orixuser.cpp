// The session object without a server: construction, the remembered logon
// in "Last.ini" and the per-user copy, and what a refused logon leaves.

#include "EventLog.h"
#include "FakeRpcClient.h"
#include "OrixUser.h"
#include "TestRoot.h"
#include "TextUtil.h"

#include <QHostInfo>
#include <QSettings>
#include <QtTest>

#include <sys/stat.h>

namespace
{

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

int modeOf(const QString& path)
{
    struct stat st;
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_mode & 07777);
}

FakeRpcClient* useFake(OrixUser& user)
{
    FakeRpcClient* fake = new FakeRpcClient;
    user.RpcClient.reset(fake);
    return fake;
}

} // namespace

class TestOrixUser : public QObject
{
    Q_OBJECT

private slots:
    void firstStart();
    void configurationProposesServerAndUser();
    void rememberedLogonRoundTrip_data();
    void rememberedLogonRoundTrip();
    void flagsAreExactlyOne_data();
    void flagsAreExactlyOne();
    void missingKeysReadEmpty();
    void perUserFile();
    void perUserFileFollowsConfiguredFolder();
    void filesAreOwnerOnly();
    void existingModesAreTightened();
    void userNamesThatLeaveTheFolder_data();
    void userNamesThatLeaveTheFolder();
    void refusedLogonWritesNothing();
    void logonPortAndSsl_data();
    void logonPortAndSsl();
};

void TestOrixUser::firstStart()
{
    TestRoot root;
    OrixUser user;
    QCOMPARE(QByteArray(user.UserName), QByteArray("user1"));
    QCOMPARE(QByteArray(user.ServerAddress), QByteArray("127.0.0.1"));
    QCOMPARE(QByteArray(user.Password), QByteArray());
    QCOMPARE(QByteArray(user.ServerPort), QByteArray());
    QCOMPARE(QByteArray(user.RpcPort), QByteArray());
    QCOMPARE(QByteArray(user.FullName), QByteArray());
    QVERIFY(!user.SavePassword);
    QVERIFY(!user.AutoLogon);
    QVERIFY(!user.DomainAgentLogon);
    QCOMPARE(user.PayerCount, 0);
    QVERIFY(user.Payers == nullptr);
    QCOMPARE(QString::fromUtf8(INIPATH), root.varTmp());
    QCOMPARE(QString::fromUtf8(user.ComputerName), QHostInfo::localHostName().left(255));
    QVERIFY(user.IPAddress[0] != '\0');
    // Reading the remembered logon never creates it.
    QVERIFY(!QFile::exists(root.varTmp() + "/Last.ini"));
}

void TestOrixUser::configurationProposesServerAndUser()
{
    TestRoot root;
    root.writeConfig("[Main%20Window]\n2002=10.1.2.3\n2006=bob\n");
    {
        OrixUser user;
        QCOMPARE(QByteArray(user.ServerAddress), QByteArray("10.1.2.3"));
        QCOMPARE(QByteArray(user.UserName), QByteArray("bob"));
    }
    // The remembered logon wins over the configuration.
    writeFile(root.varTmp() + "/Last.ini",
              "[General]\nServerName=10.9.9.9\nUserName=carol\nServerPort=9000\n");
    OrixUser user;
    QCOMPARE(QByteArray(user.ServerAddress), QByteArray("10.9.9.9"));
    QCOMPARE(QByteArray(user.UserName), QByteArray("carol"));
    QCOMPARE(QByteArray(user.ServerPort), QByteArray("9000"));
}

void TestOrixUser::rememberedLogonRoundTrip_data()
{
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("userName");
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<bool>("savePassword");
    QTest::addColumn<bool>("autoLogon");
    QTest::addColumn<bool>("domainAgent");

    QTest::newRow("password kept") << QByteArray("10.0.0.1") << QByteArray("alice")
                                   << QByteArray("8085") << true << false << false;
    QTest::newRow("password not kept") << QByteArray("10.0.0.1") << QByteArray("alice")
                                       << QByteArray("") << false << false << false;
    QTest::newRow("every flag") << QByteArray("server.example") << QByteArray("bob")
                                << QByteArray("9000") << true << true << true;
    QTest::newRow("Chinese name, commas")
        << QByteArray("a,b") << QByteArray("张三,李四") << QByteArray("") << true << false << true;
}

void TestOrixUser::rememberedLogonRoundTrip()
{
    QFETCH(QByteArray, server);
    QFETCH(QByteArray, userName);
    QFETCH(QByteArray, port);
    QFETCH(bool, savePassword);
    QFETCH(bool, autoLogon);
    QFETCH(bool, domainAgent);
    const QByteArray digest("E10ADC3949BA59ABBE56E057F20F883E");

    TestRoot root;
    {
        OrixUser user;
        CopyText(user.ServerAddress, sizeof user.ServerAddress, server.constData());
        CopyText(user.UserName, sizeof user.UserName, userName.constData());
        CopyText(user.ServerPort, sizeof user.ServerPort, port.constData());
        CopyText(user.Password, sizeof user.Password, digest.constData());
        user.SavePassword = savePassword;
        user.AutoLogon = autoLogon;
        user.DomainAgentLogon = domainAgent;
        user.PutInformationInLast_Ini();
    }

    const QString path = root.varTmp() + "/Last.ini";
    QVERIFY(QFile::exists(path));
    {
        QSettings raw(path, QSettings::IniFormat);
        QCOMPARE(raw.value("PassWord").toString(),
                 savePassword ? QString::fromLatin1(digest) : QString());
        QCOMPARE(raw.value("SavePasswordFlag").toString(), QString(savePassword ? "1" : "0"));
        QCOMPARE(raw.value("AutoLoginFlag").toString(), QString(autoLogon ? "1" : "0"));
        QCOMPARE(raw.value("SaveDomainAgintLogFlag").toString(), QString(domainAgent ? "1" : "0"));
        QCOMPARE(raw.allKeys().size(), 7);
    }

    OrixUser next;
    QCOMPARE(QByteArray(next.ServerAddress), server);
    QCOMPARE(QByteArray(next.UserName), userName);
    QCOMPARE(QByteArray(next.ServerPort), port);
    QCOMPARE(QByteArray(next.Password), savePassword ? digest : QByteArray());
    QCOMPARE(next.SavePassword, savePassword);
    QCOMPARE(next.AutoLogon, autoLogon);
    QCOMPARE(next.DomainAgentLogon, domainAgent);
}

void TestOrixUser::flagsAreExactlyOne_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("expected");
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("quoted 1") << QByteArray("\"1\"") << true;
    QTest::newRow("true") << QByteArray("true") << false;
    QTest::newRow("yes") << QByteArray("yes") << false;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("2") << QByteArray("2") << false;
    QTest::newRow("11") << QByteArray("11") << false;
    QTest::newRow("empty") << QByteArray("") << false;
}

void TestOrixUser::flagsAreExactlyOne()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, expected);
    TestRoot root;
    writeFile(root.varTmp() + "/Last.ini", "[General]\nUserName=alice\nSavePasswordFlag=" + value +
                                               "\nAutoLoginFlag=" + value +
                                               "\nSaveDomainAgintLogFlag=" + value + "\n");
    OrixUser user;
    QCOMPARE(user.SavePassword, expected);
    QCOMPARE(user.AutoLogon, expected);
    QCOMPARE(user.DomainAgentLogon, expected);
}

void TestOrixUser::missingKeysReadEmpty()
{
    TestRoot root;
    root.writeConfig("[Main%20Window]\n2002=10.1.2.3\n");
    writeFile(root.varTmp() + "/Last.ini", "[General]\nUserName=alice\n");
    OrixUser user;
    QCOMPARE(QByteArray(user.UserName), QByteArray("alice"));
    // A key that the file lacks reads as an empty text, not as the default.
    QCOMPARE(QByteArray(user.ServerAddress), QByteArray());
    QCOMPARE(QByteArray(user.Password), QByteArray());
}

void TestOrixUser::perUserFile()
{
    TestRoot root;
    OrixUser user;
    CopyText(user.UserName, sizeof user.UserName, "alice");
    CopyText(user.Password, sizeof user.Password, "ABC");
    user.SavePassword = true;
    user.PutInformationInUser_Ini();

    const QString path = root.varTmp() + "/alice/alice.ini";
    QVERIFY(QFile::exists(path));
    QVERIFY(!QFile::exists(root.varTmp() + "/Last.ini"));
    QSettings raw(path, QSettings::IniFormat);
    QCOMPARE(raw.allKeys().size(), 7);
    QCOMPARE(raw.value("UserName").toString(), QString("alice"));
    QCOMPARE(raw.value("PassWord").toString(), QString("ABC"));
    QCOMPARE(raw.value("ServerName").toString(), QString("127.0.0.1"));
}

void TestOrixUser::perUserFileFollowsConfiguredFolder()
{
    TestRoot root;
    const QString folder = root.path() + "/remembered";
    root.writeConfig("[UserInfo]\nPath=" + folder.toUtf8() + "\n");
    OrixUser user;
    QCOMPARE(QString::fromUtf8(INIPATH), folder);
    CopyText(user.UserName, sizeof user.UserName, "bob");
    user.PutInformationInLast_Ini();
    user.PutInformationInUser_Ini();
    QVERIFY(QFile::exists(folder + "/Last.ini"));
    QVERIFY(QFile::exists(folder + "/bob/bob.ini"));
    QVERIFY(!QFile::exists(root.varTmp() + "/Last.ini"));
}

void TestOrixUser::filesAreOwnerOnly()
{
    TestRoot root;
    const mode_t old = umask(0);
    OrixUser user;
    CopyText(user.UserName, sizeof user.UserName, "alice");
    user.SavePassword = true;
    user.PutInformationInLast_Ini();
    user.PutInformationInUser_Ini();
    umask(old);
    QCOMPARE(modeOf(root.varTmp() + "/Last.ini"), 0600);
    QCOMPARE(modeOf(root.varTmp() + "/alice"), 0700);
    QCOMPARE(modeOf(root.varTmp() + "/alice/alice.ini"), 0600);
}

void TestOrixUser::existingModesAreTightened()
{
    TestRoot root;
    const QString last = root.varTmp() + "/Last.ini";
    const QString folder = root.varTmp() + "/alice";
    writeFile(last, "[General]\nUserName=alice\nPassWord=OLD\n");
    QVERIFY(QDir().mkpath(folder));
    writeFile(folder + "/alice.ini", "[General]\nPassWord=OLD\n");
    chmod(QFile::encodeName(last).constData(), 0644);
    chmod(QFile::encodeName(folder).constData(), 0755);
    chmod(QFile::encodeName(folder + "/alice.ini").constData(), 0666);

    OrixUser user;
    user.PutInformationInLast_Ini();
    user.PutInformationInUser_Ini();
    QCOMPARE(modeOf(last), 0600);
    QCOMPARE(modeOf(folder), 0700);
    QCOMPARE(modeOf(folder + "/alice.ini"), 0600);
    // SavePassword is off, so the old password went too.
    QSettings raw(last, QSettings::IniFormat);
    QCOMPARE(raw.value("PassWord").toString(), QString());
}

void TestOrixUser::userNamesThatLeaveTheFolder_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("parent") << QByteArray("..");
    QTest::newRow("dot") << QByteArray(".");
    QTest::newRow("climbing") << QByteArray("../evil");
    QTest::newRow("slash") << QByteArray("a/b");
    QTest::newRow("empty") << QByteArray("");
}

void TestOrixUser::userNamesThatLeaveTheFolder()
{
    QFETCH(QByteArray, name);
    TestRoot root;
    OrixUser user;
    CopyText(user.UserName, sizeof user.UserName, name.constData());
    user.PutInformationInUser_Ini();
    user.PutInformationInLast_Ini();
    // Only Last.ini appears in the folder; nothing is written beside it.
    QCOMPARE(QDir(root.varTmp()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"Last.ini"});
    QCOMPARE(QDir(root.path() + "/var").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"tmp"});
}

void TestOrixUser::refusedLogonWritesNothing()
{
    TestRoot root;
    const QString last = root.varTmp() + "/Last.ini";
    const QByteArray before("[General]\nServerName=10.0.0.1\nUserName=alice\nPassWord=OLD\n"
                            "SavePasswordFlag=1\n");
    writeFile(last, before);

    OrixUser user;
    FakeRpcClient* fake = useFake(user);
    fake->logOnResult = 2;
    CopyText(user.UserName, sizeof user.UserName, "bob");
    CopyText(user.Password, sizeof user.Password, "NEW");
    CopyText(user.FullName, sizeof user.FullName, "kept");
    user.GroupId = 77;
    user.PrintWay = 5;
    QCOMPARE(user.Logon(), 2);
    QCOMPARE(fake->logOnCalls, 1);
    QCOMPARE(fileBytes(last), before);
    QVERIFY(!QFile::exists(root.varTmp() + "/bob"));
    QCOMPARE(QByteArray(user.FullName), QByteArray("kept"));
    QCOMPARE(user.GroupId, 77);
    QCOMPARE(user.PrintWay, 5);
    QCOMPARE(fake->auditFlowCalls, 0);
    QVERIFY(fake->payerRequest.isNull());
}

void TestOrixUser::logonPortAndSsl_data()
{
    QTest::addColumn<QByteArray>("rpcPort");
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("expectedPort");
    QTest::addColumn<int>("expectedSsl");
    QTest::newRow("no port given") << QByteArray() << QByteArray() << QByteArray("8086") << 0;
    QTest::newRow("port given") << QByteArray("9000") << QByteArray() << QByteArray("9000") << 0;
    QTest::newRow("ssl") << QByteArray() << QByteArray("[OPTION]\nSSL=1\n") << QByteArray("8086")
                         << 1;
}

void TestOrixUser::logonPortAndSsl()
{
    QFETCH(QByteArray, rpcPort);
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, expectedPort);
    QFETCH(int, expectedSsl);
    TestRoot root;
    root.writeConfig(config);
    OrixUser user;
    FakeRpcClient* fake = useFake(user);
    fake->logOnResult = 16;
    CopyText(user.RpcPort, sizeof user.RpcPort, rpcPort.constData());
    CopyText(user.Password, sizeof user.Password, "DIGEST");
    user.LogonMode = 2;
    QCOMPARE(user.Logon(), 16);
    QCOMPARE(fake->portAtLogOn, expectedPort);
    QCOMPARE(QByteArray(user.RpcPort), expectedPort);
    QCOMPARE(fake->logOnRecord.UseSsl, expectedSsl);
    QCOMPARE(QByteArray(fake->logOnRecord.UserName), QByteArray("user1"));
    QCOMPARE(QByteArray(fake->logOnRecord.ServerAddress), QByteArray("127.0.0.1"));
    QCOMPARE(QByteArray(fake->logOnRecord.Password), QByteArray("DIGEST"));
    QCOMPARE(fake->logOnRecord.LogonMode, 2);
}

QTEST_GUILESS_MAIN(TestOrixUser)
#include "tst_orixuser.moc"
