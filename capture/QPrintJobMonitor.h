#pragma once

#include "CapturedJob.h"
#include "SpoolWatch.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

class OrixUser;
class QProgressDialog;

// The handshake between the spool folder's worker and the GUI thread, one
// of the MonitorFolderState values (SpoolWatch.h). The worker writes the job
// before it stores HandedOver; the GUI thread writes the job's outcome
// before it stores Idle.
extern std::atomic<int> m_nMonitorFolderState;

// Watches the user's spool folder of the PDF printer while the session is
// online and hands each finished job to the print settings dialog. The main
// window owns one monitor for the life of the program: it sets the running
// flag and the session, then calls StartMonitor when going online, and calls
// StopMonitor when going offline.
//
// A worker thread looks at the folder every 500 ms (SpoolWatch decides) and
// signals the GUI thread: the progress dialog "请等待" while a job is being
// written, mysignal when a job is complete. myslot runs the settings dialog
// and the submission in the GUI thread, then removes the job folder ("rm
// -rf") and sets the handshake back to Idle. A job whose submission failed is
// kept and offered again later; the first argument "1" keeps every job
// folder.
class QPrintJobMonitor : public QMainWindow
{
    Q_OBJECT

public:
    // What became of a job handed to the GUI thread.
    enum class JobOutcome {
        Submitted, // handed to the server
        Cancelled, // the user cancelled the dialog
        Refused,   // the quota check refused it
        Dropped,   // the dialog was not shown (no printer, no project)
        Failed,    // no server or the submission failed: the job stays for a later try
    };
    // Handles one job in the GUI thread: the settings dialog and the
    // submission. May throw; that counts as Failed.
    using JobHandler = std::function<JobOutcome(OrixUser* user, const CapturedJob& job)>;

    // What a test may change; the program uses the defaults.
    struct Options {
        int PollMs = 500;
        SpoolWatch::Options Watch;
        JobHandler Handler;              // empty: the print settings dialog
        std::optional<bool> KeepFolders; // empty: the first argument is "1"
    };

    explicit QPrintJobMonitor(QWidget* parent = nullptr);
    explicit QPrintJobMonitor(const Options& options, QWidget* parent = nullptr);
    ~QPrintJobMonitor() override;

    // Starts the worker. The caller has set the running flag and the session.
    void StartMonitor();
    // Stops the worker (it ends within one poll; it is not waited for) and
    // releases the progress dialog. A job with the GUI thread is finished
    // normally.
    void StopMonitor();

    bool isRunning() const { return m_bRunning; }
    void setRunning(bool running) { m_bRunning = running; }
    OrixUser* user() const { return m_pUser; }
    void setUser(OrixUser* user) { m_pUser = user; }

    QString spoolFolder() const { return m_strMonitorPath; }

    // A job kept after a failed upload, chosen by the user in the list of
    // jobs: offered again at the next poll (while the monitor runs), or
    // removed with its folder. folder must be a job folder of the spool
    // folder that is not being handled; false otherwise.
    bool retryKeptJob(const QString& folder);
    bool removeKeptJob(const QString& folder);
    QProgressDialog* progressDialog() const { return m_pProgress; }

    // The settings dialog for one job (the default handler).
    static JobOutcome RunSettingsDialog(OrixUser* user, const CapturedJob& job);

signals:
    void mysignal();
    void pdSignalPerform();
    void pdSignalcanceled();

public slots:
    void myslot();
    void pdSlotPerform();
    void pdSlotCancel();

private:
    void pdInit();
    void pdRelease();
    void ThreadProcMonitorFolder(unsigned generation);
    // Waits ms or until the worker of generation is told to end; false then.
    bool waitPoll(unsigned generation, int ms);
    bool keepFolders() const;
    // "rm -rf <folder>", waited for up to 30 s while events are served.
    static void RemoveJobFolder(const QString& folder);

    Options m_Options;
    std::thread m_Thread;
    std::atomic<bool> m_bRunning{false};
    QString m_strMonitorPath;
    OrixUser* m_pUser = nullptr;
    CapturedJob m_Job; // the job handed over, see the handshake
    QProgressDialog* m_pProgress = nullptr;
    std::atomic<int> m_nProgressValue{0};

    // Worker bookkeeping: each start begins a new generation; a worker ends
    // as soon as its generation is no longer the current one.
    std::atomic<unsigned> m_Generation{0};
    std::mutex m_WakeMutex;
    std::condition_variable m_Wake;
    std::unique_ptr<SpoolWatch> m_Watch; // used by the worker only
    std::atomic<int> m_LastOutcome{0};   // a SpoolWatch::Outcome, see the handshake
    QStringList m_Retry;                 // job folders to offer again, under m_WakeMutex
};
