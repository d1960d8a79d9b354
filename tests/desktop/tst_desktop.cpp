// The tray icon, notices, attention and the desktop probe against fake services on a private bus.

#include "Attention.h"
#include "ChildDaemon.h"
#include "DesktopProbe.h"
#include "DesktopTrayIcon.h"
#include "DisplayChoice.h"
#include "FakeDesktop.h"
#include "NoticeCenter.h"
#include "OrixUser.h"
#include "ServerMsgDlg.h"
#include "SessionTestKit.h"
#include "TestRoot.h"
#include "TextUtil.h"
#include "X11Desktop.h"

#include <QDesktopServices>
#include <QLabel>
#include <QScreen>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

namespace
{

const QByteArray kApprovalUrl = "http://10.1.2.3/RazodAroZid/Home/Index1/LoginFrm.aspx?"
                                "key=alice&value=MD5&Redirect=AuditorPrintProcTask";

// Another program on the test's X display: its window made active, or the system tray manager.
class OtherProgram
{
public:
    OtherProgram() : m_c(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_c))
            return;
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        m_root = screen->root;
        m_window = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window, m_root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    }
    ~OtherProgram() { xcb_disconnect(m_c); }

    void setActive(bool active) // as the window manager names it
    {
        const xcb_window_t window = active ? m_window : XCB_NONE;
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_root, atom("_NET_ACTIVE_WINDOW"),
                            XCB_ATOM_WINDOW, 32, 1, &window);
        sync();
    }
    void ownTray(bool own)
    {
        xcb_set_selection_owner(m_c, own ? m_window : XCB_NONE, atom("_NET_SYSTEM_TRAY_S0"),
                                XCB_CURRENT_TIME);
        sync();
    }

private:
    // A round trip: the requests are done before anyone asks.
    void sync() { free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }
    xcb_atom_t atom(const char* name)
    {
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            m_c, xcb_intern_atom(m_c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : XCB_NONE;
        free(reply);
        return value;
    }

    xcb_connection_t* m_c;
    xcb_window_t m_root = 0, m_window = 0;
};

// The pop-ups up now, oldest first by their height on screen (the newest is lowest).
QList<ServerMsgDlg*> popUpsOnScreen()
{
    QList<ServerMsgDlg*> popUps;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* popUp = qobject_cast<ServerMsgDlg*>(widget); popUp && popUp->isVisible())
            popUps << popUp;
    std::sort(popUps.begin(), popUps.end(), [](QWidget* a, QWidget* b) { return a->y() < b->y(); });
    return popUps;
}

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

public:
    TestDesktop(bool bus, bool x11) : m_bus(bus), m_x11(x11) {}

public slots:
    void open(const QUrl& url) { m_urls << browsedUrl(url); } // the desktop's browser

private:
    const bool m_bus, m_x11;
    std::unique_ptr<TestRoot> m_root;
    std::unique_ptr<OrixUser> m_user;
    std::unique_ptr<FakeDesktop> m_desktop;
    QByteArrayList m_urls;

    FakeNotificationServer* server() const { return m_desktop->notifications(); }

    // A notice centre of its own, once it found the server started with capabilities (none: none).
    std::unique_ptr<NoticeCenter> noticeCenter(const QStringList& capabilities)
    {
        if (!capabilities.isEmpty() && !m_desktop->startNotifications(capabilities))
            return nullptr;
        auto* notifications = new DesktopNotifications;
        std::unique_ptr<NoticeCenter> center(new NoticeCenter(notifications));
        notifications->setParent(center.get());
        const auto expected = capabilities.isEmpty() ? DesktopNotifications::Server::Absent
                                                     : DesktopNotifications::Server::Present;
        if (!QTest::qWaitFor([&] { return notifications->server() == expected; }, 10000))
            return nullptr;
        return center;
    }

