// The main window against the development server: logon paths of the
// state machine, polling, the sign-on plug-in (stand-in and broken builds),
// the UIHide bits, the single-instance signal and hiding to the tray.

#include "DevServerProcess.h"
#include "LogonPWDlg.h"
#include "MessageBoxes.h"
#include "OnlineDlg.h"
#include "OrixUser.h"
#include "QPrintJobMonitor.h"
#include "RawHttpServer.h"
#include "SingleInstance.h"
#include "SystemPaths.h"
#include "TestRoot.h"
#include "aboutdlg.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolBox>
#include <QToolButton>
#include <QtTest>

#include <memory>

namespace
{

const char kPasswordDigest[] = "E10ADC3949BA59ABBE56E057F20F883E"; // "123456"
const char kWrongDigest[] = "00000000000000000000000000000000";

// Acts on every logon dialog the window opens: closes it with Escape, or
// types the password and presses the logon button.
class LogonDialogDriver : public QObject
{
public:
    enum Action { Close, LogOn };

    LogonDialogDriver(OnlineDlg* window, Action action) : m_window(window), m_action(action)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { tick(); });
        m_timer.start(10);
    }

    int seen = 0;
    Qt::WindowModality firstModality = Qt::NonModal;
    int resultWhenShown = 0;

private:
    void tick()
    {
        LogonPWDlg* dialog = m_window->logonDialog();
        if (!dialog) {
            m_current = nullptr;
            return;
        }
        if (dialog == m_current || !dialog->isVisible())
            return;
        m_current = dialog;
        if (++seen == 1)
            firstModality = dialog->windowModality();
        resultWhenShown = dialog->GetLastResult();
        if (m_action == Close) {
            QTest::keyClick(dialog, Qt::Key_Escape);
            return;
        }
        dialog->findChild<QLineEdit*>("lineEditPassword")->setText(QStringLiteral("123456"));
        QTest::mouseClick(dialog->findChild<QPushButton*>("Logon"), Qt::LeftButton);
    }

    OnlineDlg* m_window;
    Action m_action;
    LogonPWDlg* m_current = nullptr;
    QTimer m_timer;
};

bool iconShows(const QIcon& icon, const QString& picture)
{
    // Pixmaps hold premultiplied pixels; compare in that form.
    const QImage expected = QImage(picture).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage shown =
        icon.pixmap(expected.size()).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    return !expected.isNull() && shown == expected;
}

const QString kOnlineIcon = QStringLiteral(":/icon/images/ICON_Online.png");
const QString kOfflineIcon = QStringLiteral(":/icon/images/ICON_Offline.png");

} // namespace

class TestOnlineDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Logon through the state machine.
    void startWithoutRememberedLogonShowsDialog();
    void rememberedAutomaticLogonGoesOnline();
    void refusedAutomaticLogonShowsDialog();
    void trayLogoutGoesOfflineWithoutAutomaticLogon();
    void lostServerGoesOfflineAndLogsOnAgain();
    void connectionFailureDuringLogonIsReported();

    // The sign-on plug-in.
    void pluginSignsOnAndOff();
    void pluginLogonPort_data();
    void pluginLogonPort();
    void pluginLogonFailureIsReported();
    void brokenPluginStaysOffline_data();
    void brokenPluginStaysOffline();

    // The window.
    void uiHideBits_data();
    void uiHideBits();
    void signalFolderBringsWindowForward_data();
    void signalFolderBringsWindowForward();
    void minimiseAndCloseHideToTray();
    void aboutButtonRunsAboutBox();

private:
    void writeConfig(const QString& serverAddress, const QString& extra = QString());
    void writeLastIni(const char* user, const char* digest, bool autoLogon, quint16 port);
    OnlineDlg::Options fastOptions(const QString& pluginPath = QString()) const;
    void writeSignOn(const QByteArray& line);
    QString eventLog() const;
    bool waitOnline(OnlineDlg& window);

    DevServerProcess m_server;
    std::unique_ptr<TestRoot> m_root;
    QStringList m_boxes;
    QString m_signOnPath;
};

void TestOnlineDlg::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

void TestOnlineDlg::init()
{
    m_root.reset(new TestRoot(QStringLiteral("zhaoliu")));
    m_boxes.clear();
    MessageBoxes::setInformationHook([this](QWidget*, const QString& title, const QString& text) {
        m_boxes << title + "|" + text;
    });
    m_signOnPath = m_root->path() + "/signon-state";
    qputenv("ORIX_SIGNON_STATE", QFile::encodeName(m_signOnPath));
    // The signal folder exists before the window watches it, as main makes sure.
    activateExistentProcess();
}

