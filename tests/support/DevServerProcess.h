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
//     OrWSProxy proxy(SOAP_IO_CHUNK | SOAP_C_UTFSTRING);
//     proxy.UserLogon(server.endpoint().constData(), nullptr, ...);

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <QVariantList>

#include <sqlite3.h>

#ifndef ORWS_DEVSERVER_PATH
#error "ORWS_DEVSERVER_PATH must name the orws-devserver binary (see orix_use_devserver)"
#endif

class DevServerProcess
{
public:
    DevServerProcess() = default;
    ~DevServerProcess() { stop(); }

    DevServerProcess(const DevServerProcess&) = delete;
    DevServerProcess& operator=(const DevServerProcess&) = delete;

    static QString binaryPath() { return QStringLiteral(ORWS_DEVSERVER_PATH); }

    // Serve HTTPS with this certificate and key (PEM) from the next start().
    void setTls(const QString& certPath, const QString& keyPath)
    {
        m_certPath = certPath;
        m_keyPath = keyPath;
    }

    // Makes a self-signed certificate for 127.0.0.1 with the openssl command.
    static bool makeCertificate(const QString& dir, QString* certPath, QString* keyPath,
                                QString* error = nullptr)
    {
        *certPath = dir + "/server.crt";
        *keyPath = dir + "/server.key";
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QStringLiteral("openssl"),
                {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                 "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1", "-keyout", *keyPath, "-out",
                 *certPath});
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            if (error)
                *error = "openssl failed: " + QString::fromLocal8Bit(p.readAll()) + p.errorString();
            return false;
        }
        return true;
    }

    // Starts the server with --port 0 and waits for its "listening" line.
    // May be called again after stop(): the same database is used again.
    bool start()
    {
        stop();
        if (!m_dir.isValid()) {
            m_error = "no temporary directory";
            return false;
        }
        QDir().mkpath(storageDir());
        // --parent-pid: the server ends with this process should a test
        // crash before it can stop it.
        QStringList args{"--port",       "0",
                         "--db",         dbPath(),
                         "--storage",    storageDir(),
                         "--parent-pid", QString::number(QCoreApplication::applicationPid())};
        if (!m_certPath.isEmpty())
            args << "--tls" << m_certPath << m_keyPath;
        m_process = new QProcess;
        m_process->setReadChannel(QProcess::StandardOutput);
        m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process->start(binaryPath(), args);
        if (!m_process->waitForStarted(10000)) {
            m_error = "cannot start " + binaryPath() + ": " + m_process->errorString();
            stop();
            return false;
        }
        const QByteArray prefix("listening on 127.0.0.1:");
        QByteArray seen;
        QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired()) {
            if (!m_process->canReadLine() && !m_process->waitForReadyRead(200)) {
                if (m_process->state() != QProcess::Running)
                    break;
                continue;
            }
            while (m_process->canReadLine()) {
                const QByteArray line = m_process->readLine().trimmed();
                seen += line + '\n';
                if (line.startsWith(prefix)) {
                    bool ok = false;
                    const int port = line.mid(prefix.size()).toInt(&ok);
                    if (ok && port > 0 && port < 65536) {
                        m_port = static_cast<quint16>(port);
                        return true;
                    }
                }
            }
        }
        m_error = "the server did not report its port; output: " + QString::fromUtf8(seen);
        stop();
        return false;
    }

    // Ends the server with SIGTERM (SIGKILL if it does not go).
    void stop()
    {
        if (!m_process)
            return;
        if (m_process->state() != QProcess::NotRunning) {
            m_process->terminate();
            if (!m_process->waitForFinished(10000)) {
                m_process->kill();
                m_process->waitForFinished(5000);
            }
        }
        m_lastExitCode =
            m_process->exitStatus() == QProcess::NormalExit ? m_process->exitCode() : -1;
        delete m_process;
        m_process = nullptr;
        m_port = 0;
    }

    bool isRunning() const { return m_process && m_process->state() == QProcess::Running; }
    int lastExitCode() const { return m_lastExitCode; }
    quint16 port() const { return m_port; }
    bool usesTls() const { return !m_certPath.isEmpty(); }
    QByteArray endpoint() const
    {
        return QByteArray(usesTls() ? "https" : "http") +
               "://127.0.0.1:" + QByteArray::number(m_port);
    }
    QString dir() const { return m_dir.path(); }
    QString dbPath() const { return m_dir.path() + "/devserver.db"; }
    QString storageDir() const { return m_dir.path() + "/storage"; }
    QString errorString() const { return m_error; }

    // Runs SQL statements (UTF-8) against the database directly.
    bool exec(const QString& sql, QString* error = nullptr) const
    {
        sqlite3* db = openDb(error);
        if (!db)
            return false;
        char* message = nullptr;
        const int rc = sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, &message);
        if (rc != SQLITE_OK && error)
            *error = QString::fromUtf8(message ? message : sqlite3_errstr(rc));
        sqlite3_free(message);
        sqlite3_close(db);
        return rc == SQLITE_OK;
    }

    // Runs one query and returns its rows (texts as QString, integers as
    // qlonglong, blobs as QByteArray). Empty on error.
    QList<QVariantList> query(const QString& sql, QString* error = nullptr) const
    {
        QList<QVariantList> rows;
        sqlite3* db = openDb(error);
        if (!db)
            return rows;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) != SQLITE_OK) {
            if (error)
                *error = QString::fromUtf8(sqlite3_errmsg(db));
            sqlite3_close(db);
            return rows;
        }
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QVariantList row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_INTEGER:
                    row << QVariant(static_cast<qlonglong>(sqlite3_column_int64(stmt, c)));
                    break;
                case SQLITE_FLOAT:
                    row << QVariant(sqlite3_column_double(stmt, c));
                    break;
                case SQLITE_NULL:
                    row << QVariant();
                    break;
                case SQLITE_BLOB:
                    row << QVariant(
                        QByteArray(static_cast<const char*>(sqlite3_column_blob(stmt, c)),
                                   sqlite3_column_bytes(stmt, c)));
                    break;
                default:
                    row << QVariant(QString::fromUtf8(
                        reinterpret_cast<const char*>(sqlite3_column_text(stmt, c))));
                }
            }
            rows << row;
        }
        sqlite3_finalize(stmt);
        sqlite3_close(db);
        return rows;
    }

    // First column of the first row, or an invalid QVariant.
    QVariant scalar(const QString& sql) const
    {
        const QList<QVariantList> rows = query(sql);
        return rows.isEmpty() || rows.first().isEmpty() ? QVariant() : rows.first().first();
    }

    // Adds an undelivered notice for user through the server's own command
    // ("orws-devserver notice"). fields is "job|printer|result|audit" (UTF-8).
    bool addNotice(const QString& user, int type, const QString& fields,
                   QString* error = nullptr) const
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(binaryPath(), {"notice", "--db", dbPath(), "--user", user, "--type",
                               QString::number(type), "--fields", fields});
        const bool ok =
            p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        if (!ok && error)
            *error = QString::fromLocal8Bit(p.readAll()) + p.errorString();
        return ok;
    }

private:
    sqlite3* openDb(QString* error) const
    {
        sqlite3* db = nullptr;
        if (sqlite3_open_v2(QFile::encodeName(dbPath()).constData(), &db, SQLITE_OPEN_READWRITE,
                            nullptr) != SQLITE_OK) {
            if (error)
                *error = QString::fromUtf8(db ? sqlite3_errmsg(db) : "cannot open database");
            sqlite3_close(db);
            return nullptr;
        }
        sqlite3_busy_timeout(db, 10000);
        return db;
    }

    QTemporaryDir m_dir;
    QProcess* m_process = nullptr;
    quint16 m_port = 0;
    int m_lastExitCode = -1;
    QString m_certPath;
    QString m_keyPath;
    QString m_error;
};
