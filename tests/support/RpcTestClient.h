#pragma once

// Points a CDComLayerWS at a RawHttpServer. The client's endpoint is built
// only by LogOn, so this runs one LogOn against the raw server (answered
// with LogResult 0) and then forgets that request.
//
// The port text decides the runtime's string mode ("8085": UTF-8), so it
// can be chosen independently of the listener's real port: the server
// address becomes "127.0.0.1:<real port>/" and the endpoint
// "http://127.0.0.1:<real port>/:<port text>", whose path part the server
// ignores.
//
//     RawHttpServer server;
//     CDComLayerWS client;
//     QVERIFY(RpcTestClient::connect(client, server));
//     server.setReply(RawHttpServer::soapResponse("<ns:GetSecretLevelResponse>..."));
//     ... call the operation under test ...

#include "DComLayerWS.h"
#include "RawHttpServer.h"
#include "TavUserRecord.h"

#include <cstring>

namespace RpcTestClient
{

// A zero-filled logon record for user / password at address.
inline TavUserRecord logonRecord(const char* address, const char* user = "alice",
                                 const char* password = "0123456789ABCDEF0123456789ABCDEF",
                                 int logonMode = 0, int useSsl = 0)
{
    TavUserRecord r;
    memset(&r, 0, sizeof r);
    strncpy(r.UserName, user, sizeof r.UserName - 1);
    strncpy(r.Password, password, sizeof r.Password - 1);
    strncpy(r.ServerAddress, address, sizeof r.ServerAddress - 1);
    r.LogonMode = logonMode;
    r.UseSsl = useSsl;
    return r;
}

// portText null: the listener's own port. Returns true when LogOn gave 0.
inline bool connect(CDComLayerWS& client, RawHttpServer& server, const char* portText = nullptr)
{
    client.InitDCOM();
    QByteArray address = "127.0.0.1";
    if (portText) {
        client.SetPort(portText);
        address += ":" + server.portText() + "/";
    } else {
        client.SetPort(server.portText().constData());
    }
    RawHttpServer::Reply logon;
    logon.bytes = RawHttpServer::soapResponse(
        "<ns:UserLogonResponse><LogResult>0</LogResult></ns:UserLogonResponse>");
    server.queueReply(logon);
    TavUserRecord record = logonRecord(address.constData());
    const int before = server.requestCount();
    const int result = client.LogOn(&record);
    server.waitForRequests(before + 1, 5000);
    server.clearRequests();
    return result == 0;
}

} // namespace RpcTestClient
