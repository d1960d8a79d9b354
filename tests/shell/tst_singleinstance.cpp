#include "PlantedObject.h"
#include "SingleInstance.h"
#include "TestRoot.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
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
    void plantedObjects_data();
    void plantedObjects();

private:
    QProcess* startClient(const QString& user);
    // The lock that every start takes in the user's own folder is held.
    bool waitForLock(const QString& user, int timeoutMs = 15000) const;
    void expectRefusedStart(const QString& user);

    TestRoot* m_root = nullptr;
    QList<QProcess*> m_clients;
};

void TestSingleInstance::init()
{
    m_root = new TestRoot;
    // Like /var/tmp: every user may create files there, none may remove another's.
    chmod(QFile::encodeName(m_root->path()).constData(), 0755);
    chmod(QFile::encodeName(m_root->path() + "/var").constData(), 0755);
    chmod(QFile::encodeName(m_root->varTmp()).constData(), 01777);
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
    const QString own = m_root->path() + "/home/" + user + "/.local/share/OrixClient/lockfile";
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        // F_TEST fails while another process holds the lock (never waits: a
        // planted FIFO is not opened for writing without a reader).
        const int fd = open(QFile::encodeName(own).constData(), O_WRONLY | O_NONBLOCK);
        const bool held = fd >= 0 && lockf(fd, F_TEST, 0) < 0;
        if (fd >= 0)
            close(fd);
        if (held)
            return true;
        QTest::qWait(50);
    }
    return false;
}

void TestSingleInstance::expectRefusedStart(const QString& user)
{
    QProcess* second = startClient(user);
    QVERIFY(second->waitForFinished(15000));
    QCOMPARE(second->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second->exitCode(), 0);
    QVERIFY2(second->readAllStandardError().contains("lock file error/n"),
             "the refused start names the lock error");
}

void TestSingleInstance::secondStartOfSameUserExits()
{
    // The first start creates the shared signal folder (sticky, open to every
    // user) and its user's own signal file; a second start touches that file,
    // which the running instance watches, and no other user's.
    const QString folder = m_root->varTmp() + "/Tavlockfilepath";
    QVERIFY(!QDir(folder).exists());
    QProcess* first = startClient("alice");
    QVERIFY(waitForLock("alice"));
    QProcess* bob = startClient("bob");
    QVERIFY(waitForLock("bob"));
    QCOMPARE(QFileInfo(folder).permissions() & QFileDevice::WriteOther, QFileDevice::WriteOther);
    struct stat st;
    QVERIFY(stat(QFile::encodeName(folder).constData(), &st) == 0 && (st.st_mode & S_ISVTX));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({"1-alice", "1-bob"}));

    QFileSystemWatcher watcher({folder + "/1-alice", folder + "/1-bob"});
    QSignalSpy changed(&watcher, &QFileSystemWatcher::fileChanged);
    expectRefusedStart("alice");
    QTRY_VERIFY(!changed.isEmpty());
    QTest::qWait(200);
    for (const QList<QVariant>& change : changed)
        QCOMPARE(change.value(0).toString(), folder + "/1-alice");
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(bob->state(), QProcess::Running);
    QVERIFY(QFile::exists(m_root->varTmp() + "/lockfile-alice"));
    QVERIFY(QFile::exists(m_root->varTmp() + "/lockfile-bob"));
}

void TestSingleInstance::plantedObjects_data()
{
    // What another user leaves where the start looks: none of it may hold up
    // the start, be written through, or let a second start of the user run.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("foreign");
    QTest::newRow("signal folder: FIFO") << "Tavlockfilepath"
                                         << "fifo" << false;
    QTest::newRow("signal folder: another user's file") << "Tavlockfilepath"
                                                        << "file" << true;
    QTest::newRow("signal folder: link to the user's folder") << "Tavlockfilepath"
                                                              << "link" << false;
    QTest::newRow("signal file: another user's FIFO") << "Tavlockfilepath/1"
                                                      << "fifo" << true;
    QTest::newRow("lock file: FIFO") << "lockfile-alice"
                                     << "fifo" << false;
    QTest::newRow("lock file: another user's, locked") << "lockfile-alice"
                                                       << "file" << true;
}

void TestSingleInstance::plantedObjects()
{
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(bool, foreign);
    if (foreign && geteuid() != 0)
        QSKIP("planting another user's object needs root (chown to nobody)");
    const QString path = m_root->varTmp() + "/" + name;
    const QString linked = m_root->path() + "/home/alice/linked";
    QVERIFY(QDir().mkpath(linked));
    if (name.contains('/')) {
        QVERIFY(QDir().mkdir(QFileInfo(path).path()));
        chmod(QFile::encodeName(QFileInfo(path).path()).constData(), 01777);
    }
    QVERIFY(PlantedObject::plant(path, kind, foreign, "1\n", linked));
    // A lock held by a process of the other user.
    const int held = kind == "file" && name.startsWith("lockfile")
                         ? open(QFile::encodeName(path).constData(), O_WRONLY)
                         : -1;
    if (held >= 0)
        QCOMPARE(lockf(held, F_TLOCK, 0), 0);
    const QString before = PlantedObject::snapshot(path);

    QProcess* first = startClient("alice");
    QVERIFY(waitForLock("alice"));
    expectRefusedStart("alice");
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(PlantedObject::snapshot(path), before);
    if (held >= 0)
        close(held);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
