// The logon dialog: how the form becomes the session's logon members (port
// split, password digest, logon mode), the password bookkeeping, the
// messages for refused logons and the window itself.

#include "FakeRpcClient.h"
#include "LogonForm.h"
#include "LogonPWDlg.h"
#include "MessageBoxes.h"
#include "OrixUser.h"
#include "TestRoot.h"
#include "TextUtil.h"
#include "UrlRecorder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

namespace
{

struct Box {
    QWidget* parent;
    QString title;
    QString text;
};

// Records every box instead of showing it; answers yes/no boxes with answer.
class BoxRecorder
{
public:
    BoxRecorder()
    {
        MessageBoxes::setInformationHook(
            [this](QWidget* parent, const QString& title, const QString& text) {
                information << Box{parent, title, text};
            });
        MessageBoxes::setYesNoHook(
            [this](QWidget* parent, const QString& title, const QString& text) {
                questions << Box{parent, title, text};
                return answer;
            });
    }
    ~BoxRecorder()
    {
        MessageBoxes::setInformationHook(nullptr);
        MessageBoxes::setYesNoHook(nullptr);
    }
    QList<Box> information;
    QList<Box> questions;
    bool answer = false;
};

const QByteArray kDigest123456("E10ADC3949BA59ABBE56E057F20F883E");

// A session with a remembered logon and a fake client that refuses with
// the code given.
struct Fixture {
    explicit Fixture(int logOnResult = 2)
    {
        fake = new FakeRpcClient;
        fake->logOnResult = logOnResult;
        user.RpcClient.reset(fake);
        CopyText(user.ServerAddress, sizeof user.ServerAddress, "10.0.0.1");
        CopyText(user.ServerPort, sizeof user.ServerPort, "8085");
        CopyText(user.UserName, sizeof user.UserName, "alice");
        CopyText(user.Password, sizeof user.Password, kDigest123456.constData());
        user.SavePassword = true;
        dialog.SetUser(&user);
    }
    template <typename T> T* child(const char* name) { return dialog.findChild<T*>(name); }

    TestRoot root;
    OrixUser user;
    FakeRpcClient* fake = nullptr;
    LogonPWDlg dialog;
};

} // namespace

class TestLogonDlg : public QObject
{
    Q_OBJECT

private slots:
    void applyForm_data();
    void applyForm();

    void formFilledFromSession();
    void rememberedPasswordSentUnchanged();
    void typedPasswordSentAsDigest();
    void firstKeystrokeWithoutRememberedPassword();
    void userChangeMakesPasswordUntyped();
    void domainAgentLogonSendsText();
    void automaticLogonChecksRememberPassword();
    void validation_data();
    void validation();
    void refusals_data();
    void refusals();
    void silentLogonShowsNothing();
    void passwordExpired_data();
    void passwordExpired();
    void connectionFailureOnClick();
    void cancelMinimises();
    void background();
};

void TestLogonDlg::applyForm_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("domain");
    QTest::addColumn<bool>("domainAgent");
    QTest::addColumn<bool>("typed");
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("serverPort");
    QTest::addColumn<QByteArray>("rpcPort");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("password");

    const QByteArray digest = kDigest123456;
    QTest::newRow("typed, with port") << "srv:9000" << false << false << true << QByteArray("srv")
                                      << QByteArray("9000") << QByteArray("9000") << 0 << digest;
    QTest::newRow("remembered, no port keeps rpc port")
        << "srv" << false << false << false << QByteArray("srv") << QByteArray()
        << QByteArray("7777") << 0 << QByteArray("123456");
    QTest::newRow("colon first") << ":8085" << false << false << true << QByteArray(":8085")
                                 << QByteArray() << QByteArray("7777") << 0 << digest;
    QTest::newRow("bracketed IPv6")
        << "[fe80::1]:8086" << false << false << true << QByteArray("[fe80::1]")
        << QByteArray("8086") << QByteArray("8086") << 0 << digest;
    QTest::newRow("bare IPv6 splits at the last colon")
        << "fe80::1" << false << false << true << QByteArray("fe80:") << QByteArray("1")
        << QByteArray("1") << 0 << digest;
    QTest::newRow("domain") << "srv" << true << false << true << QByteArray("srv") << QByteArray()
                            << QByteArray("7777") << 1 << digest;
    QTest::newRow("domain agent wins, text sent")
        << "srv" << true << true << true << QByteArray("srv") << QByteArray() << QByteArray("7777")
        << 2 << QByteArray("123456");
    QTest::newRow("long port cut for the client")
        << "srv:123456789012345678901234" << false << false << true << QByteArray("srv")
        << QByteArray("123456789012345678901234") << QByteArray("1234567890123456789") << 0
        << digest;
}

