// The session against the development server: what a logon fills in and in
// which order it asks the server, what the logon dialog makes of the
// server's refusals, and the notices fetched after the logon.

#include "DevServerProcess.h"
#include "EventLog.h"
#include "LogonPWDlg.h"
#include "MessageBoxes.h"
#include "OrixUser.h"
#include "RecordingProxy.h"
#include "ServerMsgDlg.h"
#include "TestRoot.h"
#include "TextUtil.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSettings>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

// A loopback port on which nothing listens.
quint16 closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

void prepare(OrixUser& user, quint16 port, const char* name, const char* password, int mode = 0)
{
    CopyText(user.ServerAddress, sizeof user.ServerAddress, "127.0.0.1");
    CopyText(user.RpcPort, sizeof user.RpcPort, QByteArray::number(port).constData());
    CopyText(user.ServerPort, sizeof user.ServerPort, QByteArray::number(port).constData());
    CopyText(user.UserName, sizeof user.UserName, name);
    CopyText(user.Password, sizeof user.Password, password);
    user.LogonMode = mode;
}

const char kDigest123456[] = "E10ADC3949BA59ABBE56E057F20F883E";

QList<ServerMsgDlg*> popUps()
{
    QList<ServerMsgDlg*> list;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (ServerMsgDlg* d = qobject_cast<ServerMsgDlg*>(w))
            list << d;
    return list;
}

} // namespace

class TestSessionServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void logonFillsTheSession();
    void logonAsksInOrder();
    void domainAgentLogon();
    void refusedLogonWritesNothing();
    void unreachableServer();
    void dialogReportsRefusals_data();
    void dialogReportsRefusals();
    void dialogLogsOn();
    void notices();

private:
    DevServerProcess m_server;
};

void TestSessionServer::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

void TestSessionServer::cleanupTestCase()
{
    MessageBoxes::setInformationHook(nullptr);
    MessageBoxes::setYesNoHook(nullptr);
}

void TestSessionServer::logonFillsTheSession()
{
    TestRoot root;
    root.writeConfig("[Main%20Window]\n2015=\"会议材料;合同\"\n2014=\"x;y\"\n");
    OrixUser user;
    prepare(user, m_server.port(), "lisi", kDigest123456);
    user.SavePassword = true;
    user.PrintWay = 0;
    user.JobState = 0;

    QCOMPARE(user.Logon(), 0);
    QCOMPARE(QString::fromUtf8(user.FullName), QString("李四"));
    QCOMPARE(user.UserId, 2);
    QCOMPARE(user.GroupId, 2);
    QCOMPARE(QString::fromUtf8(user.GroupName), QString("财务部"));
    QCOMPARE(QByteArray(user.WebsiteAddress), QByteArray("127.0.0.1:8080"));
    QCOMPARE(user.SecretLevel, 2);
    QCOMPARE(user.PrintWay, 2);
    QCOMPARE(user.JobState, 20);
    int entries = 0;
    memcpy(&entries, user.UserInfoEx, sizeof entries);
    QCOMPARE(entries, 4);

    // lisi's own flow 1, cut to his two secret levels; the configuration's
    // levels are not used.
    QCOMPARE(user.AuditFlow.FlowID, 1);
    QCOMPARE(user.AuditFlow.Secrets.size(), 2);
    QCOMPARE(QString::fromUtf8(user.AuditFlow.Secrets[0].SecretLevelName), QString("公开"));
    QCOMPARE(QString::fromUtf8(user.AuditFlow.Secrets[1].SecretLevelName), QString("内部"));
    QCOMPARE(user.AuditFlow.Purposes.size(), 2);
    QCOMPARE(QString::fromUtf8(user.AuditFlow.Purposes[1].Name), QString("合同"));

    QVERIFY(user.IsSupportCostControl);
    QVERIFY(!user.IsSupportProject);
    QCOMPARE(user.PayerType, 1);
    QCOMPARE(user.PayerCount, 1);
    QCOMPARE(user.Payers[0].PayerID, 2);
    QCOMPARE(user.Payers[0].IsGroup, 0);
    QVERIFY(user.Payers[0].PayerName[0] != '\0');

    // Remembered, in both files.
    for (const QString& path : {root.varTmp() + "/Last.ini", root.varTmp() + "/lisi/lisi.ini"}) {
        QSettings saved(path, QSettings::IniFormat);
        QCOMPARE(saved.value("UserName").toString(), QString("lisi"));
        QCOMPARE(saved.value("PassWord").toString(), QString(kDigest123456));
        QCOMPARE(saved.value("ServerName").toString(), QString("127.0.0.1"));
        QCOMPARE(saved.value("ServerPort").toString(), QString::number(m_server.port()));
    }
}

