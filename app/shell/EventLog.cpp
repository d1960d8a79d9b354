#include "EventLog.h"

#include "SystemPaths.h"
#include "TextUtil.h"

#include <QSettings>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{

struct InitialIniPath {
    InitialIniPath() { CopyText(INIPATH, sizeof INIPATH, SystemPaths::varTmp().constData()); }
};

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

void LogEvent(int level, const char* format, ...)
{
    const int configured = GetPrivateProfileInt("Debug", "Level", 0, ConfigFilePath().constData());

    const bool toStdout = configured >= 11;
    const int threshold = toStdout ? configured - 10 : configured;
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

    const QByteArray logPath = SystemPaths::programFolder() + "AppLog.txt";
    FILE* log = fopen(logPath.constData(), "a+");
    if (!log)
        return;
    fwrite(text, 1, length, log);
    fclose(log);
}