void TestLogonDlg::applyForm()
{
    QFETCH(QString, server);
    QFETCH(bool, domain);
    QFETCH(bool, domainAgent);
    QFETCH(bool, typed);
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, serverPort);
    QFETCH(QByteArray, rpcPort);
    QFETCH(int, mode);
    QFETCH(QByteArray, password);

    TestRoot root;
    OrixUser user;
    CopyText(user.RpcPort, sizeof user.RpcPort, "7777");
    CopyText(user.ServerPort, sizeof user.ServerPort, "old");
    LogonFormInput input;
    input.ServerText = server;
    input.UserText = QStringLiteral("张三");
    input.PasswordText = QStringLiteral("123456");
    input.DomainLogon = domain;
    input.DomainAgentLogon = domainAgent;
    input.PasswordTyped = typed;
    input.RememberPassword = true;
    ApplyLogonForm(input, user);

    QCOMPARE(QByteArray(user.ServerAddress), address);
    QCOMPARE(QByteArray(user.ServerPort), serverPort);
    QCOMPARE(QByteArray(user.RpcPort), rpcPort);
    QCOMPARE(user.LogonMode, mode);
    QCOMPARE(QByteArray(user.Password), password);
    QCOMPARE(QByteArray(user.UserName), QByteArray("张三"));
    QVERIFY(user.SavePassword);
    QVERIFY(!user.AutoLogon);
    QCOMPARE(user.DomainAgentLogon, domainAgent);
}

void TestLogonDlg::formFilledFromSession()
{
    Fixture f;
    QCOMPARE(f.child<QComboBox>("comboBoxServerName")->currentText(), QString("10.0.0.1:8085"));
    QCOMPARE(f.child<QComboBox>("comboBoxUserName")->currentText(), QString("alice"));
    QCOMPARE(f.child<QLineEdit>("lineEditPassword")->text(), QString::fromLatin1(kDigest123456));
    QCOMPARE(f.child<QLineEdit>("lineEditPassword")->echoMode(), QLineEdit::Password);
    QVERIFY(f.child<QCheckBox>("checkBoxRememberPassword")->isChecked());
    QVERIFY(!f.child<QCheckBox>("checkBoxAutomaticLog")->isChecked());
    QVERIFY(!f.child<QCheckBox>("checkBoxDomainAgintLog")->isChecked());
    QVERIFY(f.dialog.GetLastResult() != 0);
    QCOMPARE(f.dialog.windowTitle(), QString("didez"));
}

void TestLogonDlg::rememberedPasswordSentUnchanged()
{
    Fixture f;
    BoxRecorder boxes;
    QCOMPARE(f.dialog.Logon(true), 2);
    QCOMPARE(QByteArray(f.fake->logOnRecord.Password), kDigest123456);
    QCOMPARE(QByteArray(f.fake->logOnRecord.ServerAddress), QByteArray("10.0.0.1"));
    QCOMPARE(f.fake->portAtLogOn, QByteArray("8085"));
    QCOMPARE(QByteArray(f.user.ServerPort), QByteArray("8085"));
}

void TestLogonDlg::typedPasswordSentAsDigest()
{
    Fixture f;
    BoxRecorder boxes;
    QLineEdit* password = f.child<QLineEdit>("lineEditPassword");
    password->clear();
    QTest::keyClicks(password, "123456");
    f.dialog.Logon(true);
    QCOMPARE(QByteArray(f.fake->logOnRecord.Password), kDigest123456);
    QCOMPARE(QByteArray(f.user.Password), kDigest123456);
}

void TestLogonDlg::firstKeystrokeWithoutRememberedPassword()
{
    TestRoot root;
    OrixUser user;
    FakeRpcClient* fake = new FakeRpcClient;
    user.RpcClient.reset(fake);
    LogonPWDlg dialog;
    dialog.SetUser(&user); // no remembered password: empty text, one notification
    BoxRecorder boxes;
    QTest::keyClicks(dialog.findChild<QLineEdit*>("lineEditPassword"), "123456");
    dialog.Logon(true);
    QCOMPARE(QByteArray(fake->logOnRecord.Password), kDigest123456);
}

