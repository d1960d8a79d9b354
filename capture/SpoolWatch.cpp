#include "SpoolWatch.h"

#include "EventLog.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace SpoolFolder
{

namespace
{

// Entries of the folder dirFd (without "." and ".."), each with its lstat.
struct Entry {
    QByteArray Name;
    struct stat St;
};

std::vector<Entry> entries(int dirFd)
{
    std::vector<Entry> list;
    const int fd = dup(dirFd);
    if (fd < 0)
        return list;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return list;
    }
    rewinddir(dir);
    while (const dirent* d = readdir(dir)) {
        if (d->d_name[0] == '.')
            continue; // ".", ".." and hidden entries
        Entry e;
        e.Name = QByteArray(d->d_name);
        if (fstatat(dirFd, d->d_name, &e.St, AT_SYMLINK_NOFOLLOW) == 0)
            list.push_back(e);
    }
    closedir(dir);
    return list;
}

bool ownerAccepted(uid_t owner, const QByteArray& userName)
{
    if (owner == geteuid())
        return true;
    if (userName.isEmpty())
        return false;
    struct passwd pw;
    struct passwd* found = nullptr;
    char buffer[4096];
    return getpwnam_r(userName.constData(), &pw, buffer, sizeof buffer, &found) == 0 && found &&
           found->pw_uid == owner;
}

} // namespace

const char* Describe(Check check)
{
    switch (check) {
    case Check::Usable:
        return "usable";
    case Check::Missing:
        return "missing";
    case Check::NotAFolder:
        return "a link or not a folder";
    case Check::ForeignOwner:
        return "owned by another user";
    case Check::OpenToOthers:
        return "writable by other users";
    case Check::Unreadable:
        return "not readable";
    }
    return "";
}

int Open(const QByteArray& path, const QByteArray& userName, Check* check)
{
    const int fd = open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *check = errno == ENOENT                      ? Check::Missing
                 : errno == ELOOP || errno == ENOTDIR ? Check::NotAFolder
                                                      : Check::Unreadable;
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        close(fd);
        *check = Check::NotAFolder;
        return -1;
    }
    if (!ownerAccepted(st.st_uid, userName)) {
        close(fd);
        *check = Check::ForeignOwner;
        return -1;
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        close(fd);
        *check = Check::OpenToOthers;
        return -1;
    }
    *check = Check::Usable;
    return fd;
}

bool Create(const QByteArray& path)
{
    const QString name = QFile::decodeName(path);
    const QString parent = name.left(name.lastIndexOf('/'));
    if (!parent.isEmpty() && !QDir().mkpath(parent))
        return false;
    return mkdir(path.constData(), 0700) == 0;
}

