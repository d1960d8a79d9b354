#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <chrono>

// The user's spool folder, looked at without following links: the PDF
// printer writes each job as a sub-folder holding "job.pdf" and "options".
// Plain POSIX calls on descriptors; no Qt event loop, no widgets.
namespace SpoolFolder
{

enum class Check {
    Usable,
    Missing,      // nothing at the path
    NotAFolder,   // a link (never followed) or something else
    ForeignOwner, // owned by somebody else than the user
    OpenToOthers, // writable by the group or by everybody
    Unreadable,
};

// Short English reason for the event log.
const char* Describe(Check check);

// Opens the folder at path for reading without following a link in its last
// component. It is usable when it is a folder owned by this process's user
// or by the local user named userName (the owner of the jobs the printer
// writes there), and writable by nobody else. Returns a descriptor (close
// it) or -1 with the reason in *check.
int Open(const QByteArray& path, const QByteArray& userName, Check* check);

// Creates the folder at path, mode 0700, and the folders above it.
bool Create(const QByteArray& path);

// The job folders in the folder dirFd: sub-folders (not links), hidden
// entries left out, sorted by name ignoring case.
QStringList JobFolders(int dirFd);

// What a job folder holds.
struct JobFiles {
    int Files = 0;         // plain files (not links), hidden ones left out
    bool Complete = false; // exactly two: "job.pdf" and "options"
    QByteArray Contents;   // names, sizes and times: changes while it is written
};
JobFiles Examine(int dirFd, const QString& name);

// Renames the job folder to a hidden name beside it (".incomplete-<name>",
// with a number added when that is taken). The new name, or empty.
QString SetAside(int dirFd, const QString& name);

} // namespace SpoolFolder

// The values of the handshake between the spool folder's worker and the GUI
// thread (m_nMonitorFolderState).
namespace MonitorFolderState
{
enum : int {
    Idle = 0,       // no job is being handled
    JobSeen = 1,    // a job folder is there, the first one not yet complete
    HandedOver = 2, // a complete job is with the GUI thread
};
} // namespace MonitorFolderState

// The decisions of the spool folder's worker, one call per poll, in terms of
// the handshake value:
//
//   Idle        no job folder: hide the progress; the first one complete:
//               hand it over (HandedOver); else show the progress from 0
//               (JobSeen).
//   JobSeen     no job folder: hide the progress (Idle); the first one
//               complete: hand it over (HandedOver); else advance the
//               progress. A first folder whose contents have not changed for
//               the grace period is set aside under a hidden name (logged),
//               and the next job goes on (Idle).
//   HandedOver  hide the progress.
//
// Jobs go one at a time in name order. A job whose submission failed is left
// out until its retry time (one minute, then doubling up to a quarter of an
// hour), so a failing job neither blocks the others nor comes back every
// poll.
class SpoolWatch
{
public:
    using Clock = std::chrono::steady_clock;

    struct Options {
        std::chrono::milliseconds Grace{std::chrono::minutes(2)};
        std::chrono::milliseconds RetryFirst{std::chrono::minutes(1)};
        std::chrono::milliseconds RetryMax{std::chrono::minutes(15)};
        std::chrono::milliseconds CreateAfter{std::chrono::seconds(2)};
    };

    // What became of a job handed over.
    enum class Outcome { Removed, Kept, Failed };

    struct Step {
        int State = MonitorFolderState::Idle; // the new handshake value
        bool ResetProgress = false;           // progress back to 0 before Perform
        bool Perform = false;                 // show or advance the progress
        bool Cancel = false;                  // hide the progress
        QString HandOver;                     // the job folder handed over (HandedOver)
    };

    SpoolWatch(const QString& spoolPath, const QByteArray& userName, const Options& options);
    SpoolWatch(const SpoolWatch&) = delete;
    SpoolWatch& operator=(const SpoolWatch&) = delete;

    Step poll(int state, Clock::time_point now);

    // The job last handed over ("" when none is pending).
    QString handedOver() const { return m_Handed; }
    // The GUI thread is done with the job handed over.
    void jobDone(Outcome outcome, Clock::time_point now);
    // Offer every failed job again at once (a new online session).
    void retryAllNow() { m_Deferred.clear(); }
    // Offer the failed job in the folder name again at the next poll.
    void retryNow(const QString& name) { m_Deferred.remove(name); }

    QString path() const { return m_Path; }

private:
    struct Deferral {
        Clock::time_point At;
        std::chrono::milliseconds Backoff;
    };

    // Descriptor of the spool folder, created when it has been missing for
    // a while; -1 when it cannot be used (logged once per reason).
    int openFolder(Clock::time_point now);
    QStringList eligible(int dirFd, Clock::time_point now);
    Step handOver(const QString& name);

    QString m_Path;
    QByteArray m_UserName;
    Options m_Options;
    SpoolFolder::Check m_LastCheck = SpoolFolder::Check::Usable;
    bool m_MissingSeen = false;
    Clock::time_point m_MissingSince;

    QString m_Handed;
    QHash<QString, Deferral> m_Deferred;

    // The first job folder while it is incomplete, and since when its
    // contents have stayed the same.
    QString m_Waiting;
    QByteArray m_WaitingContents;
    Clock::time_point m_WaitingSince;
};
