// The main window against the development server through a counting, delaying relay; the
// readiness check.

#include "AppIcons.h"
#include "DevServerProcess.h"
#include "JobHistory.h"
#include "JobHistoryModel.h"
#include "JobsPage.h"
#include "LogonPWDlg.h"
#include "LoopbackProxy.h"
#include "OnlineDlg.h"
#include "PlantedObject.h"
#include "PrivateCupsd.h"
#include "QPrintJobMonitor.h"
#include "RawHttpServer.h"
#include "ReadinessCheck.h"
#include "RpcTestClient.h"
#include "ServerMsgDlg.h"
#include "SessionTestKit.h"
#include "SingleInstance.h"
#include "TestFiles.h"
#include "TestPki.h"
#include "TestRoot.h"

#include <QtTest>

#include <functional>
#include <memory>

class TestOnlineDlg : public QObject
{
    Q_OBJECT

    // The longest the event loop has kept a 10 ms timer waiting.
    struct StallMeter {
        QTimer timer;
        QElapsedTimer clock;
        qint64 worst = 0;
        StallMeter()
        {
            QObject::connect(&timer, &QTimer::timeout,
                             [this] { worst = qMax(worst, clock.restart() - 10); });
            clock.start();
            timer.start(10);
        }
    };

    DevServerProcess m_server;
    RawHttpServer m_relay; // to m_server
    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<OnlineDlg> m_window;
    std::unique_ptr<SessionController> m_controller; // on its own, without a window
    BoxRecorder m_boxes;
    // Each logon dialog is closed with Escape, left open or logged on after actAfterMs.
    struct {
        QString password;
        bool leaveOpen = false;
        int actAfterMs = 0;
        std::function<void()> onShown;
        QPointer<LogonPWDlg> last;
        QElapsedTimer shownFor; // invalid once acted on
        int seen = 0;
        Qt::WindowModality firstModality = Qt::NonModal;
    } m_dialogs;
    QTimer m_driver;

    // Writes the configuration and any remembered logon; opens the window with short intervals.
    void start(const QString& address, const QByteArray& digest = {}, quint16 port = 0,
               const QString& extra = {}, const QByteArray& user = "zhaoliu")
    {
        m_root->writeConfig(("[Main%20Window]\n2002=" + address + "\n" + extra).toUtf8());
        if (!digest.isEmpty())
            QVERIFY(m_root->writeRememberedLogon(user, port ? port : m_relay.port(), digest));
        OnlineDlg::Options o;
        o.onlinePollMs = o.pluginPollMs = 200;
        o.autoLogonRetryMs = 300;
        o.hideDelayMs = 0; // hidden before anything else happens
        o.logonWaits.FirstMs = 200;
        o.logonWaits.LongestMs = 400;
        m_window.reset(new OnlineDlg(o));
    }

    bool waitOnline(bool online = true)
    {
        return QTest::qWaitFor([&] { return m_window->isOnline() == online; }, 20000);
    }

    int sent(const QString& operation) const { return m_relay.operations().count(operation); }
    void writeSignOn(const QByteArray& line)
    {
        QVERIFY(writeFile(m_root->path() + "/signon-state", line + "\n"));
    }

    // The row's verdict ("ok") and a detail that contains the row's "says".
    static void expectItem(const ReadinessCheck::Item& item)
    {
        const auto verdict =
            fetch<bool>("ok") ? ReadinessCheck::Verdict::Ok : ReadinessCheck::Verdict::Fail;
        QVERIFY2(item.verdict == verdict && item.detail.contains(fetch<QString>("says")),
                 qPrintable(ReadinessCheck::format(item)));
    }

    void driveLogonDialog()
    {
        LogonPWDlg* dialog = m_window       ? m_window->logonDialog()
                             : m_controller ? m_controller->logonDialog()
                                            : nullptr;
        if (!dialog || !dialog->isVisible())
            return;
        if (dialog != m_dialogs.last) {
            m_dialogs.last = dialog;
            m_dialogs.shownFor.start();
            if (++m_dialogs.seen == 1)
                m_dialogs.firstModality = dialog->windowModality();
            if (m_dialogs.onShown)
                m_dialogs.onShown();
        }
        if (!m_dialogs.shownFor.isValid() || m_dialogs.leaveOpen ||
            m_dialogs.shownFor.elapsed() < m_dialogs.actAfterMs)
            return;
        m_dialogs.shownFor.invalidate();
        if (m_dialogs.password.isEmpty()) {
            QTest::keyClick(dialog, Qt::Key_Escape);
            return;
        }
        dialog->findChild<QLineEdit*>("lineEditPassword")->setText(m_dialogs.password);
        QTest::mouseClick(dialog->findChild<QPushButton*>("Logon"), Qt::LeftButton);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_relay.forwardTo(m_server.port());
        connect(&m_driver, &QTimer::timeout, this, &TestOnlineDlg::driveLogonDialog);
    }

