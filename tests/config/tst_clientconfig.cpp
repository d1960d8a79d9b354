#include "ClientConfig.h"
#include "EventLog.h"
#include "OrixUser.h"
#include "TestRoot.h"

#include <QtTest>

#include <cstring>

class TestClientConfig : public QObject
{
    Q_OBJECT

private slots:
    void defaults_data();
    void defaults();
    void allKeysRead();
    void longTexts();
    void integers_data();
    void integers();
    void remembersFolderMoves();
    void key2003OnlyWhenAsked();
    void valuesWrittenByQt();
    void textWithCommasStaysOneText();

private:
    static ClientConfig read(int readItem2003 = true)
    {
        ClientConfig cfg;
        memset(&cfg, 0x5A, sizeof cfg); // garbage: every member must be written
        OrixUser::ReadConfigInfo(&cfg, readItem2003);
        return cfg;
    }
};

void TestClientConfig::defaults_data()
{
    QTest::addColumn<QByteArray>("file"); // null: no file
    QTest::newRow("missing file") << QByteArray();
    QTest::newRow("empty file") << QByteArray("");
    QTest::newRow("other sections only")
        << QByteArray("[Debug]\nLevel=4\n[Log%20Online]\n7000=x\n");
}

void TestClientConfig::defaults()
{
    QFETCH(QByteArray, file);
    TestRoot root;
    if (!file.isNull())
        root.writeConfig(file);
    strcpy(INIPATH, "/elsewhere");
    const ClientConfig cfg = read();
    QCOMPARE(QByteArray(cfg.ServerAddress), QByteArray("127.0.0.1"));
    QCOMPARE(QByteArray(cfg.UserName), QByteArray("user1"));
    QCOMPARE(QByteArray(cfg.PurposeList), QByteArray());
    QCOMPARE(QByteArray(cfg.WebPath), QByteArray("RazodAroZid/Home/Index1"));
    QCOMPARE(cfg.WebPort, 80);
    QCOMPARE(QByteArray(cfg.SecretLevelList), QByteArray());
    QCOMPARE(QByteArray(cfg.AuthServer), QByteArray());
    QCOMPARE(cfg.UseSsl, 0);
    QCOMPARE(cfg.UiHide, 0);
    QCOMPARE(cfg.CdPassword, 0);
    QCOMPARE(QByteArray(cfg.other(2000)), QByteArray("0"));
    QCOMPARE(QByteArray(cfg.other(2001)), QByteArray("100"));
    QCOMPARE(QByteArray(cfg.other(2028)), QByteArray("100"));
    QCOMPARE(QByteArray(cfg.other(2041)), QByteArray());
    // The remembered-logon folder defaults to (the relocated) /var/tmp.
    QCOMPARE(QString::fromUtf8(INIPATH), root.varTmp());
}

void TestClientConfig::allKeysRead()
{
    TestRoot root;
    root.writeConfig("[Main%20Window]\n"
                     "2002=10.1.2.3:9000\n"
                     "2006=张三\n"
                     // Qt's INI reader takes an unquoted ";" for a comment.
                     "2014=\"公开;内部;秘密\"\n"
                     "2015=\";会议材料;合同\"\n"
                     "2017=NULL\n"
                     "2022=8080\n"
                     "2036=abc\n"
                     "[OPTION]\n"
                     "SSL=1\n"
                     "UIHide=6\n"
                     "CDPassword=1\n"
                     "AuthServer=auth.example.test\n");
    const ClientConfig cfg = read();
    QCOMPARE(QByteArray(cfg.ServerAddress), QByteArray("10.1.2.3:9000"));
    QCOMPARE(QByteArray(cfg.UserName), QByteArray("张三"));
    // The two lists keep the bytes of the file's (UTF-8) text.
    QCOMPARE(QByteArray(cfg.SecretLevelList), QByteArray("公开;内部;秘密"));
    QCOMPARE(QByteArray(cfg.PurposeList), QByteArray(";会议材料;合同"));
    QCOMPARE(QByteArray(cfg.WebPath), QByteArray("NULL"));
    QCOMPARE(cfg.WebPort, 8080);
    QCOMPARE(cfg.UseSsl, 1);
    QCOMPARE(cfg.UiHide, 6);
    QCOMPARE(cfg.CdPassword, 1);
    QCOMPARE(QByteArray(cfg.AuthServer), QByteArray("auth.example.test"));
    QCOMPARE(QByteArray(cfg.other(2036)), QByteArray("abc"));
}

