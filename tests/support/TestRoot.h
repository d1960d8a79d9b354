#pragma once

// A private root for one test: the client's fixed paths relocated under it (ORIX_ROOT_PREFIX)
// and HOME at <root>/home/<user>, the desktop user name being the one the test chooses. The
// variables set through env are restored with the root.

#include "EnvGuard.h"
#include "SystemPaths.h"

#include <QDateTime>
#include <QDir>
#include <QProcessEnvironment>
#include <QTemporaryDir>

class TestRoot
{
public:
    EnvGuard env;

    explicit TestRoot(const QString& userName = QStringLiteral("alice"))
    {
        env.set(SystemPaths::kRootPrefixVariable, QFile::encodeName(m_dir.path()));
        QDir().mkpath(programFolder());
        QDir().mkpath(varTmp());
        setUser(userName);
    }

    Q_DISABLE_COPY(TestRoot)

    void setUser(const QString& name)
    {
        m_home = makeHome(name);
        env.set("HOME", QFile::encodeName(m_home));
        // The user's remembered choices and list of jobs follow the home.
        env.set("XDG_CONFIG_HOME", QFile::encodeName(m_home + "/.config"));
        env.set("XDG_DATA_HOME", QFile::encodeName(m_home + "/.local/share"));
    }

    // The environment of a child process run by the desktop user `user`.
    QProcessEnvironment processEnvironment(const QString& user) const
    {
        QProcessEnvironment child = QProcessEnvironment::systemEnvironment();
        child.insert(SystemPaths::kRootPrefixVariable, path());
        child.insert("HOME", makeHome(user));
        child.insert("XDG_CONFIG_HOME", makeHome(user) + "/.config");
        child.insert("XDG_DATA_HOME", makeHome(user) + "/.local/share");
        return child;
    }

    QString path() const { return m_dir.path(); }
    QString home() const { return m_home; }
    QString programFolder() const { return QString::fromUtf8(SystemPaths::programFolder()); }
    QString varTmp() const { return QString::fromUtf8(SystemPaths::varTmp()); }

    // Writes the configuration file (INI text). Each write gets a later modification time: Qt's
    // settings cache notices a rewritten file only by its size and time stamp.
    void writeConfig(const QByteArray& text)
    {
        QFile f(programFolder() + "OrixClientAPP.ini");
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text);
        f.flush();
        m_configTime = m_configTime.isValid() ? m_configTime.addSecs(2)
                                              : QDateTime::currentDateTime().addSecs(-3600);
        f.setFileTime(m_configTime, QFileDevice::FileModificationTime);
    }

    // Last.ini with the remembered automatic logon of user at 127.0.0.1:port.
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
};
