#include "SingleInstance.h"
#include "TestRoot.h"

#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

// The single-instance rule with real processes of the built program: one
// client per desktop user, a second start signals the first and exits 0.
class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void secondStartOfSameUserExits();
    void otherUserStartsAlongside();
    void unopenableLockFileExitsQuietly();

private:
    QProcess* startClient(const QString& user);
    bool waitForLock(const QString& user, int timeoutMs = 15000) const;

    TestRoot* m_root = nullptr;
    QList<QProcess*> m_clients;
};

void TestSingleInstance::init()
{
    m_root = new TestRoot;
}

void TestSingleInstance::cleanup()
{
    for (QProcess* p : m_clients) {
        p->kill();
        p->waitForFinished(5000);
        delete p;
    }
    m_clients.clear();
    delete m_root;
    m_root = nullptr;
}

QProcess* TestSingleInstance::startClient(const QString& user)
{
    auto* p = new QProcess;
    QProcessEnvironment env = m_root->processEnvironment(user);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p->setProcessEnvironment(env);
    // No plug-in and no configuration next to the program here.
    p->setWorkingDirectory(m_root->path());
    p->start(QStringLiteral(ORIX_CLIENT_APP_PATH), QStringList());
    m_clients << p;
    return p;
}

bool TestSingleInstance::waitForLock(const QString& user, int timeoutMs) const
{
    const QByteArray path = QFile::encodeName(m_root->varTmp() + "/lockfile-" + user);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        int fd = open(path.constData(), O_WRONLY);
        if (fd >= 0) {
            // F_TEST fails while another process holds the lock.
            const bool held = lockf(fd, F_TEST, 0) < 0;
            close(fd);
            if (held)
                return true;
        }
        QTest::qWait(50);
    }
    return false;
}

void TestSingleInstance::secondStartOfSameUserExits()
{
    // The first start creates the signal folder and its file "1".
    QVERIFY(!QDir(m_root->varTmp() + "/Tavlockfilepath").exists());
    QProcess* first = startClient("alice");
    QVERIFY(waitForLock("alice"));
    QVERIFY(QFileInfo(m_root->varTmp() + "/Tavlockfilepath/1").isFile());
    const QDateTime before =
        QFileInfo(m_root->varTmp() + "/Tavlockfilepath/1").metadataChangeTime();

    QElapsedTimer timer;
    timer.start();
    QProcess* second = startClient("alice");
    QVERIFY(second->waitForFinished(15000));
    qInfo("second start ended after %lld ms", timer.elapsed());
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY2(second->readAllStandardError().contains("lock file error/n"),
             "the refused start names the lock error");
    QCOMPARE(first->state(), QProcess::Running);
    // The second start touched the signal file (its mode was set again).
    QVERIFY(QFileInfo(m_root->varTmp() + "/Tavlockfilepath/1").metadataChangeTime() >= before);
}

void TestSingleInstance::otherUserStartsAlongside()
{
    QProcess* alice = startClient("alice");
    QVERIFY(waitForLock("alice"));
    QProcess* bob = startClient("bob");
    QVERIFY(waitForLock("bob"));
    QCOMPARE(alice->state(), QProcess::Running);
    QCOMPARE(bob->state(), QProcess::Running);
    QVERIFY(QFile::exists(m_root->varTmp() + "/lockfile-alice"));
    QVERIFY(QFile::exists(m_root->varTmp() + "/lockfile-bob"));
}

void TestSingleInstance::unopenableLockFileExitsQuietly()
{
    // A folder in the lock file's place cannot be opened for writing, not
    // even by root: the start ends as if another instance ran.
    QVERIFY(QDir().mkpath(m_root->varTmp() + "/lockfile-alice"));
    QProcess* p = startClient("alice");
    QVERIFY(p->waitForFinished(15000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 0);
    QVERIFY(p->readAllStandardError().contains("open lockfile/n"));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