QStringList JobFolders(int dirFd)
{
    QStringList names;
    for (const Entry& e : entries(dirFd)) {
        if (S_ISDIR(e.St.st_mode))
            names << QFile::decodeName(e.Name);
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

JobFiles Examine(int dirFd, const QString& name)
{
    JobFiles job;
    const QByteArray encoded = QFile::encodeName(name);
    const int fd =
        openat(dirFd, encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return job;
    bool document = false;
    bool options = false;
    for (const Entry& e : entries(fd)) {
        job.Contents += e.Name + '/' + QByteArray::number(qlonglong(e.St.st_mode)) + '/' +
                        QByteArray::number(qlonglong(e.St.st_size)) + '/' +
                        QByteArray::number(qlonglong(e.St.st_mtim.tv_sec)) + '.' +
                        QByteArray::number(qlonglong(e.St.st_mtim.tv_nsec)) + '\n';
        if (!S_ISREG(e.St.st_mode))
            continue;
        ++job.Files;
        document = document || e.Name == "job.pdf";
        options = options || e.Name == "options";
    }
    close(fd);
    job.Complete = job.Files == 2 && document && options;
    return job;
}

QString SetAside(int dirFd, const QString& name)
{
    const QByteArray from = QFile::encodeName(name);
    for (int n = 0; n < 100; ++n) {
        QString target = QStringLiteral(".incomplete-") + name;
        if (n > 0)
            target += QStringLiteral("-%1").arg(n);
        const QByteArray to = QFile::encodeName(target);
        struct stat st;
        if (fstatat(dirFd, to.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            continue;
        if (renameat(dirFd, from.constData(), dirFd, to.constData()) == 0)
            return target;
        return QString();
    }
    return QString();
}

} // namespace SpoolFolder

SpoolWatch::SpoolWatch(const QString& spoolPath, const QByteArray& userName, const Options& options)
    : m_Path(spoolPath), m_UserName(userName), m_Options(options)
{
}

int SpoolWatch::openFolder(Clock::time_point now)
{
    using SpoolFolder::Check;
    const QByteArray path = QFile::encodeName(m_Path);
    Check check;
    int fd = SpoolFolder::Open(path, m_UserName, &check);
    if (check == Check::Missing) {
        // The printer creates the folder with the user's first job; after a
        // while without one the client makes it itself.
        if (!m_MissingSeen) {
            m_MissingSeen = true;
            m_MissingSince = now;
        } else if (now - m_MissingSince >= m_Options.CreateAfter) {
            m_MissingSince = now;
            if (SpoolFolder::Create(path))
                fd = SpoolFolder::Open(path, m_UserName, &check);
        }
    } else {
        m_MissingSeen = false;
    }
    if (check != m_LastCheck && check != Check::Usable && check != Check::Missing)
        LogEvent(kLogError, "spool folder %s is %s: not used\n", path.constData(),
                 SpoolFolder::Describe(check));
    m_LastCheck = check;
    return fd;
}

QStringList SpoolWatch::eligible(int dirFd, Clock::time_point now)
{
    const QStringList all = SpoolFolder::JobFolders(dirFd);
    // Retry times of folders that are gone are forgotten.
    for (auto it = m_Deferred.begin(); it != m_Deferred.end();) {
        if (!all.contains(it.key()))
            it = m_Deferred.erase(it);
        else
            ++it;
    }
    QStringList names;
    for (const QString& name : all) {
        const auto deferred = m_Deferred.constFind(name);
        if (deferred == m_Deferred.constEnd() || now >= deferred->At)
            names << name;
    }
    return names;
}

SpoolWatch::Step SpoolWatch::handOver(const QString& name)
{
    Step step;
    step.Cancel = true;
    step.HandOver = name;
    step.State = MonitorFolderState::HandedOver;
    m_Handed = name;
    m_Waiting.clear();
    return step;
}

SpoolWatch::Step SpoolWatch::poll(int state, Clock::time_point now)
{
    Step step;
    step.State = state;
    if (state == MonitorFolderState::HandedOver) {
        step.Cancel = true;
        return step;
    }

    const int fd = openFolder(now);
    const QStringList names = fd >= 0 ? eligible(fd, now) : QStringList();
    if (names.isEmpty()) {
        if (fd >= 0)
            close(fd);
        step.Cancel = true;
        step.State = MonitorFolderState::Idle;
        m_Waiting.clear();
        return step;
    }

    const QString first = names.first();
    const SpoolFolder::JobFiles job = SpoolFolder::Examine(fd, first);
    if (job.Complete) {
        close(fd);
        return handOver(first);
    }

    if (first != m_Waiting || job.Contents != m_WaitingContents) {
        m_Waiting = first;
        m_WaitingContents = job.Contents;
        m_WaitingSince = now;
    } else if (now - m_WaitingSince >= m_Options.Grace) {
        const QString aside = SpoolFolder::SetAside(fd, first);
        LogEvent(kLogError, "job folder %s/%s holds %d files and has not changed for %lld s: %s\n",
                 QFile::encodeName(m_Path).constData(), QFile::encodeName(first).constData(),
                 job.Files,
                 static_cast<long long>(
                     std::chrono::duration_cast<std::chrono::seconds>(m_Options.Grace).count()),
                 aside.isEmpty() ? "cannot set it aside"
                                 : QFile::encodeName("set aside as " + aside).constData());
        close(fd);
        m_Waiting.clear();
        if (aside.isEmpty()) {
            // Left out for a while, so that the next job can go on.
            m_Deferred.insert(first, {now + m_Options.RetryMax, m_Options.RetryMax});
        }
        step.Cancel = true;
        step.State = MonitorFolderState::Idle;
        return step;
    }
    close(fd);

    if (state == MonitorFolderState::Idle)
        step.ResetProgress = true;
    step.Perform = true;
    step.State = MonitorFolderState::JobSeen;
    return step;
}

void SpoolWatch::jobDone(Outcome outcome, Clock::time_point now)
{
    const QString name = m_Handed;
    m_Handed.clear();
    if (name.isEmpty())
        return;
    if (outcome != Outcome::Failed) {
        m_Deferred.remove(name);
        return;
    }
    const auto previous = m_Deferred.constFind(name);
    const std::chrono::milliseconds backoff =
        previous == m_Deferred.constEnd()
            ? m_Options.RetryFirst
            : std::min<std::chrono::milliseconds>(previous->Backoff * 2, m_Options.RetryMax);
    m_Deferred.insert(name, {now + backoff, backoff});
    LogEvent(
        kLogWarning, "job %s kept after a failed submission; offered again in %lld s\n",
        QFile::encodeName(name).constData(),
        static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(backoff).count()));
}
