#pragma once

#include "CDTaskInfo.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The work behind a disc-burning request, without widgets: one worker
// thread per submission packs the chosen files into a zip archive with the
// compression library "libminizip.so", encrypts it with the codec library
// "revududir.so" (skipped when a password protects the archive) and uploads
// the result in 65536-byte blocks, one per interval, followed by the
// 1024-byte request record. Both libraries are loaded from the program
// folder for their stage only.
//
// The worker reports through Report(): a percentage of the current stage
// (0 to 100), a negative failure code (LastError() then says what went
// wrong), and at its end either kStoppedNotice (a failed compression or
// encryption stage; the state is idle again) or kCompletionNotice (the
// upload stage is over, after its failure code if it failed). The stage
// texts go to StageText(). Both run on the worker thread.
//
// The processing state is shared with the thread that steers the work
// (Pause, Continue, Cancel); the library in use hears of every change
// through its ChangeState, also of one made before it was loaded.
//
// The archive and its encrypted form live in a private folder (owner-only,
// unique) in the system's temporary folder and are removed however the
// work ends. The worker is joined before this object goes; a derived class
// whose Report() or StageText() uses its own members calls StopWorker()
// first thing in its destructor.
class CDTaskProcessing
{
public:
    enum ProcessState : int { kIdle = 0, kRunning = 1, kCancelled = 2, kPaused = 3 };

    // Reports other than percentages and failure codes.
    static constexpr int kCompletionNotice = 1000;
    static constexpr int kStoppedNotice = 1001;

    // The failure codes of the worker itself. The libraries' own codes
    // (-4 to -8, -14 to -20) come through unchanged.
    enum Failure : int {
        kZipNotLoaded = -1,    // "libminizip.so" cannot be loaded: the loader's message
        kZipEntryMissing = -2, // an entry point is missing: the loader's message
        kZipNoHandle = -3,     // its InitLib gave no handle
        kCodecNotLoaded = -11, // the same for "revududir.so"
        kCodecEntryMissing = -12,
        kCodecNoHandle = -13,
        kUploadOpenFailed = -21, // the file to upload cannot be opened or read
        kNoWorkFolder = -22,     // the private temporary folder cannot be made
        kUploadFailed = -23,     // a block or the record was not taken
        kUploadCancelled = -25,
    };

    static constexpr int kBlockSize = 65536;
    static constexpr int kRecordSize = static_cast<int>(sizeof(CDTaskInfo));

    // Sends one block of the upload (type 0 first, 1 every later one, 2 the
    // record); storedName (1024 bytes) carries the server's name for the
    // upload from the first answer on. Non-zero on failure.
    using BlockSender = std::function<int(int blockType, int size, void* data, char* storedName)>;

    // What one submission works on; complete before the worker starts.
    struct Job {
        std::vector<char> FileList; // see CDTaskRules::FileList
        QByteArray Options;         // "" or "password=...;"
        bool PasswordProtected = false;
        qint64 SelectedTotal = 0; // bytes of the listed files: the compression's progress base
        CDTaskInfo Record{};      // sent as the last block
    };

    CDTaskProcessing();
    virtual ~CDTaskProcessing();
    CDTaskProcessing(const CDTaskProcessing&) = delete;
    CDTaskProcessing& operator=(const CDTaskProcessing&) = delete;

    // The upload's pause after every block and the period at which a
    // paused upload looks at the state again: one second unless a test
    // shortens it. Also how long the pause button rests after a click.
    static void SetInterval(std::chrono::milliseconds interval);
    static std::chrono::milliseconds Interval();

    void SetBlockSender(BlockSender sender) { Sender = std::move(sender); }
    bool HasBlockSender() const { return static_cast<bool>(Sender); }

    // Starts the worker on job: the state becomes running. False (nothing
    // started) unless the state is idle and no worker is left running.
    bool StartProcessing(Job job);

    int State() const { return ProcessingState.load(); }
    // Running becomes paused and paused running; any other state stays.
    // Returns the state afterwards.
    int TogglePause();
    // Running or paused becomes cancelled; true when it did.
    bool Cancel();
    // After the completion notice: whether the submission was cancelled;
    // the state is idle again and the worker joined.
    bool EndCompletion();
    // Cancels whatever runs and waits for the worker (at most until the
    // block or library call under way returns).
    void StopWorker();

    // The text of the last failure (UTF-8 or the loader's text).
    QByteArray LastError() const;

    // --- the worker and its stages ---------------------------------------------------
    static void* thread_processingTask(void* dialog);
    // Packs the NUL-separated fileList into a new archive at zipPath.
    // 0 or more on success, negative on failure.
    int CompressFiles(char* fileList, char* options, char* zipPath);
    // Encrypts sourcePath into a new targetPath; a null key selects the
    // built-in key.
    int EncryptFile(char* sourcePath, char* key, char* targetPath);
    // Uploads the file at path and then the record; 0 or a failure code.
    int UploadCDTask(char* path);
    // The libraries' callback; user is this object.
    static int ProgressCallback(void* user, int type, int data, const char* info);

protected:
    virtual void Report(int value) { Q_UNUSED(value) }
    virtual void StageText(const QString& text) { Q_UNUSED(text) }

private:
    using ChangeStateFn = void (*)(void* handle, int state);

    void runStages();
    void endAfterStage(int result);
    void setLastError(const char* text);
    void reportProgress();
    // The library in use: published after its InitLib (and told the state
    // at once when it is paused or cancelled), withdrawn before FreeLib.
    void publishLibrary(ChangeStateFn changeState, void* handle);
    void withdrawLibrary();
    void notifyLibrary();
    // Wakes the upload's waits after a state change.
    void wake();
    // Waits one interval; returns early when the submission is cancelled.
    void pace();

    std::atomic<int> ProcessingState{kIdle};
    std::atomic<qint64> ProgressCounter{0};
    std::atomic<qint64> ProgressDenominator{0};
    QByteArray LibraryFolder;
    BlockSender Sender;
    Job CurrentJob;
    std::thread Worker;

    std::mutex EntryMutex; // ChangeState and its handle, and calls through them
    ChangeStateFn ChangeStateEntry = nullptr;
    void* LibraryHandle = nullptr;

    mutable std::mutex ErrorMutex;
    QByteArray LastErrorText;

    std::mutex WaitMutex;
    std::condition_variable WaitChanged;
};
