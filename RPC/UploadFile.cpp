#include "UploadFile.h"

#include <cerrno>
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
    if (m_fd < 0) {
        m_ok = false;
        return false;
    }
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(m_fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_ok = false;
            break;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
    if (close(m_fd) != 0)
        m_ok = false;
    m_fd = -1;
    return m_ok;
}
