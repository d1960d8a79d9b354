#pragma once

// The event log and the process-wide folder of the remembered logon.

class QByteArray;
class QVariant;

// Folder of "Last.ini" and the per-user remembered-logon files. Starts as
// the system's /var/tmp; the configuration reader may move it.
extern char INIPATH[256];

// Path of the installation's configuration file "OrixClientAPP.ini" in the
// program folder.
QByteArray ConfigFilePath();

// Integer value of a setting: its trimmed text as a decimal number, 0 when
// it is not one.
int SettingInt(const QVariant& value);

// Integer value of key in section of the INI file at path, read through
// Qt's INI settings as "/section/key". A missing key gives defaultValue, a
// value that is not an integer gives 0.
int GetPrivateProfileInt(const char* section, const char* key, int defaultValue, const char* file);

// printf-style event. The level L comes from [Debug] Level of the
// configuration file, re-read on every call. L <= 10: events of level <= L
// are appended to "AppLog.txt" in the program folder; L >= 11: events of
// level <= L - 10 go to standard output. Each event is cut to fit 512 bytes
// with the "\r\n" that is appended to it.
void LogEvent(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));
