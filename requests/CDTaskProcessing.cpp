#include "CDTaskProcessing.h"

#include "DiscPlugins.h"
#include "EventLog.h"
#include "SafeFile.h"
#include "TavCommon.h"
#include "TavRpcClientBase.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace
{

std::atomic<long long> g_intervalMs{1000};

// The private folder of one submission's archive files: made with mkdtemp
// (a unique name, owner-only), so nobody else can place or read anything
// there; everything in it goes when the work ends.
class WorkFolder
{
public:
    WorkFolder()
    {
        QByteArray name = QFile::encodeName(QDir::tempPath()) + "/orixcd-XXXXXX";
        if (mkdtemp(name.data()))
            Path = name;
        else
            Error = errno;
    }
    ~WorkFolder() { remove(); }
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    bool ok() const { return !Path.isEmpty(); }
    QByteArray error() const
    {
        return "mkdtemp: " + QDir::tempPath().toUtf8() + ": " + QByteArray(strerror(Error));
    }
    QByteArray file(const char* name) const { return Path + '/' + name; }

    void remove()
    {
        if (Path.isEmpty())
            return;
        for (const char* name : {"cd.zip", "cd.dat"})
            unlink(file(name).constData());
        rmdir(Path.constData());
        Path.clear();
    }

private:
    QByteArray Path;
    int Error = 0;
};

// A library of the program folder with its four entry points.
struct DiscLibrary {
    void* Dl = nullptr;
    DiscInitLibFn Init = nullptr;
    DiscFreeLibFn Free = nullptr;
    DiscChangeStateFn ChangeState = nullptr;
    void* Work = nullptr;
    QByteArray LookupError; // the loader's first complaint

    ~DiscLibrary()
    {
        if (Dl)
            dlclose(Dl);
    }

    // Loads the library at path when nobody but root and the user could have
    // written or replaced it; else *error says why not.
    bool open(const QByteArray& path, QByteArray* error)
    {
        std::string resolved;
        const SafeFile::Check check = SafeFile::TrustedLibrary(path.constData(), &resolved);
        if (check != SafeFile::Check::Ok) {
            *error =
                path + ": " +
                (check == SafeFile::Check::Missing
                     ? QByteArray("cannot open shared object file: ") + QByteArray(strerror(ENOENT))
                     : QByteArray("not loaded: ") + QByteArray(SafeFile::Describe(check)));
            return false;
        }
        Dl = dlopen(resolved.c_str(), RTLD_NOW);
        if (!Dl) {
            const char* message = dlerror();
            *error = message ? QByteArray(message) : QByteArray("dlopen failed");
        }
        return Dl != nullptr;
    }

    void* symbol(const char* name)
    {
        dlerror();
        void* found = dlsym(Dl, name);
        if (const char* error = dlerror(); error && LookupError.isEmpty())
            LookupError = error;
        return found;
    }

    void lookUp(const char* workName)
    {
        Init = reinterpret_cast<DiscInitLibFn>(symbol("InitLib"));
        Work = symbol(workName);
        Free = reinterpret_cast<DiscFreeLibFn>(symbol("FreeLib"));
        ChangeState = reinterpret_cast<DiscChangeStateFn>(symbol("ChangeState"));
    }
};

} // namespace

CDTaskProcessing::CDTaskProcessing()
{
    char folder[4096];
    GetCurrentFolder(folder, sizeof folder);
    LibraryFolder = folder;
}

CDTaskProcessing::~CDTaskProcessing()
{
    StopWorker();
}

void CDTaskProcessing::SetInterval(std::chrono::milliseconds interval)
{
    g_intervalMs = std::max<long long>(0, interval.count());
}

std::chrono::milliseconds CDTaskProcessing::Interval()
{
    return std::chrono::milliseconds(g_intervalMs.load());
}

bool CDTaskProcessing::StartProcessing(Job job)
{
    int idle = kIdle;
    if (!ProcessingState.compare_exchange_strong(idle, kRunning))
        return false;
    if (Worker.joinable())
        Worker.join(); // the previous submission's worker, at its very end
    {
        std::lock_guard<std::mutex> lock(ErrorMutex);
        LastErrorText.clear();
    }
    CurrentJob = std::move(job);
    Worker = std::thread(&CDTaskProcessing::thread_processingTask, this);
    return true;
}

int CDTaskProcessing::TogglePause()
{
    int state = ProcessingState.load();
    for (;;) {
        const int next = state == kRunning ? kPaused : state == kPaused ? kRunning : state;
        if (next == state)
            return state;
        if (ProcessingState.compare_exchange_weak(state, next)) {
            notifyLibrary();
            wake();
            return next;
        }
    }
}

bool CDTaskProcessing::Cancel()
{
    int state = ProcessingState.load();
    while (state == kRunning || state == kPaused) {
        if (ProcessingState.compare_exchange_weak(state, kCancelled)) {
            notifyLibrary();
            wake();
            return true;
        }
    }
    return false;
}