void TestOnlineDlg::cleanup()
{
    MessageBoxes::setInformationHook({});
    qunsetenv("ORIX_SIGNON_STATE");
    m_root.reset();
}

void TestOnlineDlg::writeConfig(const QString& serverAddress, const QString& extra)
{
    m_root->writeConfig(
        ("[Main%20Window]\n2002=" + serverAddress + "\n[Debug]\nLevel=5\n" + extra).toUtf8());
}

void TestOnlineDlg::writeLastIni(const char* user, const char* digest, bool autoLogon, quint16 port)
{
    QFile file(m_root->varTmp() + "/Last.ini");
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(QStringLiteral("[General]\nServerName=127.0.0.1\nUserName=%1\nPassWord=%2\n"
                              "SavePasswordFlag=1\nAutoLoginFlag=%3\n"
                              "SaveDomainAgintLogFlag=0\nServerPort=%4\n")
                   .arg(QString::fromUtf8(user), QString::fromUtf8(digest))
                   .arg(autoLogon ? 1 : 0)
                   .arg(port)
                   .toUtf8());
}

OnlineDlg::Options TestOnlineDlg::fastOptions(const QString& pluginPath) const
{
    OnlineDlg::Options options;
    // No plug-in unless asked for: a path that does not exist.
    options.pluginPath =
        pluginPath.isEmpty() ? m_root->path() + "/no-such-plugin/ifclient.so" : pluginPath;
    options.onlinePollMs = 200;
    options.pluginPollMs = 200;
    options.autoLogonRetryMs = 300;
    return options;
}

void TestOnlineDlg::writeSignOn(const QByteArray& line)
{
    QFile file(m_signOnPath);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(line + "\n");
}

QString TestOnlineDlg::eventLog() const
{
    QFile file(m_root->programFolder() + "AppLog.txt");
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

bool TestOnlineDlg::waitOnline(OnlineDlg& window)
{
    QElapsedTimer clock;
    clock.start();
    while (!window.isOnline() && clock.elapsed() < 20000)
        QTest::qWait(20);
    return window.isOnline();
}

// --- logon through the state machine -------------------------------------------

void TestOnlineDlg::startWithoutRememberedLogonShowsDialog()
{
    writeConfig("127.0.0.1");
    OnlineDlg window(fastOptions());
    LogonDialogDriver driver(&window, LogonDialogDriver::Close);
    window.show();

    QTRY_COMPARE(driver.seen, 1);
    QCOMPARE(driver.firstModality, Qt::WindowModal);
    QVERIFY(!window.isPluginLoaded());
    // Closed without a logon: a new dialog after the retry interval.
    QTRY_COMPARE(driver.seen, 2);
    QTRY_VERIFY(!window.isVisible()); // the start-up window hides itself
    QVERIFY(!window.isOnline());
    QVERIFY(!window.monitor()->isRunning());
    QVERIFY(iconShows(window.trayIcon()->icon(), kOfflineIcon));
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));
    // The missing plug-in is logged at level 4.
    QVERIFY(eventLog().contains("dlopen:"));
}

void TestOnlineDlg::rememberedAutomaticLogonGoesOnline()
{
    writeConfig("127.0.0.1");
    writeLastIni("zhaoliu", kPasswordDigest, true, m_server.port());
    OnlineDlg window(fastOptions());
    LogonDialogDriver driver(&window, LogonDialogDriver::Close);

    QVERIFY(waitOnline(window));
    QCOMPARE(driver.seen, 0);
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));
    QVERIFY(window.isVisible());
    QVERIFY(window.monitor()->isRunning());
    QCOMPARE(window.monitor()->user(), window.user());
    QVERIFY(iconShows(window.trayIcon()->icon(), kOnlineIcon));
    QCOMPARE(window.findChild<QLabel*>("labelUserFullName")->text(), QStringLiteral("赵六"));
    QCOMPARE(window.findChild<QLabel*>("label_Dept")->text(), QStringLiteral("研发部"));
    QCOMPARE(window.findChild<QLabel*>("label_ServerName")->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(window.findChild<QLabel*>("label_AutoLogon")->text(), QStringLiteral("是"));
    QCOMPARE(window.findChild<QLabel*>("label_SavePW")->text(), QStringLiteral("是"));

    // The online timer polls: its ticks are logged at level 5.
    QTRY_VERIFY(eventLog().count("online=1") >= 2);
    QVERIFY(window.isOnline());
}