void TestClientConfig::longTexts()
{
    TestRoot root;
    const QByteArray exact(255, 'a');
    QByteArray chinese; // 86 characters of 3 bytes: 258 bytes
    for (int i = 0; i < 86; ++i)
        chinese += "审";
    const QByteArray latin(400, 'L');
    root.writeConfig("[Main%20Window]\n2002=" + exact + "\n2006=" + chinese + "\n2014=" + latin +
                     "\n2017=" + exact + "b\n");
    const ClientConfig cfg = read();
    QCOMPARE(QByteArray(cfg.ServerAddress), exact);
    QCOMPARE(cfg.ServerAddress[255], '\0');
    // Cut at a character boundary: 85 whole characters.
    QCOMPARE(QByteArray(cfg.UserName).size(), 255);
    QCOMPARE(QString::fromUtf8(cfg.UserName).size(), 85);
    QCOMPARE(QByteArray(cfg.SecretLevelList), latin.left(255));
    QCOMPARE(QByteArray(cfg.WebPath), exact);
}

void TestClientConfig::integers_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("number") << QByteArray("8080") << 8080;
    QTest::newRow("blanks") << QByteArray(" 81 ") << 81;
    QTest::newRow("text") << QByteArray("eighty") << 0;
    QTest::newRow("trailing text") << QByteArray("80x") << 0;
    QTest::newRow("empty") << QByteArray("") << 0;
}

void TestClientConfig::integers()
{
    QFETCH(QByteArray, value);
    QFETCH(int, expected);
    TestRoot root;
    root.writeConfig("[Main%20Window]\n2022=" + value + "\n[OPTION]\nUIHide=" + value + "\n");
    const ClientConfig cfg = read();
    QCOMPARE(cfg.WebPort, expected);
    QCOMPARE(cfg.UiHide, expected);
}

void TestClientConfig::remembersFolderMoves()
{
    TestRoot root;
    const QString folder = root.path() + "/remembered";
    root.writeConfig("[UserInfo]\nPath=" + folder.toUtf8() + "\n");
    read();
    QCOMPARE(QString::fromUtf8(INIPATH), folder);
    // Each read re-reads the file: an edit counts from the next read.
    root.writeConfig("");
    read();
    QCOMPARE(QString::fromUtf8(INIPATH), root.varTmp());
}

void TestClientConfig::key2003OnlyWhenAsked()
{
    TestRoot root;
    root.writeConfig("[Main%20Window]\n2003=seen\n");
    QCOMPARE(QByteArray(read(true).other(2003)), QByteArray("seen"));
    ClientConfig cfg;
    memset(&cfg, 0, sizeof cfg);
    OrixUser::ReadConfigInfo(&cfg, false);
    QCOMPARE(QByteArray(cfg.other(2003)), QByteArray());
}

void TestClientConfig::valuesWrittenByQt()
{
    // A file written through Qt's settings escapes non-Latin-1 characters;
    // those values read back as the same text.
    TestRoot root;
    {
        QSettings writer(root.configPath(), QSettings::IniFormat);
        writer.setValue("/Main Window/2006", QString::fromUtf8("李四"));
        writer.setValue("/Main Window/2014", QString::fromUtf8("公开;秘密"));
    }
    const ClientConfig cfg = read();
    QCOMPARE(QByteArray(cfg.UserName), QByteArray("李四"));
    QCOMPARE(QByteArray(cfg.SecretLevelList), QByteArray("公开;秘密"));
}

void TestClientConfig::textWithCommasStaysOneText()
{
    TestRoot root;
    root.writeConfig("[Main%20Window]\n2015=会议,合同\n2017=a,b\n");
    const ClientConfig cfg = read();
    QCOMPARE(QByteArray(cfg.PurposeList), QByteArray("会议,合同"));
    QCOMPARE(QByteArray(cfg.WebPath), QByteArray("a,b"));
}

QTEST_GUILESS_MAIN(TestClientConfig)
#include "tst_clientconfig.moc"
