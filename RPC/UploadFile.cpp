#include "UploadFile.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

UploadFile::UploadFile(const QByteArray& folder, const char* prefix, const char* suffix)
{
    QByteArray dir = folder;
    if (dir.isEmpty()) {
        // Absolute, so that the file removed at the end is the one made here
        // even if the working folder changes meanwhile.
        char cwd[4096];
        if (!getcwd(cwd, sizeof cwd))
            return;
        dir = cwd;
    }
    if (!dir.endsWith('/'))
        dir += '/';
    QByteArray pattern = dir + prefix + "XXXXXX" + suffix;
    const int fd = mkostemps(pattern.data(), static_cast<int>(strlen(suffix)), O_CLOEXEC);
    if (fd < 0)
        return;
    m_fd = fd;
    m_path = pattern;
    m_ok = true;
}

UploadFile::~UploadFile()
{
    if (m_fd >= 0)
        close(m_fd);
    if (!m_path.isEmpty())
        unlink(m_path.constData());
}

bool UploadFile::write(const void* data, size_t size)
{
    const bool written = rewrite(data, size);
    if (m_fd >= 0 && close(m_fd) != 0)
        m_ok = false;
    m_fd = -1;
    return written && m_ok;
}

bool UploadFile::rewrite(const void* data, size_t size)
{
    if (m_fd < 0) {
        m_ok = false;
        return false;
    }
    const char* p = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(m_fd, p + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_ok = false;
            m_size = SIZE_MAX; // whatever it holds now goes with the next rewrite
            return false;
        }
        done += static_cast<size_t>(n);
    }
    // A shorter content than before (the last block) must not keep the
    // earlier bytes beyond it.
    if (size < m_size && ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
        m_ok = false;
        m_size = SIZE_MAX;
        return false;
    }
    m_size = size;
    return true;
}
