#pragma once

#include "EventLog.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QThread>

#include <atomic>
#include <exception>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

// Work that may wait on the network or on a slow file runs off the GUI
// thread, so that the window repaints, the timers tick and the tray menu
// opens while it waits. Two shapes:
//
// - Background::RunResponsive(work): for code whose order matters (a logon
//   sequence, a job submission): the caller keeps its plain, sequential
//   form. The work runs on a thread of its own while a local event loop
//   keeps the caller's thread alive; the call returns the work's result or
//   raises its exception again, as if the work had run in place. Callers
//   guard against re-entry (disable the button that started the work).
//
// - Background::TaskGroup::run(receiver, work, done): fire and forget (a
//   poll). done(result) runs later on the receiver's thread, unless the
//   receiver is gone by then. The group waits for its work when destroyed,
//   so an owner that declares the group after the data the work uses never
//   frees that data under a running worker.
namespace Background
{

namespace Detail
{

// The result of one piece of work: a value, or the exception it raised. A
// thread's boundary: whatever the work throws is carried over to the thread
// that waits for it (RunResponsive raises it again there; TaskGroup logs it).
template <typename R> struct Outcome {
    std::optional<R> value;
    std::exception_ptr error;
    template <typename Work> void capture(Work& work)
    {
        try {
            value.emplace(work());
        } catch (...) {
            error = std::current_exception();
        }
    }
    R take()
    {
        if (error)
            std::rethrow_exception(error);
        return std::move(*value);
    }
};

template <> struct Outcome<void> {
    std::exception_ptr error;
    template <typename Work> void capture(Work& work)
    {
        try {
            work();
        } catch (...) {
            error = std::current_exception();
        }
    }
    void take()
    {
        if (error)
            std::rethrow_exception(error);
    }
};

} // namespace Detail

// True on the thread that runs the Qt application's event loop.
inline bool OnApplicationThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Runs work on a thread of its own and returns its result, processing this
// thread's events meanwhile. Off the application's thread (or without an
// application) the work simply runs in place.
template <typename Work> auto RunResponsive(Work&& work) -> std::invoke_result_t<Work&>
{
    using R = std::invoke_result_t<Work&>;
    if (!OnApplicationThread())
        return work();

    Detail::Outcome<R> outcome;
    std::atomic<bool> done{false};
    QEventLoop loop;
    std::thread worker([&] {
        outcome.capture(work);
        done = true;
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    // The loop also ends when the application is told to quit; the work is
    // then waited for without serving events (every call it makes is
    // bounded by its own time-outs).
    if (!done)
        loop.exec();
    worker.join();
    return outcome.take();
}

// Fire-and-forget work whose result is handed back to a receiver.
class TaskGroup
{
public:
    TaskGroup() = default;
    TaskGroup(const TaskGroup&) = delete;
    TaskGroup& operator=(const TaskGroup&) = delete;
    ~TaskGroup() { waitAll(); }

    // Runs work on a thread of its own; then done(result) (or done() for
    // work without a result) on the receiver's thread, if the receiver
    // still exists. Work that can fail reports the failure in its result:
    // an exception that leaves it (a fault) ends at the thread's boundary,
    // logged with the operation's name, and done is not called. Throws
    // std::system_error when no thread can be started.
    template <typename Work, typename Done>
    void run(const char* operation, QObject* receiver, Work work, Done done)
    {
        reap();
        using R = std::invoke_result_t<Work&>;
        auto entry = std::make_shared<Entry>();
        QPointer<QObject> target(receiver);
        auto body = [entry, target, operation, work = std::move(work),
                     done = std::move(done)]() mutable {
            auto outcome = std::make_shared<Detail::Outcome<R>>();
            outcome->capture(work);
            if (outcome->error)
                LogException(operation, outcome->error);
            if (!outcome->error && target) {
                QMetaObject::invokeMethod(
                    target.data(),
                    [outcome, done = std::move(done)]() mutable {
                        if constexpr (std::is_void_v<R>)
                            done();
                        else
                            done(outcome->take());
                    },
                    Qt::QueuedConnection);
            }
            entry->finished = true;
        };
        std::lock_guard<std::mutex> lock(m_mutex);
        entry->thread = std::thread(std::move(body));
        m_entries.push_back(entry);
    }

    // Waits for every piece of work (their results are still delivered).
    void waitAll()
    {
        std::list<std::shared_ptr<Entry>> entries;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            entries.swap(m_entries);
        }
        for (auto& e : entries)
            if (e->thread.joinable())
                e->thread.join();
    }

private:
    struct Entry {
        std::thread thread;
        std::atomic<bool> finished{false};
    };

    // Joins the threads that are done, so the list stays short.
    void reap()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_entries.begin(); it != m_entries.end();) {
            if ((*it)->finished) {
                (*it)->thread.join();
                it = m_entries.erase(it);
            } else {
                ++it;
            }
        }
    }

    std::mutex m_mutex;
    std::list<std::shared_ptr<Entry>> m_entries;
};

// Runs fn on the application's thread and waits for it (used by code on a
// worker that must show a box, which only the GUI thread may do). On the
// application's thread, or without an application, fn runs in place.
template <typename Fn> void OnApplicationThreadBlocking(Fn&& fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
}

} // namespace Background
