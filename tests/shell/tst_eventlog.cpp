#include "EventLog.h"
#include "TestRoot.h"

#include <QtTest>

#include <cstdio>
#include <unistd.h>

// Runs fn with standard output sent to a file and returns what it printed.
template <typename Fn> static QByteArray captureStdout(Fn fn)
{
    QTemporaryFile capture;
    capture.open();
    fflush(stdout);
    int saved = dup(STDOUT_FILENO);
    dup2(capture.handle(), STDOUT_FILENO);
    fn();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    QFile f(capture.fileName());
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

class TestEventLog : public QObject
{
    Q_OBJECT

private slots:
    void levels_data();
    void levels();
    void levelIsReadOnEveryCall();
    void percentSignIsData();
    void longEventIsCut();
    void profileInt_data();
    void profileInt();
};

static QByteArray logFile(const TestRoot& root)
{
    QFile f(root.programFolder() + "AppLog.txt");
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void TestEventLog::levels_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("expectedFile"); // null: no file at all
    QTest::addColumn<QByteArray>("expectedStdout");

    const QByteArray all = "IF Init fail\n\r\nlogin-user:alice, 0\n\r\ntmid=3, online=1\n\r\n";
    QTest::newRow("no config") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("level 0") << QByteArray("[Debug]\nLevel=0\n") << QByteArray() << QByteArray();
    QTest::newRow("level 4: logon lines, no timer lines")
        << QByteArray("[Debug]\nLevel=4\n")
        << QByteArray("IF Init fail\n\r\nlogin-user:alice, 0\n\r\n") << QByteArray();
    QTest::newRow("level 5: everything to the file")
        << QByteArray("[Debug]\nLevel=5\n") << all << QByteArray();
    QTest::newRow("level 11: level-1 events only, none here")
        << QByteArray("[Debug]\nLevel=11\n") << QByteArray() << QByteArray();
    QTest::newRow("level 14: up to 4 on standard output")
        << QByteArray("[Debug]\nLevel=14\n") << QByteArray()
        << QByteArray("IF Init fail\n\r\nlogin-user:alice, 0\n\r\n");
    QTest::newRow("level 15: everything on standard output")
        << QByteArray("[Debug]\nLevel=15\n") << QByteArray() << all;
    QTest::newRow("not a number") << QByteArray("[Debug]\nLevel=high\n") << QByteArray()
                                  << QByteArray();
}

void TestEventLog::levels()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, expectedFile);
    QFETCH(QByteArray, expectedStdout);

    TestRoot root;
    if (!config.isNull())
        root.writeConfig(config);
    const QByteArray out = captureStdout([] {
        LogEvent(2, "IF Init fail\n");
        LogEvent(4, "login-user:%s, %d\n", "alice", 0);
        LogEvent(5, "tmid=%d, online=%d\n", 3, 1);
    });
    QCOMPARE(out, expectedStdout);
    QCOMPARE(QFile::exists(root.programFolder() + "AppLog.txt"), !expectedFile.isNull());
    QCOMPARE(logFile(root), expectedFile);
}

void TestEventLog::levelIsReadOnEveryCall()
{
    TestRoot root;
    root.writeConfig("[Debug]\nLevel=0\n");
    LogEvent(4, "first\n");
    root.writeConfig("[Debug]\nLevel=4\n");
    LogEvent(4, "second\n");
    LogEvent(4, "third\n");
    QCOMPARE(logFile(root), QByteArray("second\n\r\nthird\n\r\n"));
}

void TestEventLog::percentSignIsData()
{
    TestRoot root;
    root.writeConfig("[Debug]\nLevel=4\n");
    LogEvent(4, "dlopen:%s\n", "100% %s %n broken");
    QCOMPARE(logFile(root), QByteArray("dlopen:100% %s %n broken\n\r\n"));

    root.writeConfig("[Debug]\nLevel=14\n");
    const QByteArray out = captureStdout([] { LogEvent(4, "login-server:%s\n", "a%d%s%%b"); });
    QCOMPARE(out, QByteArray("login-server:a%d%s%%b\n\r\n"));
}

void TestEventLog::longEventIsCut()
{
    TestRoot root;
    root.writeConfig("[Debug]\nLevel=4\n");
    const QByteArray longName(2000, 'n');
    LogEvent(4, "logout-user:%s\n", longName.constData());
    const QByteArray written = logFile(root);
    QCOMPARE(written.size(), 511); // 509 characters, "\r\n"; the terminator is not written
    QVERIFY(written.startsWith("logout-user:nnn"));
    QVERIFY(written.endsWith("n\r\n"));

    // A cut never splits a UTF-8 character.
    QFile::remove(root.programFolder() + "AppLog.txt");
    QByteArray chinese;
    for (int i = 0; i < 300; ++i)
        chinese += "审";
    LogEvent(4, "%s", chinese.constData());
    const QByteArray text = logFile(root);
    QVERIFY(text.endsWith("\r\n"));
    const QByteArray body = text.left(text.size() - 2);
    QCOMPARE(body.size() % 3, 0);
    QCOMPARE(QString::fromUtf8(body).toUtf8(), body);
}

void TestEventLog::profileInt_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("defaultValue");
    QTest::addColumn<int>("expected");
    QTest::newRow("value") << QByteArray("[Debug]\nLevel=12\n") << 0 << 12;
    QTest::newRow("missing key") << QByteArray("[Debug]\nOther=1\n") << 0 << 0;
    QTest::newRow("missing section") << QByteArray("[OPTION]\nSSL=1\n") << 0 << 0;
    QTest::newRow("non-numeric") << QByteArray("[Debug]\nLevel=abc\n") << 7 << 0;
    QTest::newRow("negative") << QByteArray("[Debug]\nLevel=-3\n") << 0 << -3;
}

void TestEventLog::profileInt()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, defaultValue);
    QFETCH(int, expected);
    QTemporaryDir dir;
    const QString path = dir.path() + "/x.ini";
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(ini);
    f.close();
    QCOMPARE(
        GetPrivateProfileInt("Debug", "Level", defaultValue, QFile::encodeName(path).constData()),
        expected);
}

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