void TestLogonDlg::userChangeMakesPasswordUntyped()
{
    Fixture f;
    BoxRecorder boxes;
    QLineEdit* password = f.child<QLineEdit>("lineEditPassword");
    password->clear();
    QTest::keyClicks(password, "123456");
    f.child<QComboBox>("comboBoxUserName")->setEditText("bob");
    f.dialog.Logon(true);
    QCOMPARE(QByteArray(f.fake->logOnRecord.UserName), QByteArray("bob"));
    QCOMPARE(QByteArray(f.fake->logOnRecord.Password), QByteArray("123456"));
}

void TestLogonDlg::domainAgentLogonSendsText()
{
    Fixture f;
    BoxRecorder boxes;
    f.child<QCheckBox>("checkBoxDomainAgint")->setChecked(true);
    f.child<QCheckBox>("checkBoxDomainAgintLog")->setChecked(true);
    QLineEdit* password = f.child<QLineEdit>("lineEditPassword");
    password->clear();
    QTest::keyClicks(password, "Secret!1");
    f.dialog.Logon(true);
    QCOMPARE(f.fake->logOnRecord.LogonMode, 2);
    QCOMPARE(QByteArray(f.fake->logOnRecord.Password), QByteArray("Secret!1"));
    QVERIFY(f.user.DomainAgentLogon);
}

void TestLogonDlg::automaticLogonChecksRememberPassword()
{
    Fixture f;
    QCheckBox* remember = f.child<QCheckBox>("checkBoxRememberPassword");
    QCheckBox* automatic = f.child<QCheckBox>("checkBoxAutomaticLog");
    remember->setChecked(false);
    automatic->setChecked(true);
    QVERIFY(remember->isChecked());
    automatic->setChecked(false);
    QVERIFY(remember->isChecked());
    remember->setChecked(false);
    QVERIFY(!automatic->isChecked());
}

void TestLogonDlg::validation_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("userName");
    QTest::addColumn<bool>("interactive");
    QTest::addColumn<QString>("message");
    QTest::newRow("no server") << ""
                               << "alice" << true << "服务器名不能为空！";
    QTest::newRow("no server, silent") << ""
                                       << "alice" << false << "服务器名不能为空！";
    QTest::newRow("no user") << "10.0.0.1"
                             << "" << true << "用户名不能为空！";
    QTest::newRow("no user, silent") << "10.0.0.1"
                                     << "" << false << "用户名不能为空！";
}

void TestLogonDlg::validation()
{
    QFETCH(QString, server);
    QFETCH(QString, userName);
    QFETCH(bool, interactive);
    QFETCH(QString, message);
    Fixture f;
    BoxRecorder boxes;
    f.child<QComboBox>("comboBoxServerName")->setEditText(server);
    f.child<QComboBox>("comboBoxUserName")->setEditText(userName);
    f.dialog.Logon(interactive);
    QCOMPARE(boxes.information.size(), 1);
    QCOMPARE(boxes.information[0].title, QString("错误"));
    QCOMPARE(boxes.information[0].text, message);
    QCOMPARE(f.fake->logOnCalls, 0);
    // The session is left alone.
    QCOMPARE(QByteArray(f.user.ServerAddress), QByteArray("10.0.0.1"));
    QCOMPARE(QByteArray(f.user.UserName), QByteArray("alice"));
}

void TestLogonDlg::refusals_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::newRow("2") << 2 << "用户名密码错误！";
    QTest::newRow("9") << 9 << "用户未激活！";
    QTest::newRow("16") << 16 << "用户被锁定";
    QTest::newRow("other") << 77 << "登录失败，错误码77";
    QTest::newRow("no server") << -20 << "登录失败，错误码-20";
}

void TestLogonDlg::refusals()
{
    QFETCH(int, code);
    QFETCH(QString, message);
    Fixture f(code);
    BoxRecorder boxes;
    UrlRecorder urls;
    QCOMPARE(f.dialog.Logon(true), code);
    QCOMPARE(f.dialog.GetLastResult(), code);
    QCOMPARE(boxes.information.size(), 1);
    QCOMPARE(boxes.information[0].title, QString("错误"));
    QCOMPARE(boxes.information[0].text, message);
    QVERIFY(boxes.information[0].parent == nullptr);
    QVERIFY(boxes.questions.isEmpty());
    QVERIFY(urls.urls.isEmpty());
    QCOMPARE(f.dialog.result(), int(QDialog::Rejected));
}