    void init()
    {
        m_root.reset(new TestRoot(QStringLiteral("zhaoliu")));
        m_boxes.boxes.clear();
        m_relay.clearRequests();
        m_root->env.set("ORIX_SIGNON_STATE", QFile::encodeName(m_root->path() + "/signon-state"));
        activateExistentProcess(); // the signal folder exists before the window watches it
        m_dialogs = {};
        m_driver.start(10);
    }

    void cleanup()
    {
        m_driver.stop();
        m_window.reset();
        m_controller.reset();
        m_root.reset();
    }

    void logonAtStart_data()
    {
        QTest::addColumn<QByteArray>("digest"); // of the remembered automatic logon
        QTest::addColumn<bool>("dropAfterLogon");
        QTest::addColumn<QString>("password"); // typed into the dialog after a second
        QTest::addColumn<int>("dialogs");
        QTest::addColumn<int>("logons"); // UserLogon requests that reach the server
        QTest::addColumn<QString>("boxes");
        // Closed with Escape: a new dialog after the retry interval.
        QTest::newRow("nothing remembered") << QByteArray() << false << "" << 2 << 0 << "";
        // No background retry (every 200 ms) while the dialog waits: the second is the user's.
        QTest::newRow("automatic logon refused")
            << QByteArray(32, '0') << false << "123456" << 1 << 2 << "";
        // The user query after the logon meets a broken connection: the box over the dialog.
        QTest::newRow("connection lost") << QByteArray(kSeedPasswordDigest) << true << "" << 2 << 0
                                         << QStringLiteral("错误|无法连接服务器！");
    }

