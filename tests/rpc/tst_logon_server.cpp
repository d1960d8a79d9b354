// LogOn against the development server over HTTP (its accounts' states, a host name) and HTTPS.
#include "DevServerProcess.h"
#include "RpcTestClient.h"
#include "TestPki.h"

#include <QtTest>

#include <csignal>

class TstLogonServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void logOn_data();
    void logOn();
    void byName();

private:
    QByteArray pki(const QString& name) const { return QFile::encodeName(m_pki.filePath(name)); }

    QTemporaryDir m_pki;
    DevServerProcess m_server;
};

void TstLogonServer::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    // The test authority and two server certificates from it.
    QVERIFY(TestPki::makeCertificate(m_pki.path(), "ca"));
    QVERIFY(TestPki::makeCertificate(m_pki.path(), "loopback", "IP:127.0.0.1"));
    QVERIFY(TestPki::makeCertificate(m_pki.path(), "elsewhere", "DNS:print.example.invalid"));
}

void TstLogonServer::logOn_data()
{
    QTest::addColumn<QString>("tls"); // server certificate; a trailing "!": authority not trusted
    QTest::addColumn<int>("port");    // text; "8086" when none was given, "8085" means UTF-8
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("expected"); // -1: any negative result
    // The development server's accounts in their states; the state only after the password.
    QTest::newRow("wrong password") << "" << 8086 << "zhouba" << QString(32, '0') << 2;
    QTest::newRow("not activated") << "" << 8086 << "zhouba" << kSeedPasswordDigest << 9;
    QTest::newRow("locked") << "" << 8086 << "wujiu" << kSeedPasswordDigest << 16;
    QTest::newRow("password expired") << "" << 8086 << "zhengshi" << kSeedPasswordDigest << 19;
    QTest::newRow("https, test authority, then a hang-up")
        << "loopback" << 8086 << "zhangsan" << kSeedPasswordDigest << 0;
    QTest::newRow("https, authority not trusted")
        << "loopback!" << 8086 << "zhangsan" << kSeedPasswordDigest << -1;
    QTest::newRow("https, certificate for another host")
        << "elsewhere" << 8086 << "zhangsan" << kSeedPasswordDigest << -1;
}

void TstLogonServer::logOn()
{
    QFETCH(QString, tls);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, expected);
    DevServerProcess tlsServer;
    const QString certificate = tls.chopped(tls.endsWith('!'));
    tlsServer.setTls(pki(certificate + ".pem"), pki(certificate + ".key"));
    QVERIFY2(tls.isEmpty() || tlsServer.start(), qPrintable(tlsServer.errorString()));
    // The client trusts the system's authorities, and OpenSSL one more from
    // this variable.
    qputenv("SSL_CERT_FILE", pki("ca.pem"));
    if (tls.endsWith('!'))
        qunsetenv("SSL_CERT_FILE");
    CDComLayerWS client;
    const int result = RpcTestClient::logOn(
        client, RpcTestClient::at(tls.isEmpty() ? m_server.port() : tlsServer.port()),
        QByteArray::number(port), qPrintable(user), qPrintable(password), 0, !tls.isEmpty());
    QCOMPARE(qMax(result, -1), expected);
    if (tls.isEmpty() || result != 0)
        return;
    // The TLS layer writes with write(2): a server that hangs up in the middle
    // of a request (the development server reads at most 64 MiB of one) must
    // fail the call and leave SIGPIPE as it was.
    QByteArray item(65 << 20, 'x');
    char* payer = nullptr;
    QVERIFY(client.GetPayerInfo(item.data(), payer) != 0);
    sigset_t set;
    pthread_sigmask(SIG_BLOCK, nullptr, &set);
    QVERIFY(!sigismember(&set, SIGPIPE));
    sigpending(&set);
    QVERIFY(!sigismember(&set, SIGPIPE));
}

void TstLogonServer::byName()
{
    // A name is looked up (with a deadline) before the runtime connects to it.
    CDComLayerWS client;
    QCOMPARE(RpcTestClient::logOn(client, "localhost:" + QByteArray::number(m_server.port()) + "/",
                                  "8086", "zhangsan", kSeedPasswordDigest),
             0);
}

QTEST_GUILESS_MAIN(TstLogonServer)
#include "tst_logon_server.moc"
