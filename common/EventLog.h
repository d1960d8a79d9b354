#pragma once

// The event log and the process-wide folder of the remembered logon.

#include <exception>

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

// Levels of the events, the first argument of LogEvent.
constexpr int kLogError = 2;   // something did not work: a plug-in, a file, a request
constexpr int kLogWarning = 3; // something is to be tried again: a kept job
constexpr int kLogInfo = 4;    // the logon and logout, the loading of the plug-in
constexpr int kLogTrace = 5;   // every timer tick of the main window
// Configured levels above this one send the events to standard output.
constexpr int kLogStdoutBase = 10;

// printf-style event. The level L comes from [Debug] Level of the
// configuration file, re-read on every call. L <= kLogStdoutBase: events of
// level <= L are appended to the log file (EventLogFile); above it: events
// of level <= L - kLogStdoutBase go to standard output. Each event is cut to
// fit 512 bytes with the "\r\n" that is appended to it.
void LogEvent(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// "--debug": for this run, events up to level (at least) go to the log file
// whatever Debug/Level says; a configured level that sends events to
// standard output stays. 0 turns it off again.
void SetEventLogRunLevel(int level);

// An exception in words: its type and, for a std::exception, its text.
QByteArray ExceptionText(const std::exception_ptr& error);
// Logs (kLogError) an exception that ended operation. For the handlers at a
// thread's or the event loop's boundary, the only ones that catch whatever
// is thrown: LogException("...", std::current_exception()).
void LogException(const char* operation, const std::exception_ptr& error);

// The file that events are appended to. "AppLog.txt" in the program folder
// when this user can append to it safely: a regular file of the user's own
// with one name that others cannot write, opened without following a link
// (created when missing and the folder lets the user create it). Anything
// else there (another user's file, a link, a FIFO), or a folder the user
// cannot write (the installed, root-owned program folder), sends the events
// to the user's own log "AppLog.txt" in SystemPaths::stateFolder() instead,
// which is kept below kUserLogLimit bytes by moving it to "AppLog.txt.1"
// when full. *reason (optional) tells in a few words why the user's log is
// used. Nothing is created by this function; it predicts what LogEvent does.
QByteArray EventLogFile(QByteArray* reason = nullptr);

// Size at which the user's own log is moved aside to "AppLog.txt.1".
constexpr long kUserLogLimit = 1024 * 1024;
