// The event log; one client per desktop user past what another user planted; the sign-on
// plug-in's state file; the about box and the link label.
#include "DevServerProcess.h"
#include "EventLog.h"
#include "PlantedObject.h"
#include "TestFiles.h"
#include "TestRoot.h"
#include "aboutdlg.h"
#include "label.h"

#include <QtTest>

#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <vector>

class TestShell : public QObject
{
    Q_OBJECT

    DevServerProcess m_server;
    std::unique_ptr<TestRoot> m_root;
    std::vector<std::unique_ptr<QProcess>> m_clients; // killed with the object

    QByteArray log() const { return readFile(m_root->programFolder() + "AppLog.txt"); }

    QProcess* startClient(const QString& user)
    {
        m_clients.emplace_back(new QProcess);
        QProcess* p = m_clients.back().get();
        QProcessEnvironment env = m_root->processEnvironment(user);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p->setProcessEnvironment(env);
        p->setWorkingDirectory(m_root->path()); // no plug-in, no configuration
        p->start(QStringLiteral(ORIX_CLIENT_APP_PATH), QStringList());
        return p;
    }

    // Whether another process holds the user's own lock (a planted FIFO is never waited on).
    bool waitForLock(const QString& user)
    {
        const QByteArray own = QFile::encodeName(m_root->path() + "/home/" + user +
                                                 "/.local/share/OrixClient/lockfile");
        return QTest::qWaitFor(
            [&] {
                const int fd = open(own.constData(), O_WRONLY | O_NONBLOCK);
                const bool held = fd >= 0 && lockf(fd, F_TEST, 0) < 0;
                if (fd >= 0)
                    close(fd);
                return held;
            },
            15000);
    }

    void expectRefusedStart(const QString& user)
    {
        QProcess* second = startClient(user);
        QVERIFY(second->waitForFinished(15000));
        QVERIFY(second->exitStatus() == QProcess::NormalExit && second->exitCode() == 0);
        QVERIFY(second->readAllStandardError().contains("lock file error/n"));
    }

private slots:
    void initTestCase() { QVERIFY2(m_server.start(), qPrintable(m_server.errorString())); }

    void init()
    {
        m_root.reset(new TestRoot);
        // Like /var/tmp: every user may create files there, none may remove another's.
        chmod(QFile::encodeName(m_root->path()).constData(), 0755);
        chmod(QFile::encodeName(m_root->path() + "/var").constData(), 0755);
        chmod(QFile::encodeName(m_root->varTmp()).constData(), 01777);
    }

    void cleanup()
    {
        m_clients.clear();
        m_root.reset();
    }

    void levels_data()
    {
        QTest::addColumn<QByteArray>("level"); // null: no configuration file
        QTest::addColumn<QByteArray>("file");  // "(missing)": no AppLog.txt at all
        QTest::addColumn<QByteArray>("out");   // on standard output
        const QByteArray none, upTo4 = "IF Init fail\n\r\nlogin-user:alice, 0\n\r\n";
        const QByteArray all = upTo4 + "tmid=3, online=1\n\r\n", missing = "(missing)";
        QTest::newRow("no config") << none << missing << none;
        QTest::newRow("level 0") << QByteArray("0") << missing << none;
        QTest::newRow("level 4: no timer lines") << QByteArray("4") << upTo4 << none;
        QTest::newRow("level 5: all to the file") << QByteArray("5") << all << none;
        QTest::newRow("level 11: level 1 only") << QByteArray("11") << missing << none;
        QTest::newRow("level 14: up to 4 on stdout") << QByteArray("14") << missing << upTo4;
        QTest::newRow("level 15: all on stdout") << QByteArray("15") << missing << all;
        QTest::newRow("not a number") << QByteArray("high") << missing << none;
    }

    void levels()
    {
        QFETCH(QByteArray, level);
        if (!level.isNull())
            m_root->writeConfig("[Debug]\nLevel=" + level + "\n");
        QTEST(captureStdout([] {
                  LogEvent(2, "IF Init fail\n");
                  LogEvent(4, "login-user:%s, %d\n", "alice", 0);
                  LogEvent(5, "tmid=%d, online=%d\n", 3, 1);
              }),
              "out");
        QTEST(log(), "file");
    }