void TestOnlineDlg::refusedAutomaticLogonShowsDialog()
{
    writeConfig("127.0.0.1");
    writeLastIni("zhaoliu", kWrongDigest, true, m_server.port());
    OnlineDlg window(fastOptions());
    LogonDialogDriver driver(&window, LogonDialogDriver::LogOn);

    // The silent attempt is refused (code 2) without a box; the user then
    // logs on in the dialog.
    QVERIFY(waitOnline(window));
    QCOMPARE(driver.seen, 1);
    QCOMPARE(driver.resultWhenShown, 2);
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));
    QCOMPARE(window.logonDialog(), nullptr);
    QVERIFY(window.monitor()->isRunning());
}

void TestOnlineDlg::trayLogoutGoesOfflineWithoutAutomaticLogon()
{
    writeConfig("127.0.0.1");
    writeLastIni("zhaoliu", kPasswordDigest, true, m_server.port());
    OnlineDlg window(fastOptions());
    LogonDialogDriver driver(&window, LogonDialogDriver::Close);
    QVERIFY(waitOnline(window));

    QAction* logout = nullptr;
    for (QAction* action : window.trayIcon()->contextMenu()->actions())
        if (action->text() == QStringLiteral("注销"))
            logout = action;
    QVERIFY(logout);
    logout->trigger();

    // The remembered automatic logon would succeed; the dialog shows instead.
    QTRY_COMPARE(driver.seen, 1);
    QVERIFY(!window.isOnline());
    QVERIFY(window.isManualLogon());
    QVERIFY(!window.monitor()->isRunning());
    QVERIFY(iconShows(window.trayIcon()->icon(), kOfflineIcon));
    QVERIFY(!window.isVisible());
    QTRY_COMPARE(driver.seen, 2); // and again after being closed
    QVERIFY(!window.isOnline());
}

void TestOnlineDlg::lostServerGoesOfflineAndLogsOnAgain()
{
    DevServerProcess server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    writeConfig("127.0.0.1");
    writeLastIni("zhaoliu", kPasswordDigest, true, server.port());
    OnlineDlg window(fastOptions());
    LogonDialogDriver driver(&window, LogonDialogDriver::Close);
    QVERIFY(waitOnline(window));

    server.stop();
    QTRY_VERIFY(!window.isOnline());
    QVERIFY(!window.isManualLogon());
    QVERIFY(!window.monitor()->isRunning());
    // The automatic logon is tried and fails silently; the dialog comes up.
    QTRY_VERIFY(driver.seen >= 1);
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));

    // The server comes back (at a new port, which the session is told).
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    const QByteArray port = QByteArray::number(server.port());
    qstrncpy(window.user()->ServerPort, port.constData(), sizeof window.user()->ServerPort);
    qstrncpy(window.user()->RpcPort, port.constData(), sizeof window.user()->RpcPort);
    QVERIFY(waitOnline(window));
    QVERIFY(window.monitor()->isRunning());
}

void TestOnlineDlg::connectionFailureDuringLogonIsReported()
{
    // The server accepts the logon and then breaks every connection: the
    // user query after the logon raises the RPC layer's connection failure.
    RawHttpServer server;
    server.queueReply(RawHttpServer::soapResponse(
        "<ns:UserLogonResponse><LogResult>0</LogResult></ns:UserLogonResponse>"));
    server.setAction(RawHttpServer::Action::Close);
    writeConfig("127.0.0.1");
    writeLastIni("zhaoliu", kPasswordDigest, true, server.port());
    OnlineDlg window(fastOptions());
    LogonDialogDriver driver(&window, LogonDialogDriver::Close);

    QTRY_VERIFY(!m_boxes.isEmpty());
    QCOMPARE(m_boxes.first(), QStringLiteral("错误|无法连接服务器！"));
    // No success: the logon starts again after the retry interval, and the
    // refused automatic attempt then shows the dialog.
    QTRY_VERIFY(driver.seen >= 1);
    QVERIFY(!window.isOnline());
    QCOMPARE(m_boxes.size(), 1);
}

// --- the sign-on plug-in ----------------------------------------------------------

