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
    Q_DISABLE_COPY(EnvGuard)
    ~EnvGuard()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
            it->wasSet ? qputenv(it->name.constData(), it->value) : qunsetenv(it->name.constData());
    }
    void set(const char* name, const QByteArray& value) { qputenv(kept(name), value); }
    void unset(const char* name) { qunsetenv(kept(name)); }

private:
    struct Saved {
        QByteArray name;
        bool wasSet;
        QByteArray value;
    };
    // name, its first value kept
    const char* kept(const char* name)
    {
        for (const Saved& s : m_saved)
            if (s.name == name)
                return name;
        m_saved.push_back({name, qEnvironmentVariableIsSet(name), qgetenv(name)});
        return name;
    }
    std::vector<Saved> m_saved;
};

class CwdGuard
{
public:
    CwdGuard() = default;
    Q_DISABLE_COPY(CwdGuard)
    ~CwdGuard() { QDir::setCurrent(m_old); }
    bool change(const QString& folder) { return QDir::setCurrent(folder); }

private:
    const QString m_old = QDir::currentPath();
};

class UmaskGuard
{
public:
    explicit UmaskGuard(mode_t mask) : m_old(umask(mask)) {}
    Q_DISABLE_COPY(UmaskGuard)
    ~UmaskGuard() { umask(m_old); }

private:
    const mode_t m_old;
};
