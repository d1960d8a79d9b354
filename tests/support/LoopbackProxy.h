#pragma once

// A small HTTP proxy on loopback for the proxy tests. "CONNECT host:port" opens a tunnel; a
// request with an absolute URI ("POST http://host:port/path HTTP/1.1") goes to that server
// with the path alone, and so do the later requests of the same connection (each chunked, as
// the client sends them, or without a body). Every name is reached at 127.0.0.1: a test may
// call its server by a name that only the proxy knows. It records the request lines and the
// Proxy-Authorization values it received, and counts the client connections.

#include <QByteArray>
#include <QList>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class LoopbackProxy
{
public:
    LoopbackProxy()
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), len);
        ::listen(m_listen, 16);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }
    ~LoopbackProxy()
    {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        m_acceptor.join();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (int fd : m_open)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (std::thread& t : m_threads)
            t.join();
        ::close(m_listen);
    }

    quint16 port() const { return m_port; }
    QByteArray url() const { return "http://127.0.0.1:" + QByteArray::number(m_port); }
    QList<QByteArray> requestLines() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }
    QList<QByteArray> authorizations() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_authorizations;
    }
    int connections() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_connections;
    }

private:
    void acceptLoop()
    {
        while (!m_stop) {
            const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_connections;
            m_open.insert(client);
            m_threads.emplace_back([this, client] { serve(client); });
        }
    }

    static int connectTo(quint16 port)
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    static bool sendAll(int fd, const QByteArray& bytes)
    {
        return ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size();
    }

    // The port of "host:port" or of "http://host:port/...".
    static quint16 portOf(QByteArray target)
    {
        if (target.startsWith("http://"))
            target = target.mid(7);
        const int slash = target.indexOf('/');
        if (slash >= 0)
            target.truncate(slash);
        return quint16(target.mid(target.lastIndexOf(':') + 1).toUInt());
    }

    void record(const QByteArray& head)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_lines << head.left(head.indexOf("\r\n"));
        for (const QByteArray& line : head.split('\n'))
            if (line.toLower().startsWith("proxy-authorization:"))
                m_authorizations << line.mid(line.indexOf(':') + 1).trimmed();
    }

    // The head made for the server: the path alone, no Proxy- lines.
    static QByteArray forServer(const QByteArray& head)
    {
        QList<QByteArray> lines = head.split('\n');
        QList<QByteArray> first = lines.takeFirst().split(' ');
        if (first.size() == 3 && first[1].startsWith("http://")) {
            const QByteArray rest = first[1].mid(7);
            const int slash = rest.indexOf('/');
            first[1] = slash < 0 ? QByteArray("/") : rest.mid(slash);
        }
        QByteArray out = first.join(' ') + '\n';
        for (const QByteArray& line : lines)
            if (!line.toLower().startsWith("proxy-"))
                out += line + '\n';
        return out.left(out.size() - 1);
    }

    void serve(int client)
    {
        int server = -1;
        QByteArray in; // from the client, not yet passed on
        bool tunnel = false, inBody = false, chunked = false;
        char buf[65536];
        for (;;) {
            // Pass on what is complete: heads (rewritten) and bodies up to their end.
            bool progress = true;
            while (!tunnel && progress) {
                progress = false;
                if (!inBody) {
                    const int end = in.indexOf("\r\n\r\n");
                    if (end < 0)
                        break;
                    const QByteArray head = in.left(end + 4);
                    in.remove(0, end + 4);
                    record(head);
                    const QList<QByteArray> first = head.left(head.indexOf("\r\n")).split(' ');
                    if (first.size() < 2)
                        goto done;
                    if (server < 0 && (server = connectTo(portOf(first[1]))) < 0)
                        goto done;
                    if (first[0] == "CONNECT") {
                        tunnel = true;
                        if (!sendAll(client, "HTTP/1.1 200 Connection established\r\n\r\n") ||
                            (!in.isEmpty() && !sendAll(server, in)))
                            goto done;
                        in.clear();
                        break;
                    }
                    chunked = head.toLower().contains("transfer-encoding: chunked");
                    if (!sendAll(server, forServer(head)))
                        goto done;
                    inBody = chunked;
                    progress = true;
                } else {
                    const int end = in.indexOf("\r\n0\r\n\r\n");
                    const int take = end >= 0 ? end + 7 : qMax(0, in.size() - 6);
                    if (take > 0 && !sendAll(server, in.left(take)))
                        goto done;
                    in.remove(0, take);
                    inBody = end < 0;
                    progress = end >= 0;
                }
            }
            pollfd fds[2] = {{client, POLLIN, 0},
                             {server, server >= 0 ? short(POLLIN) : short(0), 0}};
            if (::poll(fds, server >= 0 ? 2 : 1, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (server >= 0 && fds[1].revents) {
                const ssize_t n = ::recv(server, buf, sizeof buf, 0);
                if (n <= 0 || ::send(client, buf, size_t(n), MSG_NOSIGNAL) != n)
                    break;
            }
            if (fds[0].revents) {
                const ssize_t n = ::recv(client, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                if (tunnel) {
                    if (::send(server, buf, size_t(n), MSG_NOSIGNAL) != n)
                        break;
                } else {
                    in.append(buf, int(n));
                }
            }
        }
    done:
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open.erase(client);
        ::close(client);
        if (server >= 0)
            ::close(server);
    }

    const int m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_threads;
    mutable std::mutex m_mutex;
    std::set<int> m_open;
    int m_connections = 0;
    QList<QByteArray> m_lines;
    QList<QByteArray> m_authorizations;
};