private slots:
    void initTestCase()
    {
        if (!m_bus)
            QSKIP("dbus-daemon is missing: no session bus for the desktop's fakes");
        QDesktopServices::setUrlHandler("file", this, "open");
    }

    void init()
    {
        m_root.reset(new TestRoot);
        m_user.reset(new OrixUser);
        CopyText(m_user->UserName, sizeof m_user->UserName, "alice");
        CopyText(m_user->Password, sizeof m_user->Password, "MD5");
        CopyText(m_user->WebsiteAddress, sizeof m_user->WebsiteAddress, "10.1.2.3");
        m_desktop.reset(new FakeDesktop);
        m_urls.clear();
    }

    void cleanup()
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (qobject_cast<ServerMsgDlg*>(widget))
                delete widget;
        m_desktop.reset();
        m_user.reset();
        m_root.reset();
    }

    void x11UnderWayland_data()
    {
        // XDG_SESSION_TYPE, WAYLAND_DISPLAY, DISPLAY, QT_QPA_PLATFORM ("" unset), and an argument.
        QTest::addColumn<QByteArrayList>("environment");
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<bool>("x11");
        const auto row = [](const char* tag, QByteArrayList environment, const char* argument,
                            bool x11) {
            QTest::newRow(tag) << environment << QByteArray(argument) << x11;
        };
        row("Wayland with XWayland", {"wayland", "wayland-0", ":0", ""}, "", true);
        row("only WAYLAND_DISPLAY says Wayland", {"", "wayland-0", ":1", ""}, "", true);
        row("no XWayland", {"wayland", "wayland-0", "", ""}, "", false);
        row("the user's platform", {"wayland", "wayland-0", ":0", "wayland"}, "", false);
        row("the user's -platform", {"wayland", "wayland-0", ":0", ""}, "-platform", false);
        row("X11 session", {"x11", "", ":0", ""}, "", false);
    }

    void x11UnderWayland()
    {
        QFETCH(QByteArrayList, environment);
        QFETCH(QByteArray, argument);
        QFETCH(bool, x11);
        const char* names[] = {"XDG_SESSION_TYPE", "WAYLAND_DISPLAY", "DISPLAY", "QT_QPA_PLATFORM"};
        EnvGuard env;
        for (int i = 0; i < 4; ++i)
            environment[i].isEmpty() ? env.unset(names[i]) : env.set(names[i], environment[i]);
        QByteArray program("OrixClientAPP"), value("xcb");
        char* argv[] = {program.data(), argument.data(), value.data(), nullptr};
        QCOMPARE(DisplayChoice::x11UnderWayland(argument.isEmpty() ? 1 : 3, argv), x11);
    }

    void trayOnTheSessionBus()
    {
        if (!m_x11)
            QSKIP("Qt's own tray icon and the window manager's hints need X11 (no Xvfb)");
        // (No tray at all, the window left minimised: below once the tray goes, and the main
        // window's test.) The login race: the watcher and its host come two seconds after the
        // client.
        QWidget window;
        window.show();
        DesktopTrayIcon icon(10000);
        icon.setIcon(QIcon(":/icon/images/ICON_Offline.png"));
        icon.setWindow(&window);
        icon.show();
        icon.start();
        icon.hideAfterStart();
        QTest::qWait(2000);
        QVERIFY(window.isVisible());
        QVERIFY(m_desktop->startWatcher(true));
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop->watcher()->registeredItems().size(), 1, 10000);
        // Qt's icon: its name tells our process.
        const QString ours = QStringLiteral("org.kde.StatusNotifierItem-%1-")
                                 .arg(QCoreApplication::applicationPid());
        const QString item = m_desktop->watcher()->registeredItems().first().section(' ', 1);
        QVERIFY2(item.startsWith(ours), qPrintable(item));
        QCOMPARE(icon.tray(), DesktopTrayIcon::Tray::StatusNotifier);
        QVERIFY(!window.isVisible()); // moved into the tray

        // The host clicks the icon.
        QList<QSystemTrayIcon::ActivationReason> activated;
        connect(&icon, &DesktopTrayIcon::activated,
                [&](QSystemTrayIcon::ActivationReason reason) { activated << reason; });
        QDBusConnection::sessionBus().send(
            QDBusMessage::createMethodCall(item, "/StatusNotifierItem",
                                           "org.kde.StatusNotifierItem", "Activate")
            << 10 << 10);
        QTRY_COMPARE(activated, QList<QSystemTrayIcon::ActivationReason>{QSystemTrayIcon::Trigger});

        // The watcher starts again under another owner: the icon registers with it.
        QVERIFY(m_desktop->startWatcher(true));
        QTRY_COMPARE_WITH_TIMEOUT(m_desktop->watcher()->registeredItems().size(), 1, 10000);
        QVERIFY(m_desktop->watcher()->registeredItems().first().section(' ', 1).startsWith(ours));

        // With the watcher there at the start: at once; the tray gone for good, the window back.
        {
            DesktopTrayIcon leaving(300);
            leaving.setWindow(&window);
            leaving.start();
            QTRY_COMPARE(leaving.tray(), DesktopTrayIcon::Tray::StatusNotifier);
            leaving.putAway();
            QVERIFY(!window.isVisible());
            m_desktop->stopWatcher();
            QTRY_COMPARE(leaving.tray(), DesktopTrayIcon::Tray::Waiting);
            QTRY_COMPARE(leaving.tray(), DesktopTrayIcon::Tray::None);
            QVERIFY(window.isVisible() && window.isMinimized());
        }
    }

    void trayOfX11()
    {
        if (!m_x11)
            QSKIP("Qt's own tray icon and the window manager's hints need X11 (no Xvfb)");
        OtherProgram tray;
        tray.ownTray(true);
        // A watcher without a host (that may still come): the X11 tray only after the wait.
        QVERIFY(m_desktop->startWatcher(false));
        DesktopTrayIcon icon(500);
        icon.start();
        icon.lookForTray();
        QCOMPARE(icon.tray(), DesktopTrayIcon::Tray::Waiting);
        QTRY_COMPARE(icon.tray(), DesktopTrayIcon::Tray::XEmbed);
        QVERIFY(icon.systemTrayIcon());
        // The tray manager goes.
        tray.ownTray(false);
        icon.lookForTray();
        QCOMPARE(icon.tray(), DesktopTrayIcon::Tray::Waiting);
        QTRY_COMPARE(icon.tray(), DesktopTrayIcon::Tray::None);

        // Without a watcher the X11 tray is taken at once.
        m_desktop->stopWatcher();
        tray.ownTray(true);
        DesktopTrayIcon direct(10000);
        direct.start();
        QTRY_COMPARE(direct.tray(), DesktopTrayIcon::Tray::XEmbed);
    }

    void probe()
    {
        DesktopProbe::Report report = DesktopProbe::probe(3000);
        QVERIFY(!report.statusNotifierHost && !report.xembedTray && !report.notificationServer);

        QVERIFY(m_desktop->startWatcher(true));
        QVERIFY(m_desktop->startNotifications({"actions", "body"}));
        std::unique_ptr<OtherProgram> tray;
        if (m_x11) {
            tray.reset(new OtherProgram);
            tray->ownTray(true);
        }
        report = DesktopProbe::probe(3000);
        QVERIFY(report.statusNotifierHost && report.notificationServer);
        QCOMPARE(report.xembedTray, m_x11);
        QCOMPARE(report.notificationServerName, QString("fake-notifications"));
        QCOMPARE(report.notificationCapabilities, QStringList({"actions", "body"}));
    }

    void notices_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::newRow("actions and markup") << QStringList{"actions", "body", "body-markup"};
        QTest::newRow("text only") << QStringList{"body"};
    }

    void notices()
    {
        // A request for approval (markup as text) stays, its action opens the approval page.
        QFETCH(QStringList, capabilities);
        const auto center = noticeCenter(capabilities);
        QVERIFY(center);
        const QString approval = QString::fromUtf8("<a href=\"file:///etc/passwd\">等待审批!");
        QCOMPARE(center->show(m_user.get(), approval), nullptr);
        QTRY_COMPARE(server()->notifications().size(), 1);
        FakeNotificationServer::Notification n = server()->notifications().first();
        const bool actions = capabilities.contains("actions");
        QCOMPARE(n.app + '|' + n.summary + '|' + n.imageSignature,
                 "OrixClient|消息提示|(iiibiiay)");
        QCOMPARE(n.appIcon + '|' + n.desktopEntry, "orixclient|orixclient");
        QCOMPARE(n.imageSize, QSize(64, 64));
        QCOMPARE(n.body, actions ? approval.toHtmlEscaped() : approval);
        QCOMPARE(n.actions,
                 actions ? QStringList({"default", "查看", "open", "查看"}) : QStringList());
        QCOMPARE(n.timeout, 0);
        if (!actions)
            return;
        m_desktop->invokeAction(n.id, "open");
        QTRY_COMPARE(m_urls, QByteArrayList{kApprovalUrl});
        QTRY_COMPARE(server()->closeRequests(), QList<quint32>{n.id});
        QTRY_COMPARE(center->onScreen(), 0);

        // The server's signal overtakes its answer: the action still opens the page.
        server()->actBeforeAnswer("open");
        center->show(m_user.get(), approval);
        QTRY_COMPARE(m_urls.size(), 2);
        QTRY_COMPARE(center->onScreen(), 0);
        m_urls.removeLast();

        // Any other notice: no action, gone after three seconds; closed by the user, not counted.
        center->show(m_user.get(), QString::fromUtf8("<报告.pdf>打印成功!"));
        QTRY_COMPARE(server()->notifications().size(), 3);
        n = server()->notifications().last();
        QCOMPARE(n.actions, QStringList());
        QCOMPARE(n.timeout, ServerMsgDlg::kShowMilliseconds);
        m_desktop->closeByUser(n.id);
        QTRY_COMPARE(center->onScreen(), 0);

        // The session went: a notice still up opens nothing.
        center->show(m_user.get(), approval);
        QTRY_COMPARE(server()->notifications().size(), 4);
        center->forgetUser(m_user.get());
        m_desktop->invokeAction(server()->notifications().last().id, "open");
        QTRY_COMPARE(center->onScreen(), 0);
        QCOMPARE(m_urls.size(), 1);
    }

    void popUp()
    {
        // No notification server: the server's text as plain text in the screen's corner; a click
        // opens the approval page.
        const auto center = noticeCenter({});
        QVERIFY(center);
        const char hostile[] = "<a href=\"file:///etc/passwd\">等待审批!";
        center->show(m_user.get(), QString::fromUtf8(hostile));
        QTRY_COMPARE(popUpsOnScreen().size(), 1);
        QPointer<ServerMsgDlg> approval = popUpsOnScreen().first();
        QCOMPARE(QRect(approval->pos(), approval->size()).bottomRight(),
                 QGuiApplication::primaryScreen()->availableGeometry().bottomRight());
        QLabel* label = approval->findChild<QLabel*>("labelMsg");
        QCOMPARE(label->textFormat(), Qt::PlainText);
        QCOMPARE(label->text(), QString::fromUtf8(hostile));
        QTest::mouseClick(label, Qt::LeftButton);
        QTRY_VERIFY(approval.isNull());
        QCOMPARE(m_urls, QByteArrayList{kApprovalUrl});
    }

    void burstOfNoticesStaysBounded_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("desktop notifications") << true;
        QTest::newRow("pop-ups") << false;
    }

    void burstOfNoticesStaysBounded()
    {
        QFETCH(bool, server);
        const auto center = noticeCenter(server ? QStringList{"actions", "body"} : QStringList());
        QVERIFY(center);
        // Fifty at once, every third a request for approval.
        QString last;
        for (int i = 1; i <= 50; ++i) {
            last =
                QString::fromUtf8("<job-%1.pdf>%2").arg(i).arg(i % 3 ? "打印成功!" : "等待审批!");
            center->show(m_user.get(), last);
            QVERIFY(center->onScreen() <= NoticeCenter::kMostOnScreen);
        }
        if (server) {
            const auto shown = [&] {
                const auto all = this->server()->notifications();
                return std::any_of(all.begin(), all.end(), [&](auto& n) { return n.body == last; });
            };
            QTRY_VERIFY(shown());
            QVERIFY2(this->server()->mostOpen() <= NoticeCenter::kMostOnScreen,
                     qPrintable(QString::number(this->server()->mostOpen())));
            QCOMPARE(this->server()->open().size(), NoticeCenter::kMostOnScreen);
            return;
        }
        // Pop-ups: three, stacked above each other in the corner, the newest lowest.
        QTRY_COMPARE(popUpsOnScreen().size(), NoticeCenter::kMostOnScreen);
        const QList<ServerMsgDlg*> popUps = popUpsOnScreen();
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        for (int i = 0; i < popUps.size(); ++i)
            QCOMPARE(popUps[i]->frameGeometry().bottom() + 1,
                     area.bottom() + 1 - (popUps.size() - 1 - i) * popUps[i]->height());
        QCOMPARE(popUps.last()->findChild<QLabel*>("labelMsg")->text(), last);
        // Requests for approval stay; the newest "printed" notice closes by itself.
        QTRY_COMPARE(popUpsOnScreen().size(), NoticeCenter::kMostOnScreen - 1);
    }

    void noticesFallBackToPopUps()
    {
        // The server refuses a notice: it comes as a pop-up.
        const auto center = noticeCenter({"actions", "body"});
        QVERIFY(center);
        auto* notifications = center->findChild<DesktopNotifications*>();
        server()->setRefuse(true);
        center->show(m_user.get(), QString::fromUtf8("<a.pdf>等待审批!"));
        QTRY_COMPARE(popUpsOnScreen().size(), 1);
        delete popUpsOnScreen().first();

        // The server goes away: notices come as pop-ups from then on.
        m_desktop->stopNotifications();
        QTRY_COMPARE(notifications->server(), DesktopNotifications::Server::Absent);
        center->show(m_user.get(), QString::fromUtf8("<b.pdf>审批通过!"));
        // (asked again first: a server started on demand would start now)
        QCOMPARE(notifications->server(), DesktopNotifications::Server::Asking);
        QTRY_COMPARE(popUpsOnScreen().size(), 1);
    }

    void capturedJobAsksForAttention()
    {
        if (!m_x11)
            QSKIP("Qt's own tray icon and the window manager's hints need X11 (no Xvfb)");
        QVERIFY(m_desktop->startNotifications({"actions", "body"}));
        QTRY_COMPARE(DesktopNotifications::instance()->server(),
                     DesktopNotifications::Server::Present);
        X11Desktop x11;
        OtherProgram other;

        // Another program has the keyboard: urgent, announced; the notification's action raises it.
        other.setActive(true);
        QDialog dialog;
        dialog.resize(200, 100);
        Attention::request(&dialog, "打印任务", "收到新的打印任务");
        dialog.show();
        QTRY_COMPARE(server()->notifications().size(), 1);
        const FakeNotificationServer::Notification n = server()->notifications().first();
        QCOMPARE(n.summary + '|' + n.body, QString("打印任务|收到新的打印任务"));
        QVERIFY(n.actions.contains("open"));
        QTRY_VERIFY(x11.isUrgent(quint32(dialog.winId())));
        QVERIFY(!dialog.isActiveWindow());
        m_desktop->invokeAction(n.id, "open");
        QTRY_VERIFY(dialog.isActiveWindow());
        QTRY_VERIFY(!x11.isUrgent(quint32(dialog.winId())));
        dialog.hide();
        QTRY_COMPARE(server()->closeRequests(), QList<quint32>{n.id});

        // Nobody else holds it: the dialog is active at once, without a notification.
        other.setActive(false);
        QDialog second;
        Attention::request(&second, "打印任务", "收到新的打印任务");
        second.show();
        QTRY_VERIFY(second.isActiveWindow());
        QTest::qWait(200);
        QCOMPARE(server()->notifications().size(), 1);
    }
};

int main(int argc, char** argv)
{
    // Before the application object: Qt connects to the bus and the display once.
    PrivateSessionBus bus;
    PrivateXDisplay display;
    EnvGuard env;
    if (display.isRunning()) {
        env.set("QT_QPA_PLATFORM", "xcb");
        env.set("QT_XCB_GL_INTEGRATION", "none");
    }
    QApplication app(argc, argv);
    TestDesktop test(bus.isRunning(), display.isRunning());
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desktop.moc"
