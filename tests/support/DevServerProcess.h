#pragma once

// Runs the development server (orws-devserver) for one integration test:
// a free loopback port, a private database and storage folder in a
// temporary directory, optionally HTTPS. The server is stopped (SIGTERM)
// when the object goes away.
//
// The test target needs the compile definition ORWS_DEVSERVER_PATH (the
// path of the built server) and SQLite; orix_use_devserver(<target>) in
// tests/CMakeLists.txt adds both.
//
//     DevServerProcess server;
//     QVERIFY2(server.start(), qPrintable(server.errorString()));
//     client.SetPort(QByteArray::number(server.port()).constData());

#include "SeedAccounts.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
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

    // The server's string mode from the next start(): "utf8" for a client
    // whose port text is "8085", "latin1" for any other (the server's own
    // default on a port other than 8085). ORIX_TEST_DEVSERVER_STRINGS sets
    // the mode of every server that a test does not set itself.
    void setStrings(const QString& mode) { m_strings = mode; }

    // Starts the server on port (0: a free one) and waits for its
    // "listening" line. May be called again after stop(): the same database
    // is used again.
    bool start(quint16 port = 0)
    {
        stop();
        // --parent-pid: the server ends with this process should a test
        // crash before it can stop it.
        QStringList args =
            QStringList{"--port",       QString::number(port),
                        "--db",         dbPath(),
                        "--storage",    storageDir(),
                        "--parent-pid", QString::number(QCoreApplication::applicationPid())} +
            m_tls;
        const QString strings =
            m_strings.isEmpty() ? qEnvironmentVariable("ORIX_TEST_DEVSERVER_STRINGS") : m_strings;
        if (!strings.isEmpty())
            args << "--strings" << strings;
        m_process.reset(new QProcess);
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process->start(QStringLiteral(ORWS_DEVSERVER_PATH), args);
        const QByteArray prefix("listening on 127.0.0.1:");
        QByteArray seen;
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && m_process->state() != QProcess::NotRunning) {
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

    // Ends the server with SIGTERM (SIGKILL if it does not go).
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
    QByteArray endpoint() const
    {
        return (m_tls.isEmpty() ? "http" : "https") + QByteArray("://127.0.0.1:") +
               QByteArray::number(m_port);
    }
    QString dbPath() const { return m_dir.path() + "/devserver.db"; }
    QString storageDir() const { return m_dir.path() + "/storage"; }
    QString errorString() const { return m_error; }

    // Runs one SQL statement (UTF-8) against the database directly and
    // returns its rows (integers as qlonglong, NULL as an invalid QVariant,
    // anything else as QString). Empty on error.
    QList<QVariantList> query(const QString& sql, QString* error = nullptr) const
    {
        QList<QVariantList> rows;
        sqlite3* db = nullptr;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_open_v2(QFile::encodeName(dbPath()).constData(), &db, SQLITE_OPEN_READWRITE,
                            nullptr) != SQLITE_OK ||
            sqlite3_busy_timeout(db, 10000) != SQLITE_OK ||
            sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK) {
            if (error)
                *error = QString::fromUtf8(db ? sqlite3_errmsg(db) : "cannot open database");
            sqlite3_close(db);
            return rows;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QVariantList row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                const int type = sqlite3_column_type(stmt, c);
                if (type == SQLITE_INTEGER)
                    row << QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt, c)));
                else if (type == SQLITE_NULL)
                    row << QVariant();
                else
                    row << QVariant(QString::fromUtf8(
                        reinterpret_cast<const char*>(sqlite3_column_text(stmt, c))));
            }
            rows << row;
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return rows;
    }

    // First column of the first row, or an invalid QVariant.
    QVariant scalar(const QString& sql) const { return query(sql).value(0).value(0); }

    // Adds an undelivered notice for user through the server's own command
    // ("orws-devserver notice"). fields is "job|printer|result|audit" (UTF-8).
    bool addNotice(const QString& user, int type, const QString& fields,
                   QString* error = nullptr) const
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral(ORWS_DEVSERVER_PATH),
                {"notice", "--db", dbPath(), "--user", user, "--type", QString::number(type),
                 "--fields", fields});
        const bool ok =
            p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok && error)
            *error = QString::fromLocal8Bit(p.readAll()) + p.errorString();
        return ok;
    }

    // The listing of "orws-devserver jobs" (UTF-8), empty when it failed.
    QString jobs() const
    {
        QProcess p;
        p.start(QStringLiteral(ORWS_DEVSERVER_PATH),
                {"jobs", "--db", dbPath(), "--storage", storageDir()});
        const bool ok =
            p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        return ok ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    quint16 m_port = 0;
    QStringList m_tls;
    QString m_strings;
    QString m_error;
};
