// The configuration record (and INIPATH) read from "OrixClientAPP.ini".
#include "ClientConfig.h"
#include "EventLog.h"
#include "OrixUser.h"
#include "TestRoot.h"

#include <QtTest>

#include <cstring>

namespace
{

// Every member, texts read up to their terminator, as "a|b|...|numbers".
QString summary(const ClientConfig& c)
{
    QStringList texts;
    for (const char* text : std::initializer_list<const char*>{
             c.ServerAddress, c.UserName, c.PurposeList, c.WebPath, c.SecretLevelList, c.AuthServer,
             c.other(2000), c.other(2001), c.other(2028), c.other(2036), c.other(2003), INIPATH})
        texts << QString::fromUtf8(text);
    return texts.join('|') +
           QString::asprintf("|%d %d %d %d|", c.WebPort, c.UseSsl, c.UiHide, c.CdPassword) +
           QString::fromUtf8(c.Proxy);
}

} // namespace

class TestClientConfig : public QObject
{
    Q_OBJECT

private slots:
    void read_data()
    {
        QTest::addColumn<QByteArray>("ini"); // null: no file; @ROOT@: the test's root
        QTest::addColumn<QString>("summary");
        const QString defaults = "127.0.0.1|user1||RazodAroZid/Home/Index1|||0|100|100|||"
                                 "@ROOT@/var/tmp|80 0 0 0|";
        QTest::newRow("missing file") << QByteArray() << defaults;
        QTest::newRow("empty file") << QByteArray("") << defaults;
        QTest::newRow("other sections only")
            << QByteArray("[Debug]\nLevel=4\n[Log%20Online]\n7000=x\n") << defaults;
        // Qt's INI reader takes an unquoted ";" for a comment, and "," for a list.
        QTest::newRow("every key")
            << QByteArray("[Main%20Window]\n2002=10.1.2.3:9000\n2006=张三,李四\n"
                          "2014=\"公开;内部;秘密\"\n2015=会议,合同\n2017=a,b\n2022=8080\n"
                          "2003=seen\n2036=abc\n[OPTION]\nSSL=1\nUIHide=6\nCDPassword=1\n"
                          "AuthServer=auth.example.test\nProxy=http://u:p@proxy.corp:3128/\n"
                          "[UserInfo]\nPath=@ROOT@/remembered\n")
            << "10.1.2.3:9000|张三,李四|会议,合同|a,b|公开;内部;秘密|auth.example.test|0|100|100|"
               "abc|seen|@ROOT@/remembered|8080 1 6 1|http://u:p@proxy.corp:3128/";
        // 255 bytes kept; Chinese cut between characters (86 x 3 bytes given).
        const QByteArray a(255, 'a'), l(400, 'L'), chinese = QByteArray("审").repeated(86);
        QTest::newRow("long texts")
            << "[Main%20Window]\n2002=" + a + "\n2006=" + chinese + "\n2014=" + l + "\n2017=" + a +
                   "b\n"
            << QString(a + "|" + chinese.left(255) + "||" + a + "|" + l.left(255) +
                       "||0|100|100|||@ROOT@/var/tmp|80 0 0 0|");
        const QList<QPair<QByteArray, int>> numbers = {{" 81 ", 81}, {"80x", 0}, {"", 0}};
        for (const auto& n : numbers)
            QTest::newRow(("number: " + n.first).constData())
                << "[Main%20Window]\n2022=" + n.first + "\n[OPTION]\nUIHide=" + n.first + "\n"
                << QString(defaults).replace("80 0 0 0|", QString("%1 0 %1 0|").arg(n.second));
        // Values that Qt's settings wrote, non-Latin-1 characters escaped.
        QTemporaryDir dir;
        {
            QSettings writer(dir.filePath("qt.ini"), QSettings::IniFormat);
            writer.setValue("/Main Window/2006", QString("李四"));
            writer.setValue("/Main Window/2014", QString("公开;秘密"));
        }
        QFile written(dir.filePath("qt.ini"));
        QVERIFY(written.open(QIODevice::ReadOnly));
        QTest::newRow("written by Qt") << written.readAll()
                                       << QString(defaults)
                                              .replace("user1||", "李四||")
                                              .replace("Index1||", "Index1|公开;秘密|");
    }

    void read()
    {
        QFETCH(QByteArray, ini);
        TestRoot root;
        if (!ini.isNull())
            root.writeConfig(ini.replace("@ROOT@", root.path().toUtf8()));
        strcpy(INIPATH, "/elsewhere");
        ClientConfig cfg;
        memset(&cfg, 0x5A, sizeof cfg); // garbage: every member must be written
        OrixUser::ReadConfigInfo(&cfg, true);
        QTEST(summary(cfg).replace(root.path(), "@ROOT@"), "summary");

        // An edit counts from the next read; 2003 is read only when asked for.
        root.writeConfig("[Main%20Window]\n2003=seen\n");
        memset(&cfg, 0, sizeof cfg);
        OrixUser::ReadConfigInfo(&cfg, false);
        QCOMPARE(QByteArray(cfg.other(2003)), QByteArray());
        QCOMPARE(QString::fromUtf8(INIPATH), root.varTmp());
    }
};

QTEST_GUILESS_MAIN(TestClientConfig)
#include "tst_clientconfig.moc"
