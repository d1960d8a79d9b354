#include "DevStorage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

static bool makePath(const std::string& dir)
{
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = dir.find('/', pos + 1);
        partial = dir.substr(0, pos);
        if (partial.empty())
            continue;
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool DevStorage::init(const std::string& dir, std::string* error)
{
    m_dir = dir;
    while (m_dir.size() > 1 && m_dir.back() == '/')
        m_dir.pop_back();
    if (m_dir.empty() || !makePath(m_dir)) {
        if (error)
            *error = "cannot create the storage folder " + dir + ": " + strerror(errno);
        return false;
    }
    return true;
}

std::string DevStorage::createJob(char prefix)
{
    char stamp[32];
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        char name[64];
        snprintf(name, sizeof name, "%c%s%04u.spl", prefix, stamp, ++m_sequence % 10000);
        if (mkdir((m_dir + "/" + name).c_str(), 0700) == 0)
            return name;
        if (errno != EEXIST)
            break;
    }
    return std::string();
}

bool DevStorage::isValidName(const std::string& name)
{
    if (name.size() < 5 || name.size() > 40 || name.compare(name.size() - 4, 4, ".spl") != 0)
        return false;
    for (size_t i = 0; i + 4 < name.size(); ++i) {
        const char c = name[i];
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!ok)
            return false;
    }
    return true;
}

bool DevStorage::writeFile(const std::string& path, const void* data, size_t size, bool append)
{
    const int fd =
        open(path.c_str(),
             O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0600);
    if (fd < 0)
        return false;
    const char* p = static_cast<const char*>(data);
    size_t left = size;
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close(fd);
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return close(fd) == 0;
}