void TestLogonDlg::silentLogonShowsNothing()
{
    Fixture f(2);
    BoxRecorder boxes;
    f.child<QCheckBox>("checkBoxAutomaticLog")->setChecked(true);
    QCOMPARE(f.dialog.Logon(false), 2);
    QVERIFY(boxes.information.isEmpty());
    QVERIFY(boxes.questions.isEmpty());
    QCOMPARE(f.dialog.GetLastResult(), 2);
    // The session took the form, but nothing was remembered on disk.
    QVERIFY(f.user.AutoLogon);
    QVERIFY(!QFile::exists(f.root.varTmp() + "/Last.ini"));
}

void TestLogonDlg::passwordExpired_data()
{
    QTest::addColumn<bool>("answer");
    QTest::newRow("yes") << true;
    QTest::newRow("no") << false;
}

void TestLogonDlg::passwordExpired()
{
    QFETCH(bool, answer);
    Fixture f(19);
    BoxRecorder boxes;
    boxes.answer = answer;
    UrlRecorder urls;
    QCOMPARE(f.dialog.Logon(true), 19);
    QVERIFY(boxes.information.isEmpty());
    QCOMPARE(boxes.questions.size(), 1);
    QCOMPARE(boxes.questions[0].title, QString("警告"));
    QCOMPARE(boxes.questions[0].text,
             QString("已超过密码修改的时间周期,您要跳转到网站进行修改吗？"));
    QVERIFY(boxes.questions[0].parent == &f.dialog);
    if (answer)
        QCOMPARE(urls.encoded(), QList<QByteArray>{"http://10.0.0.1/OrixPrint/UserLogin.jsp"});
    else
        QVERIFY(urls.urls.isEmpty());
    QCOMPARE(f.dialog.result(), int(QDialog::Rejected));
}

namespace
{

class ThrowingClient : public FakeRpcClient
{
public:
    int LogOn(void*) override { throw 0x80000000u; }
};

} // namespace

void TestLogonDlg::connectionFailureOnClick()
{
    Fixture f;
    f.user.RpcClient.reset(new ThrowingClient);
    BoxRecorder boxes;
    // Called directly, the exception reaches the caller.
    QVERIFY_EXCEPTION_THROWN(f.dialog.Logon(false), unsigned int);
    // Clicked, it must not cross the event loop: the dialog reports it.
    QTest::mouseClick(f.child<QPushButton>("Logon"), Qt::LeftButton);
    QCOMPARE(boxes.information.size(), 1);
    QCOMPARE(boxes.information[0].text, QString("无法连接服务器！"));
    QVERIFY(f.dialog.GetLastResult() != 0);
    QVERIFY(QApplication::overrideCursor() == nullptr);
}

void TestLogonDlg::cancelMinimises()
{
    Fixture f;
    f.dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&f.dialog));
    QTest::mouseClick(f.child<QPushButton>("Cacel"), Qt::LeftButton);
    QVERIFY(f.dialog.windowState() & Qt::WindowMinimized);
    QVERIFY(f.dialog.isVisible());
    QCOMPARE(f.fake->logOnCalls, 0);
}

void TestLogonDlg::background()
{
    {
        Fixture f;
        QCOMPARE(f.dialog.size(), QSize(430, 330));
        QVERIFY(f.dialog.windowFlags() & Qt::FramelessWindowHint);
        const QString qss = f.child<QCheckBox>("checkBoxDomainAgint")->styleSheet();
        QVERIFY(qss.contains(":/background/images/checkbox_on.png"));
        QVERIFY(f.child<QComboBox>("comboBoxServerName")->styleSheet().contains("arrowdown.png"));
    }
    // A picture in the program folder replaces the built-in one.
    TestRoot root;
    QImage picture(200, 120, QImage::Format_RGB32);
    picture.fill(Qt::white);
    QVERIFY(picture.save(root.programFolder() + "background.bmp", "BMP"));
    LogonPWDlg dialog;
    QCOMPARE(dialog.size(), QSize(200, 120));
}

QTEST_MAIN(TestLogonDlg)
#include "tst_logondlg.moc"
