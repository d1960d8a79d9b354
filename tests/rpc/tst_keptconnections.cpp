// The client's kept connection and its proxies, against the development server: calls share
// one connection, a server without keep-alive or one that closes idle connections still works,
// a call is sent again only when the server cannot have read it and an upload block never, and
// the proxy from the environment or the configuration carries the calls (HTTPS through CONNECT).
#include "DevServerProcess.h"
#include "EnvGuard.h"
#include "KeptConnections.h"
#include "LoopbackProxy.h"
#include "RpcTestClient.h"
#include "SoapCall.h"
#include "TcpRelay.h"
#include "TestPki.h"
#include "TestRoot.h"

#include <QtTest>

namespace
{

// The server's address as the logon dialog gives it; the port text "8086" follows it as the
// endpoint's path, which the server ignores.
QByteArray address(quint16 port)
{
    return "127.0.0.1:" + QByteArray::number(port) + "/";
}

int logOn(CDComLayerWS& client, const QByteArray& address, bool tls = false)
{
    return RpcTestClient::logOn(client, address, "8086", "zhangsan", kSeedPasswordDigest, 0, tls);
}

// Three calls of the kinds the client makes all the time.
bool someCalls(CDComLayerWS& client)
{
    char user[] = "zhangsan";
    int group = -1;
    TavServerMessage notice{};
    return client.GetGroupIDFromUsersByUserName(user, &group) == 0 && group > 0 &&
           client.GetSecretLevel(user) >= 0 &&
           client.ReadMessage("zhangsan", &notice) != RpcResult::kUnreachable;
}

void clearProxyEnvironment(EnvGuard& env)
{
    for (const char* name : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy",
                             "ALL_PROXY", "no_proxy", "NO_PROXY"})
        env.unset(name);
}

} // namespace

class TstKeptConnections : public QObject
{
    Q_OBJECT

    TestRoot m_root; // the block files of the uploads
    DevServerProcess m_server;
    QTemporaryDir m_dir;
    EnvGuard m_env;

private slots:
    void initTestCase()
    {
        clearProxyEnvironment(m_env);
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    }

    void init() { KeptConnections::CloseIdle(); }

    void callsShareOneConnection_data()
    {
        QTest::addColumn<QStringList>("serverArgs");
        QTest::addColumn<bool>("kept");
        QTest::newRow("server keeps connections") << QStringList() << true;
        QTest::newRow("server without keep-alive") << QStringList{"--keep-alive", "off"} << false;
    }

    void callsShareOneConnection()
    {
        QFETCH(QStringList, serverArgs);
        QFETCH(bool, kept);
        DevServerProcess server;
        server.setExtraArgs(serverArgs);
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        TcpRelay relay(server.port());
        CDComLayerWS client;
        QCOMPARE(logOn(client, address(relay.port())), 0);
        QVERIFY(someCalls(client));
        QVERIFY(someCalls(client));
        QCOMPARE(relay.requests(), 7);
        QCOMPARE(relay.connections(), kept ? 1 : 7);
    }

    void serverClosesIdleConnection()
    {
        DevServerProcess server;
        server.setExtraArgs({"--idle-timeout", "1"});
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        TcpRelay relay(server.port());
        CDComLayerWS client;
        QCOMPARE(logOn(client, address(relay.port())), 0);
        QCOMPARE(KeptConnections::IdleCount(), size_t(1));
        QTRY_COMPARE_WITH_TIMEOUT(relay.openConnections(), 0, 15000);
        QVERIFY(someCalls(client));
        QCOMPARE(relay.connections(), 2);
        QCOMPARE(relay.requests(), 4);
    }

