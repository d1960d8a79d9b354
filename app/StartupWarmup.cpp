#include "StartupWarmup.h"

#include "SoapCall.h"
#include "SoapTransport.h"

#include <dlfcn.h>
#include <system_error>

namespace
{

// Loads the system's font configuration and its caches. The X11 platform
// reads them through this library; a platform without it skips this.
void warmFontConfiguration()
{
    void* library = dlopen("libfontconfig.so.1", RTLD_LAZY | RTLD_LOCAL);
    if (!library)
        return;
    using InitFn = int (*)();
    if (auto init = reinterpret_cast<InitFn>(dlsym(library, "FcInit")))
        init();
    // Stays loaded: the platform uses the configuration it has built.
}

} // namespace

StartupWarmup::StartupWarmup()
{
    try {
        m_thread = std::thread([] {
            warmFontConfiguration();
            SoapTransport::InitRuntime();
            // Attachments of server answers that a crashed run left.
            SoapDime::RemoveLeftovers();
        });
    } catch (const std::system_error&) {
        // No thread to spare: the work is done where it is first needed.
    }
}

StartupWarmup::~StartupWarmup()
{
    wait();
}

void StartupWarmup::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}
