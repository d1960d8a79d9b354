// The main window against the development server: the logon paths of the state machine, the
// sign-on plug-in (stand-in and broken builds), UIHide, the signal folder and hiding to the tray.

#include "DevServerProcess.h"
#include "LogonPWDlg.h"
#include "MessageBoxes.h"
#include "OnlineDlg.h"
#include "OrixUser.h"
#include "QPrintJobMonitor.h"
#include "RawHttpServer.h"
#include "SingleInstance.h"
#include "TestRoot.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolBox>
#include <QtTest>

#include <memory>

class TestOnlineDlg : public QObject
{
    Q_OBJECT

    DevServerProcess m_server;
    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<OnlineDlg> m_window;
    QStringList m_boxes;
    // Each logon dialog the window opens is closed with Escape or logged on with the password.
    struct {
        QString password;
        QPointer<LogonPWDlg> last;
        int seen = 0;
        Qt::WindowModality firstModality = Qt::NonModal;
    } m_dialogs;
    QTimer m_driver;

    // Writes the configuration and, unless digest is empty, the remembered automatic logon of
    // zhaoliu; then opens the window with short intervals.
    void start(const QString& address, const QByteArray& digest = {}, quint16 port = 0,
               const QString& plugin = {}, const QString& extra = {})
    {
        m_root->writeConfig(("[Main%20Window]\n2002=" + address + "\n" + extra).toUtf8());
        if (!digest.isEmpty())
            QVERIFY(m_root->writeRememberedLogon("zhaoliu", port ? port : m_server.port(), digest));
        // Short polls and logon retry; the start-up window hides before anything else happens.
        m_window.reset(new OnlineDlg({plugin.isEmpty() ? m_root->path() + "/no-plugin.so" : plugin,
                                      200, 200, 300, 2000, 0}));
    }

    bool waitOnline()
    {
        return QTest::qWaitFor([this] { return m_window->isOnline(); }, 20000);
    }

    void writeSignOn(const QByteArray& line)
    {
        QFile file(m_root->path() + "/signon-state");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(line + "\n");
    }

    void driveLogonDialog()
    {
        LogonPWDlg* dialog = m_window ? m_window->logonDialog() : nullptr;
        if (!dialog || dialog == m_dialogs.last || !dialog->isVisible())
            return;
        m_dialogs.last = dialog;
        if (++m_dialogs.seen == 1)
            m_dialogs.firstModality = dialog->windowModality();
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
        connect(&m_driver, &QTimer::timeout, this, &TestOnlineDlg::driveLogonDialog);
        MessageBoxes::setInformationHook(
            [this](QWidget*, QString title, QString text) { m_boxes << title + "|" + text; });
    }

    void init()
    {
        m_root.reset(new TestRoot(QStringLiteral("zhaoliu")));
        m_boxes.clear();
        qputenv("ORIX_SIGNON_STATE", QFile::encodeName(m_root->path() + "/signon-state"));
        activateExistentProcess(); // the signal folder exists before the window watches it
        m_dialogs = {};
        m_driver.start(10);
    }

    void cleanup()
    {
        m_driver.stop();
        m_window.reset();
        m_root.reset();
    }

    void logonAtStart_data()
    {
        QTest::addColumn<QByteArray>("digest"); // of the remembered automatic logon
        QTest::addColumn<bool>("dropAfterLogon");
        QTest::addColumn<QString>("password"); // typed into the dialog
        QTest::addColumn<int>("dialogs");
        QTest::addColumn<bool>("online");
        QTest::addColumn<QString>("boxes");
        // Closed with Escape: a new dialog after the retry interval.
        QTest::newRow("nothing remembered") << QByteArray() << false << "" << 2 << false << "";
        QTest::newRow("automatic logon")
            << QByteArray(kSeedPasswordDigest) << false << "" << 0 << true << "";
        QTest::newRow("automatic logon refused")
            << QByteArray(32, '0') << false << "123456" << 1 << true << "";
        // The user query after the logon meets a broken connection.
        QTest::newRow("connection lost") << QByteArray(kSeedPasswordDigest) << true << "" << 2
                                         << false << QStringLiteral("错误|无法连接服务器！");
    }

    void logonAtStart()
    {
        QFETCH(QByteArray, digest);
        QFETCH(bool, dropAfterLogon);
        QFETCH(QString, password);
        QFETCH(int, dialogs);
        QFETCH(bool, online);
        QFETCH(QString, boxes);
        RawHttpServer dropping;
        dropping.queueReply(RawHttpServer::soapResponse(
            "<ns:UserLogonResponse><LogResult>0</LogResult></ns:UserLogonResponse>"));
        dropping.closeWithoutReply();
        m_dialogs.password = password;
        start("127.0.0.1", digest, dropAfterLogon ? dropping.port() : 0);

        if (online)
            QVERIFY(waitOnline());
        else
            QTRY_COMPARE_WITH_TIMEOUT(m_dialogs.seen, dialogs, 20000);
        QCOMPARE(m_dialogs.seen, dialogs);
        QCOMPARE(m_window->isOnline(), online);
        QCOMPARE(m_window->monitor()->isRunning(), online);
        QCOMPARE(m_boxes.join('\n'), boxes);
        // Only the dialog that no automatic attempt preceded is window-modal.
        QCOMPARE(m_dialogs.firstModality == Qt::WindowModal, digest.isEmpty());
        const QString icon = online ? "ICON_Online.png" : "ICON_Offline.png";
        QCOMPARE(m_window->trayIcon()->icon().pixmap(32).toImage(),
                 QIcon(":/icon/images/" + icon).pixmap(32).toImage());
    }