void TestOnlineDlg::pluginSignsOnAndOff()
{
    const QString address = QStringLiteral("127.0.0.1:%1").arg(m_server.port());
    m_root->writeConfig(("[Main%20Window]\n2002=" + address + "\n[Debug]\nLevel=4\n").toUtf8());
    writeLastIni("zhaoliu", kPasswordDigest, false, m_server.port());
    OnlineDlg window(fastOptions(QStringLiteral(ORIX_IFCLIENT_PATH)));
    LogonDialogDriver driver(&window, LogonDialogDriver::Close);
    QVERIFY(window.isPluginActive());

    writeSignOn("login zhaoliu");
    QVERIFY(waitOnline(window));
    QCOMPARE(window.user()->LogonMode, 1);
    QCOMPARE(QByteArray(window.user()->UserName), QByteArray("zhaoliu"));

    writeSignOn("logout zhaoliu");
    QTRY_VERIFY(!window.isOnline());
    QVERIFY(!window.monitor()->isRunning());

    writeSignOn("login zhaoliu");
    QVERIFY(waitOnline(window));
    QCOMPARE(driver.seen, 0); // the plug-in replaces the dialog
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));

    const QString log = eventLog();
    QVERIFY2(log.contains("login-server:" + address + "\n\r\n"), qPrintable(log));
    QVERIFY2(log.contains("login-user:zhaoliu, 0\n\r\n"), qPrintable(log));
    QVERIFY2(log.contains("logout-user:zhaoliu\n\r\n"), qPrintable(log));
    QVERIFY(!log.contains("tmid=")); // level 5 is above the configured 4
}

void TestOnlineDlg::pluginLogonPort_data()
{
    QTest::addColumn<bool>("withPort");
    QTest::newRow("address with port") << true;
    QTest::newRow("address without port") << false;
}

void TestOnlineDlg::pluginLogonPort()
{
    QFETCH(bool, withPort);
    const QByteArray port = QByteArray::number(m_server.port());
    writeConfig(withPort ? "127.0.0.1:" + port : QStringLiteral("127.0.0.1"));
    writeLastIni("zhaoliu", kPasswordDigest, false, m_server.port());
    OnlineDlg window(fastOptions(QStringLiteral(ORIX_IFCLIENT_PATH)));
    LogonDialogDriver driver(&window, LogonDialogDriver::Close);
    QTRY_VERIFY(window.user());
    // Without a port in the configuration the logon keeps the session's own
    // port; the remembered port text becomes "8085".
    if (!withPort)
        qstrncpy(window.user()->RpcPort, port.constData(), sizeof window.user()->RpcPort);

    writeSignOn("login zhaoliu");
    QVERIFY(waitOnline(window));
    QCOMPARE(QByteArray(window.user()->ServerAddress), QByteArray("127.0.0.1"));
    QCOMPARE(QByteArray(window.user()->ServerPort), withPort ? port : QByteArray("8085"));
    QCOMPARE(QByteArray(window.user()->RpcPort), port);
    QCOMPARE(driver.seen, 0);
}

void TestOnlineDlg::pluginLogonFailureIsReported()
{
    writeConfig(QStringLiteral("127.0.0.1:%1").arg(m_server.port()));
    OnlineDlg window(fastOptions(QStringLiteral(ORIX_IFCLIENT_PATH)));
    writeSignOn("login nosuchuser");
    // Reported on every tick while the sign-on keeps naming the user.
    QTRY_VERIFY(m_boxes.size() >= 2);
    QCOMPARE(m_boxes.first(), QStringLiteral("错误|Logon fail:nosuchuser ret=2"));
    QVERIFY(!window.isOnline());
}

void TestOnlineDlg::brokenPluginStaysOffline_data()
{
    QTest::addColumn<QString>("plugin");
    QTest::addColumn<QString>("logged");
    QTest::newRow("SyncInit fails")
        << QStringLiteral(ORIX_IFCLIENT_INITFAIL_PATH) << QStringLiteral("IF Init fail\n");
    QTest::newRow("SyncHandleJob missing")
        << QStringLiteral(ORIX_IFCLIENT_NOJOB_PATH) << QStringLiteral("dlsym:");
}

void TestOnlineDlg::brokenPluginStaysOffline()
{
    QFETCH(QString, plugin);
    QFETCH(QString, logged);
    writeConfig(QStringLiteral("127.0.0.1:%1").arg(m_server.port()));
    // Even a remembered automatic logon is not tried: the logon belongs to
    // the plug-in, whose timer never runs.
    writeLastIni("zhaoliu", kPasswordDigest, true, m_server.port());
    writeSignOn("login zhaoliu");
    OnlineDlg window(fastOptions(plugin));
    LogonDialogDriver driver(&window, LogonDialogDriver::Close);
    QVERIFY(window.isPluginLoaded());
    QVERIFY(!window.isPluginActive());
    QTRY_VERIFY(window.user());

    QTest::qWait(1000); // five plug-in intervals
    QVERIFY(!window.isOnline());
    QCOMPARE(driver.seen, 0);
    QVERIFY(!window.isAutoLogonPending());
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));
    QVERIFY(eventLog().contains(logged));
}