bool CDTaskProcessing::EndCompletion()
{
    const bool cancelled = ProcessingState.exchange(kIdle) == kCancelled;
    if (Worker.joinable())
        Worker.join();
    return cancelled;
}

void CDTaskProcessing::StopWorker()
{
    if (!Worker.joinable())
        return;
    Cancel();
    Worker.join();
}

QByteArray CDTaskProcessing::LastError() const
{
    std::lock_guard<std::mutex> lock(ErrorMutex);
    return LastErrorText;
}

void CDTaskProcessing::setLastError(const char* text)
{
    std::lock_guard<std::mutex> lock(ErrorMutex);
    LastErrorText = text;
}

// --- the worker ------------------------------------------------------------------------

void* CDTaskProcessing::thread_processingTask(void* dialog)
{
    fputs("thread_processingTask enter\n", stdout);
    static_cast<CDTaskProcessing*>(dialog)->runStages();
    fputs("thread_processingTask exit\n", stdout);
    return nullptr;
}

void CDTaskProcessing::runStages()
{
    WorkFolder folder;
    if (!folder.ok()) {
        setLastError(folder.error().constData());
        endAfterStage(kNoWorkFolder);
        return;
    }
    QByteArray zipPath = folder.file("cd.zip");
    QByteArray datPath = folder.file("cd.dat");

    QString stage = QStringLiteral("压缩文件……………");
    StageText(stage);
    int result =
        CompressFiles(CurrentJob.FileList.data(), CurrentJob.Options.data(), zipPath.data());
    std::vector<char>().swap(CurrentJob.FileList);
    if (result < 0) {
        folder.remove();
        endAfterStage(result);
        return;
    }

    QByteArray* upload = &zipPath;
    if (!CurrentJob.PasswordProtected) {
        stage += QStringLiteral("加密文件……………");
        StageText(stage);
        result = EncryptFile(zipPath.data(), nullptr, datPath.data());
        unlink(zipPath.constData());
        if (result < 0) {
            folder.remove();
            endAfterStage(result);
            return;
        }
        upload = &datPath;
    }

    stage += QStringLiteral("上传作业……………");
    StageText(stage);
    result = UploadCDTask(upload->data());
    folder.remove();
    // Idle again, unless cancelled: that stays until the completion is handled.
    int state = ProcessingState.load();
    while ((state == kRunning || state == kPaused) &&
           !ProcessingState.compare_exchange_weak(state, kIdle)) {
    }
    if (result < 0)
        Report(result);
    Report(kCompletionNotice);
}

void CDTaskProcessing::endAfterStage(int result)
{
    ProcessingState = kIdle;
    Report(result);
    Report(kStoppedNotice);
}

int CDTaskProcessing::CompressFiles(char* fileList, char* options, char* zipPath)
{
    DiscLibrary library;
    QByteArray loadError;
    if (!library.open(LibraryFolder + "/libminizip.so", &loadError)) {
        setLastError(loadError.constData());
        return kZipNotLoaded;
    }
    library.lookUp("ZipFiles");
    if (!library.LookupError.isEmpty())
        setLastError(library.LookupError.constData());
    if (!library.Init || !library.Work || !library.Free)
        return kZipEntryMissing;
    void* handle = library.Init(0, &CDTaskProcessing::ProgressCallback, this);
    if (!handle)
        return kZipNoHandle;
    ProgressCounter = 0;
    ProgressDenominator = CurrentJob.SelectedTotal;
    publishLibrary(library.ChangeState, handle);
    const int result =
        reinterpret_cast<DiscZipFilesFn>(library.Work)(handle, fileList, options, zipPath);
    withdrawLibrary();
    library.Free(handle);
    return result;
}

int CDTaskProcessing::EncryptFile(char* sourcePath, char* key, char* targetPath)
{
    DiscLibrary library;
    QByteArray loadError;
    if (!library.open(LibraryFolder + "/revududir.so", &loadError)) {
        setLastError(loadError.constData());
        return kCodecNotLoaded;
    }
    library.lookUp("EncryptFile");
    if (!library.LookupError.isEmpty())
        setLastError(library.LookupError.constData());
    if (!library.Init || !library.Work || !library.Free)
        return kCodecEntryMissing;
    void* handle = library.Init(0, &CDTaskProcessing::ProgressCallback, this);
    if (!handle)
        return kCodecNoHandle;
    long long size = 0;
    GetBigFileSize(sourcePath, &size);
    ProgressDenominator = size;
    ProgressCounter = 0;
    char builtInKey[sizeof DiscCodecFormat::kBuiltInKey];
    memcpy(builtInKey, DiscCodecFormat::kBuiltInKey, sizeof builtInKey);
    publishLibrary(library.ChangeState, handle);
    const int result = reinterpret_cast<DiscEncryptFileFn>(library.Work)(
        key ? key : builtInKey, sourcePath, targetPath, handle);
    withdrawLibrary();
    library.Free(handle);
    return result;
}

