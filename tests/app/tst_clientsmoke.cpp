// Smoke test of the real program on a private X server (Xvfb) with relocated paths: a remembered
// automatic logon against the development server, no GL stack in memory, a notice pop-up. (A
// second start: tests/shell/tst_singleinstance; the window's life online: tests/app/tst_onlinedlg.)

#include "DevServerProcess.h"
#include "TestRoot.h"

#include <QProcess>
#include <QtTest>

class TestClientSmoke : public QObject
{
    Q_OBJECT

    DevServerProcess m_server;
    TestRoot m_root{QStringLiteral("zhaoliu")};
    QProcess m_x, m_client;
    QByteArray m_output;
    QProcessEnvironment m_env = m_root.processEnvironment(QStringLiteral("zhaoliu"));

private slots:
    void initTestCase()
    {
        // -displayfd 1: Xvfb picks a free display and prints its number.
        m_x.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        QVERIFY2(m_x.waitForStarted(10000), "cannot start Xvfb (scripts/setup.sh installs it)");
        QTRY_VERIFY_WITH_TIMEOUT(m_x.canReadLine(), 20000);
        m_env.insert("DISPLAY", ":" + QString::fromLatin1(m_x.readLine().trimmed()));
        m_env.insert("QT_QPA_PLATFORM", "xcb");
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));

        // Level 15: events up to level 5 (the timer ticks) go to standard output.
        m_root.writeConfig("[Main%20Window]\n2002=127.0.0.1\n[Debug]\nLevel=15\n");
        QVERIFY(m_root.writeRememberedLogon("zhaoliu", m_server.port(), kSeedPasswordDigest));
    }

    void cleanupTestCase()
    {
        for (QProcess* process : {&m_client, &m_x}) { // politely: Xvfb removes its lock file
            process->terminate();
            process->waitForFinished(10000);
        }
    }

    void logsOnAndShowsNotice()
    {
        connect(&m_client, &QProcess::readyReadStandardOutput, this,
                [this] { m_output += m_client.readAllStandardOutput(); });
        m_client.setProcessEnvironment(m_env);
        m_client.setWorkingDirectory(m_root.programFolder());
        m_client.start(QStringLiteral(ORIX_CLIENT_APP_PATH), QStringList());
        QTRY_VERIFY2_WITH_TIMEOUT(m_output.contains(", online=1\n"), m_output.constData(), 60000);
        // A widgets client: no GL driver stack in memory.
        QFile maps(QStringLiteral("/proc/%1/maps").arg(m_client.processId()));
        QVERIFY(maps.open(QIODevice::ReadOnly));
        const QByteArray mapped = maps.readAll();
        QVERIFY(!mapped.contains("_dri.so") && !mapped.contains("libLLVM"));

        // A notice pops up (a tool window that closes itself after 3 seconds).
        QString error;
        QVERIFY2(m_server.addNotice("zhaoliu", 512, QStringLiteral("冒烟测试.pdf|一楼复印机|0|0"),
                                    &error),
                 qPrintable(error));
        QTRY_VERIFY_WITH_TIMEOUT(
            [this] {
                QProcess xwininfo;
                xwininfo.setProcessEnvironment(m_env);
                xwininfo.start("xwininfo", {"-root", "-tree"});
                xwininfo.waitForFinished(10000);
                return xwininfo.readAllStandardOutput().contains("消息提示");
            }(),
            60000);
    }
};

QTEST_GUILESS_MAIN(TestClientSmoke)
#include "tst_clientsmoke.moc"
