// The shared helpers: GB18030 texts, the user's name, the fixed paths, the
// length-prefixed block, bounded copies and the host identity.
#include "SystemPaths.h"
#include "TavCommon.h"
#include "TextUtil.h"

#include <QtTest>

#include <cstdint>
#include <cstring>

class TestTavCommon : public QObject
{
    Q_OBJECT

private slots:
    void gbk_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("gbk"); // null: the round trip only
        QTest::newRow("two bytes a character") << "打印" << QByteArray("\xB4\xF2\xD3\xA1");
        QTest::newRow("four-byte character") << "𠀀 rare" << QByteArray();
        QTest::newRow("empty") << "" << QByteArray("");
    }

    void gbk()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, gbk);
        const QByteArray bytes = UTF82GBK(text.toUtf8().constData());
        if (!gbk.isNull())
            QCOMPARE(bytes, gbk);
        QCOMPARE(GBK2UTF8(bytes.constData()), text);
        QCOMPARE(GBK2UTF8(nullptr), QString());
    }

    void userNameFromHome_data()
    {
        QTest::addColumn<QByteArray>("home");
        QTest::addColumn<QString>("name");
        QTest::newRow("plain") << QByteArray("/home/alice") << QStringLiteral("alice");
        QTest::newRow("nested") << QByteArray("/srv/users/bob") << QStringLiteral("bob");
        QTest::newRow("trailing slash") << QByteArray("/home/alice/") << QString();
    }

    void userNameFromHome()
    {
        QFETCH(QByteArray, home);
        const QByteArray old = qgetenv("HOME");
        qputenv("HOME", home);
        const QString name = getUserName();
        qputenv("HOME", old);
        QTEST(name, "name");
    }

    void programFolderIsRelocatable()
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

    void lengthPrefixedBlock()
    {
        // Count 3: the count, 6 zero bytes and two more, so that 7 bytes end with a zero.
        char* block = SysAllocStringLen(nullptr, 3);
        uint32_t count = 0;
        memcpy(&count, block - 4, 4);
        QCOMPARE(count, 3u);
        QCOMPARE(SysStringLen(block), 3u);
        QCOMPARE(QByteArray(block, 8), QByteArray(8, '\0'));
        SysFreeString(block);
        block = SysAllocStringLen("abcd", 2);
        QCOMPARE(QByteArray(block), QByteArray("abcd"));
        SysFreeString(block);
        SysFreeString(nullptr);
    }

    void boundedCopies()
    {
        char buf[8];
        QCOMPARE(CopyText(buf, sizeof buf, "0123456789"), size_t(7));
        QCOMPARE(QByteArray(buf), QByteArray("0123456"));
        QCOMPARE(CopyText(buf, sizeof buf, nullptr), size_t(0));
        QCOMPARE(buf[0], '\0');
        // "审批" is 6 UTF-8 bytes: a 6-byte field holds only the first whole.
        char six[6], seven[7], four[4];
        QCOMPARE(CopyUtf8Text(six, sizeof six, "审批"), size_t(3));
        QCOMPARE(QString::fromUtf8(six), QString::fromUtf8("审"));
        QCOMPARE(CopyUtf8Text(seven, sizeof seven, "审批"), size_t(6));
        QCOMPARE(CopyUtf8Text(four, sizeof four, "a€"), size_t(1));
        // GBK: never a two-byte character split.
        char five[5];
        QCOMPARE(CopyGbkText(five, sizeof five, UTF82GBK("打印机").constData()), size_t(4));
        QCOMPARE(GBK2UTF8(five), QString::fromUtf8("打印"));
        char formatted[10];
        QCOMPARE(FormatText(formatted, sizeof formatted, "%s-%d", "abcdefgh", 42), size_t(9));
        QCOMPARE(QByteArray(formatted), QByteArray("abcdefgh-"));
    }

    void hostIdentityFitsItsBuffers()
    {
        char ip[64], mac[64];
        QCOMPARE(getIPMAC(ip, mac, sizeof ip, sizeof mac), 1);
        QCOMPARE(QString::fromUtf8(ip), get_localmachine_ip());
        QCOMPARE(QString::fromUtf8(mac), get_localmachine_mac());
        // Tiny buffers between guard bytes: cut, terminated, nothing written past them.
        struct {
            char ip[4];
            char guard1[4];
            char mac[3];
            char guard2[4];
        } small;
        memset(&small, 'G', sizeof small);
        getIPMAC(small.ip, small.mac, sizeof small.ip, sizeof small.mac);
        QCOMPARE(QByteArray(small.guard1, 4) + QByteArray(small.guard2, 4), QByteArray(8, 'G'));
        QVERIFY(memchr(small.ip, 0, sizeof small.ip) && memchr(small.mac, 0, sizeof small.mac));
    }

    void hostIdentityChoice_data()
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

    void hostIdentityChoice()
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
};

QTEST_GUILESS_MAIN(TestTavCommon)
#include "tst_tavcommon.moc"
