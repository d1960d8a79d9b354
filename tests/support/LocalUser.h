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
    ~LocalUser()
    {
        if (!m_name.isEmpty())
            userdel(m_name);
    }
    Q_DISABLE_COPY(LocalUser)

    // Creates the user "orixt<pid><tag>"; false with errorString() when it cannot.
    bool create(const QString& tag)
    {
        if (geteuid() != 0) {
            m_error = "creating a local user needs root";
            return false;
        }
        const QString name = QString("orixt%1%2").arg(getpid()).arg(tag);
        // A user of this name left by a killed run of the same pid goes first.
        userdel(name);
        QProcess p;
        p.start("useradd", {"--no-create-home", "--shell", "/usr/sbin/nologin", "--user-group",
                            "--comment", "throwaway user of an OrixClient test", name});
        if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0 || !getpwnam(name.toUtf8().constData())) {
            m_error = "useradd failed: " + QString::fromLocal8Bit(p.readAllStandardError());
            userdel(name);
            return false;
        }
        m_name = name;
        return true;
    }

    QString name() const { return m_name; }
    QString errorString() const { return m_error; }

private:
    static void userdel(const QString& name)
    {
        QProcess p; // its complaint about a missing user is not wanted
        p.start("userdel", {name});
        p.waitForFinished(30000);
    }

    QString m_name;
    QString m_error;
};
