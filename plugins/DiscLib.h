#pragma once

// The part the two disc-burning libraries share: the handle that InitLib
// makes (callback, processing state), the exported InitLib, FreeLib and
// ChangeState, and the helpers of the work functions (pause and cancel,
// progress batching, exclusive creation of the output).

#include "DiscCodec.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

#define DISC_EXPORT extern "C" __attribute__((visibility("default")))

namespace DiscLib
{

struct Handle {
    DiscProgressCallback callback = nullptr;
    void* user = nullptr;
    std::atomic<int> state{kDiscContinue};
    std::mutex mutex; // with changed: wakes paused work
    std::condition_variable changed;
};

// The handle behind a pointer from the caller, or null when it is not one
// that InitLib made and FreeLib has not freed yet.
Handle* live(void* handle);

// One call of a work function: steers it by the handle's state and hands
// its progress to the callback in reports of at least kReportBytes (the
// rest at finish()).
class Work : public DiscCodec::Control
{
public:
    static constexpr int64_t kReportBytes = 64 * 1024;

    explicit Work(Handle* handle) : m_handle(handle) {}

    // Blocks while paused; false once cancelled.
    bool proceed() override;
    void processed(int64_t bytes) override;
    // Reports what is still pending.
    void finish();
    // Tells the callback about a failure (type 2) and returns code.
    int fail(int code, const std::string& text);

private:
    void report(int64_t bytes);

    Handle* m_handle;
    int64_t m_pending = 0;
};

// Creates path for writing: it must not exist yet (no link is followed),
// owner-only. -1 with errno on failure.
int createExclusive(const char* path);

// Opens path for reading when it is a regular file (a FIFO or device never
// blocks the caller); followLinks decides whether a symbolic link is
// followed. -1 with errno otherwise (EINVAL for a file of another kind);
// *size gets the file's size.
int openRegular(const char* path, bool followLinks, int64_t* size);

// "what: path: reason" for errno.
std::string describe(const char* what, const char* path);

} // namespace DiscLib
