#pragma once

// A loopback TCP relay in front of a server for tests of kept connections: it counts the
// connections, numbers the client's requests (chunked HTTP, the client's only framing) across
// all connections, keeps a digest of every request that reached the server whole, and breaks
// a connection where a test asks: when request N arrives, in its middle, after it reached the
// server whole (before the answer), or at once (closeAll). A connection whose one side ends
// is closed on both.

#include <QByteArray>
#include <QCryptographicHash>
#include <QMap>

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

class TcpRelay
{
public:
    enum class Break { None, OnArrival, Midway, AfterRequest };

    explicit TcpRelay(quint16 target) : m_target(target)
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
    ~TcpRelay()
    {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR);
        m_acceptor.join();
        closeAll();
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_open == 0; });
        lock.unlock();
        for (std::thread& t : m_threads)
            t.join();
        ::close(m_listen);
    }

    quint16 port() const { return m_port; }
    // Breaks the connection that carries request number index (0 = the first request).
    void breakAt(int index, Break how)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_breakIndex = index;
        m_break = how;
    }
    // Closes every open connection on both sides now.
    void closeAll()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& pair : m_pairs) {
            ::shutdown(pair.first, SHUT_RDWR);
            ::shutdown(pair.second, SHUT_RDWR);
        }
    }
    int connections() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_connections;
    }
    int openConnections() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_open;
    }
    int requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    // How often each request (by the digest of its bytes) reached the server whole.
    QMap<QByteArray, int> delivered() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_delivered;
    }
    int mostDeliveries() const
    {
        int most = 0;
        for (int n : delivered())
            most = qMax(most, n);
        return most;
    }

private:
    void acceptLoop()
    {
        while (!m_stop) {
            const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(m_target);
            const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (::connect(server, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
                ::close(server);
                ::close(client);
                continue;
            }
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_connections;
            ++m_open;
            m_pairs.insert({client, server});
            m_threads.emplace_back([this, client, server] { relay(client, server); });
        }
    }

    void relay(int client, int server)
    {
        QByteArray request; // the current request's bytes so far
        int index = -1;     // its number
        bool broken = false;
        char buf[65536];
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        while (!broken) {
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[1].revents) {
                const ssize_t n = ::recv(server, buf, sizeof buf, 0);
                if (n <= 0 || ::send(client, buf, size_t(n), MSG_NOSIGNAL) != n)
                    break;
            }
            if (!fds[0].revents)
                continue;
            const ssize_t n = ::recv(client, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            QByteArray data(buf, int(n));
            Break how = Break::None;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (request.isEmpty())
                    index = m_requests++;
                if (index == m_breakIndex)
                    how = m_break;
            }
            if (how == Break::OnArrival)
                break;
            if (how == Break::Midway) {
                ::send(server, data.constData(), size_t(data.size() / 2), MSG_NOSIGNAL);
                break;
            }
            request += data;
            if (::send(server, data.constData(), size_t(data.size()), MSG_NOSIGNAL) != n)
                break;
            const int head = request.indexOf("\r\n\r\n");
            if (head >= 0 && request.endsWith("\r\n0\r\n\r\n")) {
                std::lock_guard<std::mutex> lock(m_mutex);
                ++m_delivered[QCryptographicHash::hash(request, QCryptographicHash::Sha1)];
                request.clear();
                broken = how == Break::AfterRequest;
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pairs.erase({client, server});
        ::close(client);
        ::close(server);
        --m_open;
        m_changed.notify_all();
    }

    const quint16 m_target;
    const int m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptor;
    std::vector<std::thread> m_threads;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<std::pair<int, int>> m_pairs;
    int m_connections = 0;
    int m_open = 0;
    int m_requests = 0;
    int m_breakIndex = -1;
    Break m_break = Break::None;
    QMap<QByteArray, int> m_delivered;
};
