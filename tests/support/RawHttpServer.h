#pragma once

// A tiny HTTP listener on 127.0.0.1 for wire tests of the SOAP client. It
// is deliberately not a SOAP server: it records the exact bytes a client
// sends and answers each connection with canned bytes, which may be a
// proper SOAP response, a Fault, garbage, a truncated body, an HTTP error,
// nothing at all, or an answer after a delay.
//
//     RawHttpServer server;
//     server.setReply(RawHttpServer::soapResponse(
//         "<ns:UserLogonResponse><LogResult>0</LogResult></ns:UserLogonResponse>"));
//     client.SetPort(server.portText());   // "http://127.0.0.1:<port>"
//     ... make the call ...
//     const RawHttpServer::Request req = server.request(0);
//     QVERIFY(req.chunked);
//     QVERIFY(req.body.contains("<ns:UserLogon>"));
//
// One thread accepts the connections one after another; each connection
// carries one request (the client closes after each exchange). Replies are
// taken from a queue (queueReply), the default reply (setReply) answers
// when the queue is empty.

#include <QByteArray>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class RawHttpServer
{
public:
    enum class Action {
        Answer, // read the request, (delay), write the reply bytes, close
        Close,  // read the request, close without a byte
        Hold,   // read the request, keep the connection open and silent until
                // the server is destroyed or holdMs has passed
        Drop,   // close as soon as accepted, before reading anything
    };

    struct Reply {
        Action action = Action::Answer;
        QByteArray bytes;   // written as they are (status line and headers included)
        int delayMs = 0;    // pause before writing (Answer) or before closing (Close)
        int holdMs = 60000; // upper bound for Hold
    };

    struct Request {
        QByteArray raw;    // every byte received on the connection
        QByteArray head;   // request line and headers, up to the empty line
        QByteArray method; // "POST"
        QByteArray target; // "/"
        QList<QPair<QByteArray, QByteArray>> headers; // in order, names as sent
        QByteArray body;                              // the body with any chunked framing removed
        bool chunked = false;                         // Transfer-Encoding: chunked
        bool complete = false; // the whole body arrived (last chunk / Content-Length)

        // First value of the header (name compared without case), or a null
        // QByteArray when the header is absent.
        QByteArray header(const QByteArray& name) const
        {
            for (const auto& h : headers)
                if (h.first.toLower() == name.toLower())
                    return h.second;
            return QByteArray();
        }
        bool hasHeader(const QByteArray& name) const { return !header(name).isNull(); }
    };

    RawHttpServer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_listen, 16);
        socklen_t len = sizeof addr;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        if (::pipe2(m_wake, O_CLOEXEC) != 0)
            m_wake[0] = m_wake[1] = -1;
        m_thread = std::thread([this] { run(); });
    }

    ~RawHttpServer()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        if (m_wake[1] >= 0) {
            const char c = 'x';
            (void)!::write(m_wake[1], &c, 1);
        }
        m_thread.join();
        ::close(m_listen);
        if (m_wake[0] >= 0)
            ::close(m_wake[0]);
        if (m_wake[1] >= 0)
            ::close(m_wake[1]);
    }

    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    quint16 port() const { return m_port; }
    QByteArray portText() const { return QByteArray::number(m_port); }

    // --- replies ----------------------------------------------------------------
    void setReply(const Reply& reply)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_default = reply;
    }
    void setReply(const QByteArray& bytes, int delayMs = 0)
    {
        Reply r;
        r.bytes = bytes;
        r.delayMs = delayMs;
        setReply(r);
    }
    void setAction(Action action)
    {
        Reply r;
        r.action = action;
        setReply(r);
    }
    void queueReply(const Reply& reply)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(reply);
    }
    void queueReply(const QByteArray& bytes)
    {
        Reply r;
        r.bytes = bytes;
        queueReply(r);
    }

    // --- recorded requests --------------------------------------------------------
    int requestCount() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<int>(m_requests.size());
    }
    // Request i (0 = first connection); an empty Request when there is none.
    Request request(int i) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return i >= 0 && i < m_requests.size() ? m_requests.at(i) : Request();
    }
    QList<Request> requests() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_requests;
    }
    // Waits until at least n requests were recorded; false after timeoutMs.
    bool waitForRequests(int n, int timeoutMs = 10000) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return m_requests.size() >= n; });
    }
    void clearRequests()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.clear();
    }

    // --- canned bytes -------------------------------------------------------------
    // An HTTP/1.1 response with Content-Length and "Connection: close".
    static QByteArray httpResponse(const QByteArray& body, int status = 200,
                                   const QByteArray& reason = "OK",
                                   const QByteArray& contentType = "text/xml; charset=utf-8")
    {
        QByteArray r = "HTTP/1.1 " + QByteArray::number(status) + " " + reason + "\r\n";
        r += "Content-Type: " + contentType + "\r\n";
        r += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
        r += "Connection: close\r\n\r\n";
        return r + body;
    }
    // A SOAP 1.1 envelope (RPC/encoded, prefixes as the service uses them)
    // around bodyContent.
    static QByteArray soapEnvelope(const QByteArray& bodyContent)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<SOAP-ENV:Envelope"
               " xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
               " xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\""
               " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
               " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
               " xmlns:ns=\"urn:OrWS\">"
               "<SOAP-ENV:Body"
               " SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">" +
               bodyContent + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
    }
    // httpResponse(soapEnvelope(bodyContent)).
    static QByteArray soapResponse(const QByteArray& bodyContent, int status = 200)
    {
        return httpResponse(soapEnvelope(bodyContent), status,
                            status == 200 ? "OK" : "Internal Server Error");
    }
    static QByteArray soapFault(const QByteArray& faultString,
                                const QByteArray& faultCode = "SOAP-ENV:Server")
    {
        return soapResponse("<SOAP-ENV:Fault><faultcode>" + faultCode +
                                "</faultcode><faultstring>" + faultString +
                                "</faultstring></SOAP-ENV:Fault>",
                            500);
    }

    // Removes chunked transfer framing; stops at the last chunk or at the
    // first malformed size line. *complete tells whether the last chunk came.
    static QByteArray dechunk(const QByteArray& data, bool* complete = nullptr)
    {
        QByteArray out;
        int pos = 0;
        if (complete)
            *complete = false;
        for (;;) {
            const int eol = data.indexOf("\r\n", pos);
            if (eol < 0)
                return out;
            QByteArray sizeLine = data.mid(pos, eol - pos);
            const int semi = sizeLine.indexOf(';');
            if (semi >= 0)
                sizeLine.truncate(semi);
            bool ok = false;
            const long size = sizeLine.trimmed().toLong(&ok, 16);
            if (!ok || size < 0)
                return out;
            pos = eol + 2;
            if (size == 0) {
                if (complete)
                    *complete = data.indexOf("\r\n", pos) >= 0;
                return out;
            }
            if (data.size() - pos < size)
                return out + data.mid(pos);
            out += data.mid(pos, static_cast<int>(size));
            pos += static_cast<int>(size) + 2;
        }
    }