void TestSessionServer::logonAsksInOrder()
{
    TestRoot root;
    RecordingProxy proxy(m_server.port());
    OrixUser user;
    prepare(user, proxy.port(), "lisi", kDigest123456);
    QCOMPARE(user.Logon(), 0);

    const QStringList calls = proxy.operations();
    const QStringList expected = {
        "UserLogon",
        "GetFieldValuesBySQL SELECT SettingValue FROM SysSettings WHERE SettingName = "
        "'LinuxPrintStateNew'",
        "GetUserInfo",
        "GetUserInfoEx",
        "GetFieldValuesBySQL SELECT GroupID FROM Users WHERE UserName = 'lisi'",
        "GetFieldValuesBySQL SELECT GroupName FROM Groups WHERE GroupID = 2",
        "GetFieldValuesBySQL SELECT WebsiteIP FROM Servers WHERE ServerIP='127.0.0.1' AND "
        "IsMonitored='Y' AND  IsDeleted='N'",
        "GetSecretLevel",
        "GetFieldValuesBySQL SELECT PrintWay FROM Users WHERE UserName = 'lisi'",
    };
    QVERIFY2(calls.size() > expected.size() + 1, qPrintable(calls.join('\n')));
    QCOMPARE(calls.mid(0, expected.size()), expected);
    // Then the audit flow, and the payers last.
    QCOMPARE(calls.mid(expected.size(), 1),
             QStringList{"GetFieldValuesBySQL SELECT AuditFlowID FROM Users WHERE UserID=2"});
    for (const QString& call : calls.mid(expected.size(), calls.size() - expected.size() - 1))
        QVERIFY2(call.startsWith("GetFieldValuesBySQL SELECT ") &&
                     (call.contains("Audit") || call.contains("SecretLevel") ||
                      call.contains("UserFullName")),
                 qPrintable(call));
    QCOMPARE(calls.last(), QString("GetPayerInfo"));
}

void TestSessionServer::domainAgentLogon()
{
    TestRoot root;
    OrixUser user;
    prepare(user, m_server.port(), "zhangsan", "123456", 2);
    QCOMPARE(user.Logon(), 0);
    QCOMPARE(QString::fromUtf8(user.FullName), QString("张三"));
    // zhangsan's own flow is 0: his group's flow 1 applies, three levels.
    QCOMPARE(user.AuditFlow.FlowID, 1);
    QCOMPARE(user.AuditFlow.Secrets.size(), 3);
}

void TestSessionServer::refusedLogonWritesNothing()
{
    TestRoot root;
    OrixUser user;
    prepare(user, m_server.port(), "lisi", "00000000000000000000000000000000");
    user.SavePassword = true;
    QCOMPARE(user.Logon(), 2);
    QCOMPARE(QByteArray(user.FullName), QByteArray());
    QVERIFY(!QFile::exists(root.varTmp() + "/Last.ini"));
    QVERIFY(!QFile::exists(root.varTmp() + "/lisi"));
}

void TestSessionServer::unreachableServer()
{
    TestRoot root;
    OrixUser user;
    prepare(user, closedPort(), "lisi", kDigest123456);
    const int result = user.Logon();
    QVERIFY2(result < 0, qPrintable(QString::number(result)));
    QVERIFY(!QFile::exists(root.varTmp() + "/Last.ini"));
}

void TestSessionServer::dialogReportsRefusals_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message");
    QTest::newRow("wrong password") << "lisi"
                                    << "654321"
                                    << "用户名密码错误！";
    QTest::newRow("deleted user") << "chenyi"
                                  << "123456"
                                  << "用户名密码错误！";
    QTest::newRow("not activated") << "zhouba"
                                   << "123456"
                                   << "用户未激活！";
    QTest::newRow("locked") << "wujiu"
                            << "123456"
                            << "用户被锁定";
}

