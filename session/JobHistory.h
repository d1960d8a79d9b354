#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// Where a job stands, as far as the server's notices told.
enum class JobState {
    Kept,            // the upload failed; the job waits on the workstation
    Submitted,       // handed to the server, no notice yet
    Received,        // the server has it
    WaitingApproval, // an auditor has still to decide
    Approved,
    Refused,
    Printing,
    Printed,
    Failed, // failed or cancelled on the server
};

// The user's words for a state ("等待审批", "已打印", ...).
QString JobStateText(JobState state);

// The state a notice of type (and audit code, for the approval notices)
// tells; false when the notice says nothing about the state of a job.
bool NoticeState(int type, int auditCode, bool hasAudit, JobState* state);

// One notice of a job, for its timeline.
struct JobNotice {
    qint64 At = 0; // ms since the epoch, as received
    JobState State = JobState::Received;
};

// One job of the user: what the settings dialog sent (never the document)
// and the notices that have come for it.
struct JobEntry {
    QString Document; // the document's name as the server knows it
    int Pages = 0;
    int Copies = 0;
    QString Printer;        // empty: card-swipe release at any printer
    qint64 SubmittedAt = 0; // ms since the epoch
    JobState State = JobState::Submitted;
    QList<JobNotice> Notices;
    QString Folder; // a kept job's folder in the spool folder; else empty

    bool isKept() const { return State == JobState::Kept; }
};

// The user's recent jobs, kept across runs in "jobs.json" of the user's
// data folder (owner-only). Kept jobs come first (newest first), then the
// others, newest first. A job stays while it is among the newest
// kMostRecent or younger than kMostDays days, and at most kMostJobs are
// kept whatever their age. Only names, numbers and times are stored.
//
// The program's one history lives in the GUI thread (setCurrent); notices
// fetched by a worker reach it through post().
class JobHistory : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* kFileName = "jobs.json";
    static constexpr int kMostRecent = 200;
    static constexpr int kMostDays = 90;
    static constexpr int kMostJobs = 20000;
    // A notice belongs to the newest job of its name sent at most this
    // long before it (a minute's grace for the clocks).
    static constexpr qint64 kMatchWindowMs = 7LL * 24 * 3600 * 1000;
    static constexpr qint64 kClockGraceMs = 60 * 1000;

    // folder empty: SystemPaths::dataFolder(). Reads what is stored.
    explicit JobHistory(const QString& folder = QString(), QObject* parent = nullptr);
    ~JobHistory() override;

    static JobHistory* current();
    static void setCurrent(JobHistory* history);
    // Hands a notice of a job (type, field text in UTF-8) to the current
    // history from any thread; it is matched in the GUI thread.
    static void post(int type, const QByteArray& fieldText);

    const QList<JobEntry>& jobs() const { return Jobs; }
    int keptCount() const;

    // Replaces the whole list (sorted and bounded as always) and stores it
    // in one write.
    void replaceAll(const QList<JobEntry>& jobs);

    // A job handed over or kept by the settings dialog. A kept job of the
    // same folder is replaced.
    void record(const JobEntry& job);
    // The job in folder is kept after a failure; listed (under the folder's
    // name) unless it already is.
    void keep(const QString& folder);
    // The job in folder is no longer kept (sent again or removed).
    void forget(const QString& folder);
    // A notice for the job named jobName arrived at; false when no job
    // matches (or the notice tells no state).
    bool notice(int type, int auditCode, bool hasAudit, const QString& jobName, qint64 at);

    // The clock, for the tests.
    void setClock(std::function<qint64()> now) { Now = std::move(now); }

signals:
    // Emitted before and after the list changes (a model resets on them).
    void aboutToChange();
    void changed();
    // Only the entry at row changed.
    void entryChanged(int row);

private:
    void load();
    void save() const;
    void prune();
    void sort();

    QString Folder;
    QList<JobEntry> Jobs;
    std::function<qint64()> Now;
};
