// The session without a server: remembered logon, payers, logon dialog, portal link, pop-up.

#include "Background.h"
#include "DComLayerWS.h"
#include "LogonPWDlg.h"
#include "LogonScheduler.h"
#include "PlantedObject.h"
#include "PortalPage.h"
#include "SessionTestKit.h"
#include "TestFiles.h"
#include "TestRoot.h"

#include <QtTest>

#include <future>
#include <new>
#include <shared_mutex>
#include <thread>

namespace
{

const QByteArray kDigest(kSeedPasswordDigest); // of "123456"
const int kUnreachable = -999;                 // the fake's logon throws as the RPC layer does
const int kOutOfMemory = -998;                 // the fake's logon throws std::bad_alloc

// An RPC client that answers the logon and the payer query and keeps what it was handed.
class FakeRpcClient : public CDComLayerWS
{
public:
    int logOnResult = 2;
    int logOnCalls = 0;
    TavUserRecord logOnRecord{};
    QByteArray portAtLogOn, payerRequest;
    QByteArray payerReply;     // null: the server sent no text
    QWidget* button = nullptr; // the dialog's logon button, looked at during the logon
    bool buttonEnabled = true; // ... as it was then
    bool onGuiThread = true;

    int LogOn(void* record) override
    {
        ++logOnCalls;
        onGuiThread = Background::OnApplicationThread();
        if (button)
            Background::OnApplicationThreadBlocking(
                [this] { buttonEnabled = button->isEnabled(); });
        if (logOnResult == kUnreachable)
            throw RpcFailure(RpcResult::kExchangeFailed);
        if (logOnResult == kOutOfMemory)
            throw std::bad_alloc();
        memcpy(&logOnRecord, record, sizeof logOnRecord);
        portAtLogOn = Port();
        return logOnResult;
    }
    int GetPayerInfo(char* item, char*& reply) override
    {
        payerRequest = item;
        if (!payerReply.isNull())
            reply = strdup(payerReply.constData());
        return 0;
    }
};

} // namespace

// A session on the fake client; boxes recorded (questions answered no), URLs as browsed.
class Fixture : public QObject
{
    Q_OBJECT

public:
    Fixture()
    {
        for (const char* scheme : {"http", "https", "file"})
            QDesktopServices::setUrlHandler(scheme, this, "open");
        user.RpcClient.reset(fake);
        CopyText(user.ServerAddress, sizeof user.ServerAddress, "10.0.0.1");
        CopyText(user.UserName, sizeof user.UserName, "alice");
        CopyText(user.Password, sizeof user.Password, "MD5");
        CopyText(user.WebsiteAddress, sizeof user.WebsiteAddress, "10.1.2.3");
        boxes.answer = false;
    }

    TestRoot root;
    BoxRecorder boxes;
    FakeRpcClient* fake = new FakeRpcClient;
    OrixUser user;
    QByteArrayList urls;
    QStringList pages; // the forwarding pages opened, each with its mode and its folder's

public slots:
    void open(const QUrl& url)
    {
        urls << browsedUrl(url);
        const QString page = url.toLocalFile();
        if (url.isLocalFile())
            pages << page +
                         QString::asprintf(" %o %o", modeOf(page), modeOf(QFileInfo(page).path()));
    }
};

