#pragma once

// The development server (orws-devserver) for one integration test: a free loopback port, a
// private database and storage folder, optionally HTTPS; stopped with the object. The target
// needs orix_use_devserver(<target>) (the server's path and SQLite).

#include "SeedAccounts.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantList>

#include <memory>
#include <sqlite3.h>

#ifndef ORWS_DEVSERVER_PATH
#error "ORWS_DEVSERVER_PATH must name the orws-devserver binary (see orix_use_devserver)"
#endif

class DevServerProcess
{
public:
    ~DevServerProcess() { stop(); }

    // Serve HTTPS with this certificate and key (PEM) from the next start().
    void setTls(const QString& certPath, const QString& keyPath)
    {
        m_tls = QStringList{"--tls", certPath, keyPath};
    }

    // The string mode from the next start(): "utf8" (a client whose port text is "8085") or
    // "latin1"; ORIX_TEST_DEVSERVER_STRINGS sets it where a test does not.
    void setStrings(const QString& mode) { m_strings = mode; }

    // More options from the next start() ("--keep-alive off", "--idle-timeout 1", ...).
    void setExtraArgs(const QStringList& args) { m_extra = args; }

    // Starts on port (0: a free one) and waits for the "listening" line; again after stop()
    // with the same database. The server ends with this process should a test crash.
    bool start(quint16 port = 0)
    {
        stop();
        QStringList args{"--port",       QString::number(port),
                         "--db",         dbPath(),
                         "--storage",    storageDir(),
                         "--parent-pid", QString::number(qApp->applicationPid())};
        const QString strings =
            m_strings.isEmpty() ? qEnvironmentVariable("ORIX_TEST_DEVSERVER_STRINGS") : m_strings;
        if (!strings.isEmpty())
            args << "--strings" << strings;
        m_process.reset(new QProcess);
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process->start(QStringLiteral(ORWS_DEVSERVER_PATH), args + m_tls + m_extra);
        const QByteArray prefix("listening on 127.0.0.1:");
        QByteArray seen;
        for (QDeadlineTimer deadline(20000);
             !deadline.hasExpired() && m_process->state() != QProcess::NotRunning;) {
            if (!m_process->canReadLine() && !m_process->waitForReadyRead(200))
                continue;
            const QByteArray line = m_process->readLine().trimmed();
            seen += line + '\n';
            const int port = line.startsWith(prefix) ? line.mid(prefix.size()).toInt() : 0;
            if (port > 0 && port < 65536) {
                m_port = static_cast<quint16>(port);
                return true;
            }
        }
        m_error = "the server did not report its port (" + m_process->errorString() +
                  "); output: " + QString::fromUtf8(seen);
        stop();
        return false;
    }

    // SIGTERM, SIGKILL if it does not go.
    void stop()
    {
        if (m_process && m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(10000)) {
                m_process->kill();
                m_process->waitForFinished(5000);
            }
        }
        m_process.reset();
        m_port = 0;
    }

    quint16 port() const { return m_port; }
    QString dbPath() const { return m_dir.path() + "/devserver.db"; }
    QString storageDir() const { return m_dir.path() + "/storage"; }
    QString errorString() const { return m_error; }

    // The rows of one SQL statement (UTF-8) run on the database: integers as qlonglong, NULL
    // as an invalid QVariant, the rest as QString. Empty on error.
    QList<QVariantList> query(const QString& sql) const
    {
        QList<QVariantList> rows;
        sqlite3* db = nullptr;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_open_v2(QFile::encodeName(dbPath()).constData(), &db, SQLITE_OPEN_READWRITE,
                            nullptr) == SQLITE_OK &&
            sqlite3_busy_timeout(db, 10000) == SQLITE_OK &&
            sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) == SQLITE_OK) {
            while (sqlite3_step(stmt) == SQLITE_ROW) {
                QVariantList row;
                for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                    const int type = sqlite3_column_type(stmt, c);
                    row << (type == SQLITE_INTEGER
                                ? QVariant(qlonglong(sqlite3_column_int64(stmt, c)))
                            : type == SQLITE_NULL
                                ? QVariant()
                                : QVariant(QString::fromUtf8(reinterpret_cast<const char*>(
                                      sqlite3_column_text(stmt, c)))));
                }
                rows << row;
            }
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return rows;
    }

    // First column of the first row, or an invalid QVariant.
    QVariant scalar(const QString& sql) const { return query(sql).value(0).value(0); }

    // "cd-extract" of the newest disc request into dir: its exit code (1: refused, -1: it did
    // not end normally), standard output in *out.
    int cdExtract(const QString& dir, const QStringList& extra = {},
                  QByteArray* out = nullptr) const
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral(ORWS_DEVSERVER_PATH),
                QStringList{"cd-extract", "--db", dbPath(), "--storage", storageDir(), "--latest",
                            "--out", dir} +
                    extra);
        const bool ended = p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit;
        if (out)
            *out = p.readAllStandardOutput();
        return ended ? p.exitCode() : -1;
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QStringList m_tls;
    QStringList m_extra;
    QString m_strings;
    QString m_error;
};
