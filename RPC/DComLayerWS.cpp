#include "DComLayerWS.h"

#include "KeptConnections.h"
#include "ProxyChoice.h"
#include "SoapCall.h"
#include "SoapTransport.h"
#include "TavCommon.h"
#include "TavUserRecord.h"
#include "TextUtil.h"

#include <climits>
#include <cstring>
#include <mutex>
#include <sys/socket.h>

// Connection, logon and the runtime settings every operation starts from.

namespace
{

constexpr int kTimeoutSeconds = 30;

// The longest a call may spend sending its request and receiving the answer,
// however the server trickles it (an upload sets its own, SoapCall).
constexpr int kTransferTimeoutSeconds = 60;

// Guards the endpoint, the port text and the HTTPS flag of every client: a
// logon rewrites them while calls on other threads (a poll, an upload) take
// their copy.
std::mutex& connectionMutex()
{
    static std::mutex mutex;
    return mutex;
}

} // namespace

CDComLayerWS::CDComLayerWS()
{
    memset(m_Endpoint, 0, sizeof m_Endpoint);
    memset(m_Port, 0, sizeof m_Port);
    memset(m_Proxy, 0, sizeof m_Proxy);
    m_UseHttps = 0;
}

CDComLayerWS::~CDComLayerWS() = default;

int CDComLayerWS::InitDCOM()
{
    InitServerPort();
    return RpcResult::kOk;
}

int CDComLayerWS::InitServerPort()
{
    std::lock_guard<std::mutex> lock(connectionMutex());
    memset(m_Port, 0, sizeof m_Port);
    CopyText(m_Port, sizeof m_Port, kUtf8ServicePort);
    return RpcResult::kOk;
}

int CDComLayerWS::UninitDCom()
{
    return RpcResult::kOk;
}

void CDComLayerWS::SetPort(const char* port)
{
    std::lock_guard<std::mutex> lock(connectionMutex());
    CopyText(m_Port, sizeof m_Port, port);
}

void CDComLayerWS::SetProxy(const char* setting)
{
    std::lock_guard<std::mutex> lock(connectionMutex());
    CopyText(m_Proxy, sizeof m_Proxy, setting ? setting : "");
}

int CDComLayerWS::InitSoap(OrWSProxy& proxy)
{
    struct soap* soap = proxy.soap;

    // The call works on its own copy of the connection settings.
    char endpoint[sizeof m_Endpoint];
    char proxySetting[sizeof m_Proxy];
    bool utf8;
    bool https;
    {
        std::lock_guard<std::mutex> lock(connectionMutex());
        memcpy(endpoint, m_Endpoint, sizeof endpoint);
        memcpy(proxySetting, m_Proxy, sizeof proxySetting);
        utf8 = IsUtf8ServicePort(m_Port);
        https = m_UseHttps != 0;
    }

    // Chunked HTTP both ways; the request size need not be known in advance,
    // so attachments stream straight from their files.
    soap_set_imode(soap, SOAP_IO_CHUNK);
    soap_set_omode(soap, SOAP_IO_CHUNK);

    soap->fdimereadopen = SoapDime::ReadOpen;
    soap->fdimeread = SoapDime::Read;
    soap->fdimereadclose = SoapDime::ReadClose;

    soap->recv_timeout = kTimeoutSeconds;
    soap->send_timeout = kTimeoutSeconds;
    soap->connect_timeout = kTimeoutSeconds;
    soap->transfer_timeout = kTransferTimeoutSeconds;
    // A peer that hangs up must fail the call, not end the process.
    soap->socket_flags = MSG_NOSIGNAL;
    // Name lookups of the server are bounded too.
    SoapTransport::BoundNameResolution(soap);

    // Lives in the context, as long as the call.
    proxy.soap_endpoint = soap_strdup(soap, endpoint);
    // Without a host in the endpoint (never logged on, empty server address)
    // the runtime would talk through standard output and standard input.
    // With no descriptors to fall back on, such a call fails at once.
    soap->sendfd = -1;
    soap->recvfd = -1;

    // The UTF-8 service's port; the others speak Latin-1 strings, byte for
    // byte.
    if (utf8) {
        soap_set_imode(soap, SOAP_C_UTFSTRING);
        soap_set_omode(soap, SOAP_C_UTFSTRING);
    } else {
        soap_clr_imode(soap, SOAP_C_UTFSTRING);
        soap_clr_omode(soap, SOAP_C_UTFSTRING);
    }

    // The proxy the administrator set, or the environment's. HTTPS goes
    // through it with CONNECT; the certificate is still checked against the
    // server's name.
    const ProxyChoice viaProxy =
        ProxyChoice::For(proxySetting, https, ProxyChoice::HostOf(endpoint));
    if (viaProxy.use) {
        soap->proxy_host = soap_strdup(soap, viaProxy.host.c_str());
        soap->proxy_port = viaProxy.port;
        if (!viaProxy.user.empty()) {
            soap->proxy_userid = soap_strdup(soap, viaProxy.user.c_str());
            soap->proxy_passwd = soap_strdup(soap, viaProxy.password.c_str());
        }
    }

    if (https) {
        // The server's certificate must chain to a certificate authority of
        // the system store (default verify paths: an administrator adds a
        // private authority there) and name the endpoint's host. A failure
        // to set this up stays in soap->error and fails the call.
        SoapTransport::UseClientTls(soap);
    }
    // The connection stays open for the next call when the server agrees.
    KeptConnections::Prepare(soap);
    return RpcResult::kOk;
}