    void textIsDataAndCut()
    {
        m_root->writeConfig("[Debug]\nLevel=0\n");
        LogEvent(4, "first\n");
        m_root->writeConfig("[Debug]\nLevel=4\n"); // read again by the next call
        LogEvent(4, "dlopen:%s\n", "100% %s %n broken");
        // 509 bytes and "\r\n", never a UTF-8 character split.
        LogEvent(4, "logout-user:%s\n", QByteArray(2000, 'n').constData());
        LogEvent(4, "%s", QByteArray("审").repeated(300).constData());
        QCOMPARE(log(), "dlopen:100% %s %n broken\n\r\nlogout-user:" + QByteArray(497, 'n') +
                            "\r\n" + QByteArray("审").repeated(169) + "\r\n");
    }

    // AppLog.txt of the program folder only when it is the user's own file, else the user's log.
    void logFileOnlyTheUsersOwn_data()
    {
        QTest::addColumn<QString>("kind"); // what stands at AppLog.txt; "": nothing
        QTest::addColumn<bool>("foreign");
        QTest::addColumn<bool>("programLog"); // the events go to the program folder's file
        QTest::newRow("none: created") << "" << false << true;
        QTest::newRow("the user's own file") << "file" << false << true;
        QTest::newRow("file of another user") << "file" << true << false;
        QTest::newRow("FIFO of another user") << "fifo" << true << false;
        QTest::newRow("link to a file of the user") << "link" << false << false;
        QTest::newRow("link of another user") << "link" << true << false;
        QTest::newRow("folder") << "folder" << false << false;
        QTest::newRow("file everybody may write") << "shared file" << false << false;
    }

    void logFileOnlyTheUsersOwn()
    {
        QFETCH(QString, kind);
        QFETCH(bool, foreign);
        QFETCH(bool, programLog);
        if (foreign && geteuid() != 0)
            QSKIP("planting another user's object needs root (chown to nobody)");
        m_root->writeConfig("[Debug]\nLevel=4\n");
        const QString program = m_root->programFolder() + "AppLog.txt";
        const QString target = m_root->path() + "/target.txt";
        QVERIFY(writeFile(target, "mine\n"));
        if (kind == "shared file") {
            QVERIFY(PlantedObject::plant(program, "file", false, "old\n"));
            QVERIFY(QFile(program).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::WriteOther));
        } else if (!kind.isEmpty()) {
            QVERIFY(PlantedObject::plant(program, kind, foreign, "old\n", target));
        }
        const QString planted = PlantedObject::snapshot(program);
        const QString userLog = m_root->home() + "/.local/state/OrixClient/AppLog.txt";
        QByteArray reason;
        QCOMPARE(QString::fromUtf8(EventLogFile(&reason)), programLog ? program : userLog);
        QCOMPARE(reason.isEmpty(), programLog);

