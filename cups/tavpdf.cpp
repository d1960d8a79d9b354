// tavpdf: the CUPS backend of the TavPrint PDF printer.
//
// Writes every job as a folder holding exactly "job.pdf" (the document as
// CUPS hands it over, PDF) and "options" (the job's options, see
// JobSpool::JobOptions) into "/var/spool/cups-pdf/" followed by the name of
// the job's owner, where the client picks it up. The folder is built under a
// hidden name in the same place and renamed into place only when both files
// are complete, so a reader never sees half a job.
//
// Installed with mode 0700 so that CUPS runs it as root: only root can create
// the user's folder and hand it to the user. Everything after that is done
// with the user's own rights, reading the document included, in a child
// process: the root parent waits for it within a time limit and ends it when
// the limit runs out, so a user who stops his writer (kill -STOP) holds the
// queue for at most that long. Jobs of root, of the system accounts (uid
// below UID_MIN of /etc/login.defs) and of the special accounts above UID_MAX
// (nobody) are refused, so no document is ever parsed with root's rights and
// every folder has a person behind it. The spool root must be root's and
// closed to everybody else, and so must every folder above it (see
// OpenSpoolRoot).
//
//   tavpdf                                            list the device (CUPS)
//   tavpdf job-id user title copies options [file]    write one job

#include "JobSpool.h"
#include "PdfPages.h"

#include <cups/backend.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

// The job's owner, copied out of the password database's static storage.
struct Owner {
    std::string name;
    uid_t uid;
    gid_t gid;
};

volatile sig_atomic_t g_cancelled = 0;

void OnTerminate(int)
{
    g_cancelled = 1;
}

void OnChild(int) {}

// One line for the CUPS error log ("ERROR: ...", "DEBUG: ..."); ERROR lines
// also become the queue's state message.
void Log(const char* level, const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "%s: %s\n", level, text);
}

// Opens the spool root (path, absolute), creating it and its missing parents
// owned by root. Nobody but root may be able to change what lies on the way
// (a relocated root of tests and the demo included): every folder above it
// must be root's and not writable by its group or others unless it is sticky
// (/tmp), and the spool root itself must be root's, a real
// folder (not a link) that neither its group nor others can write. It is
// made 0711: a user reaches his own folder in it, but nobody can list who
// printed. Returns an open descriptor, or -1 after logging why.
int OpenSpoolRoot(const std::string& path)
{
    if (path.empty() || path[0] != '/') {
        Log("ERROR", "the spool folder %s is not an absolute path", path.c_str());
        return -1;
    }
    int fd = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t pos = 0;
    while (fd >= 0) {
        const size_t begin = path.find_first_not_of('/', pos);
        if (begin == std::string::npos)
            break;
        size_t end = path.find('/', begin);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(begin, end - begin);
        const bool last = path.find_first_not_of('/', end) == std::string::npos;
        pos = end;
        // Links above the spool root are the system's to choose; the spool
        // root itself is never followed.
        const int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | (last ? O_NOFOLLOW : 0);
        int next = openat(fd, name.c_str(), flags);
        if (next < 0 && errno == ENOENT) {
            if (mkdirat(fd, name.c_str(), last ? 0711 : 0755) != 0 && errno != EEXIST) {
                Log("ERROR", "cannot create %s: %s", path.substr(0, end).c_str(),
                    std::strerror(errno));
                close(fd);
                return -1;
            }
            next = openat(fd, name.c_str(), flags);
            // CUPS runs the backend with the group lp; the folders are root's.
            if (next >= 0 && ((geteuid() == 0 && fchown(next, 0, 0) != 0) ||
                              fchmod(next, last ? 0711 : 0755) != 0)) {
                close(next);
                next = -1;
            }
        }
        const int error = errno;
        close(fd);
        fd = next;
        if (fd < 0) {
            Log("ERROR", "cannot open %s (%s); job not written", path.substr(0, end).c_str(),
                error == ELOOP || error == ENOTDIR ? "a link or not a folder"
                                                   : std::strerror(error));
            return -1;
        }
        struct stat st;
        if (fstat(fd, &st) != 0) {
            close(fd);
            return -1;
        }
        const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
        if (st.st_uid != 0 || (othersWrite && (last || !(st.st_mode & S_ISVTX)))) {
            Log("ERROR",
                "%s belongs to uid %u with mode %o: another user could put something in "
                "the printer's way; job not written",
                path.substr(0, end).c_str(), unsigned(st.st_uid), unsigned(st.st_mode & 07777));
            close(fd);
            return -1;
        }
        // An older installation made it 0755: nobody needs to list it.
        if (last && (st.st_mode & 07777) != 0711 && fchmod(fd, 0711) != 0) {
            Log("ERROR", "cannot make %s 0711: %s", path.c_str(), std::strerror(errno));
            close(fd);
            return -1;
        }
    }
    return fd;
}

