#include "SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace SafeFile
{

namespace
{

Check judgeFile(const struct stat& st)
{
    if (S_ISLNK(st.st_mode))
        return Check::Link;
    if (!S_ISREG(st.st_mode))
        return Check::WrongType;
    if (st.st_uid != geteuid())
        return Check::Foreign;
    if (st.st_nlink > 1)
        return Check::Link;
    if (st.st_mode & S_IWOTH)
        return Check::Exposed;
    return Check::Ok;
}

Check judgeFolder(const struct stat& st)
{
    if (S_ISLNK(st.st_mode))
        return Check::Link;
    if (!S_ISDIR(st.st_mode))
        return Check::WrongType;
    if (st.st_uid != geteuid())
        return Check::Foreign;
    if ((st.st_mode & S_IWOTH) && !(st.st_mode & S_ISVTX))
        return Check::Exposed;
    return Check::Ok;
}

// Why path could not be opened or used, from what is there now.
Check explainFailure(const char* path, int openErrno, bool folder)
{
    if (openErrno == ELOOP)
        return Check::Link;
    struct stat st;
    if (lstat(path, &st) != 0)
        return errno == ENOENT ? Check::Missing : Check::Failed;
    const Check found = folder ? judgeFolder(st) : judgeFile(st);
    return found == Check::Ok ? Check::Failed : found;
}

std::string join(const char* folder, const char* name)
{
    std::string path(folder);
    if (path.empty() || path.back() != '/')
        path += '/';
    return path + name;
}

bool trustedOwner(uid_t uid)
{
    return uid == 0 || uid == geteuid();
}

// Every folder from "/" down to folder (absolute), each as stat sees it (a
// link on the way counts as the folder it leads to, and the folder holding
// the link is one of the folders checked before it). The last one holds the
// library or its link: only its owner may write it. Those above it may be
// sticky and writable by all.
Check trustedFolders(const std::string& folder)
{
    std::vector<std::string> folders{"/"};
    std::string prefix;
    for (size_t begin = 0; begin < folder.size();) {
        const size_t end = std::min(folder.find('/', begin), folder.size());
        if (end > begin) {
            prefix += '/' + folder.substr(begin, end - begin);
            folders.push_back(prefix);
        }
        begin = end + 1;
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        const bool holdsLibrary = i + 1 == folders.size();
        struct stat st;
        if (stat(folders[i].c_str(), &st) != 0)
            return errno == ENOENT ? Check::Missing : Check::Failed;
        if (!S_ISDIR(st.st_mode))
            return Check::WrongType;
        if (!trustedOwner(st.st_uid))
            return Check::Foreign;
        if ((st.st_mode & (S_IWGRP | S_IWOTH)) && (holdsLibrary || !(st.st_mode & S_ISVTX)))
            return Check::Exposed;
    }
    return Check::Ok;
}

std::string folderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? std::string("/") : path.substr(0, slash);
}

} // namespace

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

const char* Describe(Check check)
{
    switch (check) {
    case Check::Ok:
        return "usable";
    case Check::Missing:
        return "missing";
    case Check::Link:
        return "a link";
    case Check::WrongType:
        return "not a plain file or folder";
    case Check::Foreign:
        return "owned by another user";
    case Check::Exposed:
        return "writable by other users";
    case Check::TooLarge:
        return "too large";
    case Check::Failed:
        break;
    }
    return "cannot be used";
}

Check Inspect(const char* path, bool folder)
{
    struct stat st;
    if (lstat(path, &st) != 0)
        return errno == ENOENT ? Check::Missing : Check::Failed;
    return folder ? judgeFolder(st) : judgeFile(st);
}

int OpenOwnedFile(const char* path, int flags, mode_t createMode, Check* check)
{
    Check ignored;
    if (!check)
        check = &ignored;
    // Look first: another user's object is never opened at all (opening a
    // device or FIFO may have effects of its own).
    struct stat st;
    if (lstat(path, &st) == 0) {
        *check = judgeFile(st);
        if (*check != Check::Ok)
            return -1;
    } else if (errno != ENOENT || !(flags & O_CREAT)) {
        *check = errno == ENOENT ? Check::Missing : Check::Failed;
        return -1;
    }
    const int fd = open(path, flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, createMode);
    if (fd < 0) {
        const int error = errno;
        *check = explainFailure(path, error, false);
        errno = error;
        return -1;
    }
    // What was opened is what counts: the name may have changed meanwhile.
    if (fstat(fd, &st) != 0) {
        *check = Check::Failed;
    } else {
        *check = judgeFile(st);
    }
    if (*check != Check::Ok) {
        close(fd);
        return -1;
    }
    return fd;
}