        LogEvent(4, "login-user:%s, %d\n", "alice", 0);
        if (programLog) {
            QVERIFY(log().endsWith("login-user:alice, 0\n\r\n"));
            QVERIFY(!QFile::exists(userLog));
            return;
        }
        QCOMPARE(PlantedObject::snapshot(program), planted);
        QCOMPARE(readFile(target), QByteArray("mine\n"));
        QCOMPARE(readFile(userLog), QByteArray("login-user:alice, 0\n\r\n"));
        QCOMPARE(modeOf(userLog), 0600);
    }

    // The user's own log: under an absolute $XDG_STATE_HOME, kept below its limit by one older
    // file.
    void userLogPlaceAndLimit()
    {
        m_root->writeConfig("[Debug]\nLevel=4\n");
        QVERIFY(PlantedObject::plant(m_root->programFolder() + "AppLog.txt", "link", false, {},
                                     m_root->path() + "/elsewhere.txt"));
        EnvGuard env;
        env.set("XDG_STATE_HOME", "relative/state");
        QCOMPARE(EventLogFile(),
                 QFile::encodeName(m_root->home()) + "/.local/state/OrixClient/AppLog.txt");
        const QString state = m_root->path() + "/state";
        env.set("XDG_STATE_HOME", QFile::encodeName(state + "/"));
        const QString log = state + "/OrixClient/AppLog.txt";
        QCOMPARE(QString::fromUtf8(EventLogFile()), log);

        const QByteArray filler(int(kUserLogLimit) - 10, 'f');
        QVERIFY(writeFile(log, filler));
        LogEvent(4, "a\n"); // 4 bytes: still fits
        LogEvent(4, "the one too many\n");
        QCOMPARE(readFile(log + ".1"), filler + "a\n\r\n");
        QCOMPARE(readFile(log), QByteArray("the one too many\n\r\n"));
        LogEvent(4, "b\n");
        QCOMPARE(readFile(log), QByteArray("the one too many\n\r\nb\n\r\n"));
        QCOMPARE(readFile(log + ".1").size(), filler.size() + 4);
    }

    void secondStartSignalsTheFirst()
    {
        // A sticky signal folder open to all, a file per user; a second start touches its user's.
        const QString folder = m_root->varTmp() + "/Tavlockfilepath";
        m_root->writeConfig("[Main%20Window]\n2002=127.0.0.1\n[Debug]\nLevel=15\n");
        QVERIFY(m_root->writeRememberedLogon("zhaoliu", m_server.port(), kSeedPasswordDigest));
        // A portal page of a run that ended within its 120 s, the password digest in it.
        const QString page = m_root->path() + "/home/alice/.local/share/OrixClient/portal-x.html";
        QVERIFY(writeFile(page, kSeedPasswordDigest));
        QProcess* alice = startClient("alice");
        QByteArray out; // level 15: the timer's events, with the state, on standard output
        QTRY_VERIFY_WITH_TIMEOUT((out += alice->readAllStandardOutput()).contains(", online=1\n"),
                                 60000);
        QVERIFY(waitForLock("alice"));
        QVERIFY(!QFile::exists(page)); // removed at start, before the window
        QProcess* bob = startClient("bob");
        QVERIFY(waitForLock("bob"));
        QCOMPARE(modeOf(folder) & 01002, 01002); // sticky, writable by all
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({"1-alice", "1-bob"}));

        QFileSystemWatcher watcher({folder + "/1-alice", folder + "/1-bob"});
        QSignalSpy changed(&watcher, &QFileSystemWatcher::fileChanged);
        expectRefusedStart("alice");
        QTRY_VERIFY(!changed.isEmpty());
        QTest::qWait(200);
        for (const QList<QVariant>& change : changed)
            QCOMPARE(change.value(0).toString(), folder + "/1-alice");
        QVERIFY(alice->state() == QProcess::Running && bob->state() == QProcess::Running);
        QVERIFY(QFile::exists(m_root->varTmp() + "/lockfile-alice") &&
                QFile::exists(m_root->varTmp() + "/lockfile-bob"));
    }

    void plantedObjects_data()
    {
        // None may hold up the start, be written through, or let a second start of the user run.
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("foreign");
        const auto row = [](const char* tag, const char* name, const char* kind, bool foreign) {
            QTest::newRow(tag) << QString(name) << QString(kind) << foreign;
        };
        row("signal folder: FIFO", "Tavlockfilepath", "fifo", false);
        row("signal folder: another user's file", "Tavlockfilepath", "file", true);
        row("signal folder: link to the user's folder", "Tavlockfilepath", "link", false);
        row("signal file: another user's FIFO", "Tavlockfilepath/1", "fifo", true);
        row("lock file: FIFO", "lockfile-alice", "fifo", false);
        row("lock file: another user's, locked", "lockfile-alice", "file", true);
        // Made 0644 by an earlier version; another user's process took a read lock meanwhile.
        row("lock file: the user's own, read-locked by another user", "lockfile-alice", "file-0644",
            false);
    }

    void plantedObjects()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(bool, foreign);
        const bool readLocked = kind == "file-0644";
        if ((foreign || readLocked) && geteuid() != 0)
            QSKIP("planting another user's object or lock needs root (chown to, run as nobody)");
        const QString path = m_root->varTmp() + "/" + name;
        const QString linked = m_root->path() + "/home/alice/linked";
        QVERIFY(QDir().mkpath(linked));
        if (name.contains('/')) {
            QVERIFY(QDir().mkdir(QFileInfo(path).path()));
            chmod(QFile::encodeName(QFileInfo(path).path()).constData(), 01777);
        }
        QVERIFY(PlantedObject::plant(path, readLocked ? "file" : kind, foreign, "1\n", linked));
        const QByteArray at = QFile::encodeName(path);
        // A lock held by a process of the other user.
        const int held = kind == "file" && name.startsWith("lockfile") ? open(at, O_WRONLY) : -1;
        if (held >= 0)
            QCOMPARE(lockf(held, F_TLOCK, 0), 0);
        QProcess reader; // of the other user, holding a read lock (fcntl) until its input ends
        if (readLocked) {
            QCOMPARE(chmod(at.constData(), 0644), 0);
            reader.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                     "/usr/bin/python3", "-c",
                                     "import fcntl, sys\nf = open(sys.argv[1])\n"
                                     "fcntl.lockf(f, fcntl.LOCK_SH | fcntl.LOCK_NB)\n"
                                     "print('held', flush=True)\nsys.stdin.read()",
                                     path});
            QVERIFY(reader.waitForReadyRead(10000) && reader.readAll().startsWith("held"));
        }
        const QString before = PlantedObject::snapshot(path);

        QProcess* first = startClient("alice");
        QVERIFY(waitForLock("alice"));
        expectRefusedStart("alice");
        QCOMPARE(first->state(), QProcess::Running);
        QCOMPARE(PlantedObject::snapshot(path), before);
        QVERIFY(!readLocked || modeOf(path) == 0600);
        if (held >= 0)
            close(held);
        reader.closeWriteChannel();
        reader.waitForFinished(5000);
    }

    void signOnStateFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("foreign");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("answer"); // result and name
        QTest::newRow("the user's own file") << "file" << false << 0600 << "0 bob";
        QTest::newRow("writable by all") << "file" << false << 0666 << "2 ";
        QTest::newRow("another user's file") << "file" << true << 0644 << "2 ";
        QTest::newRow("FIFO") << "fifo" << false << 0666 << "2 ";
        QTest::newRow("link to the user's file") << "link" << false << 0600 << "2 ";
    }

    void signOnStateFile()
    {
        QFETCH(QString, kind);
        QFETCH(bool, foreign);
        QFETCH(int, mode);
        if (foreign && geteuid() != 0)
            QSKIP("planting another user's object needs root (chown to nobody)");
        m_root->setUser("bob");
        m_root->env.unset("ORIX_SIGNON_STATE");
        // The shared name that every user could write is never read; the default is the user's.
        const QString shared = m_root->varTmp() + "/ifclient-signon";
        QVERIFY(PlantedObject::plant(shared, "file", geteuid() == 0, "login mallory\n"));
        chmod(QFile::encodeName(shared).constData(), 0666);
        const QString path = m_root->varTmp() + "/ifclient-signon-bob";
        const QString own = m_root->home() + "/signon";
        QVERIFY(PlantedObject::plant(own, "file", false, "login bob\n"));
        QVERIFY(PlantedObject::plant(path, kind, foreign, "login bob\n", own));
        chmod(QFile::encodeName(kind == "link" ? own : path).constData(), mode_t(mode));

        void* plugin = dlopen(ORIX_IFCLIENT_PATH, RTLD_NOW | RTLD_LOCAL);
        QVERIFY2(plugin, dlerror());
        using Check = int (*)(int, char*, char*);
        void* context = reinterpret_cast<void* (*)(const char*)>(dlsym(plugin, "SyncInit"))(
            "Server=127.0.0.1;");
        char server[256] = "", name[256] = "";
        const int result =
            reinterpret_cast<Check>(dlsym(plugin, "SyncCheckLogin"))(0, server, name);
        reinterpret_cast<void (*)(void*)>(dlsym(plugin, "SyncFree"))(context);
        QTEST(QString::number(result) + " " + name, "answer");
    }

    void aboutBoxShowsVersionAndConfirmCloses()
    {
        aboutdlg about;
        QCOMPARE(about.findChild<QLabel*>("label_Version")->text(), QStringLiteral("版本：2.0.2"));
        about.show();
        QTest::mouseClick(about.findChild<QWidget*>("pushButtonOK"), Qt::LeftButton);
        QVERIFY(!about.isVisible());
    }

    void labelClicksOnLeftPressAndUnderlinesWhileHovered()
    {
        label link(QStringLiteral("link"));
        QSignalSpy clicked(&link, &label::clicked);
        QTest::mousePress(&link, Qt::LeftButton);
        QCOMPARE(clicked.count(), 1); // already on the press
        QTest::mouseRelease(&link, Qt::LeftButton);
        QTest::mouseClick(&link, Qt::RightButton);
        QCOMPARE(clicked.count(), 1);
        link.resize(200, 40);
        // The middle of the underline's row, 5 pixels above the bottom.
        const auto underlined = [&] {
            return link.grab().toImage().pixelColor(100, 35) == QColor(Qt::blue);
        };
        QVERIFY(!underlined());
        QEvent enter(QEvent::Enter), leave(QEvent::Leave);
        QCoreApplication::sendEvent(&link, &enter);
        QVERIFY(underlined());
        QCoreApplication::sendEvent(&link, &leave);
        QVERIFY(!underlined());
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
