// Smoke test of the real program on an X server (Xvfb): relocated paths, a
// remembered automatic logon against the development server, polling, a
// notice popping up, and the single-instance rule for a second start.

#include "DevServerProcess.h"
#include "TestRoot.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>
#include <memory>

namespace
{

const char kPasswordDigest[] = "E10ADC3949BA59ABBE56E057F20F883E"; // "123456"

// A private X server on a display number of its own choosing.
class XServer
{
public:
    ~XServer() { stop(); }

    bool start(QString* error)
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty()) {
            *error = "Xvfb is not installed (scripts/setup.sh installs it)";
            return false;
        }
        m_process.setProgram(xvfb);
        // -displayfd 1: Xvfb picks a free display and prints its number.
        m_process.setArguments(
            {"-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp"});
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start();
        if (!m_process.waitForStarted(10000)) {
            *error = "cannot start Xvfb: " + m_process.errorString();
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        while (!m_process.canReadLine() && clock.elapsed() < 20000 &&
               m_process.state() == QProcess::Running)
            m_process.waitForReadyRead(200);
        bool ok = false;
        const int number = m_process.readLine().trimmed().toInt(&ok);
        if (!ok) {
            *error = "Xvfb did not report its display: " +
                     QString::fromLocal8Bit(m_process.readAllStandardError());
            return false;
        }
        m_display = QStringLiteral(":%1").arg(number);
        return true;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(10000)) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    QString display() const { return m_display; }

    // The names of all windows, as xwininfo lists them.
    QString windowTree() const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", m_display);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("xwininfo"), {"-root", "-tree"});
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }

private:
    QProcess m_process;
    QString m_display;
};

} // namespace

class TestClientSmoke : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void logsOnAutomaticallyAndPolls();
    void noticePopsUp();
    void secondStartOfSameUserExits();

private:
    QProcessEnvironment clientEnvironment() const;
    QProcess* startClient();
    // Reads the client's output until text has appeared count times.
    bool waitForOutput(QProcess* client, const QString& text, int timeoutMs, int count = 1);

    std::unique_ptr<TestRoot> m_root;
    DevServerProcess m_server;
    XServer m_x;
    std::unique_ptr<QProcess> m_client;
    QString m_output; // everything the first client printed
};

void TestClientSmoke::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(ORIX_CLIENT_APP_PATH)));
    QString error;
    QVERIFY2(m_x.start(&error), qPrintable(error));
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xwininfo")).isEmpty(),
             "xwininfo is not installed (scripts/setup.sh installs x11-utils)");
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));

    m_root.reset(new TestRoot(QStringLiteral("zhangsan")));
    // Level 15: the logon and timer events go to standard output.
    m_root->writeConfig("[Main%20Window]\n2002=127.0.0.1\n[Debug]\nLevel=15\n");
    QFile last(m_root->varTmp() + "/Last.ini");
    QVERIFY(last.open(QIODevice::WriteOnly));
    last.write(QStringLiteral("[General]\nServerName=127.0.0.1\nUserName=zhangsan\n"
                              "PassWord=%1\nSavePasswordFlag=1\nAutoLoginFlag=1\n"
                              "SaveDomainAgintLogFlag=0\nServerPort=%2\n")
                   .arg(QString::fromLatin1(kPasswordDigest))
                   .arg(m_server.port())
                   .toUtf8());
    last.close();
}

void TestClientSmoke::cleanupTestCase()
{
    if (m_client) {
        m_client->terminate();
        if (!m_client->waitForFinished(10000)) {
            m_client->kill();
            m_client->waitForFinished(5000);
        }
        m_client.reset();
    }
    m_x.stop();
    m_root.reset();
}

QProcessEnvironment TestClientSmoke::clientEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("ORIX_ROOT_PREFIX", m_root->path());
    env.insert("HOME", m_root->home());
    env.insert("DISPLAY", m_x.display());
    env.insert("QT_QPA_PLATFORM", "xcb");
    return env;
}

QProcess* TestClientSmoke::startClient()
{
    auto* client = new QProcess;
    client->setProcessEnvironment(clientEnvironment());
    // The program's own folder: the notice texts and the plug-in are
    // looked up relative to the working directory.
    client->setWorkingDirectory(m_root->programFolder());
    client->start(QStringLiteral(ORIX_CLIENT_APP_PATH), QStringList());
    return client;
}

bool TestClientSmoke::waitForOutput(QProcess* client, const QString& text, int timeoutMs, int count)
{
    QElapsedTimer clock;
    clock.start();
    while (m_output.count(text) < count && clock.elapsed() < timeoutMs &&
           client->state() == QProcess::Running) {
        client->waitForReadyRead(100);
        m_output += QString::fromUtf8(client->readAllStandardOutput());
    }
    m_output += QString::fromUtf8(client->readAllStandardOutput());
    return m_output.count(text) >= count;
}

void TestClientSmoke::logsOnAutomaticallyAndPolls()
{
    m_client.reset(startClient());
    QVERIFY2(m_client->waitForStarted(10000), qPrintable(m_client->errorString()));
    // No plug-in in the working directory: the program says so and logs on
    // with the remembered password.
    QVERIFY2(waitForOutput(m_client.get(), "dlopen:", 30000), qPrintable(m_output));
    QVERIFY2(waitForOutput(m_client.get(), "logon of zhangsan", 30000), qPrintable(m_output));
    // Two ticks of the online timer (5 s apart).
    QVERIFY2(waitForOutput(m_client.get(), ", online=1\n", 40000, 2), qPrintable(m_output));
    QCOMPARE(m_client->state(), QProcess::Running);
    // The remembered logon was rewritten, in the relocated folder.
    QVERIFY(QFile::exists(m_root->varTmp() + "/zhangsan/zhangsan.ini"));
}

void TestClientSmoke::noticePopsUp()
{
    QVERIFY(m_client && m_client->state() == QProcess::Running);
    QString error;
    QVERIFY2(
        m_server.addNotice("zhangsan", 512, QStringLiteral("冒烟测试.pdf|一楼复印机|0|0"), &error),
        qPrintable(error));
    const QString delivered =
        QStringLiteral("SELECT Delivered FROM Notices WHERE FieldText LIKE '冒烟测试.pdf|%'");
    QTRY_VERIFY_WITH_TIMEOUT(m_server.scalar(delivered).toInt() == 1, 60000);
    // The pop-up is on the screen (it closes itself after 3 seconds; the
    // seeded approval notice stays until clicked).
    QTRY_VERIFY_WITH_TIMEOUT(m_x.windowTree().contains(QStringLiteral("消息提示")), 10000);
}

void TestClientSmoke::secondStartOfSameUserExits()
{
    QVERIFY(m_client && m_client->state() == QProcess::Running);
    std::unique_ptr<QProcess> second(startClient());
    QVERIFY(second->waitForStarted(10000));
    QVERIFY(second->waitForFinished(20000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    const QString errors = QString::fromLocal8Bit(second->readAllStandardError());
    QVERIFY2(errors.contains("lock file error/n"), qPrintable(errors));
    // The first instance lives on.
    QTest::qWait(500);
    QCOMPARE(m_client->state(), QProcess::Running);
}

QTEST_GUILESS_MAIN(TestClientSmoke)
#include "tst_clientsmoke.moc"