Check ReadOwnedFile(const char* path, std::string* content, size_t maxBytes)
{
    content->clear();
    Check check;
    const int fd = OpenOwnedFile(path, O_RDONLY, 0, &check);
    if (fd < 0)
        return check;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            check = Check::Failed;
            break;
        }
        if (n == 0)
            break;
        if (content->size() + static_cast<size_t>(n) > maxBytes) {
            check = Check::TooLarge;
            break;
        }
        content->append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    if (check != Check::Ok)
        content->clear();
    return check;
}

Check EnsureOwnedFolder(const char* path, mode_t mode)
{
    if (mkdir(path, mode & 0777) != 0 && errno != EEXIST)
        return explainFailure(path, errno, true);
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return explainFailure(path, errno, true);
    struct stat st;
    Check check = Check::Failed;
    if (fstat(fd, &st) == 0) {
        check = judgeFolder(st);
        // Ours: exactly the mode asked for, whatever the umask made of it.
        if ((check == Check::Ok || check == Check::Exposed) && st.st_uid == geteuid()) {
            if ((st.st_mode & 07777) == mode || fchmod(fd, mode) == 0)
                check = Check::Ok;
        }
    }
    close(fd);
    return check;
}

Check EnsurePrivateFolder(const char* path)
{
    if (!path || path[0] != '/')
        return Check::Failed;
    std::string parent(path);
    for (size_t slash = parent.find('/', 1); slash != std::string::npos;
         slash = parent.find('/', slash + 1)) {
        parent[slash] = '\0';
        mkdir(parent.c_str(), 0700); // an existing folder is fine; the last one is checked
        parent[slash] = '/';
    }
    return EnsureOwnedFolder(path, 0700);
}

Check ReplaceFile(const char* folder, const char* name, const std::string& content, mode_t mode)
{
    const std::string target = join(folder, name);
    const Check existing = Inspect(target.c_str());
    if (existing != Check::Ok && existing != Check::Missing && existing != Check::Exposed)
        return existing;

    // mkstemp creates the file exclusively (never through a planted name),
    // owner-only.
    std::string scratch = join(folder, ".") + name + ".XXXXXX";
    const int fd = mkostemp(&scratch[0], O_CLOEXEC);
    if (fd < 0)
        return Check::Failed;
    const bool written =
        fchmod(fd, mode) == 0 && WriteAll(fd, content.data(), content.size()) && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!written || !closed) {
        unlink(scratch.c_str());
        return Check::Failed;
    }
    // rename replaces the name itself: a link or file planted after the
    // check above is replaced or (sticky folder) makes the rename fail; it is
    // never written through.
    if (rename(scratch.c_str(), target.c_str()) != 0) {
        const int error = errno;
        unlink(scratch.c_str());
        const Check now = Inspect(target.c_str());
        return now == Check::Ok || now == Check::Missing
                   ? (error == EPERM || error == EACCES ? Check::Foreign : Check::Failed)
                   : now;
    }
    return Check::Ok;
}

void RemoveOwnedFile(const char* folder, const char* name)
{
    const std::string path = join(folder, name);
    const Check check = Inspect(path.c_str());
    if (check == Check::Ok || check == Check::Exposed)
        unlink(path.c_str());
}

Check TrustedLibrary(const char* path, std::string* resolved)
{
    if (!path || path[0] != '/')
        return Check::Failed;
    // The folder holding the name, then what the name leads to and its folder.
    Check check = trustedFolders(folderOf(path));
    if (check != Check::Ok)
        return check;
    char real[PATH_MAX];
    if (!realpath(path, real))
        return errno == ENOENT ? Check::Missing : Check::Failed;
    struct stat st;
    if (lstat(real, &st) != 0)
        return Check::Failed;
    if (!S_ISREG(st.st_mode))
        return Check::WrongType;
    if (!trustedOwner(st.st_uid))
        return Check::Foreign;
    if (st.st_mode & (S_IWGRP | S_IWOTH))
        return Check::Exposed;
    check = trustedFolders(folderOf(real));
    if (check == Check::Ok && resolved)
        *resolved = real;
    return check;
}

} // namespace SafeFile
