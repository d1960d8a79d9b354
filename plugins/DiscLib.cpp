#include "DiscLib.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <new>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace DiscLib
{

namespace
{

// Handles that InitLib made and FreeLib has not freed: a ChangeState that
// races with FreeLib (the client's Pause button against the end of a stage)
// finds its handle gone instead of touching freed memory.
std::mutex g_liveMutex;
std::set<Handle*> g_live;

} // namespace

Handle* live(void* handle)
{
    std::lock_guard<std::mutex> lock(g_liveMutex);
    Handle* h = static_cast<Handle*>(handle);
    return h && g_live.count(h) ? h : nullptr;
}

bool Work::proceed()
{
    if (m_handle->state.load() == kDiscPause) {
        std::unique_lock<std::mutex> lock(m_handle->mutex);
        m_handle->changed.wait(lock, [this] { return m_handle->state.load() != kDiscPause; });
    }
    return m_handle->state.load() != kDiscCancel;
}

void Work::processed(int64_t bytes)
{
    m_pending += bytes;
    if (m_pending >= kReportBytes)
        report(m_pending);
}

void Work::finish()
{
    if (m_pending > 0)
        report(m_pending);
}

void Work::report(int64_t bytes)
{
    m_pending = 0;
    if (!m_handle->callback)
        return;
    while (bytes > 0) {
        const int chunk = bytes > INT_MAX ? INT_MAX : static_cast<int>(bytes);
        m_handle->callback(m_handle->user, kDiscProgress, chunk, nullptr);
        bytes -= chunk;
    }
}

int Work::fail(int code, const std::string& text)
{
    if (m_handle->callback)
        m_handle->callback(m_handle->user, kDiscMessage, code, text.c_str());
    return code;
}

int createExclusive(const char* path)
{
    return open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

int openRegular(const char* path, bool followLinks, int64_t* size)
{
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW));
    if (fd < 0)
        return -1;
    struct stat st;
    const bool statted = fstat(fd, &st) == 0;
    if (!statted || !S_ISREG(st.st_mode)) {
        const int error = statted ? EINVAL : errno;
        close(fd);
        errno = error;
        return -1;
    }
    // Regular files ignore O_NONBLOCK; clear it all the same.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    *size = st.st_size;
    return fd;
}

std::string describe(const char* what, const char* path)
{
    const int error = errno;
    return std::string(what) + ": " + path + ": " +
           (error == EINVAL ? "not a regular file" : strerror(error));
}

} // namespace DiscLib

using DiscLib::Handle;

DISC_EXPORT void* InitLib(int /*reserved*/, DiscProgressCallback callback, void* user)
{
    Handle* h = new (std::nothrow) Handle;
    if (!h)
        return nullptr;
    h->callback = callback;
    h->user = user;
    try {
        std::lock_guard<std::mutex> lock(DiscLib::g_liveMutex);
        DiscLib::g_live.insert(h);
    } catch (const std::exception&) { // no lock, no memory
        delete h;
        return nullptr;
    }
    return h;
}

DISC_EXPORT void FreeLib(void* handle)
{
    Handle* h = static_cast<Handle*>(handle);
    {
        std::lock_guard<std::mutex> lock(DiscLib::g_liveMutex);
        if (!h || DiscLib::g_live.erase(h) == 0)
            return;
    }
    delete h;
}

DISC_EXPORT void ChangeState(void* handle, int state)
{
    if (state != kDiscContinue && state != kDiscCancel && state != kDiscPause)
        return;
    std::lock_guard<std::mutex> liveLock(DiscLib::g_liveMutex);
    Handle* h = static_cast<Handle*>(handle);
    if (!h || !DiscLib::g_live.count(h))
        return;
    std::lock_guard<std::mutex> lock(h->mutex);
    if (h->state.load() != kDiscCancel) // cancelling is final
        h->state.store(state);
    h->changed.notify_all();
}
