// The common layer: GB18030 texts, the fixed paths, the host identity's choice; work off the GUI
// thread. (Bounded copies: where fields are filled, in the configuration, event log and job
// options tests.)
#include "Background.h"
#include "EnvGuard.h"
#include "EventLog.h"
#include "SystemPaths.h"
#include "TavCommon.h"

#include <QtTest>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

class TestCommon : public QObject
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

    void fixedPathsAreRelocatable()
    {
        EnvGuard env;
        char buffer[256];
        env.set(SystemPaths::kRootPrefixVariable, "/tmp/orix-root/");
        GetCurrentFolder(buffer, sizeof buffer);
        QCOMPARE(QByteArray(buffer),
                 QByteArray("/tmp/orix-root/Library/Application Support/TavPrint Driver/"));
        QCOMPARE(SystemPaths::varTmp(), QByteArray("/tmp/orix-root/var/tmp"));
        // A buffer too small for the folder gets a terminated cut.
        char small[10];
        memset(small, 'x', sizeof small);
        QVERIFY(GetCurrentFolder(small, sizeof small) > sizeof small);
        QCOMPARE(strlen(small), sizeof small - 1);
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

    void runResponsive()
    {
        // The caller's events keep flowing (the main window's stall meter); results and
        // exceptions come back with their types.
        QCOMPARE(Background::RunResponsive([] { return 42; }), 42);
        QVERIFY_EXCEPTION_THROWN(Background::RunResponsive([]() -> int { throw 0x80000000u; }),
                                 unsigned int);
        QVERIFY_EXCEPTION_THROWN(Background::RunResponsive([] { throw std::runtime_error("x"); }),
                                 std::runtime_error);
    }

    void taskGroupDeliversToLiveReceiversOnly()
    {
        QObject receiver;
        const QThread* deliveredOn = nullptr;
        int result = 0;
        bool called = false;
        std::atomic<bool> finished{false};
        {
            Background::TaskGroup group;
            group.run(
                "seven", &receiver, [] { return 7; },
                [&](int r) {
                    result = r;
                    deliveredOn = QThread::currentThread();
                });
            QTRY_COMPARE(result, 7);
            QCOMPARE(deliveredOn, QThread::currentThread());
            QObject* shortLived = new QObject; // gone before the work ends: hears nothing
            group.run(
                "short-lived", shortLived,
                [&] {
                    std::this_thread::sleep_for(200ms);
                    finished = true;
                },
                [&] { called = true; });
            delete shortLived;
            // A fault ends at the thread's boundary (logged): nothing is delivered.
            group.run(
                "fault", &receiver, []() -> int { throw std::runtime_error("x"); },
                [&](int) { called = true; });
        } // the group waits for its work
        QVERIFY(finished);
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }

    void exceptionsInWords()
    {
        // What the handlers at a thread's or the event loop's boundary log.
        QCOMPARE(ExceptionText(std::make_exception_ptr(std::runtime_error("no route"))),
                 QByteArray("std::runtime_error: no route"));
        QCOMPARE(ExceptionText(std::make_exception_ptr(0x80000000u)), QByteArray("unsigned int"));
        QCOMPARE(ExceptionText(nullptr), QByteArray("no exception"));
    }
};

QTEST_GUILESS_MAIN(TestCommon)
#include "tst_common.moc"