int CDTaskProcessing::UploadCDTask(char* path)
{
    long long size = 0;
    GetBigFileSize(path, &size);
    ProgressCounter = 0;
    ProgressDenominator = size;
    FILE* file = fopen(path, "rb");
    if (!file) {
        char text[1100];
        snprintf(text, sizeof text, "open fail:%s ", path);
        setLastError(text);
        return kUploadOpenFailed;
    }
    char storedName[1024] = {};
    auto finish = [&](int result) {
        fclose(file);
        printf("splfile:%s\n", storedName);
        return result;
    };
    std::vector<char> buffer(kBlockSize);
    for (int blockType = kFirstBlock;; blockType = kMiddleBlock) {
        for (;;) {
            const int state = ProcessingState.load();
            if (state == kCancelled)
                return finish(kUploadCancelled);
            if (state != kPaused)
                break;
            std::unique_lock<std::mutex> lock(WaitMutex);
            WaitChanged.wait_for(lock, Interval(),
                                 [this] { return ProcessingState.load() != kPaused; });
        }
        // A read at the end of the file may give 0 bytes: that block goes out all the same.
        const size_t got = fread(buffer.data(), 1, buffer.size(), file);
        if (ferror(file)) {
            char text[1100];
            snprintf(text, sizeof text, "read fail:%s ", path);
            setLastError(text);
            return finish(kUploadOpenFailed);
        }
        if (!Sender) {
            setLastError("no server connection");
            return finish(kUploadFailed);
        }
        const int status = Sender(blockType, static_cast<int>(got), buffer.data(), storedName);
        if (status != RpcResult::kOk) {
            char text[64];
            snprintf(text, sizeof text, "block %d: %d", blockType, status);
            setLastError(text);
            return finish(kUploadFailed);
        }
        pace();
        ProgressCounter += static_cast<qint64>(got);
        reportProgress();
        if (got < buffer.size())
            break; // the end of the file has been seen
    }
    finish(0);
    // A cancel during the last pause keeps the request from being completed.
    if (ProcessingState.load() == kCancelled)
        return kUploadCancelled;
    CDTaskInfo record = CurrentJob.Record;
    const int status = Sender(kLastBlock, kRecordSize, &record, storedName);
    if (status != RpcResult::kOk) {
        // The request is not on the server without its record.
        char text[64];
        snprintf(text, sizeof text, "record: %d", status);
        setLastError(text);
        return kUploadFailed;
    }
    return 0;
}

int CDTaskProcessing::ProgressCallback(void* user, int type, int data, const char* info)
{
    printf("ProgressCallback:type=%d,data=%d\n", type, data);
    if (info)
        printf("ProgressCallback:info=%s\n", info);
    CDTaskProcessing* self = static_cast<CDTaskProcessing*>(user);
    if (!self)
        return 0;
    if (type == kDiscProgress) {
        self->ProgressCounter += data;
        self->reportProgress();
    } else if (type == kDiscMessage && info) {
        LogEvent(kLogError, "disc library: %d %s\n", data, info);
        self->setLastError(info);
    }
    return 0;
}

void CDTaskProcessing::reportProgress()
{
    // Without a base (nothing but empty files) there is no percentage. A
    // count beyond the base (a file that grew meanwhile) shows 100, never
    // a value that could pass for one of the notices.
    const qint64 denominator = ProgressDenominator.load();
    if (denominator <= 0)
        return;
    const qint64 percent = ProgressCounter.load() * 100 / denominator;
    Report(static_cast<int>(std::clamp<qint64>(percent, 0, 100)));
}

// --- the state shared with the steering thread -----------------------------------------

void CDTaskProcessing::publishLibrary(ChangeStateFn changeState, void* handle)
{
    std::lock_guard<std::mutex> lock(EntryMutex);
    ChangeStateEntry = changeState;
    LibraryHandle = handle;
    const int state = ProcessingState.load();
    if (changeState && (state == kPaused || state == kCancelled))
        changeState(handle, state);
}

void CDTaskProcessing::withdrawLibrary()
{
    // Once this returns no call through the entry point is under way, so
    // the library may be freed and closed.
    std::lock_guard<std::mutex> lock(EntryMutex);
    ChangeStateEntry = nullptr;
    LibraryHandle = nullptr;
}

void CDTaskProcessing::notifyLibrary()
{
    std::lock_guard<std::mutex> lock(EntryMutex);
    const int state = ProcessingState.load();
    if (ChangeStateEntry && state != kIdle)
        ChangeStateEntry(LibraryHandle, state);
}

void CDTaskProcessing::wake()
{
    {
        std::lock_guard<std::mutex> lock(WaitMutex);
    }
    WaitChanged.notify_all();
}

void CDTaskProcessing::pace()
{
    std::unique_lock<std::mutex> lock(WaitMutex);
    WaitChanged.wait_for(lock, Interval(), [this] { return ProcessingState.load() == kCancelled; });
}
