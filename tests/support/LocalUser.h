#pragma once

// A throwaway local user for one test (useradd, no home folder, no login shell), removed with the
// object: a person's account (uid from UID_MIN up) that the test can print as or plant objects
// for. Needs root; create() says why it could not.

#include <QProcess>
#include <QString>
#include <QStringList>

#include <pwd.h>
#include <unistd.h>

class LocalUser
{
public:
    LocalUser() = default;
    ~LocalUser() { remove(); }

    LocalUser(const LocalUser&) = delete;
    LocalUser& operator=(const LocalUser&) = delete;

    // Creates the user "orixt<pid><tag>"; false with errorString() when it cannot.
    bool create(const QString& tag)
    {
        if (geteuid() != 0) {
            m_error = "creating a local user needs root";
            return false;
        }
        const QString name = QString("orixt%1%2").arg(getpid()).arg(tag);
        // A user of this name left by a killed run of the same pid goes first.
        run("userdel", {name});
        QProcess p;
        p.start("useradd", {"--no-create-home", "--shell", "/usr/sbin/nologin", "--user-group",
                            "--comment", "throwaway user of an OrixClient test", name});
        if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            m_error = "useradd failed: " + QString::fromLocal8Bit(p.readAllStandardError());
            return false;
        }
        const passwd* pw = getpwnam(name.toUtf8().constData());
        if (!pw) {
            m_error = "useradd made no user " + name;
            run("userdel", {name});
            return false;
        }
        m_name = name;
        m_uid = pw->pw_uid;
        m_gid = pw->pw_gid;
        return true;
    }

    void remove()
    {
        if (m_name.isEmpty())
            return;
        run("userdel", {m_name});
        m_name.clear();
    }

    QString name() const { return m_name; }
    uid_t uid() const { return m_uid; }
    gid_t gid() const { return m_gid; }
    QString errorString() const { return m_error; }

private:
    static void run(const QString& program, const QStringList& args)
    {
        QProcess p; // its output is not wanted
        p.start(program, args);
        p.waitForFinished(30000);
    }

    QString m_name;
    uid_t m_uid = 0;
    gid_t m_gid = 0;
    QString m_error;
};
