#pragma once

// A SOAP transport that answers every connection with the fuzz input; nothing touches the network.

#include "DComLayerWS.h"
#include "SoapCall.h"
#include "TavUserRecord.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fcntl.h>

namespace FuzzTransport
{

struct Reply {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t position = 0;
};
inline Reply g_reply;
// A descriptor standing for the connection, which the runtime only hands back to the callbacks.
inline int g_connection = -1;

inline void Install(struct soap* soap)
{
    soap->fopen = [](struct soap*, const char*, const char*, int) -> SOAP_SOCKET {
        g_reply.position = 0; // every connection reads the reply from its start
        return g_connection;
    };
    soap->fsend = [](struct soap*, const char*, size_t) { return int(SOAP_OK); };
    soap->frecv = [](struct soap*, char* buffer, size_t length) {
        const size_t n = std::min(length, g_reply.size - g_reply.position);
        if (n > 0)
            memcpy(buffer, g_reply.data + g_reply.position, n);
        g_reply.position += n;
        return n;
    };
    soap->fclose = [](struct soap*) { return int(SOAP_OK); };
    soap->fclosesocket = [](struct soap*, SOAP_SOCKET) { return int(SOAP_OK); };
    soap->fshutdownsocket = [](struct soap*, SOAP_SOCKET, int) { return int(SOAP_OK); };
}

// The transport under every later operation, and the client's endpoint (8085: UTF-8 strings).
inline void Init(CDComLayerWS& client)
{
    g_connection = open("/dev/null", O_RDWR | O_CLOEXEC);
    SoapCall::SetContextHook(Install);
    client.SetPort("8085");
    TavUserRecord record{};
    strcpy(record.ServerAddress, "127.0.0.1");
    client.LogOn(&record); // builds the endpoint; the empty reply fails the call
}

inline void Serve(const uint8_t* data, size_t size)
{
    g_reply = {data, size, 0};
}

} // namespace FuzzTransport
