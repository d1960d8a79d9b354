#include "SingleInstance.h"

#include "EventLog.h"
#include "SafeFile.h"
#include "SystemPaths.h"
#include "TavCommon.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// The shared folder may be ours or, when it is sticky like /var/tmp, any
// user's: a sticky folder keeps others from renaming or removing our file.
// One of ours (made now, or by an earlier start of ours) is made writable by
// every user's client and sticky, whatever the umask was.
bool signalFolderUsable(const QByteArray& folder)
{
    mkdir(folder.constData(), 0777);
    const int fd = open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 07777) != 01777)
        fchmod(fd, 01777);
    if (fd >= 0)
        close(fd);
    const SafeFile::Check check = SafeFile::Inspect(folder.constData(), true);
    if (check == SafeFile::Check::Ok ||
        (check == SafeFile::Check::Foreign && lstat(folder.constData(), &st) == 0 &&
         S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)))
        return true;
    LogEvent(kLogError, "signal folder %s is %s, no signal\n", folder.constData(),
             SafeFile::Describe(check));
    return false;
}

// Whether process pid runs as this process's user (its real or effective
// uid). A process that cannot be looked at (gone, in another pid namespace,
// hidden from us) is not ours: our own processes are always visible to us.
bool runsAsThisUser(pid_t pid)
{
    if (pid <= 0)
        return false;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
    FILE* status = fopen(path, "re");
    if (!status)
        return false;
    char line[256];
    bool ours = false;
    unsigned real = 0, effective = 0;
    while (fgets(line, sizeof line, status)) {
        if (sscanf(line, "Uid: %u %u", &real, &effective) == 2) {
            ours = real == geteuid() || effective == geteuid();
            break;
        }
    }
    fclose(status);
    return ours;
}

// Result of takeLock.
enum class Lock {
    Held,        // this process holds it now
    HeldByUs,    // a process of this user holds it: another instance
    HeldByOther, // a process of another user holds it (it opened the file
                 // while others could read it)
    Unusable,    // the file cannot be used (*check tells why)
};

// Opens the lock file at path (owner-only; an existing one of ours with a
// wider mode, as earlier versions made it, is narrowed) and takes its lock.
Lock takeLock(const QByteArray& path, SafeFile::Check* check)
{
    if (SafeFile::Inspect(path.constData()) == SafeFile::Check::Exposed) {
        // Ours but writable by every user: made owner-only before it is used.
        const int fd = open(path.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st;
        if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid())
            fchmod(fd, 0600);
        if (fd >= 0)
            close(fd);
    }
    const int fd = SafeFile::OpenOwnedFile(path.constData(), O_WRONLY | O_CREAT, 0600, check);
    if (fd < 0)
        return Lock::Unusable;
    struct stat st;
    if (fstat(fd, &st) == 0 && (st.st_mode & 07777) != 0600)
        fchmod(fd, 0600);
    if (lockf(fd, F_TLOCK, 0) == 0)
        return Lock::Held; // the descriptor stays open: the lock lives as long as the process
    const int error = errno;
    // Who holds it? A read lock of another user's process (taken while the
    // file could be read by all) must not keep this user's client out.
    struct flock holder = {};
    holder.l_type = F_WRLCK;
    holder.l_whence = SEEK_SET;
    const bool known = fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK;
    close(fd);
    errno = error;
    return known && !runsAsThisUser(holder.l_pid) ? Lock::HeldByOther : Lock::HeldByUs;
}

} // namespace

QByteArray signalFilePath()
{
    return SystemPaths::signalFolder() + "/1-" + getUserName().toUtf8();
}

QByteArray prepareSignalFile()
{
    if (!signalFolderUsable(SystemPaths::signalFolder()))
        return QByteArray();
    const QByteArray path = signalFilePath();
    SafeFile::Check check;
    const int fd = SafeFile::OpenOwnedFile(path.constData(), O_WRONLY | O_CREAT, 0600, &check);
    if (fd < 0) {
        LogEvent(kLogError, "signal file %s is %s, no signal\n", path.constData(),
                 SafeFile::Describe(check));
        return QByteArray();
    }
    close(fd);
    return path;
}

void activateExistentProcess()
{
    const QByteArray path = prepareSignalFile();
    if (path.isEmpty())
        return;
    // A change of the file's times is what the running instance's watcher
    // sees.
    const int fd = SafeFile::OpenOwnedFile(path.constData(), O_WRONLY, 0, nullptr);
    if (fd >= 0) {
        futimens(fd, nullptr);
        close(fd);
    }
}

bool checkOnly()
{
    char path[256];
    snprintf(path, sizeof path, "%s-%s", SystemPaths::lockFileBase().constData(),
             getUserName().toUtf8().constData());
    SafeFile::Check sharedCheck = SafeFile::Check::Ok;
    const Lock shared = takeLock(path, &sharedCheck);
    if (shared == Lock::HeldByUs) {
        perror("lock file error/n");
        return false;
    }
    if (shared == Lock::Unusable &&
        (sharedCheck == SafeFile::Check::Failed || sharedCheck == SafeFile::Check::Missing)) {
        perror("open lockfile/n"); // for example /var/tmp not writable
        return false;
    }
    if (shared == Lock::HeldByOther)
        LogEvent(kLogError,
                 "lock file %s is locked by another user's process, the user's own lock "
                 "decides\n",
                 path);
    else if (shared == Lock::Unusable)
        LogEvent(kLogError, "lock file %s is %s, the user's own lock decides\n", path,
                 SafeFile::Describe(sharedCheck));

    // The same lock in the user's own folder: it holds even while another
    // user's object takes the shared name (or another user's process locks
    // it), and keeps two starts of one user apart when that object comes or
    // goes between them.
    Lock own = Lock::Unusable;
    const QByteArray folder = SystemPaths::privateFolder();
    SafeFile::Check ownCheck = SafeFile::Check::Failed;
    if (!folder.isEmpty() &&
        SafeFile::EnsurePrivateFolder(folder.constData()) == SafeFile::Check::Ok)
        own = takeLock(folder + "/lockfile", &ownCheck);
    if (own == Lock::HeldByUs || own == Lock::HeldByOther) {
        perror("lock file error/n");
        return false;
    }
    if (shared != Lock::Held && own != Lock::Held) {
        errno = EPERM;
        perror("open lockfile/n");
        return false;
    }
    return true;
}
