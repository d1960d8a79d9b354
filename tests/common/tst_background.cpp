// Work off the GUI thread: results and exceptions come back where they were asked for, the
// caller's events keep flowing while it waits, and a task group never outlives its work.
#include "Background.h"

#include <QTimer>
#include <QtTest>

#include <chrono>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

class TestBackground : public QObject
{
    Q_OBJECT

private slots:
    void runResponsive()
    {
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(10);
        const QThread* ranOn = nullptr;
        const QThread* blockingOn = nullptr;
        QCOMPARE(Background::RunResponsive([&] {
                     ranOn = QThread::currentThread();
                     Background::OnApplicationThreadBlocking(
                         [&] { blockingOn = QThread::currentThread(); });
                     std::this_thread::sleep_for(300ms);
                     return 42;
                 }),
                 42);
        QVERIFY(ranOn != QThread::currentThread() && blockingOn == QThread::currentThread());
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks))); // the loop kept running
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
                &receiver, [] { return 7; },
                [&](int r) {
                    result = r;
                    deliveredOn = QThread::currentThread();
                });
            QTRY_COMPARE(result, 7);
            QCOMPARE(deliveredOn, QThread::currentThread());
            QObject* shortLived = new QObject; // gone before the work ends: hears nothing
            group.run(
                shortLived,
                [&] {
                    std::this_thread::sleep_for(200ms);
                    finished = true;
                },
                [&] { called = true; });
            delete shortLived;
        } // the group waits for its work
        QVERIFY(finished);
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }
};

QTEST_GUILESS_MAIN(TestBackground)
#include "tst_background.moc"
