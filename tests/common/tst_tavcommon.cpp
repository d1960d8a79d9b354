#include "SystemPaths.h"
#include "TavCommon.h"
#include "TestRoot.h"
#include "TextUtil.h"

#include <QtTest>

#include <cstdint>
#include <cstring>

class TestTavCommon : public QObject
{
    Q_OBJECT

private slots:
    void gbkRoundTrip_data();
    void gbkRoundTrip();
    void gbkConversionEdges();
    void userNameFromHome_data();
    void userNameFromHome();
    void fileSizes();
    void programFolderIsRelocatable();
    void lengthPrefixedBlock();
    void boundedCopies();
    void hostIdentityIsCutToBuffers();
    void hostIdentityChoice_data();
    void hostIdentityChoice();
};

void TestTavCommon::gbkRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("chinese") << QString::fromUtf8("财务部 打印机（三楼）");
    QTest::newRow("mixed") << QString::fromUtf8("report-2026 审批通过!");
    QTest::newRow("four-byte gb18030") << QString::fromUtf8("𠀀 rare");
    QTest::newRow("ascii") << QStringLiteral("plain text");
}

void TestTavCommon::gbkRoundTrip()
{
    QFETCH(QString, text);
    QByteArray gbk = UTF82GBK(text.toUtf8().constData());
    QVERIFY(!gbk.isEmpty());
    QCOMPARE(GBK2UTF8(gbk.constData()), text);
}

void TestTavCommon::gbkConversionEdges()
{
    QCOMPARE(GBK2UTF8(""), QString());
    QCOMPARE(GBK2UTF8(nullptr), QString());
    // Two bytes per common Chinese character in GBK.
    QCOMPARE(UTF82GBK("中文").size(), 4);
    // Known GBK bytes of "打印".
    QCOMPARE(GBK2UTF8("\xB4\xF2\xD3\xA1"), QString::fromUtf8("打印"));
}

void TestTavCommon::userNameFromHome_data()
{
    QTest::addColumn<QByteArray>("home");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain") << QByteArray("/home/alice") << QStringLiteral("alice");
    QTest::newRow("nested") << QByteArray("/srv/users/bob") << QStringLiteral("bob");
    QTest::newRow("trailing slash") << QByteArray("/home/alice/") << QString();
}

void TestTavCommon::userNameFromHome()
{
    QFETCH(QByteArray, home);
    QFETCH(QString, name);
    const QByteArray old = qgetenv("HOME");
    qputenv("HOME", home);
    const QString got = getUserName();
    qputenv("HOME", old);
    QCOMPARE(got, name);
}

void TestTavCommon::fileSizes()
{
    QTemporaryDir dir;
    const QByteArray missing = QFile::encodeName(dir.path() + "/missing.pdf");
    unsigned int size = 777;
    QCOMPARE(GetFileSize(missing.constData(), &size), -1);
    QCOMPARE(size, 777u);
    long long big = 555;
    QCOMPARE(GetBigFileSize(missing.constData(), &big), -1);
    QCOMPARE(big, 555LL);

    const QByteArray empty = QFile::encodeName(dir.path() + "/empty");
    QFile(QString::fromUtf8(empty)).open(QIODevice::WriteOnly);
    QCOMPARE(GetFileSize(empty.constData(), &size), 0);
    QCOMPARE(size, 0u);

    const QByteArray some = QFile::encodeName(dir.path() + "/文档.pdf");
    {
        QFile f(QString::fromUtf8(some));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(102401, 'x'));
    }
    QCOMPARE(GetFileSize(some.constData(), &size), 0);
    QCOMPARE(size, 102401u);
    QCOMPARE(GetBigFileSize(some.constData(), &big), 0);
    QCOMPARE(big, 102401LL);
}

void TestTavCommon::programFolderIsRelocatable()
{
    const QByteArray old = qgetenv(SystemPaths::kRootPrefixVariable);
    qunsetenv(SystemPaths::kRootPrefixVariable);
    char buffer[256];
    GetCurrentFolder(buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer), QByteArray("/Library/Application Support/TavPrint Driver/"));
    QCOMPARE(SystemPaths::varTmp(), QByteArray("/var/tmp"));
    QCOMPARE(SystemPaths::spoolRoot(), QByteArray("/var/spool/cups-pdf/"));
    QCOMPARE(SystemPaths::lockFileBase(), QByteArray("/var/tmp/lockfile"));
    QCOMPARE(SystemPaths::signalFolder(), QByteArray("/var/tmp/Tavlockfilepath"));

    qputenv(SystemPaths::kRootPrefixVariable, "/tmp/orix-root/");
    GetCurrentFolder(buffer, sizeof buffer);
    QCOMPARE(QByteArray(buffer),
             QByteArray("/tmp/orix-root/Library/Application Support/TavPrint Driver/"));
    QCOMPARE(SystemPaths::varTmp(), QByteArray("/tmp/orix-root/var/tmp"));

    // A buffer too small for the folder gets a terminated cut.
    char small[10];
    memset(small, 'x', sizeof small);
    QVERIFY(GetCurrentFolder(small, sizeof small) > sizeof small);
    QCOMPARE(strlen(small), sizeof small - 1);
    qputenv(SystemPaths::kRootPrefixVariable, old);
}