SoapContext CDComLayerWS::NewCallContext()
{
    SoapContext context = NewSoapContext();
    if (context)
        InitSoap(*context);
    return context;
}

// Receives the UserLogon answer. Unlike the generated receiver, an answer
// without a LogResult (or with a nil one) is an error of the exchange: it must
// not read as the 0 that means "accepted".
static int ReceiveLogResult(struct soap* soap, LONG64* logResult)
{
    if (soap_begin_recv(soap) || soap_envelope_begin_in(soap) || soap_recv_header(soap) ||
        soap_body_begin_in(soap))
        return soap_closesock(soap);
    if (soap_recv_fault(soap, 1))
        return soap->error;
    ns__UserLogonResponse* response = soap_get_ns__UserLogonResponse(soap, nullptr, "", nullptr);
    if (!response || soap->error)
        return soap_recv_fault(soap, 0);
    if (soap_body_end_in(soap) || soap_envelope_end_in(soap) || soap_end_recv(soap))
        return soap_closesock(soap);
    if (!response->LogResult) {
        soap_closesock(soap);
        return soap->error = SOAP_NO_TAG;
    }
    *logResult = *response->LogResult;
    return soap_closesock(soap);
}

int CDComLayerWS::LogOn(void* logonRecord)
{
    const TavUserRecord* record = static_cast<const TavUserRecord*>(logonRecord);
    {
        // Built before the context so that InitSoap sees the scheme it prepares.
        std::lock_guard<std::mutex> lock(connectionMutex());
        m_UseHttps = record->UseSsl;
        FormatText(m_Endpoint, sizeof m_Endpoint, m_UseHttps ? "https://%s:%s" : "http://%s:%s",
                   record->ServerAddress, m_Port);
    }

    SoapCall call(NewCallContext());
    if (!call.ok())
        return RpcResult::kLogonNoContext;

    LONG64 logResult = -1;
    int status = call.proxy().send_UserLogon(
        call.endpoint(), nullptr, const_cast<char*>(record->UserName),
        const_cast<char*>(record->Password), static_cast<LONG64>(record->LogonMode));
    if (status == SOAP_OK)
        status = ReceiveLogResult(call.soap(), &logResult);
    if (status != SOAP_OK)
        return status > 0 ? -status : status; // SOAP_EOF is already negative

    // 0 is the only acceptance. Any other answer is a refusal and stays
    // non-zero: a negative code is passed on as it is (the dialog shows it
    // as a failure code), and a code beyond the int range must not be cut
    // down to 0.
    if (logResult > INT_MAX)
        return INT_MAX;
    if (logResult < INT_MIN)
        return INT_MIN;
    return static_cast<int>(logResult);
}

void CDComLayerWS::ErrorDescription(long code)
{
    throw RpcFailure(code);
}

bool CDComLayerWS::IsUtf8ServicePort(const char* port)
{
    return strcmp(port, kUtf8ServicePort) == 0;
}

bool CDComLayerWS::UsesUtf8Strings() const
{
    std::lock_guard<std::mutex> lock(connectionMutex());
    return IsUtf8ServicePort(m_Port);
}

void CDComLayerWS::GetClientIpMac(QString& ip, QString& mac)
{
    char ipText[64];
    char macText[64];
    getIPMAC(ipText, macText, sizeof ipText, sizeof macText);
    ip = QString::fromUtf8(ipText);
    mac = QString::fromUtf8(macText);
}
