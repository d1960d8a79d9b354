// orix-disc-bench: one disc-burning request through the client's worker (CDTaskProcessing:
// compression and codec libraries from the program folder, then the upload in 65536-byte
// blocks through SaveCDJobByBlock) to a server on 127.0.0.1, for scripts/bench/disc-request.sh.
// The program folder comes from ORIX_ROOT_PREFIX, the archive files go to TMPDIR. Prints:
//
//   result=R zip=S encrypt=S upload=S uploaded=BYTES blocks=N peak_rss_kb=K stored=NAME
//
// usage: orix-disc-bench PORT FILE INTERVAL-MS

#include "CDTaskProcessing.h"
#include "CDTaskRules.h"
#include "DComLayerWS.h"
#include "TavUserRecord.h"
#include "TextUtil.h"

#include <QFileInfo>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sys/resource.h>

namespace
{

using Clock = std::chrono::steady_clock;

// The worker with a clock on its stages and a wait for its end.
class TimedProcessing : public CDTaskProcessing
{
public:
    ~TimedProcessing() override { StopWorker(); }

    std::mutex Mutex;
    std::condition_variable Ended;
    int Result = 0;
    bool Done = false;
    QList<Clock::time_point> StageStarts;
    Clock::time_point End;

protected:
    void StageText(const QString&) override
    {
        std::lock_guard<std::mutex> lock(Mutex);
        StageStarts << Clock::now();
    }
    void Report(int value) override
    {
        std::lock_guard<std::mutex> lock(Mutex);
        if (value < 0)
            Result = value;
        if (value == kCompletionNotice || value == kStoppedNotice) {
            End = Clock::now();
            Done = true;
            Ended.notify_all();
        }
    }
};

double seconds(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: orix-disc-bench PORT FILE INTERVAL-MS\n");
        return 2;
    }
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(argv[1]);
    TavUserRecord logon{};
    CopyText(logon.UserName, sizeof logon.UserName, "zhangsan");
    CopyText(logon.Password, sizeof logon.Password, "E10ADC3949BA59ABBE56E057F20F883E");
    CopyText(logon.ServerAddress, sizeof logon.ServerAddress, "127.0.0.1");
    if (const int result = client.LogOn(&logon); result != 0) {
        fprintf(stderr, "orix-disc-bench: logon result %d\n", result);
        return 1;
    }

    CDTaskProcessing::SetInterval(std::chrono::milliseconds(atoi(argv[3])));
    TimedProcessing work;
    long long uploaded = 0;
    int blocks = 0;
    QByteArray stored;
    work.SetBlockSender([&](int type, int size, void* data, char* storedName) {
        const int status = client.SaveCDJobByBlock(type, size, data, storedName);
        if (type != 2)
            uploaded += size;
        ++blocks;
        stored = storedName;
        return status;
    });

    CDTaskProcessing::Job job;
    const QString file = QString::fromLocal8Bit(argv[2]);
    job.FileList = CDTaskRules::FileList({file});
    job.SelectedTotal = QFileInfo(file).size();
    CopyText(job.Record.UserName, sizeof job.Record.UserName, "zhangsan");
    CopyText(job.Record.DocName, sizeof job.Record.DocName, "bench");
    job.Record.DiscType = kDiscDVD;
    if (!work.StartProcessing(std::move(job)))
        return 1;
    std::unique_lock<std::mutex> lock(work.Mutex);
    work.Ended.wait(lock, [&] { return work.Done; });
    if (work.StageStarts.size() != 3) {
        fprintf(stderr, "orix-disc-bench: failed (%d) %s\n", work.Result,
                work.LastError().constData());
        return 1;
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    const auto& at = work.StageStarts;
    printf("result=%d zip=%.3f encrypt=%.3f upload=%.3f uploaded=%lld blocks=%d peak_rss_kb=%ld "
           "stored=%s\n",
           work.Result, seconds(at[0], at[1]), seconds(at[1], at[2]), seconds(at[2], work.End),
           uploaded, blocks, usage.ru_maxrss, stored.constData());
    return work.Result == 0 ? 0 : 1;
}
