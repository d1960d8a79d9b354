#include "TavCommon.h"

#include "SystemPaths.h"
#include "TextUtil.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QStandardPaths>
#include <QTextCodec>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

QString GBK2UTF8(const char* text)
{
    if (!text)
        return QString();
    return QTextCodec::codecForName("GB18030")->toUnicode(text);
}

QByteArray UTF82GBK(const char* text)
{
    if (!text)
        return QByteArray();
    return QTextCodec::codecForName("GB18030")->fromUnicode(QString::fromUtf8(text));
}

size_t CopyGbkAsUtf8Text(char* dst, size_t dstSize, const char* gbk)
{
    return CopyUtf8Text(dst, dstSize, GBK2UTF8(gbk).toUtf8().constData());
}

QByteArray BoundedText(const char* p, size_t n)
{
    if (!p)
        return QByteArray();
    return QByteArray(p, static_cast<int>(strnlen(p, n)));
}

QString ChooseLocalIp(const QList<QHostAddress>& addresses)
{
    for (const QHostAddress& address : addresses) {
        if (address == QHostAddress(QHostAddress::LocalHost))
            continue;
        if (address.protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        if (address.toIPv4Address() == 0)
            continue;
        return address.toString();
    }
    return QHostAddress(QHostAddress::LocalHost).toString();
}

QString ChooseLocalMac(const QList<HostInterface>& interfaces)
{
    for (const HostInterface& iface : interfaces) {
        if ((iface.flags & QNetworkInterface::IsUp) &&
            (iface.flags & QNetworkInterface::IsRunning) &&
            !(iface.flags & QNetworkInterface::IsLoopBack))
            return iface.hardwareAddress;
    }
    return QString();
}

QString get_localmachine_ip()
{
    return ChooseLocalIp(QNetworkInterface::allAddresses());
}

QString get_localmachine_mac()
{
    QList<HostInterface> interfaces;
    for (const QNetworkInterface& iface : QNetworkInterface::allInterfaces())
        interfaces.append({iface.flags(), iface.hardwareAddress()});
    return ChooseLocalMac(interfaces);
}

int getIPMAC(char* ip, char* mac, size_t ipSize, size_t macSize)
{
    CopyText(ip, ipSize, get_localmachine_ip().toUtf8().constData());
    CopyText(mac, macSize, get_localmachine_mac().toUtf8().constData());
    return 1;
}

QString getUserName()
{
    // The home folder as the environment gives it: Qt's own home path is
    // cleaned of a trailing slash, which must leave the name empty here.
    QString home = QFile::decodeName(qgetenv("HOME"));
    if (home.isEmpty())
        home = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    return home.section('/', -1);
}

int GetFileSize(const char* path, unsigned int* size)
{
    QFile file(QString("%1").arg(QString::fromUtf8(path)));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qint64 bytes = file.size();
    file.close();
    if (size)
        *size = static_cast<unsigned int>(bytes);
    return 0;
}

int GetBigFileSize(const char* path, long long* size)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        return -1;
    long long end = -1;
    if (fseeko(f, 0, SEEK_END) == 0)
        end = static_cast<long long>(ftello(f));
    fclose(f);
    if (end < 0)
        return -1;
    if (size)
        *size = end;
    return 0;
}

size_t GetCurrentFolder(char* buffer, size_t bufferSize)
{
    const QByteArray folder = SystemPaths::programFolder();
    CopyText(buffer, bufferSize, folder.constData());
    return static_cast<size_t>(folder.size());
}

char* SysAllocStringLen(const void* source, unsigned int count)
{
    const size_t payload = static_cast<size_t>(count) * 2;
    // Two zero bytes behind the payload (a 16-bit terminator): a text of an
    // odd byte length (count = length / 2, rounded down) still fits whole in
    // the payload plus its first trailing byte and keeps a terminator.
    char* block = static_cast<char*>(calloc(1, payload + 6));
    if (!block)
        return nullptr;
    uint32_t stored = count;
    memcpy(block, &stored, sizeof stored);
    if (source)
        memcpy(block + 4, source, payload);
    return block + 4;
}

unsigned int SysStringLen(const void* p)
{
    if (!p)
        return 0;
    uint32_t count;
    memcpy(&count, static_cast<const char*>(p) - 4, sizeof count);
    return count;
}

void SysFreeString(void* p)
{
    if (p)
        free(static_cast<char*>(p) - 4);
}
