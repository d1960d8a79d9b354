#pragma once

// A private root folder for one test: every fixed path of the client
// (program folder, /var/tmp, spool folder) is relocated under it through
// ORIX_ROOT_PREFIX, and HOME points at a home folder inside it, so the
// desktop user name is the one the test chooses.

#include "SystemPaths.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

class TestRoot
{
public:
    explicit TestRoot(const QString& userName = QStringLiteral("alice"))
    {
        m_oldPrefix = qgetenv(SystemPaths::kRootPrefixVariable);
        m_oldHome = qgetenv("HOME");
        qputenv(SystemPaths::kRootPrefixVariable, QFile::encodeName(m_dir.path()));
        QDir().mkpath(programFolder());
        QDir().mkpath(varTmp());
        setUser(userName);
    }

    ~TestRoot()
    {
        qputenv(SystemPaths::kRootPrefixVariable, m_oldPrefix);
        qputenv("HOME", m_oldHome);
    }

    TestRoot(const TestRoot&) = delete;
    TestRoot& operator=(const TestRoot&) = delete;

    // Makes the desktop user name `name` by pointing HOME at <root>/home/<name>.
    void setUser(const QString& name)
    {
        m_home = makeHome(name);
        qputenv("HOME", QFile::encodeName(m_home));
    }

    // The environment for a child process run by the desktop user `user`:
    // this process's, with the fixed paths relocated under this root and
    // HOME at <root>/home/<user> (created here).
    QProcessEnvironment processEnvironment(const QString& user) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(SystemPaths::kRootPrefixVariable, path());
        env.insert("HOME", makeHome(user));
        return env;
    }

    QString path() const { return m_dir.path(); }
    QString home() const { return m_home; }
    QString programFolder() const { return QString::fromUtf8(SystemPaths::programFolder()); }
    QString varTmp() const { return QString::fromUtf8(SystemPaths::varTmp()); }
    QString configPath() const { return programFolder() + "OrixClientAPP.ini"; }

    // Writes the configuration file (raw INI text, UTF-8). Each write gets a
    // later modification time than the one before: Qt's settings cache only
    // notices a rewritten file by its size and time stamp, and a test
    // rewrites within the same millisecond where a person would not.
    void writeConfig(const QByteArray& text)
    {
        QFile f(configPath());
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text);
        f.flush();
        m_configTime = m_configTime.isValid() ? m_configTime.addSecs(2)
                                              : QDateTime::currentDateTime().addSecs(-3600);
        f.setFileTime(m_configTime, QFileDevice::FileModificationTime);
    }

    // Writes Last.ini with the remembered automatic logon of user at
    // 127.0.0.1:port, the password saved as digest.
    bool writeRememberedLogon(const QByteArray& user, quint16 port, const QByteArray& digest)
    {
        QFile f(varTmp() + "/Last.ini");
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               f.write("[General]\nServerName=127.0.0.1\nUserName=" + user +
                       "\nSavePasswordFlag=1\nPassWord=" + digest +
                       "\nAutoLoginFlag=1\nServerPort=" + QByteArray::number(port) + "\n") > 0;
    }

private:
    QString makeHome(const QString& user) const
    {
        const QString home = m_dir.path() + "/home/" + user;
        QDir().mkpath(home);
        return home;
    }

    QTemporaryDir m_dir;
    QDateTime m_configTime;
    QString m_home;
    QByteArray m_oldPrefix;
    QByteArray m_oldHome;
};
