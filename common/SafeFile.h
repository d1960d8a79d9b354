#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

// Files and folders in places that every user of the workstation can write
// (/var/tmp, the spool root). Another user may have put anything at a name
// this client uses: a symbolic link to one of our files, a FIFO that blocks
// whoever opens it, a device, a file of his own with his contents, a stale
// lock. Nothing here follows a symbolic link, opens a FIFO or device so that
// it could wait, or uses an object that is not this user's own: such an
// object is reported and the caller treats the name as missing.
//
// Plain C++ and POSIX only: the sign-on plug-in, which must not bring Qt,
// uses it too.
namespace SafeFile
{

enum class Check {
    Ok,
    Missing,   // nothing at the path
    Link,      // a symbolic link, or a file that has other names (hard links)
    WrongType, // a FIFO, socket, device, or a folder where a file should be (or the reverse)
    Foreign,   // owned by another user
    Exposed,   // a file of ours that every user may write
    TooLarge,  // longer than the caller reads
    Failed,    // any other error (errno tells)
};

// Writes all size bytes to fd, resuming after a signal or a short write;
// false when write fails (errno tells).
bool WriteAll(int fd, const char* data, size_t size);

// A few words for the event log ("symbolic link", "owned by another user").
const char* Describe(Check check);

// What sits at path, without following a link: Ok for a regular file (a
// folder when folder is set) owned by this process's user that only it may
// change (folders: not writable by others unless sticky).
Check Inspect(const char* path, bool folder = false);

// Opens path (flags as for open(2); O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC are
// added) and returns the descriptor when it is a regular file of ours with
// one name and not writable by every user; else -1 with *check telling why.
// With O_CREAT a missing file is created with createMode (before the umask).
int OpenOwnedFile(const char* path, int flags, mode_t createMode, Check* check);

// The whole content of an owned file (see OpenOwnedFile) of at most maxBytes.
Check ReadOwnedFile(const char* path, std::string* content, size_t maxBytes);

// Makes path a folder of ours with exactly mode: created when missing,
// given mode when it exists and is ours. Anything else there (a link, a
// file, another user's folder) is reported and left alone.
Check EnsureOwnedFolder(const char* path, mode_t mode);

// EnsureOwnedFolder(path, 0700) after creating the missing folders above it
// (owner-only as well). For folders in the user's own home.
Check EnsurePrivateFolder(const char* path);

// Replaces folder/name with content: written to a new private file in the
// same folder (created exclusively, never through an existing name) that is
// then renamed over folder/name, so a reader sees the old or the new file
// whole and nothing is ever written through an object someone else put
// there. The new file gets mode. Refused (and nothing changed) when
// something other than a file of ours sits at folder/name, or when the
// folder does not let this user replace it.
Check ReplaceFile(const char* folder, const char* name, const std::string& content, mode_t mode);

// Removes folder/name when it is a regular file of ours; anything else is
// left alone.
void RemoveOwnedFile(const char* folder, const char* name);

// A library the program loads (dlopen) from its program folder: path (an
// absolute path; the file or a symbolic link to it, as a package installs
// it) may be loaded when nobody but root and this user could have written it
// or put something else in its place. The file the path leads to must be a
// regular file owned by root or this user that neither its group nor others
// may write; the folder holding it and the folder holding path must be owned
// by root or this user and writable by nobody else; every folder above them
// (and the folders links on the way lead to) likewise, where a sticky folder
// writable by all (like /tmp) is fine: others can neither rename nor remove
// what is ours in it. Ok with the resolved path to load in *resolved;
// Missing when there is no such file; else why it is refused (Foreign,
// Exposed: writable by others, WrongType).
Check TrustedLibrary(const char* path, std::string* resolved);

} // namespace SafeFile
