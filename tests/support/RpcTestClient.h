#pragma once

// LogOn of a CDComLayerWS, a client pointed at a RawHttpServer, and its requests on the wire.
// The port text decides the string mode ("8085": UTF-8); with the address at(port) the
// endpoint is "http://127.0.0.1:<port>/:<port text>", whose path the server ignores.

#include "DComLayerWS.h"
#include "RawHttpServer.h"
#include "TavUserRecord.h"
#include "soapH.h"

#include <QFile>

namespace RpcTestClient
{

inline QByteArray at(quint16 port)
{
    return "127.0.0.1:" + QByteArray::number(port) + "/";
}

inline QByteArray logonAnswer(const QByteArray& content = "<LogResult>0</LogResult>")
{
    return RawHttpServer::soapResponse("<ns:UserLogonResponse>" + content +
                                       "</ns:UserLogonResponse>");
}

inline int logOn(CDComLayerWS& client, const QByteArray& address, const QByteArray& portText,
                 const char* user = "alice", const char* password = "0123456789ABCDEF",
                 int logonMode = 0, int useSsl = 0)
{
    TavUserRecord r{};
    qstrncpy(r.UserName, user, sizeof r.UserName);
    qstrncpy(r.Password, password, sizeof r.Password);
    qstrncpy(r.ServerAddress, address.constData(), sizeof r.ServerAddress);
    r.LogonMode = logonMode;
    r.UseSsl = useSsl;
    client.InitDCOM();
    client.SetPort(portText.constData());
    return client.LogOn(&r);
}

// Builds the client's endpoint with one LogOn against the listener, which
// then forgets that request.
inline bool connect(CDComLayerWS& client, RawHttpServer& server)
{
    server.queueReply(logonAnswer());
    const int result = logOn(client, "127.0.0.1", server.portText());
    server.clearRequests(); // recorded before the answer was written
    return result == 0;
}

// The method of a request and the values of its Content-Type (up to any
// ";"), Transfer-Encoding and SOAPAction headers, in their order.
inline QByteArray framing(const RawHttpServer::Request& req)
{
    QByteArray f = req.head.left(req.head.indexOf(' '));
    for (const QByteArray& line : req.head.toLower().split('\n')) {
        if (line.startsWith("content-type:") || line.startsWith("transfer-encoding:") ||
            line.startsWith("soapaction:"))
            f += " " + line.mid(line.indexOf(':') + 1).split(';').first().trimmed();
    }
    return f;
}

// The envelope the client sends around content (the body element).
inline QByteArray requestEnvelope(const QByteArray& content)
{
    return RawHttpServer::soapEnvelope(content) + "\r\n";
}

// Makes d the attachment of the file at path, first written with bytes
// unless they are null.
inline void attach(struct soap* soap, ns__Data& d, const QString& path, const QByteArray* bytes,
                   int declared)
{
    QFile f(path);
    if (bytes && f.open(QIODevice::WriteOnly))
        f.write(*bytes);
    d.__ptr = reinterpret_cast<unsigned char*>(soap_strdup(soap, QFile::encodeName(path)));
    d.__size = declared;
    d.type = const_cast<char*>("");
}

} // namespace RpcTestClient