// --- the window ---------------------------------------------------------------------

void TestOnlineDlg::uiHideBits_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<bool>("copyHidden");
    QTest::addColumn<bool>("discHidden");
    QTest::newRow("0") << 0 << false << false;
    QTest::newRow("2") << 2 << true << false;
    QTest::newRow("4") << 4 << false << true;
    QTest::newRow("6") << 6 << true << true;
    QTest::newRow("7") << 7 << true << true;
}

void TestOnlineDlg::uiHideBits()
{
    QFETCH(int, bits);
    QFETCH(bool, copyHidden);
    QFETCH(bool, discHidden);
    writeConfig("127.0.0.1", QStringLiteral("[OPTION]\nUIHide=%1\n").arg(bits));
    writeLastIni("zhaoliu", kPasswordDigest, true, m_server.port());
    OnlineDlg window(fastOptions());
    QVERIFY(waitOnline(window));
    QCOMPARE(window.findChild<QToolButton*>("btnCopyTask")->isHidden(), copyHidden);
    QCOMPARE(window.findChild<QToolButton*>("btnCDTask")->isHidden(), discHidden);
    // The request page is never offered.
    auto* toolBox = window.findChild<QToolBox*>("toolBox");
    QCOMPARE(toolBox->count(), 1);
    QCOMPARE(toolBox->itemText(0), QStringLiteral("用户信息"));
}

void TestOnlineDlg::signalFolderBringsWindowForward_data()
{
    QTest::addColumn<bool>("online");
    QTest::newRow("online") << true;
    QTest::newRow("offline") << false;
}

void TestOnlineDlg::signalFolderBringsWindowForward()
{
    QFETCH(bool, online);
    writeConfig(QStringLiteral("127.0.0.1:%1").arg(m_server.port()));
    writeLastIni("zhaoliu", kPasswordDigest, true, m_server.port());
    // Offline without a dialog in the way: a plug-in that never signs on.
    OnlineDlg window(online ? fastOptions()
                            : fastOptions(QStringLiteral(ORIX_IFCLIENT_INITFAIL_PATH)));
    if (online)
        QVERIFY(waitOnline(window));
    else
        QTRY_VERIFY(window.user());
    window.hideUI();
    QTRY_VERIFY(!window.isVisible());

    // A second start touches the signal folder.
    activateExistentProcess();
    if (online) {
        QTRY_VERIFY(window.isVisible());
        QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
        // Hiding clears the stay-on-top flag again.
        window.hideUI();
        QVERIFY(!(window.windowFlags() & Qt::WindowStaysOnTopHint));
    } else {
        window.directoryChanged(QString::fromUtf8(SystemPaths::signalFolder()));
        QTest::qWait(300);
        QVERIFY(!window.isVisible());
    }
}

void TestOnlineDlg::minimiseAndCloseHideToTray()
{
    writeConfig("127.0.0.1");
    writeLastIni("zhaoliu", kPasswordDigest, true, m_server.port());
    OnlineDlg window(fastOptions());
    QVERIFY(waitOnline(window));
    QVERIFY(window.isVisible());

    window.setWindowState(Qt::WindowMinimized);
    QTRY_VERIFY(!window.isVisible());
    QVERIFY(window.isOnline());

    window.showUI();
    QTRY_VERIFY(window.isVisible());
    auto* close = window.findChild<QToolButton*>("btnClose");
    QVERIFY(close);
    QCOMPARE(close->geometry(), QRect(window.width() - 25, 5, 20, 20));
    QTest::mouseClick(close, Qt::LeftButton);
    QVERIFY(!window.isVisible());
    QVERIFY(window.isOnline());
}

void TestOnlineDlg::aboutButtonRunsAboutBox()
{
    writeConfig("127.0.0.1");
    OnlineDlg window(fastOptions(QStringLiteral(ORIX_IFCLIENT_INITFAIL_PATH)));
    QString version;
    QTimer closer;
    connect(&closer, &QTimer::timeout, &window, [&] {
        auto* about = qobject_cast<aboutdlg*>(QApplication::activeModalWidget());
        if (!about)
            return;
        closer.stop();
        version = about->findChild<QLabel*>("label_Version")->text();
        QTest::mouseClick(about->findChild<QPushButton*>("pushButtonOK"), Qt::LeftButton);
    });
    closer.start(20);
    QTest::mouseClick(window.findChild<QToolButton*>("btnAbout"), Qt::LeftButton);
    QCOMPARE(version, QStringLiteral("版本：2.0.2"));
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
}

QTEST_MAIN(TestOnlineDlg)
#include "tst_onlinedlg.moc"
