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
    LogEvent(2, "signal folder %s is %s, no signal\n", folder.constData(),
             SafeFile::Describe(check));
    return false;
}

// Opens the lock file at path and takes its lock. 1: held, 0: another
// process holds it, -1: the file cannot be used (*check tells why).
int takeLock(const QByteArray& path, SafeFile::Check* check)
{
    const int fd = SafeFile::OpenOwnedFile(path.constData(), O_WRONLY | O_CREAT, 0644, check);
    if (fd < 0)
        return -1;
    if (lockf(fd, F_TLOCK, 0) < 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return 0;
    }
    // The descriptor stays open: the lock lives exactly as long as the process.
    return 1;
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
        LogEvent(2, "signal file %s is %s, no signal\n", path.constData(),
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
    SafeFile::Check sharedCheck;
    const int shared = takeLock(path, &sharedCheck);
    if (shared == 0) {
        perror("lock file error/n");
        return false;
    }
    if (shared < 0 &&
        (sharedCheck == SafeFile::Check::Failed || sharedCheck == SafeFile::Check::Missing)) {
        perror("open lockfile/n"); // for example /var/tmp not writable
        return false;
    }
    if (shared < 0)
        LogEvent(2, "lock file %s is %s, the user's own lock decides\n", path,
                 SafeFile::Describe(sharedCheck));

    // The same lock in the user's own folder: it holds even while another
    // user's object takes the shared name, and keeps two starts of one user
    // apart when that object comes or goes between them.
    int own = -1;
    const QByteArray folder = SystemPaths::privateFolder();
    SafeFile::Check ownCheck = SafeFile::Check::Failed;
    if (!folder.isEmpty() &&
        SafeFile::EnsurePrivateFolder(folder.constData()) == SafeFile::Check::Ok)
        own = takeLock(folder + "/lockfile", &ownCheck);
    if (own == 0) {
        perror("lock file error/n");
        return false;
    }
    if (shared < 0 && own < 0) {
        errno = EPERM;
        perror("open lockfile/n");
        return false;
    }
    return true;
}
