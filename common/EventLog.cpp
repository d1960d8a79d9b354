#include "EventLog.h"

#include "SafeFile.h"
#include "SystemPaths.h"
#include "TextUtil.h"

#include <QSettings>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <typeinfo>
#include <unistd.h>

namespace
{

struct InitialIniPath {
    InitialIniPath() { CopyText(INIPATH, sizeof INIPATH, SystemPaths::varTmp().constData()); }
};

const char kLogName[] = "AppLog.txt";

QByteArray programLog()
{
    return SystemPaths::programFolder() + kLogName;
}

QByteArray userLog()
{
    const QByteArray folder = SystemPaths::stateFolder();
    return folder.isEmpty() ? QByteArray() : folder + '/' + kLogName;
}

// AppLog.txt of the program folder opened for appending (created when
// missing where the user may create it), or -1 when that is not a file of
// ours.
int openProgramLog()
{
    return SafeFile::OpenOwnedFile(programLog().constData(), O_WRONLY | O_APPEND | O_CREAT, 0600,
                                   nullptr);
}

// The user's own log opened for appending length more bytes: moved to
// AppLog.txt.1 first when it would grow beyond kUserLogLimit.
int openUserLog(size_t length)
{
    const QByteArray folder = SystemPaths::stateFolder();
    if (folder.isEmpty() ||
        SafeFile::EnsurePrivateFolder(folder.constData()) != SafeFile::Check::Ok)
        return -1;
    const QByteArray path = userLog();
    SafeFile::Check check;
    int fd = SafeFile::OpenOwnedFile(path.constData(), O_WRONLY | O_APPEND | O_CREAT, 0600, &check);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && st.st_size + long(length) > kUserLogLimit) {
        close(fd);
        rename(path.constData(), (path + ".1").constData());
        fd = SafeFile::OpenOwnedFile(path.constData(), O_WRONLY | O_APPEND | O_CREAT, 0600, &check);
    }
    return fd;
}

} // namespace

char INIPATH[256];
static InitialIniPath initialIniPath;

QByteArray ConfigFilePath()
{
    return SystemPaths::programFolder() + "OrixClientAPP.ini";
}

int SettingInt(const QVariant& value)
{
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    return ok ? number : 0;
}

int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* file)
{
    QSettings settings(QString::fromUtf8(file), QSettings::IniFormat);
    const QVariant value =
        settings.value(QString("/%1/%2").arg(QString::fromUtf8(section), QString::fromUtf8(key)));
    if (!value.isValid())
        return defaultValue;
    return SettingInt(value);
}

namespace
{
std::atomic<int> RunLevel{0};
} // namespace

void SetEventLogRunLevel(int level)
{
    RunLevel = level;
}

void LogEvent(int level, const char* format, ...)
{
    const int configured = GetPrivateProfileInt("Debug", "Level", 0, ConfigFilePath().constData());

    const bool toStdout = configured > kLogStdoutBase;
    const int threshold =
        toStdout ? configured - kLogStdoutBase : std::max(configured, RunLevel.load());
    if (level > threshold)
        return;

    // 512 bytes in all: the event, "\r\n" and the terminator.
    char text[512];
    va_list args;
    va_start(args, format);
    char whole[4096];
    vsnprintf(whole, sizeof whole, format, args);
    va_end(args);
    size_t length = CopyUtf8Text(text, sizeof text - 2, whole);
    text[length++] = '\r';
    text[length++] = '\n';
    text[length] = '\0';

    if (toStdout) {
        fwrite(text, 1, length, stdout);
        fflush(stdout);
        return;
    }

    int fd = openProgramLog();
    if (fd < 0)
        fd = openUserLog(length);
    if (fd < 0)
        return; // nowhere to write: the event is dropped
    SafeFile::WriteAll(fd, text, length);
    close(fd);
}

QByteArray EventLogFile(QByteArray* reason)
{
    const QByteArray program = programLog();
    const SafeFile::Check check = SafeFile::Inspect(program.constData());
    const QByteArray folder = SystemPaths::programFolder();
    QByteArray why;
    if (check == SafeFile::Check::Ok) {
        if (access(program.constData(), W_OK) == 0)
            return program;
        why = "the program folder's AppLog.txt is not writable";
    } else if (check == SafeFile::Check::Missing) {
        if (access(folder.constData(), W_OK | X_OK) == 0)
            return program;
        why = "the program folder is not writable";
    } else {
        why = QByteArray("the program folder's AppLog.txt is ") + SafeFile::Describe(check);
    }
    if (reason)
        *reason = why;
    return userLog();
}

namespace
{

QByteArray typeName(const std::type_info* type)
{
    if (!type)
        return "unknown exception";
    int status = 0;
    char* readable = abi::__cxa_demangle(type->name(), nullptr, nullptr, &status);
    const QByteArray name = QByteArray(status == 0 && readable ? readable : type->name());
    free(readable);
    return name;
}

} // namespace

QByteArray ExceptionText(const std::exception_ptr& error)
{
    if (!error)
        return "no exception";
    // Rethrown here only to be named.
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return typeName(&typeid(e)) + ": " + e.what();
    } catch (...) {
        return typeName(abi::__cxa_current_exception_type());
    }
}

void LogException(const char* operation, const std::exception_ptr& error)
{
    LogEvent(kLogError, "%s: %s\n", operation ? operation : "", ExceptionText(error).constData());
}