    void logonAtStart()
    {
        QFETCH(QByteArray, digest);
        QFETCH(QString, password);
        QFETCH(int, dialogs);
        RawHttpServer dropping;
        dropping.queueReply(RpcTestClient::logonAnswer());
        dropping.closeWithoutReply();
        m_dialogs.password = password;
        m_dialogs.actAfterMs = password.isEmpty() ? 0 : 1000;
        start("127.0.0.1", digest, fetch<bool>("dropAfterLogon") ? dropping.port() : 0);

        const bool online = !password.isEmpty();
        if (online)
            QVERIFY(waitOnline());
        else
            QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.seen, dialogs, 20000);
        QCOMPARE(m_dialogs.seen, dialogs);
        QTEST(sent("UserLogon"), "logons");
        QCOMPARE(m_window->monitor()->isRunning(), online);
        QTEST(m_boxes.boxes.join('\n'), "boxes");
        // The logon is remembered only once its whole sequence went through.
        QCOMPARE(QFile::exists(m_root->varTmp() + "/zhaoliu/zhaoliu.ini"), online);
        // Only the dialog that no automatic attempt preceded is window-modal.
        QCOMPARE(m_dialogs.firstModality == Qt::WindowModal, digest.isEmpty());
        const QIcon icon = online ? AppIcons::application() : AppIcons::offline();
        QCOMPARE(m_window->trayIcon()->icon().pixmap(32).toImage(), icon.pixmap(32).toImage());
    }

    void lifeOnline()
    {
        // lisi, whose one notice waits on the server; his logon answered late, the window live.
        // A window that waited for the server would stall for as long as the answer is held.
        const int held = 1500;
        StallMeter meter;
        m_relay.delayNext("<ns:UserLogon", held);
        {
            // His job of a minute ago, in the list of jobs the window reads at start.
            JobHistory history;
            JobEntry job;
            job.Document = "报销单.pdf";
            job.SubmittedAt = QDateTime::currentMSecsSinceEpoch() - 60000;
            history.record(job);
        }
        start("127.0.0.1", kSeedPasswordDigest, 0, "[OPTION]\nUIHide=6\n", "lisi");
        QVERIFY(waitOnline());
        QVERIFY2(meter.worst < held, qPrintable(QString::number(meter.worst)));
        QCOMPARE(m_dialogs.seen, 0);
        // Bits 1 and 2 hide the copy and disc requests; the page stays for the mobile job (beside
        // the user's information and the jobs).
        QVERIFY(child(m_window.get(), "btnCopyTask")->isHidden() &&
                child(m_window.get(), "btnCDTask")->isHidden());
        QCOMPARE(child<QToolBox>(m_window.get(), "toolBox")->count(), 3);

        // His notice pops up.
        QTRY_VERIFY([] {
            for (QWidget* widget : QApplication::topLevelWidgets())
                if (qobject_cast<ServerMsgDlg*>(widget) && widget->isVisible())
                    return true;
            return false;
        }());
        // The notice (approved) reached his job in the page "我的任务".
        const QModelIndex state =
            m_window->jobsPage()->model()->index(0, JobHistoryModel::StateColumn);
        QTRY_COMPARE(state.data().toString(), QString("审批通过"));
        // What the logon filled in, and in which order it asked (the first poll came right after).
        const OrixUser* u = m_window->user();
        QCOMPARE(QString::asprintf("%s %s %s %d %d %d %d %d %d %d", u->FullName, u->GroupName,
                                   u->WebsiteAddress, u->UserId, u->GroupId, u->SecretLevel,
                                   u->PrintWay, u->JobState, u->AuditFlow.FlowID, u->PayerCount),
                 QString("李四 财务部 127.0.0.1:8080 2 2 2 2 20 1 1"));
        const QStringList calls = m_relay.operations();
        const QString sql = "GetFieldValuesBySQL SELECT ";
        const QStringList expected = {
            "UserLogon",
            sql + "SettingValue FROM SysSettings WHERE SettingName = 'LinuxPrintStateNew'",
            "GetUserInfo",
            "GetUserInfoEx",
            sql + "GroupID FROM Users WHERE UserName = 'lisi'",
            sql + "GroupName FROM Groups WHERE GroupID = 2",
            sql + "WebsiteIP FROM Servers WHERE ServerIP='127.0.0.1' AND IsMonitored='Y' AND  "
                  "IsDeleted='N'",
            "GetSecretLevel",
            sql + "PrintWay FROM Users WHERE UserName = 'lisi'",
            sql + "AuditFlowID FROM Users WHERE UserID=2"};
        QCOMPARE(calls.mid(0, expected.size()), expected);
        // The payers come last, after the audit flow's queries.
        QCOMPARE(calls.value(calls.indexOf("GetPayerInfo") + 1), QString("GetUserMessage"));

        // A poll answered late: the window stays live and skips the ticks meanwhile.
        meter.worst = 0;
        m_relay.clearRequests();
        m_relay.delayNext("<ns:GetUserMessage", held);
        QTest::qWait(2000);
        QVERIFY2(meter.worst < held, qPrintable(QString::number(meter.worst)));
        QVERIFY2(sent("GetUserMessage") <= 4, qPrintable(m_relay.operations().join(',')));
        QVERIFY(m_window->isOnline());

        // No tray can come here (no session bus, no X11): the window waits minimised in the task
        // bar, Escape puts it back there, and a second start brings it to the front, on top.
        QCOMPARE(m_window->trayIcon()->tray(), DesktopTrayIcon::Tray::None);
        QVERIFY(m_window->isVisible() && m_window->isMinimized());
        m_window->showNormal();
        QTest::keyClick(m_window.get(), Qt::Key_Escape);
        QVERIFY(m_window->isVisible() && m_window->isMinimized());
        activateExistentProcess();
        QTRY_VERIFY(!m_window->isMinimized());
        QVERIFY(m_window->windowFlags() & Qt::WindowStaysOnTopHint);

        // Logout from the tray: the dialog without an automatic logon first, brought forward with
        // the window by a second start; the user logs on.
        m_relay.clearRequests();
        int logonsBefore = -1;
        bool monitorStopped = false, forward = false;
        m_dialogs.onShown = [&] {
            logonsBefore = sent("UserLogon");
            monitorStopped = !m_window->monitor()->isRunning();
            m_window->showMinimized();
            m_window->logonDialog()->showMinimized();
            activateExistentProcess();
            forward = QTest::qWaitFor(
                [&] { return !m_window->isMinimized() && !m_window->logonDialog()->isMinimized(); },
                5000);
        };
        m_dialogs.password = QStringLiteral("123456");
        m_dialogs.actAfterMs = 300;
        m_window->trayIcon()->contextMenu()->actions().last()->trigger(); // "注销"
        QVERIFY(waitOnline());
        QCOMPARE(m_dialogs.seen, 1);
        QCOMPARE(logonsBefore, 0);
        QVERIFY(monitorStopped && forward);

        // The server goes away: offline, the dialog waits unattended; the server comes back at its
        // port and the client is online again by itself.
        m_dialogs.leaveOpen = true;
        const quint16 port = m_server.port();
        bool serverBack = false, gaveUp = false;
        m_dialogs.onShown = [&] {
            monitorStopped = !m_window->monitor()->isRunning();
            QTimer::singleShot(800, [&] { serverBack = m_server.start(port); });
            // Only a reconnect that never came lets the dialog give up.
            LogonPWDlg* dialog = m_window->logonDialog();
            QTimer::singleShot(10000, dialog, [&gaveUp, dialog] {
                gaveUp = true;
                dialog->reject();
            });
        };
        monitorStopped = false;
        m_server.stop();
        QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.seen, 2, 20000);
        QVERIFY(waitOnline());
        QVERIFY2(serverBack, qPrintable(m_server.errorString()));
        QVERIFY(!gaveUp); // online through the background reconnect
        QVERIFY(monitorStopped);
        QCOMPARE(m_window->logonDialog(), nullptr);
        QVERIFY2(m_boxes.boxes.isEmpty(), qPrintable(m_boxes.boxes.join('\n')));
    }

    void controllerWithoutWindow()
    {
        // The session's life with no window at all: the automatic logon at start and the polls,
        // a logout and the user's logon in the dialog, a lost server and the user's logon once it
        // is back.
        m_root->writeConfig("[Main%20Window]\n2002=127.0.0.1\n");
        QVERIFY(m_root->writeRememberedLogon("zhaoliu", m_relay.port(), kSeedPasswordDigest));
        SessionController::Options o;
        o.pluginPath = m_root->path() + "/no-plugin.so";
        o.onlinePollMs = 200;
        o.autoLogonRetryMs = 300;
        o.logonWaits.FirstMs = 200;
        o.logonWaits.LongestMs = 400;
        m_controller.reset(new SessionController(o));
        SessionController* controller = m_controller.get();
        controller->start();
        QTRY_VERIFY_WITH_TIMEOUT(controller->isOnline(), 20000);
        QVERIFY(controller->monitor()->isRunning());
        QCOMPARE(m_dialogs.seen, 0);
        QTRY_VERIFY(sent("GetUserMessage") > 0);
        for (QWidget* widget : QApplication::topLevelWidgets())
            QVERIFY(!qobject_cast<OnlineDlg*>(widget));

        m_dialogs.password = QStringLiteral("123456");
        m_dialogs.actAfterMs = 100;
        controller->logout(true);
        QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.seen, 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(controller->isOnline(), 20000);
        QCOMPARE(m_dialogs.firstModality, Qt::WindowModal); // the user's own logon

        m_dialogs.onShown = [&] { m_relay.forwardTo(m_server.port()); };
        m_relay.forwardTo(0); // connections closed without an answer
        QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.seen, 2, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(controller->isOnline(), 20000);
        QVERIFY(controller->monitor()->isRunning());
    }

    void pluginSignOn_data()
    {
        QTest::addColumn<QString>("plugin");
        QTest::addColumn<QString>("planted"); // how another user (nobody) could have changed it
        QTest::newRow("stand-in") << ORIX_IFCLIENT_PATH << "";
        // Broken builds: offline without a dialog, no sign-on, no automatic logon.
        QTest::newRow("SyncInit fails") << ORIX_IFCLIENT_INITFAIL_PATH << "";
        QTest::newRow("SyncHandleJob missing") << ORIX_IFCLIENT_NOJOB_PATH << "";
        // A package's link to its own root-owned library folder is followed.
        QTest::newRow("link to a library folder") << ORIX_IFCLIENT_PATH << "link";
        // Not loaded: the automatic logon goes online.
        QTest::newRow("in the working folder only") << ORIX_IFCLIENT_PATH << "working folder";
        QTest::newRow("another user's") << ORIX_IFCLIENT_PATH << "foreign";
        QTest::newRow("writable by its group") << ORIX_IFCLIENT_PATH << "group-writable";
        QTest::newRow("program folder writable by all") << ORIX_IFCLIENT_PATH << "open folder";
        QTest::newRow("link to another user's") << ORIX_IFCLIENT_PATH << "link foreign";
        QTest::newRow("link into a folder writable by all")
            << ORIX_IFCLIENT_PATH << "link open folder";
    }

    void pluginSignOn()
    {
        QFETCH(QString, plugin);
        QFETCH(QString, planted);
        if (planted.contains("foreign") && geteuid() != 0)
            QSKIP("planting another user's library needs root (chown to nobody)");
        // Built into a package's library folder, then moved to the program folder or linked there.
        const QString installed = m_root->programFolder() + "ifclient.so";
        const QString libraries = m_root->path() + "/lib", copy = libraries + "/ifclient.so";
        CwdGuard cwd;
        QVERIFY(QDir().mkpath(libraries) && QFile::copy(plugin, copy));
        const bool moved = !planted.startsWith("link") && planted != "working folder";
        if (planted.startsWith("link"))
            QVERIFY(QFile::link(copy, installed));
        else if (planted == "working folder")
            QVERIFY(cwd.change(libraries));
        else
            QVERIFY(QFile::rename(copy, installed));
        const QByteArray at = QFile::encodeName(moved ? installed : copy);
        const QByteArray folder = QFile::encodeName(moved ? m_root->programFolder() : libraries);
        QVERIFY(!planted.contains("foreign") || chown(at.constData(), 65534, 65534) == 0);
        QVERIFY(!planted.contains("group") || chmod(at.constData(), 0775) == 0);
        QVERIFY(!planted.contains("open folder") || chmod(folder.constData(), 0777) == 0);
        const QByteArray port = m_relay.portText();
        start("127.0.0.1:" + port, kSeedPasswordDigest);
        QTRY_VERIFY(m_window->user());
        OrixUser* user = m_window->user();
        writeSignOn("login nosuchuser");
        if (!planted.isEmpty() && planted != "link") {
            QVERIFY(waitOnline());
            QVERIFY(m_boxes.boxes.isEmpty());
            return;
        }
        if (plugin != ORIX_IFCLIENT_PATH) {
            QTest::qWait(1000); // five plug-in intervals
            QCOMPARE(m_relay.requestCount(), 0);
            QVERIFY(!m_window->isOnline() && m_boxes.boxes.isEmpty() && m_dialogs.seen == 0);
            return;
        }
        QTRY_COMPARE(m_boxes.boxes.value(0), QStringLiteral("错误|Logon fail:nosuchuser ret=2"));
        QCOMPARE(QByteArray(user->ServerPort) + " " + QByteArray(user->RpcPort), port + " " + port);
        writeSignOn("login zhaoliu");
        QVERIFY(waitOnline());
        QCOMPARE(user->LogonMode, 1);
        QCOMPARE(QByteArray(user->ServerAddress), QByteArray("127.0.0.1"));
        writeSignOn("logout zhaoliu");
        QVERIFY(waitOnline(false));
        QVERIFY(!m_window->monitor()->isRunning());
        QCOMPARE(m_dialogs.seen, 0); // the plug-in replaces the dialog
    }

    // A poll of the first session that fails after the user logged on again leaves him online.
    void pollOfPastSession()
    {
        RawHttpServer first;
        first.forwardTo(m_server.port());
        start("127.0.0.1", kSeedPasswordDigest, first.port());
        QVERIFY(waitOnline());
        first.clearRequests();
        first.delayNext("<ns:GetUserMessage", 3000);
        QTRY_VERIFY(first.requestCount() > 0);
        first.forwardTo(0); // the held poll's connection is then closed unanswered

        m_dialogs.password = QStringLiteral("123456");
        m_dialogs.actAfterMs = 100;
        m_dialogs.onShown = [&] {
            m_window->logonDialog()
                ->findChild<QComboBox*>("comboBoxServerName")
                ->setEditText("127.0.0.1:" + m_relay.portText());
        };
        m_window->trayIcon()->contextMenu()->actions().last()->trigger(); // "注销"
        QVERIFY(waitOnline());
        QVERIFY(first.requestCount() == 1); // still held
        // The second session polls once the held poll has ended.
        QTRY_VERIFY_WITH_TIMEOUT(sent("GetUserMessage") > 0, 20000);
        QVERIFY(m_window->isOnline());
        QCOMPARE(sent("UserLogon"), 1);
    }

    void automaticLogonsWait_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("logon dialog") << "dialog";
        QTest::newRow("sign-on plug-in") << "plug-in";
    }

    void automaticLogonsWait()
    {
        // Against a server that closes every connection, no automatic logon after the first before
        // the wait is over: not when the closed dialog comes back, not on the plug-in's ticks.
        QFETCH(QString, path);
        RawHttpServer closing;
        closing.closeWithoutReply();
        OnlineDlg::Options o;
        o.pluginPath = path == "plug-in" ? ORIX_IFCLIENT_PATH : m_root->path() + "/no-plugin.so";
        o.onlinePollMs = o.pluginPollMs = o.autoLogonRetryMs = 100;
        o.logonWaits.FirstMs = 60000;
        m_root->writeConfig("[Main%20Window]\n2002=127.0.0.1:" + closing.portText() + "\n");
        QVERIFY(m_root->writeRememberedLogon("zhaoliu", closing.port(), kSeedPasswordDigest));
        writeSignOn("login zhaoliu");
        m_window.reset(new OnlineDlg(o));
        if (path == "dialog")
            QTRY_VERIFY_WITH_TIMEOUT(m_dialogs.seen >= 4, 20000); // each closed with Escape
        else                                                      // one a tick
            QTRY_VERIFY_WITH_TIMEOUT(closing.operations().count("GetUserMessage") >= 5, 20000);
        QCOMPARE(closing.operations().count("UserLogon"), 1);
        // The dialog was shown for the user each time; the plug-in's failure had its box.
        QCOMPARE(m_boxes.boxes.size(), path == "dialog" ? 0 : 1);
    }

    // --- the readiness check (OrixClientAPP --check) ---------------------------------------

    // What it says about the files and folders of the workstation and the user.
    void readinessLocalItems_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("says");
        const auto row = [](const char* item, const char* setup, bool ok, const char* says) {
            QTest::newRow(qPrintable(QString("%1: %2").arg(item, setup)))
                << QString(item) << QString(setup) << ok << QString(says);
        };
        row("configuration", "missing", false, "OrixClientAPP.ini: missing");
        row("configuration", "keys", true, "keys set: Debug/Level, Main Window/2002");
        row("backend", "missing", false, "tavpdf: missing");
        row("backend", "root 0700", true, "mode 0700: CUPS runs it as root");
        row("backend", "root 0755", false, "would not run it as root");
        row("backend", "root 0750", false, "would not run it as root");
        row("backend", "nobody 0700", false, "would not run it as root");
        row("spool", "no spool root", false, "cups-pdf: missing");
        row("spool", "root 0711", true, "not there yet");
        row("spool", "root 0711, user 0700", true, "the user's own");
        row("spool", "root 0775", false, "the printer refuses to write under it");
        row("spool", "nobody 0711", false, "the printer refuses to write under it");
        row("spool", "root 0711, user's folder of nobody", false, "owned by another user");
        row("spool", "root 0711, user 0770", false, "writable by other users");
        row("single instance", "nothing yet", true, "lockfile-zhaoliu (not there yet)");
        row("single instance", "lock file of nobody", true,
            "owned by another user; the client uses");
        row("remembered logon", "FIFO of nobody", true,
            "Last.ini is not a plain file or folder; the client uses");
    }

    void readinessLocalItems()
    {
        QFETCH(QString, item);
        QFETCH(QString, setup);
        if ((setup.contains("nobody") || setup.contains("root")) && geteuid() != 0)
            QSKIP("root's files and another user's objects need root (chown)");
        const auto make = [](const QString& path, const QString& owner, const QString& mode,
                             bool folder) {
            const QByteArray at = QFile::encodeName(path);
            const uid_t id = owner == "nobody" ? PlantedObject::kOtherUser : 0;
            QVERIFY(folder ? QDir().mkpath(path) : writeFile(path, "#!/bin/sh\n"));
            QCOMPARE(chmod(at.constData(), mode_t(mode.toUInt(nullptr, 8))), 0);
            QCOMPARE(lchown(at.constData(), id, id), 0);
        };
        const QStringList words = setup.split(QRegularExpression("[ ,]+"));
        ReadinessCheck check;
        ReadinessCheck::Item result;
        if (item == "configuration") {
            if (setup == "keys")
                m_root->writeConfig(
                    "[Main%20Window]\n2002=print.example.invalid\n[Debug]\nLevel=4\n");
            result = check.configuration();
        } else if (item == "backend") {
            if (setup != "missing")
                make(QString::fromUtf8(SystemPaths::cupsBackend()), words[0], words[1], false);
            result = check.backend();
        } else if (item == "spool") {
            const QString spool = QString::fromUtf8(SystemPaths::spoolRoot());
            if (setup != "no spool root")
                make(spool, words[0], words[1], true);
            if (setup.contains("user"))
                make(spool + "zhaoliu", setup.contains("nobody") ? "nobody" : "root",
                     setup.contains("nobody") ? "0700" : words.last(), true);
            result = check.spoolFolder();
        } else if (item == "single instance") {
            if (setup.contains("nobody"))
                QVERIFY(PlantedObject::plant(m_root->varTmp() + "/lockfile-zhaoliu", "file", true));
            result = check.singleInstance();
        } else {
            QVERIFY(PlantedObject::plant(m_root->varTmp() + "/Last.ini", "fifo", true));
            result = check.rememberedLogon();
        }
        expectItem(result);
    }

    // The server as the client would reach it, over its TLS too, within the bound.
    void readinessServer_data()
    {
        QTest::addColumn<QString>("server"); // dev, localhost, https, silent, closed, none
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("says");
        QTest::newRow("development server") << "dev" << true << "answered HTTP";
        QTest::newRow("by name") << "localhost" << true << "answered HTTP";
        QTest::newRow("no address") << "none" << false << "no server address";
        QTest::newRow("nothing listens") << "closed" << false << "connect";
        QTest::newRow("accepted, never answered") << "silent" << false << "";
        QTest::newRow("https") << "https" << true << "certificate accepted";
        QTest::newRow("through the proxy") << "proxy" << true << "through the proxy 127.0.0.1:";
        QTest::newRow("configured proxy down")
            << "proxy down" << false << "through the proxy 127.0.0.1:1:";
    }

    void readinessServer()
    {
        QFETCH(QString, server);
        QTemporaryDir pki;
        DevServerProcess tlsServer;
        RawHttpServer silent;
        silent.closeWithoutReply();
        ReadinessCheck check;
        check.timeoutMs = 1500;
        ReadinessCheck::Server target{"127.0.0.1", QByteArray::number(m_server.port()), false, {}};
        EnvGuard env;
        for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "no_proxy", "NO_PROXY"})
            env.unset(name);
        LoopbackProxy proxy;
        if (server == "proxy") {
            env.set("http_proxy", proxy.url());
        } else if (server == "proxy down") {
            env.set("http_proxy", proxy.url()); // the configuration wins
            target.proxySetting = "http://127.0.0.1:1";
        } else if (server == "https") {
            QVERIFY(TestPki::makeCertificate(pki.path(), "ca"));
            QVERIFY(TestPki::makeCertificate(pki.path(), "loopback", "IP:127.0.0.1"));
            tlsServer.setTls(pki.filePath("loopback.pem"), pki.filePath("loopback.key"));
            QVERIFY2(tlsServer.start(), qPrintable(tlsServer.errorString()));
            target.port = QByteArray::number(tlsServer.port());
            target.https = true;
            env.set("SSL_CERT_FILE", QFile::encodeName(pki.filePath("ca.pem")));
        } else if (server == "localhost") {
            target.host = "localhost";
        } else if (server == "none") {
            target.host.clear();
        } else if (server == "closed") {
            target.port = QByteArray::number(RawHttpServer().port()); // nobody listens any more
        } else if (server == "silent") {
            target.port = silent.portText();
        }
        expectItem(check.server(target));
        QCOMPARE(proxy.requestLines().size(), server == "proxy" ? 1 : 0);
    }

    // Which proxy --check names, and why.
    void readinessProxy_data()
    {
        QTest::addColumn<QString>("env"); // "name=value;..."
        QTest::addColumn<QString>("configured");
        QTest::addColumn<bool>("ok"); // Info, else Fail
        QTest::addColumn<QString>("says");
        QTest::newRow("none") << ""
                              << "" << true << "none: the server is reached directly";
        QTest::newRow("environment") << "https_proxy=http://u:p@proxy.corp:3128"
                                     << "" << true
                                     << "proxy.corp:3128 (from https_proxy, with credentials), "
                                        "HTTPS through CONNECT";
        QTest::newRow("no_proxy") << "https_proxy=proxy.corp:3128;no_proxy=.example.invalid"
                                  << "" << true << "print.example.invalid is listed in no_proxy";
        QTest::newRow("configuration")
            << "https_proxy=proxy.corp:3128"
            << "cfg.corp:8080" << true << "cfg.corp:8080 (from OPTION/Proxy)";
        QTest::newRow("configured none") << "https_proxy=proxy.corp:3128"
                                         << "none" << true << "none (OPTION/Proxy=none)";
        QTest::newRow("unusable") << ""
                                  << "socks5://s:1080" << false << "OPTION/Proxy (only an";
    }

    void readinessProxy()
    {
        QFETCH(QString, env);
        QFETCH(QString, configured);
        EnvGuard guard;
        for (const char* name : {"https_proxy", "HTTPS_PROXY", "all_proxy", "no_proxy", "NO_PROXY"})
            guard.unset(name);
        for (const QString& pair : env.split(';', Qt::SkipEmptyParts))
            guard.set(qPrintable(pair.section('=', 0, 0)), pair.section('=', 1).toUtf8());
        const ReadinessCheck::Item item =
            ReadinessCheck::proxy({"print.example.invalid", "8086", true, configured.toUtf8()});
        QCOMPARE(item.verdict == ReadinessCheck::Verdict::Info, fetch<bool>("ok"));
        QVERIFY2(item.detail.contains(fetch<QString>("says")), qPrintable(item.detail));
    }

    // The server the client would use: the remembered logon's, https from the configuration.
    void readinessConfiguredServer()
    {
        m_root->writeConfig("[Main%20Window]\n2002=print.example.invalid\n[OPTION]\nSSL=1\n");
        const auto server = [] {
            const ReadinessCheck::Server s = ReadinessCheck().configuredServer();
            return s.host + ' ' + s.port + (s.https ? " https" : "");
        };
        QCOMPARE(server(), QByteArray("print.example.invalid 8086 https"));
        m_root->writeConfig("[Main%20Window]\n2002=print.example.invalid:8443\n");
        QCOMPARE(server(), QByteArray("print.example.invalid 8443"));
        QVERIFY(m_root->writeRememberedLogon("zhaoliu", 4321, kSeedPasswordDigest));
        QCOMPARE(server(), QByteArray("127.0.0.1 4321"));
    }

    // The queue on a CUPS server as the package makes it, and as it must not be.
    void readinessQueue()
    {
        if (geteuid() != 0)
            QSKIP("the private CUPS server needs root");
        EnvGuard env;
        ReadinessCheck check;
        check.timeoutMs = 3000;
        // The detail when the verdict is not as expected or the detail does not say says.
        const auto queue = [&](ReadinessCheck::Verdict verdict, const char* says) {
            const ReadinessCheck::Item item = check.queue();
            return item.verdict == verdict && item.detail.contains(says) ? QString() : item.detail;
        };
        env.set("CUPS_SERVER", QFile::encodeName(m_root->path() + "/no-such-socket"));
        QCOMPARE(queue(ReadinessCheck::Verdict::Fail, "does not answer"), QString());

        PrivateCupsd cups; // lpadmin reaches it through CUPS_SERVER
        QVERIFY2(cups.start(m_root->path()), qPrintable(cups.errorString()));
        QCOMPARE(queue(ReadinessCheck::Verdict::Ok, "device tavpdf:/"), QString());
        QVERIFY2(check.versions().detail.contains("CUPS server CUPS/"),
                 qPrintable(check.versions().detail));
        QCOMPARE(QProcess::execute("lpadmin", {"-p", "TavPDF", "-o", "printer-op-policy=default"}),
                 0);
        QCOMPARE(queue(ReadinessCheck::Verdict::Fail, "under another user's name"), QString());
        QCOMPARE(QProcess::execute("lpadmin", {"-x", "TavPDF"}), 0);
        QCOMPARE(queue(ReadinessCheck::Verdict::Fail, "no queue TavPDF"), QString());
    }

    // The queue fails the check where the server's policy does not authenticate job creation.
    void readinessQueuePolicy()
    {
        if (geteuid() != 0)
            QSKIP("the private CUPS server needs root");
        EnvGuard env;
        env.unset("ORIX_CUPSD_CONF"); // restored after the servers' own settings
        ReadinessCheck check;
        check.timeoutMs = 3000;
        const auto expectFail = [&](const char* says) {
            const ReadinessCheck::Item item = check.queue();
            return item.verdict == ReadinessCheck::Verdict::Fail && item.detail.contains(says)
                       ? QString()
                       : ReadinessCheck::format(item);
        };
        {
            PrivateCupsd open; // no policy "authenticated": the queue is made rejecting jobs
            QVERIFY2(open.start(m_root->path(), false), qPrintable(open.errorString()));
            QCOMPARE(expectFail("operation policy \"default\""), QString());
        }
        PrivateCupsd cups;
        QVERIFY2(cups.start(m_root->path()), qPrintable(cups.errorString()));
        const QString conf = m_root->path() + "/open-cupsd.conf";
        QVERIFY(writeFile(conf, "<Policy authenticated>\n<Limit Create-Job Print-Job>\n"
                                "AuthType None\n</Limit>\n</Policy>\n"));
        env.set("ORIX_CUPSD_CONF", QFile::encodeName(conf));
        QCOMPARE(expectFail("lets Create-Job or Print-Job in without authentication"), QString());
        env.set("ORIX_CUPSD_CONF", QFile::encodeName(m_root->path() + "/no-such-cupsd.conf"));
        QCOMPARE(expectFail("cannot read"), QString());
    }

    // Tray and notifications from what the desktop offers; one line per item; the exit status.
    void readinessDesktopAndStatus()
    {
        DesktopProbe::Report desktop;
        QCOMPARE(ReadinessCheck::notifications(desktop).verdict, ReadinessCheck::Verdict::Fail);
        desktop.xembedTray = desktop.notificationServer = true;
        desktop.notificationServerName = "dunst";
        desktop.notificationCapabilities = QStringList{"body", "actions"};
        QCOMPARE(ReadinessCheck::tray(desktop).verdict, ReadinessCheck::Verdict::Ok);
        const ReadinessCheck::Item notices = ReadinessCheck::notifications(desktop);
        QCOMPARE(ReadinessCheck::format(notices),
                 QString("ok    notifications    dunst (body, actions)"));
        QVector<ReadinessCheck::Item> items{notices, ReadinessCheck().log()};
        QCOMPARE(items.last().verdict, ReadinessCheck::Verdict::Info);
        QCOMPARE(ReadinessCheck::exitStatus(items), 0);
        items << ReadinessCheck::tray(DesktopProbe::Report());
        QCOMPARE(ReadinessCheck::exitStatus(items), 1);
        QVERIFY(ReadinessCheck::format(items.last()).startsWith("FAIL  tray "));
    }
};

QTEST_MAIN(TestOnlineDlg)
#include "tst_onlinedlg.moc"
