#pragma once

// A loopback HTTP listener for wire tests of the SOAP client: it records each connection's
// chunked request and answers with canned bytes (queued, else the default; empty: it hangs up)
// or relays to a server on another loopback port (forwardTo), late if asked (delayNext). With
// setKeepAlive(true) it keeps each connection for further requests and answers
// "Connection: keep-alive" where a canned answer says "close".

#include <QByteArray>
#include <QList>
#include <QRegularExpression>
#include <QStringList>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class RawHttpServer
{
public:
    struct Request {
        QByteArray raw;        // every byte received
        QByteArray head;       // request line and headers
        QByteArray body;       // chunked framing removed
        bool complete = false; // the last chunk arrived
        int connection = 0;    // 0 = the first connection accepted
    };

    RawHttpServer()
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), len);
        ::listen(m_listen, 16);
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~RawHttpServer()
    {
        m_stop = true;
        ::shutdown(m_listen, SHUT_RDWR); // wakes the thread wherever it waits
        m_thread.join();
        ::close(m_listen);
    }

    quint16 port() const { return m_port; }
    QByteArray portText() const { return QByteArray::number(m_port); }
    void setReply(const QByteArray& reply)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_default = reply;
    }
    void setKeepAlive(bool keep) { m_keepAlive = keep; }
    // Closes each connection without a reply unless one is queued.
    void closeWithoutReply() { setReply(QByteArray()); }
    // Relays each request to 127.0.0.1:port and the answer back (0: replies again).
    void forwardTo(quint16 port) { m_forwardPort = port; }
    // Holds the answer to the next request whose body contains marker for ms milliseconds.
    void delayNext(const QByteArray& marker, int ms)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_delayMarker = marker;
        m_delayMs = ms;
    }
    void queueReply(const QByteArray& reply)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(reply);
    }
    QList<Request> requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    int requestCount() const { return requests().size(); }
    // Request i (0 = first connection), empty when there is none.
    Request request(int i) const { return requests().value(i); }
    void clearRequests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.clear();
    }
    // Each request as its operation, followed by its SQL text or JSON parameter if it has one.
    QStringList operations() const
    {
        static const QRegularExpression op("<ns:(\\w+)"),
            detail("<(?:pSQL|strSQL|pJsonJobParam)>([^<]*)<");
        QStringList list;
        for (const Request& r : requests()) {
            const QString body = QString::fromUtf8(r.body.constData(), r.body.size())
                                     .replace("&apos;", "'")
                                     .replace("&quot;", "\"");
            list << (op.match(body).captured(1) + ' ' + detail.match(body).captured(1)).trimmed();
        }
        return list;
    }

    static QByteArray httpResponse(const QByteArray& body, int status = 200,
                                   const QByteArray& reason = "OK")
    {
        return "HTTP/1.1 " + QByteArray::number(status) + " " + reason +
               "\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " +
               QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    }
    // A SOAP 1.1 envelope (RPC/encoded, the service's prefixes) around content.
    static QByteArray soapEnvelope(const QByteArray& content)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<SOAP-ENV:Envelope"
               " xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
               " xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\""
               " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
               " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
               "xmlns:ns=\"urn:OrWS\"><SOAP-ENV:Body"
               " SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">" +
               content + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
    }
    static QByteArray soapResponse(const QByteArray& content)
    {
        return httpResponse(soapEnvelope(content));
    }
    static QByteArray soapFault(const QByteArray& text)
    {
        return httpResponse(soapEnvelope("<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>"
                                         "<faultstring>" +
                                         text + "</faultstring></SOAP-ENV:Fault>"),
                            500, "Internal Server Error");
    }

private:
    void run()
    {
        for (int connection = 0; !m_stop; ++connection) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            for (bool first = true; first || (m_keepAlive && !m_stop); first = false) {
                Request req;
                req.connection = connection;
                readRequest(fd, req);
                if (!first && req.raw.isEmpty())
                    break; // the client closed its kept connection
                std::unique_lock<std::mutex> lock(m_mutex);
                QByteArray reply = m_queue.isEmpty() ? m_default : m_queue.takeFirst();
                m_requests.append(req);
                const bool late = !m_delayMarker.isEmpty() && req.body.contains(m_delayMarker);
                if (late)
                    m_delayMarker.clear();
                lock.unlock();
                pollfd stop = {m_listen, 0, 0}; // wakes when the server stops
                ::poll(&stop, 1, late ? m_delayMs : 0);
                if (m_keepAlive)
                    reply.replace("\r\nConnection: close\r\n", "\r\nConnection: keep-alive\r\n");
                if (m_forwardPort)
                    forward(fd, req.raw);
                else
                    ::send(fd, reply.constData(), reply.size(), MSG_NOSIGNAL);
                if (reply.isEmpty())
                    break;
            }
            ::close(fd);
        }
    }

    // Reads the head and the body up to its last chunk; gives up after 5 s of silence.
    void readRequest(int fd, Request& req)
    {
        char buf[16384];
        pollfd fds[2] = {{m_listen, 0, 0}, {fd, POLLIN, 0}};
        while (!req.complete && !m_stop) {
            const int ready = ::poll(fds, 2, 5000);
            if (ready < 0 && errno == EINTR)
                continue;
            const ssize_t n = ready > 0 && fds[1].revents ? ::recv(fd, buf, sizeof buf, 0) : 0;
            if (n <= 0)
                return;
            req.raw.append(buf, static_cast<int>(n));
            const int end = req.raw.indexOf("\r\n\r\n");
            req.head = req.raw.left(end);
            req.body.clear();
            for (int pos = end + 4; end >= 0 && !req.complete;) {
                const int eol = req.raw.indexOf("\r\n", pos);
                bool ok = false;
                const int size = req.raw.mid(pos, eol - pos).split(';').first().toInt(&ok, 16);
                if (eol < 0 || !ok || size < 0)
                    break;
                req.complete = size == 0 && req.raw.indexOf("\r\n", eol + 2) >= 0;
                req.body += req.raw.mid(eol + 2, size);
                pos = eol + 2 + size + 2;
            }
        }
    }

    void forward(int client, QByteArray request)
    {
        // One request per connection here: the server is asked to close after its answer.
        const int headEnd = request.indexOf("\r\n\r\n");
        const int keep = request.toLower().indexOf("\r\nconnection: keep-alive");
        if (keep >= 0 && keep < headEnd)
            request.replace(keep, int(strlen("\r\nconnection: keep-alive")),
                            "\r\nConnection: close");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(m_forwardPort);
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(server, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
            ::send(server, request.constData(), request.size(), MSG_NOSIGNAL) == request.size()) {
            char buf[16384];
            ssize_t n;
            while ((n = ::recv(server, buf, sizeof buf, 0)) > 0)
                ::send(client, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
        }
        ::close(server);
    }

    const int m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    quint16 m_port = 0;
    std::atomic<quint16> m_forwardPort{0};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_keepAlive{false};
    std::thread m_thread;
    mutable std::mutex m_mutex;
    QByteArray m_default;
    QByteArray m_delayMarker;
    int m_delayMs = 0;
    QList<QByteArray> m_queue;
    QList<Request> m_requests;
};
