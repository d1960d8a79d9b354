#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QString>
#include <cstddef>

// Stateless helpers shared by every layer of the client: the server's
// GB18030 text versus the UTF-8 of the user interface, the identity of the
// host, file sizes, the program folder and the length-prefixed string block
// that carries the printer list.

// GB18030 bytes (NUL-terminated) to a QString. A null text gives an empty
// string.
QString GBK2UTF8(const char* text);

// UTF-8 bytes (NUL-terminated) to GB18030 bytes.
QByteArray UTF82GBK(const char* text);

// GB18030 text (NUL-terminated) into a fixed-width UTF-8 field, cut like
// CopyUtf8Text. Returns the number of bytes copied.
size_t CopyGbkAsUtf8Text(char* dst, size_t dstSize, const char* gbk);

// The text at p up to its first zero byte, but never more than n bytes: a
// text without its terminator ends where the n bytes end. Null p gives an
// empty text.
QByteArray BoundedText(const char* p, size_t n);

// The choice rules of the host identity over lists in the platform's order.
// The first IPv4 address that is neither 127.0.0.1 nor 0.0.0.0; "127.0.0.1"
// when there is none.
QString ChooseLocalIp(const QList<QHostAddress>& addresses);
// The hardware address of the first interface that is up and running and not
// a loop-back; empty when there is none.
struct HostInterface {
    QNetworkInterface::InterfaceFlags flags;
    QString hardwareAddress;
};
QString ChooseLocalMac(const QList<HostInterface>& interfaces);

// First IPv4 address of the host that is neither 127.0.0.1 nor 0.0.0.0, in
// the order the platform lists them; "127.0.0.1" when there is none.
QString get_localmachine_ip();

// Hardware address of the first interface that is up and running and not a
// loop-back; empty when there is none.
QString get_localmachine_mac();

// Fills ip and mac with the two texts above, NUL-terminated and cut to the
// buffers' sizes. Always returns 1.
int getIPMAC(char* ip, char* mac, size_t ipSize = 16, size_t macSize = 18);

// Last "/"-separated section of the user's home folder ("" when the home
// folder path ends in a slash).
QString getUserName();

// Size of the file at path, when it can be opened for reading; else -1 and
// *size is left unchanged.
int GetFileSize(const char* path, unsigned int* size);

// 64-bit size of the file at path through stdio; else -1 and *size is left
// unchanged.
int GetBigFileSize(const char* path, long long* size);

// Writes the program folder ("/Library/Application Support/TavPrint Driver/"
// in production) into buffer, cut to bufferSize. Returns the length of the
// full folder name, so a caller can tell a cut.
size_t GetCurrentFolder(char* buffer, size_t bufferSize);

// Length-prefixed string block: a 32-bit count of 16-bit units, count * 2
// bytes of payload and two zero bytes, so a text of 2 * count + 1 bytes
// still fits with its terminator. The pointer handed out points
// at the payload. Returns null when the block cannot be allocated.
char* SysAllocStringLen(const void* source, unsigned int count);
unsigned int SysStringLen(const void* p);
void SysFreeString(void* p);
