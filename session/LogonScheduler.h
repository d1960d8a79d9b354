#pragma once

#include <QtGlobal>

#include <functional>

// The one place that decides when a logon may start. Every logon of the
// client asks it first and reports back when it has ended: the logon
// dialog's own (a click on 登录, or the automatic logon at offline entry),
// its background reconnect, and the sign-on plug-in's.
//
// - At most one logon is in flight: begin() refuses a second one.
// - After a failed logon, an automatic logon waits: the first wait is the
//   floor (5000 ms), every further failure doubles it up to the longest
//   (60000 ms), and each wait is drawn at random within ±spread of its
//   base (never below the floor), so that clients that failed together do
//   not come back together. A logon that goes through ends the waits.
// - A manual logon (the user clicked) starts at once whatever the wait.
//
// A plain class: the clock and the random source are handed in, so that a
// test can step time and fix the draws.
class LogonScheduler
{
public:
    enum class Trigger {
        Manual,    // the user asked for it
        Automatic, // the client does it by itself
    };

    // Monotonic milliseconds.
    using Clock = std::function<qint64()>;
    // Uniform in [0, 1).
    using Random = std::function<double()>;

    struct Policy {
        int FirstMs = 5000;    // the wait after the first failure, and the least wait
        int LongestMs = 60000; // the base wait stops doubling here
        double Spread = 0.2;   // each wait is its base times 1 ± Spread
    };

    // Empty functions: the process's monotonic clock and random generator.
    LogonScheduler();
    explicit LogonScheduler(const Policy& policy, Clock clock = {}, Random random = {});

    // Claims the one logon slot for a logon about to start. False when it
    // may not start now: another logon is in flight, or (automatic only) the
    // wait after the last failure is not over.
    bool begin(Trigger trigger);
    // The logon that began has ended. A failure (whoever started it) draws
    // the wait before the next automatic logon; success clears it.
    void end(bool accepted);

    bool inFlight() const { return m_InFlight; }
    // Milliseconds until an automatic logon may start as far as the waits
    // go; 0 when none is pending (a logon in flight is not counted).
    qint64 automaticDelay() const;
    // Failed logons since the last one that went through.
    int failures() const { return m_Failures; }
    const Policy& policy() const { return m_Policy; }

private:
    int drawWait() const;

    Policy m_Policy;
    Clock m_Clock;
    Random m_Random;
    bool m_InFlight = false;
    int m_Failures = 0;
    qint64 m_NotBefore = 0; // clock time from which an automatic logon may start
};
