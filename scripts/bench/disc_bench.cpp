// Runs one disc-burning library call as the client does (dlopen from a program folder) and
// prints "<seconds> <input bytes> <peak resident KiB>" for scripts/bench/disc-libraries.sh.
//
//   disc_bench FOLDER zip INPUT OUTPUT [PASSWORD]
//   disc_bench FOLDER encrypt INPUT OUTPUT

#include "DiscPlugins.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <sys/resource.h>

static long long g_bytes = 0;

static int progress(void*, int type, int data, const char*)
{
    if (type == kDiscProgress)
        g_bytes += data;
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 5)
        return 2;
    const bool zipping = strcmp(argv[2], "zip") == 0;
    const std::string path = std::string(argv[1]) + (zipping ? "/libminizip.so" : "/revududir.so");
    void* dl = dlopen(path.c_str(), RTLD_NOW);
    if (!dl) {
        fprintf(stderr, "%s\n", dlerror());
        return 1;
    }
    auto init = reinterpret_cast<DiscInitLibFn>(dlsym(dl, "InitLib"));
    auto release = reinterpret_cast<DiscFreeLibFn>(dlsym(dl, "FreeLib"));
    void* work = dlsym(dl, zipping ? "ZipFiles" : "EncryptFile");
    if (!init || !release || !work)
        return 1;
    void* handle = init(0, progress, nullptr);
    const auto start = std::chrono::steady_clock::now();
    int result;
    if (zipping) {
        std::string list = std::string(argv[3]) + '\0' + '\0';
        std::string options = argc > 5 ? std::string("password=") + argv[5] + ";" : "";
        result = reinterpret_cast<DiscZipFilesFn>(work)(handle, &list[0], &options[0], argv[4]);
    } else {
        result = reinterpret_cast<DiscEncryptFileFn>(work)(nullptr, argv[3], argv[4], handle);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    release(handle);
    if (result != 0) {
        fprintf(stderr, "failed: %d\n", result);
        return 1;
    }
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    printf("%.3f %lld %ld\n", seconds, g_bytes, usage.ru_maxrss);
    return 0;
}