void TestTavCommon::lengthPrefixedBlock()
{
    char* block = SysAllocStringLen(nullptr, 5);
    QVERIFY(block);
    QCOMPARE(SysStringLen(block), 5u);
    uint32_t stored = 0;
    memcpy(&stored, block - 4, 4);
    QCOMPARE(stored, 5u);
    for (int i = 0; i < 12; ++i) // payload and the two zero bytes behind it
        QCOMPARE(block[i], '\0');
    SysFreeString(block);

    // Seven bytes of text: count 3, all seven bytes kept, terminated.
    const char text[] = "P1;P2;X";
    block = SysAllocStringLen(nullptr, 7 / 2);
    memcpy(block, text, 7);
    QCOMPARE(SysStringLen(block), 3u);
    QCOMPARE(QByteArray(block), QByteArray(text));
    SysFreeString(block);

    block = SysAllocStringLen("abcd", 2);
    QCOMPARE(QByteArray(block), QByteArray("abcd"));
    SysFreeString(block);
    SysFreeString(nullptr);
}

void TestTavCommon::boundedCopies()
{
    char buf[8];
    QCOMPARE(CopyText(buf, sizeof buf, "0123456789"), size_t(7));
    QCOMPARE(QByteArray(buf), QByteArray("0123456"));
    QCOMPARE(CopyText(buf, sizeof buf, nullptr), size_t(0));
    QCOMPARE(buf[0], '\0');

    // "审批" is 6 UTF-8 bytes; a 6-byte field holds 5 bytes: only the first
    // character fits whole.
    char six[6];
    QCOMPARE(CopyUtf8Text(six, sizeof six, "审批"), size_t(3));
    QCOMPARE(QString::fromUtf8(six), QString::fromUtf8("审"));
    char seven[7];
    QCOMPARE(CopyUtf8Text(seven, sizeof seven, "审批"), size_t(6));
    char four[4];
    QCOMPARE(CopyUtf8Text(four, sizeof four, "a€"), size_t(1)); // € is three bytes

    // GBK: never split a two-byte character.
    const QByteArray gbk = UTF82GBK("打印机");
    char five[5];
    QCOMPARE(CopyGbkText(five, sizeof five, gbk.constData()), size_t(4));
    QCOMPARE(GBK2UTF8(five), QString::fromUtf8("打印"));

    char formatted[10];
    QCOMPARE(FormatText(formatted, sizeof formatted, "%s-%d", "abcdefgh", 42), size_t(9));
    QCOMPARE(QByteArray(formatted), QByteArray("abcdefgh-"));
}

void TestTavCommon::hostIdentityIsCutToBuffers()
{
    char ip[64], mac[64];
    QCOMPARE(getIPMAC(ip, mac, sizeof ip, sizeof mac), 1);
    QCOMPARE(QString::fromUtf8(ip), get_localmachine_ip());
    QCOMPARE(QString::fromUtf8(mac), get_localmachine_mac());
    QVERIFY(!QHostAddress(QString::fromUtf8(ip)).isNull());

    // Tiny buffers with guard bytes around them: nothing is written past them.
    struct {
        char ip[4];
        char guard1[4];
        char mac[3];
        char guard2[4];
    } small;
    memset(&small, 'G', sizeof small);
    getIPMAC(small.ip, small.mac, sizeof small.ip, sizeof small.mac);
    QCOMPARE(QByteArray(small.guard1, 4), QByteArray("GGGG"));
    QCOMPARE(QByteArray(small.guard2, 4), QByteArray("GGGG"));
    QVERIFY(memchr(small.ip, 0, sizeof small.ip));
    QVERIFY(memchr(small.mac, 0, sizeof small.mac));
}

void TestTavCommon::hostIdentityChoice_data()
{
    QTest::addColumn<QStringList>("addresses"); // in the platform's order
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QStringList>("interfaces"); // flags (u up, r running, l loop-back):address
    QTest::addColumn<QString>("mac");
    QTest::newRow("IPv6 and loop-back first")
        << QStringList{"::1", "fe80::1", "127.0.0.1", "0.0.0.0", "10.0.0.5", "192.168.1.2"}
        << "10.0.0.5"
        << QStringList{"url:00:00:00:00:00:00", "u:AA:00:00:00:00:01", "ur:AA:00:00:00:00:02",
                       "ur:AA:00:00:00:00:03"}
        << "AA:00:00:00:00:02";
    QTest::newRow("only loop-back") << QStringList{"127.0.0.1", "::1"} << "127.0.0.1"
                                    << QStringList{"url:00:00:00:00:00:00"} << "";
    QTest::newRow("another loop-back address counts")
        << QStringList{"127.0.0.2"} << "127.0.0.2" << QStringList{"r:AA:00:00:00:00:04"} << "";
    QTest::newRow("nothing") << QStringList() << "127.0.0.1" << QStringList() << "";
}

void TestTavCommon::hostIdentityChoice()
{
    QFETCH(QStringList, addresses);
    QFETCH(QStringList, interfaces);
    QList<QHostAddress> hostAddresses;
    for (const QString& a : addresses)
        hostAddresses << QHostAddress(a);
    QList<HostInterface> hostInterfaces;
    for (const QString& i : interfaces) {
        const QString flags = i.section(':', 0, 0);
        QNetworkInterface::InterfaceFlags f;
        f.setFlag(QNetworkInterface::IsUp, flags.contains('u'));
        f.setFlag(QNetworkInterface::IsRunning, flags.contains('r'));
        f.setFlag(QNetworkInterface::IsLoopBack, flags.contains('l'));
        hostInterfaces.append({f, i.section(':', 1)});
    }
    QTEST(ChooseLocalIp(hostAddresses), "ip");
    QTEST(ChooseLocalMac(hostInterfaces), "mac");
}

QTEST_GUILESS_MAIN(TestTavCommon)
#include "tst_tavcommon.moc"
