#pragma once

#include <thread>

// Start-up work that needs neither the window system nor the application
// object, done on a helper thread while the main thread connects to the
// display and builds the window, so that it is no longer on the way to the
// first request: the font configuration (read when the first text is laid
// out) and the TLS library's set-up (done before the first server call); the
// removal of the attachments an earlier run left behind goes with them.
// Both are safe from any thread; whoever needs one of them first while the
// helper is still at it waits for it or repeats it, never gets it half done.
class StartupWarmup
{
public:
    StartupWarmup();
    // Waits for the helper: the process never ends under it.
    ~StartupWarmup();
    // Waits until the helper is done (at once when it already is).
    void wait();
    StartupWarmup(const StartupWarmup&) = delete;
    StartupWarmup& operator=(const StartupWarmup&) = delete;

private:
    std::thread m_thread;
};