private:
    void run()
    {
        for (;;) {
            pollfd fds[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR)
                return;
            if (stopping())
                return;
            if (!(fds[0].revents & POLLIN))
                continue;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            serve(fd);
            ::close(fd);
        }
    }

    bool stopping() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_stop;
    }

    Reply nextReply()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.empty())
            return m_default;
        Reply r = m_queue.front();
        m_queue.pop_front();
        return r;
    }

    // Waits up to ms for fd to become readable or the server to stop.
    // 1 readable, 0 timeout, -1 stopping.
    int waitReadable(int fd, int ms)
    {
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int n = ::poll(fds, 2, ms);
        if (fds[1].revents & POLLIN)
            return -1;
        return n > 0 ? 1 : 0;
    }

    void serve(int fd)
    {
        const Reply reply = nextReply();
        Request req;
        if (reply.action != Action::Drop)
            readRequest(fd, req);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.append(req);
        }
        m_changed.notify_all();

        switch (reply.action) {
        case Action::Drop:
            return;
        case Action::Close:
            pause(fd, reply.delayMs);
            return;
        case Action::Hold:
            pause(fd, reply.holdMs);
            return;
        case Action::Answer:
            if (pause(fd, reply.delayMs) < 0)
                return;
            writeAll(fd, reply.bytes);
            ::shutdown(fd, SHUT_WR);
            // Let the client read everything before the socket goes away.
            drain(fd, 2000);
            return;
        }
    }

    // Sleeps ms unless the server stops; the peer closing does not end it.
    int pause(int fd, int ms)
    {
        (void)fd;
        if (ms <= 0)
            return 0;
        pollfd wake = {m_wake[0], POLLIN, 0};
        return ::poll(&wake, 1, ms) > 0 ? -1 : 0;
    }

    void drain(int fd, int ms)
    {
        char buf[4096];
        while (waitReadable(fd, ms) == 1) {
            if (::recv(fd, buf, sizeof buf, 0) <= 0)
                return;
        }
    }

    static void writeAll(int fd, const QByteArray& bytes)
    {
        const char* p = bytes.constData();
        size_t left = static_cast<size_t>(bytes.size());
        while (left) {
            const ssize_t n = ::send(fd, p, left, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            p += n;
            left -= static_cast<size_t>(n);
        }
    }

    // Reads one request: the head, then the body by chunked framing or by
    // Content-Length (or until the peer stops sending). Gives up after 5 s
    // of silence.
    void readRequest(int fd, Request& req)
    {
        char buf[16384];
        int headEnd = -1;
        long contentLength = -1;
        for (;;) {
            if (headEnd >= 0) {
                const QByteArray rest = req.raw.mid(headEnd);
                if (req.chunked) {
                    bool complete = false;
                    req.body = dechunk(rest, &complete);
                    if (complete) {
                        req.complete = true;
                        return;
                    }
                } else if (contentLength >= 0) {
                    req.body = rest.left(static_cast<int>(contentLength));
                    if (rest.size() >= contentLength) {
                        req.complete = true;
                        return;
                    }
                } else {
                    req.body = rest;
                }
            }
            if (waitReadable(fd, 5000) != 1)
                return;
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) {
                if (headEnd >= 0 && !req.chunked && contentLength < 0)
                    req.complete = true; // body delimited by the end of the stream
                return;
            }
            req.raw.append(buf, static_cast<int>(n));
            if (headEnd < 0) {
                const int e = req.raw.indexOf("\r\n\r\n");
                if (e < 0)
                    continue;
                headEnd = e + 4;
                parseHead(req, req.raw.left(e));
                req.chunked = req.header("Transfer-Encoding").toLower().contains("chunked");
                const QByteArray cl = req.header("Content-Length");
                if (!cl.isNull())
                    contentLength = cl.trimmed().toLong();
            }
        }
    }

    static void parseHead(Request& req, const QByteArray& head)
    {
        req.head = head;
        const QList<QByteArray> lines = head.split('\n');
        for (int i = 0; i < lines.size(); ++i) {
            QByteArray line = lines.at(i);
            if (line.endsWith('\r'))
                line.chop(1);
            if (i == 0) {
                const QList<QByteArray> parts = line.split(' ');
                req.method = parts.value(0);
                req.target = parts.value(1);
                continue;
            }
            const int colon = line.indexOf(':');
            if (colon > 0)
                req.headers.append(qMakePair(line.left(colon), line.mid(colon + 1).trimmed()));
        }
    }

    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    quint16 m_port = 0;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_stop = false;
    Reply m_default;
    std::deque<Reply> m_queue;
    QList<Request> m_requests;
};
