#pragma once

// Daemons a test process starts for itself: a private D-Bus session bus and a private X display,
// killed with their object or with the test process (SIGKILL at the parent's death). The variable
// that names one (DBUS_SESSION_BUS_ADDRESS, DISPLAY) is set while it runs. Start them before the
// process uses the bus or the display: Qt connects once.

#include "EnvGuard.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class ChildDaemon
{
public:
    Q_DISABLE_COPY(ChildDaemon)

    ~ChildDaemon()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

    bool isRunning() const { return m_pid > 0; }

protected:
    ChildDaemon() = default;

    // Runs argv with the write end of a pipe at descriptor 3 and waits (10 s at most) for the
    // first line it writes there; then sets variable to prefix + that line.
    void start(const std::vector<QByteArray>& argv, const QByteArray& variable,
               const QByteArray& prefix)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        const pid_t parent = getpid();
        const pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent)
                _exit(127);
            // Descriptor 3 without close-on-exec.
            if (fds[1] == 3)
                fcntl(3, F_SETFD, 0);
            else
                dup2(fds[1], 3);
            const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
            for (int fd = 0; fd < 3; ++fd)
                dup2(devNull, fd);
            std::vector<char*> args;
            for (const QByteArray& arg : argv)
                args.push_back(const_cast<char*>(arg.constData()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
        close(fds[1]);
        m_pid = pid;
        QByteArray line;
        pollfd p{fds[0], POLLIN, 0};
        while (!line.contains('\n') && poll(&p, 1, 10000) > 0) {
            char buffer[256];
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            line.append(buffer, int(n));
        }
        close(fds[0]);
        line = line.left(line.indexOf('\n')).trimmed();
        if (line.isEmpty() && m_pid > 0) { // did not start
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        if (m_pid > 0)
            m_env.set(variable.constData(), prefix + line);
    }

    QTemporaryDir m_dir;

private:
    pid_t m_pid = -1;
    EnvGuard m_env;
};

// A session bus of the test's own (dbus-daemon): every name may be owned, nothing is started on
// demand, so no program of the machine takes part.
class PrivateSessionBus : public ChildDaemon
{
public:
    PrivateSessionBus()
    {
        const QString config = m_dir.path() + "/session.conf";
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration "
                       "1.0//EN\" \"http://www.freedesktop.org/standards/dbus/1.0/"
                       "busconfig.dtd\">\n<busconfig><type>session</type><listen>unix:dir=" +
                       QFile::encodeName(m_dir.path()) +
                       "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
                       "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n") <=
                0)
            return;
        file.close();
        start({"dbus-daemon", "--config-file=" + QFile::encodeName(config), "--nofork",
               "--nopidfile", "--print-address=3"},
              "DBUS_SESSION_BUS_ADDRESS", "");
    }
};

// An X display of the test's own (Xvfb), without a window manager.
class PrivateXDisplay : public ChildDaemon
{
public:
    PrivateXDisplay()
    {
        start({"Xvfb", "-displayfd", "3", "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
              "DISPLAY", ":");
    }
};
