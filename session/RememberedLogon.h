#pragma once

#include <QByteArray>
#include <QString>

class OrixUser;

// The remembered logon: "Last.ini" in INIPATH, which the next start reads,
// and the per-user copy INIPATH/<user>/<user>.ini, which nothing reads back.
// Both are INI files in the settings library's format (seven keys under
// [General]).
//
// INIPATH is normally /var/tmp, which every user of the workstation can
// write. A file there is read only when it is a regular file of this user
// (opened without following links and without waiting on a FIFO), and it is
// written as a new owner-only file renamed into place, never through what
// stands at the name and never through the settings library's lock file.
// When another user's object holds the name, the remembered logon goes to
// the user's own folder (SystemPaths::privateFolder()) instead, where the
// next start finds it. Every name that had to be skipped is logged.
namespace RememberedLogon
{

// Fills the remembered members of user (server, user name, password, port
// and the three flags) from Last.ini; unchanged when there is none.
void Read(OrixUser& user);

// Writes Last.ini / the per-user copy from user. Keys the file already holds
// beside the seven are kept.
void WriteLast(const OrixUser& user);
void WriteUserCopy(const OrixUser& user);

// Largest remembered-logon file that is read.
constexpr size_t kMaxFileSize = 64 * 1024;

} // namespace RememberedLogon
