#pragma once

// Changes a test makes to its own process, undone when the guard goes, so also when the test
// fails half-way: environment variables (each restored to its first value, or unset again), the
// working folder, the file mode creation mask.

#include <QByteArray>
#include <QDir>
#include <QString>

#include <sys/stat.h>
#include <vector>

class EnvGuard
{
public:
    EnvGuard() = default;
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;
    ~EnvGuard()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            it->wasSet ? qputenv(it->name.constData(), it->value) : qunsetenv(it->name.constData());
    }

    void set(const char* name, const QByteArray& value)
    {
        save(name);
        qputenv(name, value);
    }
    void unset(const char* name)
    {
        save(name);
        qunsetenv(name);
    }

private:
    struct Saved {
        QByteArray name;
        bool wasSet;
        QByteArray value;
    };
    void save(const char* name)
    {
        for (const Saved& s : m_saved)
            if (s.name == name)
                return;
        m_saved.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
    }
    std::vector<Saved> m_saved;
};

class CwdGuard
{
public:
    CwdGuard() = default;
    CwdGuard(const CwdGuard&) = delete;
    CwdGuard& operator=(const CwdGuard&) = delete;
    ~CwdGuard() { QDir::setCurrent(m_old); }
    bool change(const QString& folder) { return QDir::setCurrent(folder); }

private:
    const QString m_old = QDir::currentPath();
};

class UmaskGuard
{
public:
    explicit UmaskGuard(mode_t mask) : m_old(umask(mask)) {}
    UmaskGuard(const UmaskGuard&) = delete;
    UmaskGuard& operator=(const UmaskGuard&) = delete;
    ~UmaskGuard() { umask(m_old); }

private:
    const mode_t m_old;
};