// Opens the user's folder in the spool root, creating it (owned by the user,
// 0700) when missing. An existing entry must be a real folder owned by the
// user: a symbolic link or anybody else's folder is never used. Returns an
// open descriptor of the folder, or -1 after logging why.
int OpenUserFolder(int root, const std::string& path, const Owner& user)
{
    const char* name = user.name.c_str();
    const bool created = mkdirat(root, name, 0700) == 0;
    if (!created && errno != EEXIST) {
        Log("ERROR", "cannot create %s: %s", path.c_str(), std::strerror(errno));
        return -1;
    }
    const int fd = openat(root, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        Log("ERROR", "%s is not a folder (a link or a file?); job not written", path.c_str());
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode)) {
        Log("ERROR", "%s is not a folder; job not written", path.c_str());
        close(fd);
        return -1;
    }
    if (created) {
        if (fchown(fd, user.uid, user.gid) != 0) {
            Log("ERROR", "cannot give %s to %s: %s", path.c_str(), user.name.c_str(),
                std::strerror(errno));
            close(fd);
            unlinkat(root, name, AT_REMOVEDIR);
            return -1;
        }
        st.st_uid = user.uid;
    }
    if (st.st_uid != user.uid) {
        Log("ERROR", "%s does not belong to %s; job not written", path.c_str(), user.name.c_str());
        close(fd);
        return -1;
    }
    if ((st.st_mode & 07777) != 0700 && fchmod(fd, 0700) != 0) {
        Log("ERROR", "cannot make %s private: %s", path.c_str(), std::strerror(errno));
        close(fd);
        return -1;
    }
    return fd;
}

