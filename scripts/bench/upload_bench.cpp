// orix-upload-bench: one upload of a document through the client's mobile
// print path (SaveMobilePrintJob) to a server on 127.0.0.1, for
// scripts/bench/upload.sh. Prints one line:
//
//   bytes=N seconds=S peak_rss_kb=K stored=NAME
//
// usage: orix-upload-bench PORT DOCUMENT [USER PASSWORD-DIGEST]

#include "DComLayerWS.h"
#include "TaskRecords.h"
#include "TavUserRecord.h"
#include "TextUtil.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

int main(int argc, char** argv)
{
    if (argc != 3 && argc != 5) {
        fprintf(stderr, "usage: orix-upload-bench PORT DOCUMENT [USER PASSWORD-DIGEST]\n");
        return 2;
    }
    const char* user = argc == 5 ? argv[3] : "zhangsan";
    const char* digest = argc == 5 ? argv[4] : "E10ADC3949BA59ABBE56E057F20F883E";

    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(argv[1]);
    TavUserRecord logon{};
    CopyText(logon.UserName, sizeof logon.UserName, user);
    CopyText(logon.Password, sizeof logon.Password, digest);
    CopyText(logon.ServerAddress, sizeof logon.ServerAddress, "127.0.0.1");
    const int logonResult = client.LogOn(&logon);
    if (logonResult != 0) {
        fprintf(stderr, "orix-upload-bench: logon result %d\n", logonResult);
        return 1;
    }

    MobilePrintTaskInfo job;
    memset(&job, 0, sizeof job);
    CopyText(job.UserName, sizeof job.UserName, user);
    CopyText(job.DocName, sizeof job.DocName, "bench.pdf");
    CopyText(job.PaperSize, sizeof job.PaperSize, "A4");
    CopyText(job.DocType, sizeof job.DocType, "pdf");
    CopyText(job.PageRange, sizeof job.PageRange, "-1");
    job.Orientation = 'P';
    job.ColorMode = 'M';
    job.DuplexMode = 'S';
    job.PageCount = 1;
    job.Copies = 1;
    job.JobState = 20;

    char reserved[] = "";
    char stored[1024] = {};
    unsigned long long sent = 0;
    client.SetUploadProgress([&](unsigned long long done, unsigned long long) { sent = done; });
    const auto start = std::chrono::steady_clock::now();
    try {
        client.SaveMobilePrintJob(&job, reserved, argv[2], stored);
    } catch (unsigned int code) {
        fprintf(stderr, "orix-upload-bench: upload failed (0x%x)\n", code);
        return 1;
    } catch (long code) {
        fprintf(stderr, "orix-upload-bench: upload failed (code %ld)\n", code);
        return 1;
    } catch (int code) {
        fprintf(stderr, "orix-upload-bench: upload failed (file %d)\n", code);
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("bytes=%llu seconds=%.3f peak_rss_kb=%ld stored=%s\n", sent, seconds, usage.ru_maxrss,
           stored);
    return 0;
}
