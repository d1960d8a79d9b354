#pragma once

// Helpers for calling the development server through the generated proxy
// the way the client does: a fresh context per call, chunked output, UTF-8
// strings.

#include "DevServerProcess.h"

#include "soapOrWSProxy.h"

#include <QByteArray>
#include <QTextCodec>

#include <cstring>
#include <sys/socket.h>
#include <memory>

// The service's namespace table (defined with the generated code).
extern SOAP_NMAC struct Namespace namespaces[];

// A proxy with its own context for one or a few calls.
inline std::unique_ptr<OrWSProxy> makeProxy()
{
    std::unique_ptr<OrWSProxy> proxy(new OrWSProxy(SOAP_IO_CHUNK | SOAP_C_UTFSTRING));
    soap_set_namespaces(proxy->soap, namespaces);
    proxy->soap->socket_flags = MSG_NOSIGNAL; // a peer that hangs up is an error, not a signal
    proxy->soap->connect_timeout = 10;
    proxy->soap->recv_timeout = 30;
    proxy->soap->send_timeout = 30;
    return proxy;
}

inline QByteArray bytesOf(const ns__Data& data)
{
    if (!data.__ptr || data.__size <= 0)
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(data.__ptr), data.__size);
}

inline QByteArray gbk(const QString& text)
{
    return QTextCodec::codecForName("GB18030")->fromUnicode(text);
}

inline QString fromGbk(const QByteArray& bytes)
{
    return QTextCodec::codecForName("GB18030")->toUnicode(bytes);
}

inline qint32 int32At(const QByteArray& bytes, int offset)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(bytes.at(offset + i));
    return static_cast<qint32>(v);
}

inline void putInt32(QByteArray& bytes, int offset, qint32 value)
{
    const quint32 v = static_cast<quint32>(value);
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Writes text (bytes as given) into a zero-filled field.
inline void putText(QByteArray& bytes, int offset, int width, const QByteArray& text)
{
    const int n = qMin(width - 1, text.size());
    memcpy(bytes.data() + offset, text.constData(), static_cast<size_t>(n));
}

// NUL-terminated text at offset (at most width bytes).
inline QByteArray textAt(const QByteArray& bytes, int offset, int width)
{
    const QByteArray field = bytes.mid(offset, width);
    const int end = field.indexOf('\0');
    return end < 0 ? field : field.left(end);
}
