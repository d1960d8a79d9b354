#pragma once

// A private root folder for one test: every fixed path of the client
// (program folder, /var/tmp, spool folder) is relocated under it through
// ORIX_ROOT_PREFIX, and HOME points at a home folder inside it, so the
// desktop user name is the one the test chooses.

#include "SystemPaths.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
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
        m_home = m_dir.path() + "/home/" + name;
        QDir().mkpath(m_home);
        qputenv("HOME", QFile::encodeName(m_home));
    }

    QString path() const { return m_dir.path(); }
    QString home() const { return m_home; }
    QString programFolder() const { return QString::fromUtf8(SystemPaths::programFolder()); }
    QString varTmp() const { return QString::fromUtf8(SystemPaths::varTmp()); }
    QString configPath() const { return programFolder() + "OrixClientAPP.ini"; }

    // Writes the configuration file (raw INI text, UTF-8).
    void writeConfig(const QByteArray& text) const
    {
        QFile f(configPath());
        f.open(QIODevice::WriteOnly | QIODevice::Truncate);
        f.write(text);
    }

private:
    QTemporaryDir m_dir;
    QString m_home;
    QByteArray m_oldPrefix;
    QByteArray m_oldHome;
};