    void queryResentWhenTheServerCannotHaveReadIt()
    {
        TcpRelay relay(m_server.port());
        CDComLayerWS client;
        QCOMPARE(logOn(client, address(relay.port())), 0); // request 0, connection kept
        relay.breakAt(1, TcpRelay::Break::OnArrival);      // closed unread
        char user[] = "zhangsan";
        int group = -1;
        QCOMPARE(client.GetGroupIDFromUsersByUserName(user, &group), 0);
        QCOMPARE(relay.connections(), 2);
        QCOMPARE(relay.requests(), 3);
        QCOMPARE(relay.mostDeliveries(), 1);
    }

    void readResentWriteNot_data()
    {
        QTest::addColumn<bool>("write");
        QTest::newRow("a read may be asked again") << false;
        QTest::newRow("a write is never sent twice") << true;
    }

    void readResentWriteNot()
    {
        // The server got the request and the connection closed before any answer: the client
        // cannot tell whether it was done. A read is asked again; a write fails.
        QFETCH(bool, write);
        TcpRelay relay(m_server.port());
        CDComLayerWS client;
        QCOMPARE(logOn(client, address(relay.port())), 0);
        relay.breakAt(1, TcpRelay::Break::AfterRequest);
        char user[] = "zhangsan";
        char sql[] = "UPDATE Users SET UserName = UserName WHERE 0";
        int group = -1;
        const int result =
            write ? client.ExecSQL(sql) : client.GetGroupIDFromUsersByUserName(user, &group);
        if (!write)
            QCOMPARE(result, 0);
        QCOMPARE(relay.requests(), write ? 2 : 3);
        QCOMPARE(relay.mostDeliveries(), write ? 1 : 2);
    }

    void uploadBlockNeverSentTwice_data()
    {
        QTest::addColumn<int>("point"); // a TcpRelay::Break, or -1: closed while idle before it
        QTest::addColumn<bool>("sent");
        QTest::newRow("closed while idle") << -1 << true;
        QTest::newRow("closed as it arrives") << int(TcpRelay::Break::OnArrival) << false;
        QTest::newRow("closed midway") << int(TcpRelay::Break::Midway) << false;
        QTest::newRow("closed before the answer") << int(TcpRelay::Break::AfterRequest) << false;
    }

    void uploadBlockNeverSentTwice()
    {
        QFETCH(int, point);
        QFETCH(bool, sent);
        TcpRelay relay(m_server.port());
        CDComLayerWS client;
        QCOMPARE(logOn(client, address(relay.port())), 0); // request 0
        QByteArray block(50000, '\0');
        for (int i = 0; i < block.size(); ++i)
            block[i] = char(QRandomGenerator::global()->generate());
        char stored[1024] = {};
        QCOMPARE(client.SaveCDJobByBlock(0, block.size(), block.data(), stored), 0); // request 1
        QVERIFY(stored[0]);
        if (point < 0) {
            relay.closeAll();
            QTRY_COMPARE(relay.openConnections(), 0);
        } else {
            relay.breakAt(2, TcpRelay::Break(point));
        }
        block[0] = char(~block[0]); // another block's bytes
        QCOMPARE(client.SaveCDJobByBlock(1, block.size(), block.data(), stored) == 0, sent);
        // Sent once at most: no request after it, and none reached the server twice.
        QCOMPARE(relay.requests(), 3);
        QCOMPARE(relay.mostDeliveries(), 1);
        QCOMPARE(relay.connections(), point < 0 ? 2 : 1);
    }

    void proxy_data()
    {
        QTest::addColumn<QString>("env");        // "name=value;..."; PROXY: the test's proxy
        QTest::addColumn<QString>("configured"); // OPTION/Proxy; PROXY as above
        QTest::addColumn<bool>("viaProxy");
        QTest::addColumn<QByteArray>("authorization");
        const QString dead = "http://127.0.0.1:1"; // nobody listens there
        QTest::newRow("http_proxy") << "http_proxy=PROXY"
                                    << "" << true << QByteArray();
        QTest::newRow("HTTP_PROXY") << "HTTP_PROXY=PROXY"
                                    << "" << true << QByteArray();
        QTest::newRow("no_proxy bypasses") << "http_proxy=PROXY;no_proxy=localhost,127.0.0.1"
                                           << "" << false << QByteArray();
        QTest::newRow("no_proxy range") << "http_proxy=PROXY;NO_PROXY=127.0.0.0/8"
                                        << "" << false << QByteArray();
        QTest::newRow("configuration wins, with credentials")
            << "http_proxy=" + dead << "http://al%40ice:pa:ss@PROXY_HOST_PORT/" << true
            << "Basic " + QByteArray("al@ice:pa:ss").toBase64();
        QTest::newRow("configuration none")
            << "http_proxy=" + dead << "none" << false << QByteArray();
    }