class TestSession : public QObject
{
    Q_OBJECT

private slots:
    void rememberedLogon_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("flags"); // password kept, automatic logon, domain agent
        QTest::newRow("password kept") << QByteArray("张三,李四") << "1 0 1";
        QTest::newRow("password not kept") << QByteArray("张三,李四") << "0 1 0";
        // Names that would leave the folder: no per-user file, nothing beside Last.ini.
        for (const char* name : {"..", "../evil", "a/b", ""})
            QTest::addRow("user name \"%s\"", name) << QByteArray(name) << "1 0 1";
    }

    void rememberedLogon()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, flags);
        const QByteArray password = flags.startsWith('1') ? kDigest : QByteArray();
        // Over the configuration's proposal and an old Last.ini readable by others; owner-only
        // files whatever the umask.
        TestRoot root;
        root.writeConfig("[Main%20Window]\n2002=10.9.9.9\n2006=bob\n");
        const QString last = root.varTmp() + "/Last.ini";
        QSettings(last, QSettings::IniFormat).setValue("PassWord", "OLD");
        chmod(QFile::encodeName(last).constData(), 0644);
        {
            const UmaskGuard mask(0);
            OrixUser user;
            CopyText(user.ServerAddress, sizeof user.ServerAddress, "a,b");
            CopyText(user.UserName, sizeof user.UserName, name.constData());
            CopyText(user.ServerPort, sizeof user.ServerPort, "8085");
            CopyText(user.Password, sizeof user.Password, kDigest.constData());
            user.SavePassword = flags[0] == '1';
            user.AutoLogon = flags[2] == '1';
            user.DomainAgentLogon = flags[4] == '1';
            user.PutInformationInLast_Ini();
            user.PutInformationInUser_Ini();
        }
        QCOMPARE(modeOf(last), 0600);
        const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot;
        if (name.contains('/') || name.isEmpty() || name == "..") {
            QCOMPARE(QDir(root.varTmp()).entryList(all), QStringList{"Last.ini"});
            QCOMPARE(QDir(root.path() + "/var").entryList(all), QStringList{"tmp"});
        } else {
            QCOMPARE(modeOf(root.varTmp() + "/" + name), 0700);
            QCOMPARE(modeOf(root.varTmp() + "/" + name + "/" + name + ".ini"), 0600);
        }
        QSettings raw(last, QSettings::IniFormat);
        QStringList values;
        for (const char* key :
             {"PassWord", "SavePasswordFlag", "AutoLoginFlag", "SaveDomainAgintLogFlag"})
            values << raw.value(key).toString();
        QCOMPARE(values.join(' '), password + ' ' + flags);

        OrixUser next;
        QCOMPARE(QByteArrayList({next.ServerAddress, next.UserName, next.ServerPort, next.Password})
                     .join('|'),
                 "a,b|" + name + "|8085|" + password);
        QCOMPARE(
            QString::asprintf("%d %d %d", next.SavePassword, next.AutoLogon, next.DomainAgentLogon),
            flags);
    }

    void handWrittenLastIni()
    {
        // Raw UTF-8 typed into the file reads as the same text; a flag is on only as exactly "1".
        TestRoot root;
        QVERIFY(writeFile(root.varTmp() + "/Last.ini",
                          "[General]\nServerName=打印服务器\nUserName=王五\nServerPort=8086\n"
                          "SavePasswordFlag=true\nAutoLoginFlag=11\nSaveDomainAgintLogFlag=1\n"));
        OrixUser user;
        QCOMPARE(QByteArrayList({user.ServerAddress, user.UserName, user.ServerPort}).join('|'),
                 QByteArray("打印服务器|王五|8086"));
        QCOMPARE((QVector<bool>{user.SavePassword, user.AutoLogon, user.DomainAgentLogon}),
                 (QVector<bool>{false, false, true}));
    }

    void plantedObjects_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("foreign"); // owned by another user (needs root to plant)
        QTest::addColumn<bool>("logged");
        const auto row = [](const char* tag, const char* name, const char* kind, bool foreign,
                            bool logged) {
            QTest::newRow(tag) << QString(name) << QString(kind) << foreign << logged;
        };
        row("Last.ini: FIFO", "Last.ini", "fifo", false, true);
        row("Last.ini: link to the user's file", "Last.ini", "link", false, true);
        row("Last.ini: another user's, proposing his server", "Last.ini", "file", true, true);
        row("settings lock: FIFO", "Last.ini.lock", "fifo", false, false);
        row("settings lock: another user's folder", "Last.ini.lock", "folder", true, false);
        row("per-user folder: another user's, with a FIFO", "lisi", "folder+fifo", true, true);
    }

    void plantedObjects()
    {
        // What another user left in the shared folder is never waited on or written through.
        QFETCH(QString, kind);
        if (fetch<bool>("foreign") && geteuid() != 0)
            QSKIP("planting another user's object needs root (chown to nobody)");
        TestRoot root;
        root.writeConfig("[Debug]\nLevel=2\n");
        const QString path = root.varTmp() + "/" + fetch<QString>("name");
        const QString notes = root.home() + "/notes.txt";
        QVERIFY(writeFile(notes, "precious"));
        QVERIFY(PlantedObject::plant(
            path, kind.section('+', 0, 0), fetch<bool>("foreign"),
            "[General]\nServerName=10.6.6.6\nUserName=lisi\nAutoLoginFlag=1\n", notes));
        if (kind == "folder+fifo")
            QVERIFY(PlantedObject::plant(path + "/lisi.ini", "fifo", true));
        const QString before = PlantedObject::snapshot(path);

        {
            OrixUser user;
            QCOMPARE(QByteArray(user.ServerAddress), QByteArray("127.0.0.1"));
            QVERIFY(!user.AutoLogon);
            CopyText(user.UserName, sizeof user.UserName, "lisi");
            CopyText(user.Password, sizeof user.Password, kDigest.constData());
            user.SavePassword = user.AutoLogon = true;
            user.PutInformationInLast_Ini();
            user.PutInformationInUser_Ini();
        }
        const OrixUser next;
        QCOMPARE(QByteArrayList({next.ServerAddress, next.UserName, next.Password}).join(' '),
                 "127.0.0.1 lisi " + kDigest);
        QVERIFY(next.AutoLogon && next.SavePassword);
        QCOMPARE(PlantedObject::snapshot(path), before);
        QTEST(readFile(root.programFolder() + "AppLog.txt")
                  .contains("remembered logon: " + QFile::encodeName(path)),
              "logged");
    }

    void payers_data()
    {
        QTest::addColumn<QByteArray>("reply"); // null: the server sent no text
        QTest::addColumn<QString>("loaded");   // result: switches, type; name/id/group of each
        const auto row = [](const char* name, const QByteArray& reply, const QString& loaded) {
            QTest::newRow(name) << reply << loaded;
        };
        row("entry without IsGroup",
            R"({"IsSupportCostControl":0,"IsSupportProject":1,"PayerType":4,"PayerInfo":[)"
            R"({"PayerName":"a","PayerID":7},{"PayerName":"b","PayerID":8,"IsGroup":1}]})",
            "2: 0 1 4; /0/0 b/8/1");
        row("switch missing", R"({"IsSupportCostControl":1,"PayerType":2,"PayerInfo":[]})",
            "2: 0 0 1;");
        row("long name cut",
            R"({"IsSupportCostControl":1,"IsSupportProject":1,"PayerType":6,"PayerInfo":[)"
            R"({"PayerName":")" +
                QByteArray(400, 'n') + R"(","PayerID":1,"IsGroup":0}]})",
            "0: 1 1 6; " + QString(255, 'n') + "/1/0");
        row("not JSON", "<html>busy</html>", "2: 0 0 1;");
        row("no text", QByteArray(), "2: 0 0 1;");
    }

    void payers()
    {
        Fixture f;
        CopyText(f.user.UserName, sizeof f.user.UserName, "a\"b\\");
        f.fake->payerReply = fetch<QByteArray>("reply");
        const int result = f.user.GetUserPayerInfo();
        QCOMPARE(f.fake->payerRequest, QByteArray("{\"UserName\":\"a\\\"b\\\\\"}"));
        QString actual = QString::asprintf("%d: %d %d %d;", result, f.user.IsSupportCostControl,
                                           f.user.IsSupportProject, f.user.PayerType);
        for (int i = 0; i < f.user.PayerCount; ++i)
            actual += QString::asprintf(" %s/%d/%d", f.user.Payers[i].PayerName,
                                        f.user.Payers[i].PayerID, f.user.Payers[i].IsGroup);
        QTEST(actual, "loaded");
    }

    void logon_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QByteArray>("remembered");
        QTest::addColumn<QString>("typed");   // null: the field is left as it is
        QTest::addColumn<QString>("then");    // "change user" or "domain agent"
        QTest::addColumn<int>("code");        // the logon's result
        QTest::addColumn<bool>("answer");     // to a yes/no box
        QTest::addColumn<QByteArray>("sent"); // address, port, password, logon mode
        QTest::addColumn<QString>("box");
        QTest::addColumn<QByteArrayList>("urls");
        const QString refused = "错误|用户名密码错误！";
        const auto sends = [&](const char* name, const char* server, const char* remembered,
                               const char* typed, const char* then, const QByteArray& sent) {
            QTest::newRow(name) << QString(server) << QByteArray(remembered) << QString(typed)
                                << QString(then) << 2 << false << sent << refused
                                << QByteArrayList();
        };
        sends("host:port, remembered", "srv:8085", "MD5", nullptr, "", "srv 8085 MD5 0");
        sends("colon first: no port", ":8085", "MD5", nullptr, "", ":8085 8086 MD5 0");
        sends("port cut for the client", "srv:1234567890123456789012345", "MD5", nullptr, "",
              "srv 1234567890123456789 MD5 0");
        sends("typed: digest", "srv", "MD5", "123456", "", "srv 8086 " + kDigest + " 0");
        sends("typed, nothing remembered", "srv", "", "123456", "", "srv 8086 " + kDigest + " 0");
        sends("typed, then user changed", "srv", "MD5", "123456", "change user",
              "srv 8086 123456 0");
        sends("domain agent: as typed", "srv", "MD5", "Secret!1", "domain agent",
              "srv 8086 Secret!1 2");
        const auto answers = [](const char* name, int code, bool answer, const QString& box,
                                const QByteArrayList& urls = {}) {
            QTest::newRow(name) << QString("10.0.0.1") << QByteArray("MD5") << QString()
                                << QString() << code << answer << QByteArray() << box << urls;
        };
        const QString expired = "警告|已超过密码修改的时间周期,您要跳转到网站进行修改吗？";
        answers("9", 9, false, "错误|用户未激活！");
        answers("16", 16, false, "错误|用户被锁定");
        answers("other", 77, false, "错误|登录失败，错误码77");
        answers("19, yes", 19, true, expired, {"http://10.0.0.1/OrixPrint/UserLogin.jsp"});
        answers("19, no", 19, false, expired);
        // No exception crosses the event loop: the click reports it.
        answers("no connection", kUnreachable, false, "错误|无法连接服务器！");
        answers("out of memory", kOutOfMemory, false, "错误|无法连接服务器！");
    }

    void logon()
    {
        QFETCH(QString, typed);
        QFETCH(QString, then);
        QFETCH(QByteArray, sent);
        Fixture f;
        CopyText(f.user.Password, sizeof f.user.Password, fetch<QByteArray>("remembered").data());
        f.fake->logOnResult = fetch<int>("code");
        f.boxes.answer = fetch<bool>("answer");
        LogonPWDlg dialog;
        dialog.SetUser(&f.user);
        dialog.findChild<QComboBox*>("comboBoxServerName")->setEditText(fetch<QString>("server"));
        if (!typed.isNull()) {
            dialog.findChild<QLineEdit*>("lineEditPassword")->clear();
            QTest::keyClicks(dialog.findChild<QLineEdit*>("lineEditPassword"), typed);
        }
        if (then == "change user")
            dialog.findChild<QComboBox*>("comboBoxUserName")->setEditText("bob");
        // With both domain options checked the domain-agent logon wins.
        dialog.findChild<QCheckBox*>("checkBoxDomainAgint")->setChecked(then == "domain agent");
        dialog.findChild<QCheckBox*>("checkBoxDomainAgintLog")->setChecked(then == "domain agent");
        f.fake->button = dialog.findChild<QPushButton*>("Logon");
        QTest::mouseClick(f.fake->button, Qt::LeftButton);
        // The logon ran on a worker, the button off meanwhile.
        QVERIFY(!f.fake->onGuiThread && !f.fake->buttonEnabled && f.fake->button->isEnabled());
        const TavUserRecord& r = f.fake->logOnRecord;
        if (!sent.isNull())
            QCOMPARE(QByteArray(r.ServerAddress) + ' ' + f.fake->portAtLogOn + ' ' +
                         QByteArray(r.Password) + ' ' + QByteArray::number(r.LogonMode),
                     sent);
        QTEST(f.boxes.boxes.join('\n'), "box");
        QTEST(f.urls, "urls");
        QVERIFY(dialog.GetLastResult() != 0);
        QCOMPARE(dialog.result(), int(QDialog::Rejected)); // open for another attempt
        QVERIFY(QApplication::overrideCursor() == nullptr);
        // A refused logon writes nothing.
        QCOMPARE(QDir(f.root.varTmp()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    void automaticLogonTicksRememberPassword()
    {
        // Ticking the automatic logon ticks the remembered password, also as read; unticking not.
        Fixture f;
        f.user.SavePassword = false;
        f.user.AutoLogon = true;
        LogonPWDlg dialog;
        dialog.SetUser(&f.user);
        auto* remember = dialog.findChild<QCheckBox*>("checkBoxRememberPassword");
        auto* automatic = dialog.findChild<QCheckBox*>("checkBoxAutomaticLog");
        QVERIFY(automatic->isChecked() && remember->isChecked());
        automatic->click();
        QVERIFY(!automatic->isChecked() && remember->isChecked());
        remember->click();
        automatic->click();
        QVERIFY(automatic->isChecked() && remember->isChecked());
    }

    void logonWaits_data()
    {
        QTest::addColumn<double>("draw"); // of the random source, in [0, 1)
        QTest::addColumn<QVector<int>>("waits");
        // 5 s doubling up to 60 s, each within ±20 %, never below 5 s.
        QTest::newRow("low") << 0.0 << QVector<int>{5000, 8000, 16000, 32000, 48000, 48000};
        QTest::newRow("high") << 0.999999 << QVector<int>{6000, 12000, 24000, 48000, 72000, 72000};
    }

    void logonWaits()
    {
        QFETCH(double, draw);
        qint64 now = 1000;
        LogonScheduler scheduler(
            LogonScheduler::Policy(), [&] { return now; }, [&] { return draw; });
        QVector<int> waits;
        for (int i = 0; i < 6; ++i) {
            QVERIFY(scheduler.begin(LogonScheduler::Trigger::Automatic));
            scheduler.end(false);
            waits << int(scheduler.automaticDelay());
            now += scheduler.automaticDelay();
        }
        QTEST(waits, "waits");
    }

    void logonScheduling()
    {
        using T = LogonScheduler::Trigger;
        qint64 now = 0;
        LogonScheduler scheduler(
            LogonScheduler::Policy(), [&] { return now; }, [] { return 0.5; });
        // One logon in flight, whoever asks.
        QVERIFY(scheduler.begin(T::Automatic));
        QVERIFY(!scheduler.begin(T::Manual) && !scheduler.begin(T::Automatic));
        scheduler.end(false);
        // After the failure an automatic logon waits; a click goes at once.
        now += 5499;
        QCOMPARE(scheduler.automaticDelay(), 1);
        QVERIFY(!scheduler.begin(T::Automatic));
        QVERIFY(scheduler.begin(T::Manual));
        scheduler.end(false); // the user's failure counts too: the next wait doubles
        QCOMPARE(scheduler.automaticDelay(), 10000);
        now += 10000;
        QVERIFY(scheduler.begin(T::Automatic));
        scheduler.end(true); // a logon that goes through ends the waits
        QVERIFY(scheduler.begin(T::Automatic));
        scheduler.end(false);
        QCOMPARE(scheduler.automaticDelay(), 5500); // from the start again
    }

    void heldKeyLogsOnOnce_data()
    {
        QTest::addColumn<QString>("focus"); // the widget that has the keyboard
        QTest::addColumn<int>("key");       // Enter from the keypad
        QTest::newRow("Return in the password field") << "lineEditPassword" << int(Qt::Key_Return);
        QTest::newRow("Enter on the logon button") << "Logon" << int(Qt::Key_Enter);
        QTest::newRow("Return on the logon button") << "Logon" << int(Qt::Key_Return);
    }

    void heldKeyLogsOnOnce()
    {
        // A held key repeats as release and press with one time stamp (not always marked as a
        // repeat): only the first press logs on.
        Fixture f;
        f.fake->logOnResult = kUnreachable;
        LogonPWDlg dialog;
        dialog.SetUser(&f.user);
        dialog.show();
        QWidget* target = dialog.findChild<QWidget*>(fetch<QString>("focus"));
        const int key = fetch<int>("key");
        const auto modifiers = key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
        const auto send = [&](QEvent::Type type, ulong time, bool repeat) {
            QKeyEvent event(type, key, modifiers, "\r", repeat);
            event.setTimestamp(time);
            QApplication::sendEvent(target, &event);
        };
        for (int press = 0; press < 2; ++press) {
            const ulong down = 10000 + 1000 * press;
            send(QEvent::KeyPress, down, false);
            for (ulong i = 1; i < 12; ++i) {
                send(QEvent::KeyRelease, down + 40 * i, i % 3 != 0);
                send(QEvent::KeyPress, down + 40 * i, i % 3 != 0);
            }
            send(QEvent::KeyRelease, down + 500, false);
            QCOMPARE(f.fake->logOnCalls, press + 1); // a new press logs on at once
        }
        QCOMPARE(f.boxes.boxes, QStringList({"错误|无法连接服务器！", "错误|无法连接服务器！"}));
    }

    void portalUrls_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QByteArray>("redirect");
        QTest::addColumn<QByteArray>("url");
        // The website address comes with a port, which is not used.
        const auto row = [](const char* name, const char* config, const char* redirect,
                            const QByteArray& url) {
            QTest::newRow(name) << QByteArray(config) << QByteArray(redirect) << url;
        };
        const QByteArray q = "LoginFrm.aspx?key=li%20%26%20wang&value=a%3Db%23c&Redirect=Default";
        row("defaults", "", "Default", "http://10.1.2.3/RazodAroZid/Home/Index1/" + q);
        row("path, port", "2017=Portal/Main\n2022=8080\n", "Default",
            "http://10.1.2.3:8080/Portal/Main/" + q);
        row("no path, port 80", "2017=NULL\n", "Default", "http://10.1.2.3/" + q);
        row("no path, port", "2017=NULL\n2022=8080\n", "Default", "http://10.1.2.3:8080/" + q);
        row("full address", "", "https://portal.example/a?id=5", "https://portal.example/a?id=5");
    }

    void portalUrls()
    {
        QFETCH(QByteArray, redirect);
        QFETCH(QByteArray, url);
        Fixture f;
        f.root.writeConfig("[Main%20Window]\n" + fetch<QByteArray>("config"));
        OrixUser::ReadConfigInfo(&f.user.Config, 1);
        CopyText(f.user.UserName, sizeof f.user.UserName, "li & wang");
        CopyText(f.user.Password, sizeof f.user.Password, "a=b#c");
        CopyText(f.user.WebsiteAddress, sizeof f.user.WebsiteAddress, "10.1.2.3:81");
        PortalPage::SetLifetime(300);
        QCOMPARE(f.user.LogWebSite(redirect.constData()), 0);
        QCOMPARE(f.urls, QByteArrayList{url});
        // The address with the password digest reached the browser through an
        // owner-only page in the user's own folder, which goes away again.
        if (url.contains("value=")) {
            QCOMPARE(f.pages.size(), 1);
            const QString page = f.pages[0].section(' ', 0, 0);
            QCOMPARE(page.section('/', 0, -2), f.root.home() + "/.local/share/OrixClient");
            QCOMPARE(f.pages[0].section(' ', 1), QString("600 700"));
            QTRY_VERIFY(!QFile::exists(page));
        } else {
            QCOMPARE(f.pages, QStringList());
        }
        if (QTest::currentDataTag() == QLatin1String("defaults")) {
            // A logon under way on its worker: nothing opens, and nothing waits for it.
            std::promise<void> held, logonDone;
            std::thread logon([&] {
                const std::unique_lock<std::shared_mutex> lock(f.user.SessionLock);
                held.set_value();
                logonDone.get_future().wait();
            });
            held.get_future().wait();
            QCOMPARE(f.user.LogWebSite(redirect.constData()), 0);
            logonDone.set_value();
            logon.join();
            QCOMPARE(f.urls.size(), 1);
        }
    }
};

QTEST_MAIN(TestSession)
#include "tst_session.moc"
