#pragma once

// A loopback TCP relay between the client and the development server that
// keeps the SOAP operation of every request it passes on, in arrival order.
// The client makes its calls synchronously on the test's thread, so the
// relay runs on a thread of its own; each connection carries one exchange.
//
//     RecordingProxy proxy(server.port());
//     user.RpcPort <- proxy.port()
//     ... logon ...
//     proxy.operations()  // {"UserLogon", "GetFieldValuesBySQL SELECT ...", ...}

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include <arpa/inet.h>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class RecordingProxy
{
public:
    explicit RecordingProxy(quint16 targetPort) : m_target(targetPort)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr = loopback(0);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listen, 16);
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        if (::pipe2(m_wake, O_CLOEXEC) != 0)
            m_wake[0] = m_wake[1] = -1;
        m_thread = std::thread([this] { run(); });
    }

    ~RecordingProxy()
    {
        const char c = 'x';
        if (m_wake[1] >= 0)
            (void)!::write(m_wake[1], &c, 1);
        m_thread.join();
        ::close(m_listen);
        if (m_wake[0] >= 0)
            ::close(m_wake[0]);
        if (m_wake[1] >= 0)
            ::close(m_wake[1]);
    }

    RecordingProxy(const RecordingProxy&) = delete;
    RecordingProxy& operator=(const RecordingProxy&) = delete;

    quint16 port() const { return m_port; }

    // One entry per request: the operation name; for the field queries the
    // operation name, a blank and the SQL text.
    QStringList operations() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        QStringList names;
        for (const QByteArray& request : m_requests)
            names << describe(request);
        return names;
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.clear();
    }

private:
    static sockaddr_in loopback(quint16 port)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        return addr;
    }

    static QString xmlText(QByteArray text)
    {
        text.replace("&apos;", "'").replace("&quot;", "\"").replace("&lt;", "<");
        text.replace("&gt;", ">").replace("&amp;", "&");
        return QString::fromUtf8(text);
    }

    static QString describe(const QByteArray& raw)
    {
        const int bodyStart = raw.indexOf("\r\n\r\n");
        const QByteArray body = bodyStart < 0 ? raw : raw.mid(bodyStart + 4);
        static const QRegularExpression operation(
            QStringLiteral("<SOAP-ENV:Body[^>]*>\\s*(?:\\r\\n[0-9a-fA-F]+\\r\\n)?<ns:(\\w+)"));
        const QString text = QString::fromUtf8(body);
        const QRegularExpressionMatch m = operation.match(text);
        if (!m.hasMatch())
            return QStringLiteral("?");
        QString name = m.captured(1);
        static const QRegularExpression sql(QStringLiteral("<pSQL>([^<]*)</pSQL>"));
        const QRegularExpressionMatch s = sql.match(text);
        if (s.hasMatch())
            name += QLatin1Char(' ') + xmlText(s.captured(1).toUtf8());
        return name;
    }

    void run()
    {
        for (;;) {
            pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents)
                return;
            const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            relay(client);
            ::close(client);
        }
    }

    // Passes the bytes both ways until the server closes its side.
    void relay(int client)
    {
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr = loopback(m_target);
        if (::connect(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(server);
            return;
        }
        QByteArray request;
        bool clientOpen = true;
        char buffer[65536];
        for (;;) {
            pollfd fds[3] = {
                {clientOpen ? client : -1, POLLIN, 0}, {server, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (::poll(fds, 3, 30000) <= 0 || fds[2].revents)
                break;
            if (clientOpen && fds[0].revents) {
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0) {
                    clientOpen = false;
                    ::shutdown(server, SHUT_WR);
                } else {
                    request.append(buffer, static_cast<int>(n));
                    if (!writeAll(server, buffer, static_cast<size_t>(n)))
                        break;
                }
            }
            if (fds[1].revents) {
                const ssize_t n = ::read(server, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                if (!writeAll(client, buffer, static_cast<size_t>(n)))
                    break;
            }
        }
        ::close(server);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests << request;
    }

    static bool writeAll(int fd, const char* data, size_t size)
    {
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }

    quint16 m_target;
    quint16 m_port = 0;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    QList<QByteArray> m_requests;
};
