// The session against the development server: what a logon fills in, in
// which order it asks the server, and the notices fetched after it.

#include "DevServerProcess.h"
#include "OrixUser.h"
#include "ServerMsgDlg.h"
#include "TestRoot.h"
#include "TextUtil.h"

#include <QLabel>
#include <QRegularExpression>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{

// A loopback relay to the development server that keeps the requests it
// passes on. The client's calls block the test's thread, so the relay has a
// thread of its own. Each connection carries one chunked request, which the
// server answers before it closes the connection.
class RecordingRelay
{
public:
    explicit RecordingRelay(quint16 target)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), len);
        ::listen(m_listen, 8);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ntohs(addr.sin_port);
        m_server = addr;
        m_server.sin_port = htons(target);
        m_thread = std::thread([this] {
            for (int client; (client = ::accept(m_listen, nullptr, nullptr)) >= 0; ::close(client))
                relay(client);
        });
    }
    ~RecordingRelay() { operations(); }

    // Stops the relay. The operation of each request in arrival order; for a
    // field query, the operation, a blank and the SQL.
    QStringList operations()
    {
        if (m_thread.joinable()) {
            ::shutdown(m_listen, SHUT_RDWR); // ends the thread's accept()
            m_thread.join();
            ::close(m_listen);
        }
        static const QRegularExpression op("<ns:(\\w+)"), sql("<pSQL>([^<]*)</pSQL>");
        QStringList names;
        for (const QByteArray& request : m_requests) {
            const QString text = QString::fromUtf8(request).replace("&apos;", "'");
            names << (op.match(text).captured(1) + ' ' + sql.match(text).captured(1)).trimmed();
        }
        return names;
    }

    quint16 port = 0;

private:
    void relay(int client)
    {
        char buffer[65536];
        ssize_t n = 0;
        QByteArray request;
        while (!request.endsWith("\r\n0\r\n\r\n") &&
               (n = ::read(client, buffer, sizeof buffer)) > 0)
            request.append(buffer, int(n));
        m_requests << request;
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::connect(server, reinterpret_cast<const sockaddr*>(&m_server), sizeof m_server);
        ::send(server, request.constData(), size_t(request.size()), MSG_NOSIGNAL);
        while ((n = ::read(server, buffer, sizeof buffer)) > 0)
            ::send(client, buffer, size_t(n), MSG_NOSIGNAL);
        ::close(server);
    }

    sockaddr_in m_server;
    int m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::thread m_thread;
    QList<QByteArray> m_requests;
};

} // namespace

class TestSessionServer : public QObject
{
    Q_OBJECT

private slots:
    void logonAndNotices()
    {
        DevServerProcess server;
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        TestRoot root;
        root.writeConfig("[Main%20Window]\n2015=\"会议材料;合同\"\n2014=\"x;y\"\n");
        RecordingRelay relay(server.port());
        OrixUser user;
        CopyText(user.ServerAddress, sizeof user.ServerAddress, "127.0.0.1");
        CopyText(user.RpcPort, sizeof user.RpcPort, QByteArray::number(relay.port).constData());
        CopyText(user.UserName, sizeof user.UserName, "lisi");
        CopyText(user.Password, sizeof user.Password, "E10ADC3949BA59ABBE56E057F20F883E");
        user.SavePassword = true;
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
        // lisi's own flow 1, cut to his two secret levels; not the configuration's.
        QCOMPARE(user.AuditFlow.FlowID, 1);
        QCOMPARE(user.AuditFlow.Secrets.size(), 2);
        QCOMPARE(QString::fromUtf8(user.AuditFlow.Secrets[1].SecretLevelName), QString("内部"));
        QCOMPARE(QString::fromUtf8(user.AuditFlow.Purposes[1].Name), QString("合同"));
        QVERIFY(user.IsSupportCostControl && !user.IsSupportProject);
        QCOMPARE(user.PayerType, 1);
        QCOMPARE(user.PayerCount, 1);
        QCOMPARE(user.Payers[0].PayerID, 2);
        QVERIFY(QFile::exists(root.varTmp() + "/lisi/lisi.ini"));

        // lisi's one notice, then none.
        QCOMPARE(user.GetUserMessage(nullptr), 0);
        QCOMPARE(QApplication::topLevelWidgets().size(), 1);
        auto* shown = qobject_cast<ServerMsgDlg*>(QApplication::topLevelWidgets()[0]);
        QCOMPARE(shown->findChild<QLabel*>("labelMsg")->text(), QString("<报销单.pdf>审批通过!"));
        QVERIFY(shown->isVisible() && shown->testAttribute(Qt::WA_DeleteOnClose));
        delete shown;
        QCOMPARE(user.GetUserMessage(nullptr), -1);

        const QStringList calls = relay.operations(); // the relay is gone from here on
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
            "GetFieldValuesBySQL SELECT AuditFlowID FROM Users WHERE UserID=2",
        };
        QCOMPARE(calls.mid(0, expected.size()), expected);
        // The payers come last, after the audit flow's queries.
        QCOMPARE(calls.mid(calls.indexOf("GetPayerInfo")),
                 (QStringList{"GetPayerInfo", "GetUserMessage", "GetUserMessage"}));

        QCOMPARE(user.GetUserMessage(nullptr), -2);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }
};

QTEST_MAIN(TestSessionServer)
#include "tst_session_server.moc"
