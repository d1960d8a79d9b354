#include "DComLayerWS.h"

#include "TavCommon.h"
#include "TextUtil.h"

#include <cstring>

// Connection, logon and the per-call runtime context.

CDComLayerWS::CDComLayerWS()
{
    memset(m_Endpoint, 0, sizeof m_Endpoint);
    memset(m_Port, 0, sizeof m_Port);
    m_UseHttps = 0;
}

CDComLayerWS::~CDComLayerWS() = default;

int CDComLayerWS::InitDCOM()
{
    return InitServerPort();
}

int CDComLayerWS::InitServerPort()
{
    memset(m_Port, 0, sizeof m_Port);
    CopyText(m_Port, sizeof m_Port, "8085");
    return 0;
}

int CDComLayerWS::UninitDCom()
{
    return 0;
}

void CDComLayerWS::SetPort(const char* port)
{
    CopyText(m_Port, sizeof m_Port, port);
}

int CDComLayerWS::InitSoap(OrWSProxy&)
{
    return 0; // TODO(rpc-core)
}

int CDComLayerWS::LogOn(void*)
{
    return -20; // TODO(rpc-core)
}

void CDComLayerWS::ErrorDescription(long code)
{
    throw code;
}

void CDComLayerWS::GetClientIpMac(QString& ip, QString& mac)
{
    char ipText[64];
    char macText[64];
    getIPMAC(ipText, macText, sizeof ipText, sizeof macText);
    ip = QString::fromUtf8(ipText);
    mac = QString::fromUtf8(macText);
}