void TestSessionServer::dialogReportsRefusals()
{
    QFETCH(QString, userName);
    QFETCH(QString, password);
    QFETCH(QString, message);
    TestRoot root;
    OrixUser user;
    LogonPWDlg dialog;
    dialog.SetUser(&user);
    QStringList shown;
    MessageBoxes::setInformationHook(
        [&shown](QWidget*, const QString&, const QString& text) { shown << text; });
    dialog.findChild<QComboBox*>("comboBoxServerName")
        ->setEditText("127.0.0.1:" + QString::number(m_server.port()));
    dialog.findChild<QComboBox*>("comboBoxUserName")->setEditText(userName);
    QTest::keyClicks(dialog.findChild<QLineEdit*>("lineEditPassword"), password);
    dialog.Logon(true);
    MessageBoxes::setInformationHook(nullptr);
    QCOMPARE(shown, QStringList{message});
    QVERIFY(dialog.GetLastResult() != 0);
    QVERIFY(!QFile::exists(root.varTmp() + "/Last.ini"));
}

void TestSessionServer::dialogLogsOn()
{
    TestRoot root;
    OrixUser user;
    LogonPWDlg dialog;
    dialog.SetUser(&user);
    int boxes = 0;
    MessageBoxes::setInformationHook(
        [&boxes](QWidget*, const QString&, const QString&) { ++boxes; });
    dialog.findChild<QComboBox*>("comboBoxServerName")
        ->setEditText("127.0.0.1:" + QString::number(m_server.port()));
    dialog.findChild<QComboBox*>("comboBoxUserName")->setEditText("wangwu");
    QTest::keyClicks(dialog.findChild<QLineEdit*>("lineEditPassword"), "wangwu888");
    dialog.findChild<QCheckBox*>("checkBoxAutomaticLog")->setChecked(true);
    QCOMPARE(dialog.Logon(true), 0);
    MessageBoxes::setInformationHook(nullptr);
    QCOMPARE(boxes, 0);
    QCOMPARE(dialog.GetLastResult(), 0);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(QString::fromUtf8(user.FullName), QString("王五"));
    QCOMPARE(QByteArray(user.ServerPort), QByteArray::number(m_server.port()));

    // The next start proposes what was used, with the automatic logon.
    OrixUser next;
    QCOMPARE(QByteArray(next.UserName), QByteArray("wangwu"));
    QCOMPARE(QByteArray(next.Password), QByteArray("2B900BF84F918A3B55999C27E1AA0A61"));
    QVERIFY(next.SavePassword);
    QVERIFY(next.AutoLogon);
    QCOMPARE(QByteArray(next.ServerPort), QByteArray::number(m_server.port()));
}

void TestSessionServer::notices()
{
    TestRoot root;
    OrixUser user;
    prepare(user, m_server.port(), "zhangsan", kDigest123456);
    QCOMPARE(user.Logon(), 0);

    // The seeded notices, oldest first; each call shows one pop-up.
    QCOMPARE(user.GetUserMessage(nullptr), 0);
    QList<ServerMsgDlg*> shown = popUps();
    QCOMPARE(shown.size(), 1);
    QPointer<ServerMsgDlg> first = shown.first();
    QCOMPARE(first->findChild<QLabel*>("labelMsg")->text(),
             QString("<季度报告.pdf>已发送到服务器!"));
    QVERIFY(first->isVisible());
    QVERIFY(first->CloseTimerId() != 0);
    QVERIFY(first->parent() == nullptr);
    QVERIFY(first->testAttribute(Qt::WA_DeleteOnClose));
    delete first;

    QCOMPARE(user.GetUserMessage(nullptr), 0);
    shown = popUps();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.first()->findChild<QLabel*>("labelMsg")->text(),
             QString("<合同草案.pdf>等待审批!"));
    QVERIFY(shown.first()->IsRemainShowMsg());
    delete shown.first();

    QCOMPARE(user.GetUserMessage(nullptr), 0);
    qDeleteAll(popUps());
    QCOMPARE(user.GetUserMessage(nullptr), -1);
    QVERIFY(popUps().isEmpty());

    // Server gone: -2, nothing shown.
    m_server.stop();
    QCOMPARE(user.GetUserMessage(nullptr), -2);
    QVERIFY(popUps().isEmpty());
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

QTEST_MAIN(TestSessionServer)
#include "tst_session_server.moc"