// Takes on the user's identity for good.
bool BecomeUser(const Owner& user)
{
    if (geteuid() == user.uid && getuid() == user.uid)
        return true;
    if (initgroups(user.name.c_str(), user.gid) != 0 || setgid(user.gid) != 0 ||
        setuid(user.uid) != 0) {
        Log("ERROR", "cannot take the identity of %s: %s", user.name.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

// Hidden job folders left by a backend that was killed; removed after a day.
void RemoveStaleTempFolders()
{
    DIR* dir = opendir(".");
    if (!dir)
        return;
    const time_t limit = time(nullptr) - 24 * 3600;
    const size_t prefixLength = std::strlen(JobSpool::kTempPrefix);
    while (dirent* e = readdir(dir)) {
        if (std::strncmp(e->d_name, JobSpool::kTempPrefix, prefixLength) != 0)
            continue;
        struct stat st;
        if (lstat(e->d_name, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_mtime > limit)
            continue;
        const std::string name = e->d_name;
        unlink((name + "/job.pdf").c_str());
        unlink((name + "/options").c_str());
        rmdir(name.c_str());
    }
    closedir(dir);
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR && !g_cancelled)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Copies the document from input into a new file path (mode 0600).
bool CopyDocument(int input, const std::string& path)
{
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        Log("ERROR", "cannot create %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    static char buffer[65536];
    bool ok = true;
    size_t total = 0;
    while (ok) {
        const ssize_t n = read(input, buffer, sizeof buffer);
        if (g_cancelled) {
            ok = false;
        } else if (n < 0) {
            if (errno == EINTR)
                continue;
            Log("ERROR", "cannot read the document: %s", std::strerror(errno));
            ok = false;
        } else if (n == 0) {
            break;
        } else if (WriteAll(out, buffer, size_t(n))) {
            total += size_t(n);
        } else {
            Log("ERROR", "cannot write %s: %s", path.c_str(), std::strerror(errno));
            ok = false;
        }
    }
    if (ok && total == 0) {
        Log("ERROR", "the document is empty; job not written");
        ok = false;
    }
    if (ok && fsync(out) != 0) {
        Log("ERROR", "cannot write %s: %s", path.c_str(), std::strerror(errno));
        ok = false;
    }
    return close(out) == 0 && ok;
}

bool WriteTextFile(const std::string& path, const std::string& text)
{
    const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        Log("ERROR", "cannot create %s: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    const bool ok = WriteAll(out, text.data(), text.size()) && fsync(out) == 0;
    if (!ok)
        Log("ERROR", "cannot write %s: %s", path.c_str(), std::strerror(errno));
    return close(out) == 0 && ok;
}

void SyncFolder(const char* path)
{
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// Moves the finished folder to its visible name; a name already taken (a
// job kept by the client) gets a suffix instead of replacing it.
bool PublishFolder(const std::string& temp, const std::string& name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string target = attempt == 0 ? name : name + "-" + std::to_string(attempt);
        if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
            return true;
        if (errno == EINVAL || errno == ENOSYS) {
            // A file system without the no-replace flag: check, then rename.
            struct stat st;
            if (lstat(target.c_str(), &st) == 0)
                continue;
            if (rename(temp.c_str(), target.c_str()) == 0)
                return true;
        }
        if (errno != EEXIST && errno != ENOTEMPTY)
            break;
    }
    Log("ERROR", "cannot put the job folder in place: %s", std::strerror(errno));
    return false;
}

void RemoveTempFolder(const std::string& temp)
{
    unlink((temp + "/job.pdf").c_str());
    unlink((temp + "/options").c_str());
    rmdir(temp.c_str());
}

// Everything the writer needs, handed over by value.
struct Job {
    long jobId;
    time_t arrival;
    Owner owner;
    std::string userFolder;
    int folder;
    int input;
    const char* title;
    const char* copies;
    const char* options;
    JobSpool::PpdDefaults defaults;
};

// The writer, in the child: becomes the user, writes the job folder and
// renames it into place. Returns the backend's exit status.
int WriteJob(const Job& job)
{
    // From here on the writer is the user: it can touch nothing the user
    // could not, and the document is parsed without root's rights.
    if (fchdir(job.folder) != 0 || !BecomeUser(job.owner)) {
        Log("ERROR", "cannot enter %s: %s", job.userFolder.c_str(), std::strerror(errno));
        return CUPS_BACKEND_FAILED;
    }
    close(job.folder);
    RemoveStaleTempFolders();

    std::string temp = std::string(JobSpool::kTempPrefix) + std::to_string(job.jobId) + "-XXXXXX";
    if (!mkdtemp(&temp[0])) {
        Log("ERROR", "cannot create a folder in %s: %s", job.userFolder.c_str(),
            std::strerror(errno));
        return CUPS_BACKEND_FAILED;
    }
    const std::string document = temp + "/job.pdf";
    bool ok = CopyDocument(job.input, document);
    if (ok) {
        const int pages = GetPdfPageCount(document.c_str());
        const std::string text = JobSpool::FormatOptions(
            JobSpool::JobOptions(job.title, job.copies, job.options, job.defaults, pages));
        ok = WriteTextFile(temp + "/options", text) && !g_cancelled;
        if (ok) {
            SyncFolder(temp.c_str());
            ok = PublishFolder(temp, JobSpool::JobFolderName(job.arrival, job.jobId));
        }
        if (ok) {
            SyncFolder(".");
            Log("INFO", "job %ld written for %s (%d pages)", job.jobId, job.owner.name.c_str(),
                pages);
        }
    }
    if (!ok) {
        RemoveTempFolder(temp);
        if (g_cancelled)
            Log("INFO", "job %ld cancelled", job.jobId);
        return CUPS_BACKEND_FAILED;
    }
    return CUPS_BACKEND_OK;
}

double Now()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The root parent: waits for the writer until limitSeconds have passed and
// ends it then; a cancelled job (SIGTERM from CUPS) is passed on and gets a
// few seconds. SIGTERM and SIGCHLD are blocked here (waited signals).
int WaitForWriter(pid_t child, unsigned limitSeconds, const sigset_t& waited, const Job& job)
{
    constexpr double kCancelGrace = 5;
    double deadline = Now() + limitSeconds;
    bool cancelled = false;
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            if (WIFEXITED(status))
                return WEXITSTATUS(status);
            Log("ERROR", "job %ld: the writer (as %s) was ended by signal %d; job not written",
                job.jobId, job.owner.name.c_str(), WIFSIGNALED(status) ? WTERMSIG(status) : 0);
            return CUPS_BACKEND_FAILED;
        }
        if (done < 0 && errno != EINTR) {
            Log("ERROR", "job %ld: lost the writer: %s", job.jobId, std::strerror(errno));
            return CUPS_BACKEND_FAILED;
        }
        if (g_cancelled && !cancelled) {
            cancelled = true;
            kill(child, SIGTERM);
            deadline = std::min(deadline, Now() + kCancelGrace);
        }
        const double left = deadline - Now();
        if (left <= 0) {
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            if (cancelled)
                Log("INFO", "job %ld cancelled", job.jobId);
            else
                Log("ERROR",
                    "job %ld: the writer (as %s) did not finish within %u s (stopped?); ended, "
                    "job not written",
                    job.jobId, job.owner.name.c_str(), limitSeconds);
            return CUPS_BACKEND_FAILED;
        }
        timespec wait{};
        wait.tv_sec = time_t(left);
        wait.tv_nsec = long((left - double(wait.tv_sec)) * 1e9);
        if (sigtimedwait(&waited, nullptr, &wait) == SIGTERM)
            g_cancelled = 1;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc == 1) {
        std::printf(
            "file tavpdf:/ \"TavPrint\" \"TavPrint PDF printer\" \"MFG:TavPrint;MDL:PDF;\"\n");
        return CUPS_BACKEND_OK;
    }
    if (argc < 6 || argc > 7) {
        std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
        return CUPS_BACKEND_FAILED;
    }

    struct sigaction action {
    };
    action.sa_handler = OnTerminate;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    // A handler (not the default, which drops it) so that the parent's wait
    // sees the writer end; not woken when it is stopped.
    action.sa_handler = OnChild;
    action.sa_flags = SA_NOCLDSTOP;
    sigaction(SIGCHLD, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    umask(077);

    const time_t arrival = time(nullptr);
    const long jobId = std::strtol(argv[1], nullptr, 10);
    const std::string userName = argv[2];

    // The job's owner as the server names it: only a plain local user.
    const passwd* pw = JobSpool::IsPlainUserName(userName) ? getpwnam(userName.c_str()) : nullptr;
    if (!pw || userName != pw->pw_name) {
        Log("ERROR", "job %ld: the owner \"%s\" is not a local user; job not written", jobId,
            userName.c_str());
        return CUPS_BACKEND_CANCEL;
    }
    const Owner owner{pw->pw_name, pw->pw_uid, pw->pw_gid};

    // Root and the system accounts never print here: their job would be
    // parsed with their rights, and no person's client watches their folder.
    const unsigned long uidMin = JobSpool::ReadUidMin(JobSpool::kLoginDefs);
    const unsigned long uidMax = JobSpool::ReadUidMax(JobSpool::kLoginDefs);
    if (owner.uid == 0 || owner.uid < uidMin || owner.uid > uidMax) {
        Log("ERROR",
            "job %ld: the owner \"%s\" (uid %u) is root, a system account or a special "
            "account (not from UID_MIN %lu to UID_MAX %lu); job not written",
            jobId, owner.name.c_str(), unsigned(owner.uid), uidMin, uidMax);
        return CUPS_BACKEND_CANCEL;
    }

    if (geteuid() != 0 && geteuid() != owner.uid) {
        Log("ERROR",
            "the backend runs as user %u and cannot write for %s: install it with mode "
            "0700 so that CUPS runs it as root",
            unsigned(geteuid()), owner.name.c_str());
        return CUPS_BACKEND_FAILED;
    }

    int input = 0;
    if (argc == 7) {
        input = open(argv[6], O_RDONLY | O_CLOEXEC);
        if (input < 0) {
            Log("ERROR", "cannot open %s: %s", argv[6], std::strerror(errno));
            return CUPS_BACKEND_FAILED;
        }
    }
    const JobSpool::PpdDefaults defaults = JobSpool::ReadPpdDefaults(std::getenv("PPD"));

    const std::string spoolRoot = JobSpool::SpoolRoot(std::getenv(JobSpool::kRootPrefixVariable));
    const int root = OpenSpoolRoot(spoolRoot);
    if (root < 0)
        return CUPS_BACKEND_FAILED;
    const std::string userFolder = spoolRoot + owner.name;
    const int folder = OpenUserFolder(root, userFolder, owner);
    close(root);
    if (folder < 0)
        return CUPS_BACKEND_FAILED;

    // The writer runs as the user in a child; the parent stays root, out of
    // the user's reach, and ends the writer when it takes too long.
    const char* prefix = std::getenv(JobSpool::kRootPrefixVariable);
    const unsigned limit =
        JobSpool::TimeLimitSeconds(prefix, std::getenv(JobSpool::kTimeLimitVariable));
    const Job job{jobId, arrival, owner,   userFolder, folder,
                  input, argv[3], argv[4], argv[5],    defaults};
    sigset_t waited, previous;
    sigemptyset(&waited);
    sigaddset(&waited, SIGTERM);
    sigaddset(&waited, SIGCHLD);
    sigprocmask(SIG_BLOCK, &waited, &previous);
    const pid_t child = fork();
    if (child < 0) {
        Log("ERROR", "cannot start the writer: %s", std::strerror(errno));
        return CUPS_BACKEND_FAILED;
    }
    if (child == 0) {
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        _exit(WriteJob(job));
    }
    close(folder);
    if (input != 0)
        close(input);
    return WaitForWriter(child, limit, waited, job);
}
