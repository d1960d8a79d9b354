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
    void runResponsiveServesEventsAndReturns()
    {
        int ticks = 0;
        QTimer timer;
        connect(&timer, &QTimer::timeout, [&] { ++ticks; });
        timer.start(10);
        const QThread* caller = QThread::currentThread();
        const QThread* ranOn = nullptr;
        const int value = Background::RunResponsive([&] {
            ranOn = QThread::currentThread();
            std::this_thread::sleep_for(300ms);
            return 42;
        });
        QCOMPARE(value, 42);
        QVERIFY(ranOn != caller);
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks))); // the loop kept running

        // An exception of the work is raised again here, with its type.
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

            // A receiver that is gone before the work ends hears nothing.
            QObject* shortLived = new QObject;
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

    void blockingCallFromAWorkerRunsOnTheApplicationThread()
    {
        const QThread* ranOn = nullptr;
        Background::RunResponsive([&] {
            Background::OnApplicationThreadBlocking([&] { ranOn = QThread::currentThread(); });
        });
        QCOMPARE(ranOn, QThread::currentThread());
    }
};

QTEST_GUILESS_MAIN(TestBackground)
#include "tst_background.moc"