    void logoutAndLostServer()
    {
        DevServerProcess server;
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        start("127.0.0.1", kSeedPasswordDigest, server.port());
        QVERIFY(waitOnline());

        // Logout from the tray: the dialog, though the automatic logon would succeed.
        for (QAction* action : m_window->trayIcon()->contextMenu()->actions())
            if (action->text() == QStringLiteral("注销"))
                action->trigger();
        QTRY_COMPARE(m_dialogs.seen, 1);
        QVERIFY(!m_window->isOnline());
        QVERIFY(!m_window->monitor()->isRunning());
        m_dialogs.password = QStringLiteral("123456");
        QVERIFY(waitOnline());

        // A poll that cannot reach the server: offline, and the automatic logon
        // fails silently until the server is back (at a new port).
        m_dialogs.password.clear();
        const int dialogsBefore = m_dialogs.seen;
        server.stop();
        QTRY_VERIFY(!m_window->isOnline());
        QVERIFY(!m_window->monitor()->isRunning());
        QTRY_VERIFY(m_dialogs.seen > dialogsBefore);
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        const QByteArray port = QByteArray::number(server.port());
        qstrncpy(m_window->user()->ServerPort, port, sizeof m_window->user()->ServerPort);
        qstrncpy(m_window->user()->RpcPort, port, sizeof m_window->user()->RpcPort);
        QVERIFY(waitOnline());
    }

    void pluginLogsOnAndOff_data()
    {
        QTest::addColumn<bool>("withPort");
        QTest::newRow("host:port") << true;
        QTest::newRow("host") << false;
    }

    void pluginLogsOnAndOff()
    {
        QFETCH(bool, withPort);
        const QByteArray port = QByteArray::number(m_server.port());
        start(withPort ? "127.0.0.1:" + port : "127.0.0.1", kSeedPasswordDigest, 0,
              ORIX_IFCLIENT_PATH);
        QTRY_VERIFY(m_window->user());
        OrixUser* user = m_window->user();
        if (!withPort) // the logon then goes to the session's own port
            qstrncpy(user->RpcPort, port, sizeof user->RpcPort);

        writeSignOn("login nosuchuser");
        QTRY_VERIFY(!m_boxes.isEmpty());
        QCOMPARE(m_boxes.first(), QStringLiteral("错误|Logon fail:nosuchuser ret=2"));

        writeSignOn("login zhaoliu");
        QVERIFY(waitOnline());
        QCOMPARE(user->LogonMode, 1);
        QCOMPARE(QByteArray(user->ServerAddress), QByteArray("127.0.0.1"));
        QCOMPARE(QByteArray(user->ServerPort), withPort ? port : QByteArray("8085"));
        QCOMPARE(QByteArray(user->RpcPort), port);

        writeSignOn("logout zhaoliu");
        QTRY_VERIFY(!m_window->isOnline());
        QVERIFY(!m_window->monitor()->isRunning());
        QCOMPARE(m_dialogs.seen, 0); // the plug-in replaces the dialog
    }

    void windowOnlineAndOffline_data()
    {
        QTest::addColumn<QString>("plugin"); // offline, without a dialog, when one is named
        QTest::addColumn<int>("uiHide");
        QTest::newRow("online, UIHide 6") << "" << 6;
        QTest::newRow("online, UIHide 0") << "" << 0;
        QTest::newRow("plug-in's SyncInit fails") << ORIX_IFCLIENT_INITFAIL_PATH << 0;
        QTest::newRow("plug-in lacks SyncHandleJob") << ORIX_IFCLIENT_NOJOB_PATH << 0;
    }

    void windowOnlineAndOffline()
    {
        QFETCH(QString, plugin);
        QFETCH(int, uiHide);
        const bool online = plugin.isEmpty();
        // A broken plug-in acts neither on the sign-on nor on the remembered automatic logon.
        writeSignOn("login zhaoliu");
        start(QStringLiteral("127.0.0.1:%1").arg(m_server.port()), kSeedPasswordDigest, 0, plugin,
              QStringLiteral("[OPTION]\nUIHide=%1\n").arg(uiHide));
        if (online) {
            QVERIFY(waitOnline());
            QCOMPARE(m_window->findChild<QWidget*>("btnCopyTask")->isHidden(), (uiHide & 2) != 0);
            QCOMPARE(m_window->findChild<QWidget*>("btnCDTask")->isHidden(), (uiHide & 4) != 0);
            QCOMPARE(m_window->findChild<QToolBox*>("toolBox")->count(), 2); // the request page
            QStringList entries;
            for (QAction* action : m_window->trayIcon()->contextMenu()->actions())
                if (action->isVisible() && action->isEnabled() && !action->isSeparator())
                    entries << action->text();
            QCOMPARE(entries.join(' '), QString("隐藏界面 显示界面 移动打印%1%2 注销")
                                            .arg(uiHide & 2 ? "" : " 复印申请")
                                            .arg(uiHide & 4 ? "" : " 刻录申请"));
        } else {
            QTest::qWait(1000); // five plug-in intervals
        }

        m_window->hideUI();
        m_window->directoryChanged(QString::fromUtf8(SystemPaths::signalFolder()));
        QCOMPARE(m_window->isVisible(), online);
        if (online) {
            QVERIFY(m_window->windowFlags() & Qt::WindowStaysOnTopHint);
            m_window->hideUI();
            activateExistentProcess(); // what a second start does
            QTRY_VERIFY(m_window->isVisible());
        }

        m_window->show();
        m_window->setWindowState(Qt::WindowMinimized);
        QVERIFY(!m_window->isVisible());
        QCOMPARE(m_window->isOnline(), online);
        QCOMPARE(m_dialogs.seen, 0);
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));
    }
};

QTEST_MAIN(TestOnlineDlg)
#include "tst_onlinedlg.moc"
