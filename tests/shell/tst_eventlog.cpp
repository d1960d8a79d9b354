// The event log: where each level goes, the level read on every call, the
// text kept as data and cut to 512 bytes.
#include "EventLog.h"
#include "TestRoot.h"

#include <QtTest>

#include <cstdio>
#include <unistd.h>

namespace
{

// Runs fn with standard output sent to a file and returns what it printed.
template <typename Fn> QByteArray captureStdout(Fn fn)
{
    QTemporaryFile capture;
    capture.open();
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(capture.handle(), STDOUT_FILENO);
    fn();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    capture.seek(0);
    return capture.readAll();
}

QByteArray logFile(const TestRoot& root)
{
    QFile f(root.programFolder() + "AppLog.txt");
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestEventLog : public QObject
{
    Q_OBJECT

private slots:
    void levels_data()
    {
        QTest::addColumn<QByteArray>("level"); // null: no configuration file
        QTest::addColumn<QByteArray>("file");  // null: no AppLog.txt at all
        QTest::addColumn<QByteArray>("out");   // on standard output
        const QByteArray none, upTo4 = "IF Init fail\n\r\nlogin-user:alice, 0\n\r\n";
        const QByteArray all = upTo4 + "tmid=3, online=1\n\r\n";
        QTest::newRow("no config") << none << none << none;
        QTest::newRow("level 0") << QByteArray("0") << none << none;
        QTest::newRow("level 4: no timer lines") << QByteArray("4") << upTo4 << none;
        QTest::newRow("level 5: all to the file") << QByteArray("5") << all << none;
        QTest::newRow("level 11: level 1 only") << QByteArray("11") << none << none;
        QTest::newRow("level 14: up to 4 on standard output") << QByteArray("14") << none << upTo4;
        QTest::newRow("level 15: all on standard output") << QByteArray("15") << none << all;
        QTest::newRow("not a number") << QByteArray("high") << none << none;
    }

    void levels()
    {
        QFETCH(QByteArray, level);
        QFETCH(QByteArray, file);
        TestRoot root;
        if (!level.isNull())
            root.writeConfig("[Debug]\nLevel=" + level + "\n");
        QTEST(captureStdout([] {
                  LogEvent(2, "IF Init fail\n");
                  LogEvent(4, "login-user:%s, %d\n", "alice", 0);
                  LogEvent(5, "tmid=%d, online=%d\n", 3, 1);
              }),
              "out");
        QCOMPARE(QFile::exists(root.programFolder() + "AppLog.txt"), !file.isNull());
        QCOMPARE(logFile(root), file);
    }

    void textIsDataAndCut()
    {
        TestRoot root;
        root.writeConfig("[Debug]\nLevel=0\n");
        LogEvent(4, "first\n");
        root.writeConfig("[Debug]\nLevel=4\n"); // read again by the next call
        LogEvent(4, "dlopen:%s\n", "100% %s %n broken");
        // 509 bytes and "\r\n", never a UTF-8 character split.
        LogEvent(4, "logout-user:%s\n", QByteArray(2000, 'n').constData());
        LogEvent(4, "%s", QByteArray("审").repeated(300).constData());
        QCOMPARE(logFile(root),
                 "dlopen:100% %s %n broken\n\r\nlogout-user:" + QByteArray(497, 'n') + "\r\n" +
                     QByteArray("审").repeated(169) + "\r\n");
    }
};

QTEST_GUILESS_MAIN(TestEventLog)
#include "tst_eventlog.moc"
