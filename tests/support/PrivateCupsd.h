#pragma once

// A private CUPS server with the TavPDF queue for one integration test (cups/private-cupsd.sh
// in a temporary folder): it listens only on a socket there, and the backend writes under the
// root folder the test gives it. Needs root (cupsd runs the backend as root) and
// orix_use_private_cupsd(<target>); stopped with the object, CUPS_SERVER restored.

#include "EnvGuard.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>

#include <cups/cups.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef ORIX_PRIVATE_CUPSD
#error "ORIX_PRIVATE_CUPSD must name cups/private-cupsd.sh (see orix_use_private_cupsd)"
#endif

class PrivateCupsd
{
public:
    PrivateCupsd() : m_dir(QDir::tempPath() + "/orix-cupsd-XXXXXX") {}
    ~PrivateCupsd() { stop(); }

    Q_DISABLE_COPY(PrivateCupsd)

    // Starts the server, its backend writing under rootPrefix. cannotRun() after a failure: the
    // machine is the reason (not root, no CUPS), where a test skips. Without withPolicy its
    // cupsd.conf lacks the policy "authenticated" (the queue is then made rejecting jobs).
    bool start(const QString& rootPrefix, bool withPolicy = true)
    {
        if (geteuid() != 0) {
            m_cannotRun = true;
            m_error = "the private CUPS server needs root (cupsd runs the backend as root)";
            return false;
        }
        if (!m_dir.isValid()) {
            m_error = "no temporary folder";
            return false;
        }
        // The filters (user lp) and the printing user read the job files here.
        chmod(QFile::encodeName(m_dir.path()).constData(), 0755);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORIX_ROOT_PREFIX", rootPrefix);
        if (!withPolicy)
            env.insert("ORIX_CUPSD_WITHOUT_POLICY", "1");
        p.setProcessEnvironment(env);
        p.start("bash", {ORIX_PRIVATE_CUPSD, "start", m_dir.path(), ORIX_TAVPDF_BACKEND});
        if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            m_cannotRun = p.exitCode() == 3;
            m_error = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
            if (m_error.isEmpty())
                m_error = "private-cupsd.sh did not start the server";
            return false;
        }
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        const QString server =
            QRegularExpression("^CUPS_SERVER=(.*)$", QRegularExpression::MultilineOption)
                .match(out)
                .captured(1);
        m_started = true;
        // libcups reads the server once, at its first request.
        m_env.set("CUPS_SERVER", QFile::encodeName(server));
        m_env.set("ORIX_CUPSD_CONF", QFile::encodeName(cupsdConf()));
        return !server.isEmpty();
    }

    void stop()
    {
        if (!m_started)
            return;
        m_started = false;
        QProcess::execute("bash", {ORIX_PRIVATE_CUPSD, "stop", m_dir.path()});
    }

    QString errorString() const { return m_error; }
    bool cannotRun() const { return m_cannotRun; }
    QString folder() const { return m_dir.path(); } // searchable by every user
    QString cupsdConf() const { return m_dir.path() + "/etc/cupsd.conf"; }
    static QString queue() { return QStringLiteral("TavPDF"); }

    // lp to the queue with args (the server from CUPS_SERVER), as the local user asUser
    // (runuser) or root; the job id, 0 if lp failed.
    int print(const QStringList& args, const QString& asUser = QString())
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LC_ALL", "C"); // its answer and its complaints read in any locale
        p.setProcessEnvironment(env);
        const QStringList lp = QStringList{"lp", "-d", queue()} + args;
        if (asUser.isEmpty())
            p.start(lp.first(), lp.mid(1));
        else
            p.start("runuser", QStringList{"-u", asUser, "--"} + lp);
        if (!p.waitForFinished(30000) || p.exitCode() != 0) {
            m_error = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
            return 0;
        }
        const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
        return QRegularExpression("request id is " + queue() + "-(\\d+)")
            .match(out)
            .captured(1)
            .toInt();
    }

    // The job's final state (IPP_JSTATE_COMPLETED, _ABORTED, _CANCELED), 0 if not ended in time.
    int waitForJob(int id, int timeoutMs = 30000) const
    {
        for (QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); QThread::msleep(10)) {
            cups_job_t* jobs = nullptr;
            const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, queue().toUtf8().constData(), 0,
                                       CUPS_WHICHJOBS_ALL);
            int state = 0;
            for (int i = 0; i < n; ++i)
                state = jobs[i].id == id ? jobs[i].state : state;
            cupsFreeJobs(n, jobs);
            if (state >= IPP_JSTATE_CANCELED)
                return state;
        }
        return 0;
    }

private:
    QTemporaryDir m_dir;
    EnvGuard m_env;
    QString m_error;
    bool m_started = false;
    bool m_cannotRun = false;
};