    void proxy()
    {
        QFETCH(QString, env);
        QFETCH(QString, configured);
        QFETCH(bool, viaProxy);
        QFETCH(QByteArray, authorization);
        LoopbackProxy proxy;
        const QString proxyUrl = QString::fromUtf8(proxy.url());
        EnvGuard guard;
        for (const QString& pair : env.split(';', Qt::SkipEmptyParts)) {
            const int eq = pair.indexOf('=');
            guard.set(qPrintable(pair.left(eq)),
                      pair.mid(eq + 1).replace("PROXY", proxyUrl).toUtf8());
        }
        CDComLayerWS client;
        client.SetProxy(
            configured.replace("PROXY_HOST_PORT", "127.0.0.1:" + QString::number(proxy.port()))
                .toUtf8()
                .constData());
        QCOMPARE(logOn(client, address(m_server.port())), 0);
        QVERIFY(someCalls(client));
        const QList<QByteArray> lines = proxy.requestLines();
        QCOMPARE(lines.size(), viaProxy ? 4 : 0);
        for (const QByteArray& line : lines)
            QCOMPARE(line, "POST http://" + address(m_server.port()) + ":8086 HTTP/1.1");
        QCOMPARE(proxy.connections(), viaProxy ? 1 : 0); // kept through the proxy as well
        for (const QByteArray& value : proxy.authorizations())
            QCOMPARE(value, authorization);
        QCOMPARE(proxy.authorizations().size(), authorization.isEmpty() ? 0 : lines.size());
    }

    void httpsThroughConnect_data()
    {
        QTest::addColumn<QString>("certificate");
        QTest::addColumn<bool>("accepted");
        // The server is called print.example.invalid, a name only the proxy knows.
        QTest::newRow("certificate names the server") << "named" << true;
        QTest::newRow("certificate names the proxy's address") << "loopback" << false;
    }

    void httpsThroughConnect()
    {
        QFETCH(QString, certificate);
        QFETCH(bool, accepted);
        const QString pki = m_dir.path();
        if (!QFile::exists(pki + "/ca.pem")) {
            QVERIFY(TestPki::makeCertificate(pki, "ca"));
            QVERIFY(TestPki::makeCertificate(pki, "named", "DNS:print.example.invalid"));
            QVERIFY(TestPki::makeCertificate(pki, "loopback", "IP:127.0.0.1"));
        }
        DevServerProcess server;
        server.setTls(pki + '/' + certificate + ".pem", pki + '/' + certificate + ".key");
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        LoopbackProxy proxy;
        EnvGuard guard;
        guard.set("SSL_CERT_FILE", QFile::encodeName(pki + "/ca.pem"));
        guard.set("https_proxy", proxy.url());
        guard.set("http_proxy", "http://127.0.0.1:1"); // the plain one is not for HTTPS
        CDComLayerWS client;
        const QByteArray name = "print.example.invalid:" + QByteArray::number(server.port());
        QCOMPARE(logOn(client, name + "/", true) == 0, accepted);
        QCOMPARE(proxy.requestLines().value(0), "CONNECT " + name + " HTTP/1.1");
        if (accepted) {
            QVERIFY(someCalls(client));
            QCOMPARE(proxy.connections(), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TstKeptConnections)
#include "tst_keptconnections.moc"
