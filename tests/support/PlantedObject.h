#pragma once

// What another user of the workstation can leave at a name in a shared
// folder, for the tests that check the client neither waits on it nor
// writes through it.

#include <QDir>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace PlantedObject
{

// The uid the planted objects get when they are another user's: nobody.
constexpr uid_t kOtherUser = 65534;

// Puts kind at path: "fifo", "file" (contents), "folder" (mode 0777), or
// "link" (to linkTarget). foreign: owned by kOtherUser (needs root).
inline bool plant(const QString& path, const QString& kind, bool foreign,
                  const QByteArray& contents = {}, const QString& linkTarget = {})
{
    const QByteArray at = QFile::encodeName(path);
    bool made = false;
    if (kind == "fifo") {
        made = mkfifo(at.constData(), 0666) == 0;
    } else if (kind == "link") {
        made = QFile::link(linkTarget, path);
    } else if (kind == "file") {
        QFile file(path);
        made = file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
    } else if (kind == "folder") {
        made = QDir().mkdir(path) && chmod(at.constData(), 0777) == 0;
    }
    return made && (!foreign || lchown(at.constData(), kOtherUser, kOtherUser) == 0);
}

// What stands at path, to tell whether anything was written through it:
// type, owner, content of a file, target (and what is there) of a link,
// entries of a folder.
inline QString snapshot(const QString& path)
{
    struct stat st;
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "missing";
    QString text = QString::asprintf("%o %d ", st.st_mode & S_IFMT, int(st.st_uid));
    QFile file(path);
    if (S_ISLNK(st.st_mode)) {
        const QString target = QFile::symLinkTarget(path);
        text += target + " " + snapshot(target);
    } else if (S_ISREG(st.st_mode) && file.open(QIODevice::ReadOnly)) {
        text += QString::fromUtf8(file.readAll());
    } else if (S_ISDIR(st.st_mode)) {
        for (const QString& entry :
             QDir(path).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            text += entry + "=" + snapshot(path + "/" + entry) + ";";
    }
    return text;
}

// A process of kOtherUser that holds a read lock (fcntl) on the file at path,
// as another user can while the file is readable by all, until the object is
// destroyed. held() tells whether it got the lock. Needs root.
class ForeignLock
{
public:
    explicit ForeignLock(const QString& path)
    {
        const QByteArray at = QFile::encodeName(path);
        int report[2], release[2];
        if (pipe2(report, O_CLOEXEC) != 0 || pipe2(release, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) { // only async-signal-safe calls from here on
            close(report[0]);
            close(release[1]);
            char held = 0;
            if (setgroups(0, nullptr) == 0 && setgid(kOtherUser) == 0 && setuid(kOtherUser) == 0) {
                const int fd = open(at.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
                struct flock lock = {};
                lock.l_type = F_RDLCK;
                lock.l_whence = SEEK_SET;
                held = fd >= 0 && fcntl(fd, F_SETLK, &lock) == 0;
            }
            (void)!write(report[1], &held, 1);
            (void)!read(release[0], &held, 1); // until the parent closes its end
            _exit(0);
        }
        close(report[1]);
        close(release[0]);
        m_release = release[1];
        char held = 0;
        m_held = m_pid > 0 && read(report[0], &held, 1) == 1 && held;
        close(report[0]);
    }
    ~ForeignLock()
    {
        if (m_release >= 0)
            close(m_release);
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
    }
    ForeignLock(const ForeignLock&) = delete;
    ForeignLock& operator=(const ForeignLock&) = delete;

    bool held() const { return m_held; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_held = false;
};

} // namespace PlantedObject
