// LogOn against the development server, over HTTP and HTTPS.
#include "DComLayerWS.h"
#include "DevServerProcess.h"
#include "RpcTestClient.h"
#include "TavUserRecord.h"

#include "SoapCall.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{

// MD5 of "123456", upper-case, as the logon dialog sends it.
const char kMd5Of123456[] = "E10ADC3949BA59ABBE56E057F20F883E";

// Runs the openssl command; false with its output in *error on failure.
bool openssl(const QStringList& args, QString* error)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = "openssl " + args.join(' ') + ": " + QString::fromLocal8Bit(p.readAll()) +
                 p.errorString();
        return false;
    }
    return true;
}

// Sets an environment variable for the lifetime of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_old);
        else
            qunsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

// Accepts one TLS connection on the loopback interface, completes the
// handshake, reads a little and hangs up without a word.
class TlsHangUpServer
{
public:
    TlsHangUpServer(const QString& certPath, const QString& keyPath)
    {
        m_ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(m_ctx, QFile::encodeName(certPath).constData());
        SSL_CTX_use_PrivateKey_file(m_ctx, QFile::encodeName(keyPath).constData(),
                                    SSL_FILETYPE_PEM);
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listen, 1);
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~TlsHangUpServer()
    {
        ::shutdown(m_listen, SHUT_RDWR); // ends a pending accept
        m_thread.join();
        ::close(m_listen);
        SSL_CTX_free(m_ctx);
    }
    quint16 port() const { return m_port; }
    bool handshakeDone() const { return m_handshake; }

private:
    void serve()
    {
        const int fd = ::accept(m_listen, nullptr, nullptr);
        if (fd < 0)
            return;
        SSL* ssl = SSL_new(m_ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            m_handshake = true;
            char buf[1024];
            SSL_read(ssl, buf, sizeof buf);
        }
        SSL_free(ssl);
        ::close(fd);
    }

    SSL_CTX* m_ctx = nullptr;
    int m_listen = -1;
    quint16 m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_handshake{false};
};

} // namespace

class TstLogonServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void logOn_data();
    void logOn();
    void portText_data();
    void portText();
    void https_data();
    void https();
    void httpsPeerHangUp();

private:
    // A certificate authority and server certificates signed by it, made
    // with the openssl command in a temporary folder.
    bool makeCertificates(QString* error);
    QString cert(const QString& name) const { return m_pki.path() + "/" + name; }

    QTemporaryDir m_pki;
    DevServerProcess m_server;
};

void TstLogonServer::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    QString error;
    QVERIFY2(makeCertificates(&error), qPrintable(error));
}

bool TstLogonServer::makeCertificates(QString* error)
{
    const QStringList ec{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"};
    // The authority.
    if (!openssl(QStringList{"req", "-x509"} + ec +
                     QStringList{"-days", "2", "-subj", "/CN=Orix Test CA", "-keyout",
                                 cert("ca.key"), "-out", cert("ca.pem"), "-addext",
                                 "basicConstraints=critical,CA:TRUE", "-addext",
                                 "keyUsage=critical,keyCertSign,cRLSign"},
                 error))
        return false;
    // One server certificate per set of names: the loopback server's own,
    // and one for a different host.
    const QList<QPair<QString, QString>> servers{
        {"loopback", "subjectAltName=IP:127.0.0.1,DNS:localhost"},
        {"elsewhere", "subjectAltName=DNS:print.example.invalid"},
    };
    for (const auto& s : servers) {
        QFile ext(cert(s.first + ".ext"));
        if (!ext.open(QIODevice::WriteOnly))
            return false;
        ext.write(s.second.toUtf8() + "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
        ext.close();
        if (!openssl(QStringList{"req"} + ec +
                         QStringList{"-subj", "/CN=Orix test server", "-keyout",
                                     cert(s.first + ".key"), "-out", cert(s.first + ".csr")},
                     error) ||
            !openssl({"x509", "-req", "-in", cert(s.first + ".csr"), "-CA", cert("ca.pem"),
                      "-CAkey", cert("ca.key"), "-CAcreateserial", "-days", "2", "-extfile",
                      cert(s.first + ".ext"), "-out", cert(s.first + ".pem")},
                     error))
            return false;
    }
    return true;
}

void TstLogonServer::logOn_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("expected");
    QTest::newRow("accepted") << QByteArray("zhangsan") << QByteArray(kMd5Of123456) << 0 << 0;
    QTest::newRow("digest in lower case")
        << QByteArray("zhangsan") << QByteArray(kMd5Of123456).toLower() << 1 << 0;
    QTest::newRow("domain agent sends the password")
        << QByteArray("lisi") << QByteArray("123456") << 2 << 0;
    QTest::newRow("wrong password")
        << QByteArray("zhangsan") << QByteArray("00000000000000000000000000000000") << 0 << 2;
    QTest::newRow("unknown user") << QByteArray("nobody") << QByteArray(kMd5Of123456) << 0 << 2;
    QTest::newRow("deleted user") << QByteArray("chenyi") << QByteArray(kMd5Of123456) << 0 << 2;
    QTest::newRow("locked user") << QByteArray("wujiu") << QByteArray(kMd5Of123456) << 0 << 16;
    QTest::newRow("password expired")
        << QByteArray("zhengshi") << QByteArray(kMd5Of123456) << 0 << 19;
}

void TstLogonServer::logOn()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(int, mode);
    QFETCH(int, expected);
    CDComLayerWS client;
    QCOMPARE(client.InitDCOM(), 0);
    QCOMPARE(QByteArray(client.Port()), QByteArray("8085"));
    client.SetPort(QByteArray::number(m_server.port()).constData());
    TavUserRecord record =
        RpcTestClient::logonRecord("127.0.0.1", user.constData(), password.constData(), mode);
    QCOMPARE(client.LogOn(&record), expected);
    QCOMPARE(QByteArray(client.Endpoint()), m_server.endpoint());
    // The client keeps no connection: the same object logs on again.
    QCOMPARE(client.LogOn(&record), expected);
}

void TstLogonServer::portText_data()
{
    QTest::addColumn<QByteArray>("port");
    // "8086" is what the session sends when no port was ever given; "8085"
    // switches the client to UTF-8 strings.
    QTest::newRow("session default 8086") << QByteArray("8086");
    QTest::newRow("utf-8 service 8085") << QByteArray("8085");
}

void TstLogonServer::portText()
{
    QFETCH(QByteArray, port);
    // The server listens on a free port, so the address carries the real
    // port and the port text ends up in the path (see RpcTestClient).
    const QByteArray address = "127.0.0.1:" + QByteArray::number(m_server.port()) + "/";
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(port.constData());
    TavUserRecord record =
        RpcTestClient::logonRecord(address.constData(), "zhangsan", kMd5Of123456);
    QCOMPARE(client.LogOn(&record), 0);
    QCOMPARE(QByteArray(client.Endpoint()), "http://" + address + ":" + port);
    record = RpcTestClient::logonRecord(address.constData(), "zhangsan", "WRONG");
    QCOMPARE(client.LogOn(&record), 2);
}

void TstLogonServer::https_data()
{
    QTest::addColumn<QString>("certificate");
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<bool>("trustTestCa");
    QTest::addColumn<int>("useSsl");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("trusted, by address")
        << "loopback" << QByteArray("127.0.0.1") << true << 1 << true;
    QTest::newRow("trusted, by name") << "loopback" << QByteArray("localhost") << true << 1 << true;
    QTest::newRow("authority not trusted")
        << "loopback" << QByteArray("127.0.0.1") << false << 1 << false;
    QTest::newRow("certificate for another host")
        << "elsewhere" << QByteArray("127.0.0.1") << true << 1 << false;
    QTest::newRow("plain http to a tls server")
        << "loopback" << QByteArray("127.0.0.1") << true << 0 << false;
}

void TstLogonServer::https()
{
    QFETCH(QString, certificate);
    QFETCH(QByteArray, address);
    QFETCH(bool, trustTestCa);
    QFETCH(int, useSsl);
    QFETCH(bool, accepted);

    DevServerProcess server;
    server.setTls(cert(certificate + ".pem"), cert(certificate + ".key"));
    QVERIFY2(server.start(), qPrintable(server.errorString()));

    // The client trusts what the system trusts; OpenSSL reads the extra
    // authority from the standard variable.
    ScopedEnv caFile("SSL_CERT_FILE",
                     trustTestCa ? QFile::encodeName(cert("ca.pem")) : QByteArray());
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(QByteArray::number(server.port()).constData());
    TavUserRecord record =
        RpcTestClient::logonRecord(address.constData(), "zhangsan", kMd5Of123456, 0, useSsl);
    const int result = client.LogOn(&record);
    QCOMPARE(QByteArray(client.Endpoint()).startsWith("https://"), useSsl != 0);
    if (accepted)
        QCOMPARE(result, 0);
    else
        QVERIFY2(result < 0, qPrintable(QString::number(result)));
    QVERIFY(server.isRunning());
}

void TstLogonServer::httpsPeerHangUp()
{
    // The TLS layer writes with write(2), not with MSG_NOSIGNAL: a server
    // that hangs up in the middle of an upload must fail the call and leave
    // the process (and its SIGPIPE disposition) as it was.
    QTemporaryDir dir;
    QFile big(dir.path() + "/big.pdf");
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.write(QByteArray(8 * 1024 * 1024, 'p')) == 8 * 1024 * 1024);
    big.close();
    QByteArray path = QFile::encodeName(big.fileName());

    TlsHangUpServer server(cert("loopback.pem"), cert("loopback.key"));
    ScopedEnv caFile("SSL_CERT_FILE", QFile::encodeName(cert("ca.pem")));
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(QByteArray::number(server.port()).constData());
    TavUserRecord record = RpcTestClient::logonRecord("127.0.0.1", "zhangsan", kMd5Of123456, 0, 1);
    SoapCall::SetContextFailureForTesting(true); // only to build the endpoint
    client.LogOn(&record);
    SoapCall::SetContextFailureForTesting(false);
    int status = SOAP_OK;
    {
        SoapCall call(client, true);
        arrayOfData data(call.soap(), 1);
        data[0].__ptr = reinterpret_cast<unsigned char*>(path.data());
        data[0].__size = 8 * 1024 * 1024;
        data[0].type = const_cast<char*>("");
        ns__SavePrintJobExResponse response;
        status = call.proxy().SavePrintJobEx(call.endpoint(), nullptr, &data, response);
    }
    QVERIFY(server.handshakeDone());
    QVERIFY(status != SOAP_OK);
    sigset_t mask;
    sigemptyset(&mask);
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    QVERIFY(!sigismember(&mask, SIGPIPE));
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    QVERIFY(!sigismember(&pending, SIGPIPE));
}

QTEST_GUILESS_MAIN(TstLogonServer)
#include "tst_logon_server.moc"
