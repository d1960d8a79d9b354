#pragma once

#include <QByteArray>

// One running client per desktop user.
//
// The lock file and the signal folder live in /var/tmp, where every user
// of the workstation can put things. Nothing another user placed there can
// stop or hold up a start: a name taken by another user's object (a file,
// link, FIFO or folder) is logged and worked around, never opened.

// Path of this user's signal file: "1-<user>" in the shared signal folder
// "/var/tmp/Tavlockfilepath" (created sticky and writable by all, like
// /var/tmp itself, when missing). Only the same user's running instance
// watches it, so a start signals no other user's client.
QByteArray signalFilePath();

// Makes sure the signal folder and this user's signal file exist and may be
// used; returns the file's path, or an empty array when they may not (a
// foreign object in their place; logged): then there is no signal.
QByteArray prepareSignalFile();

// Touches this user's signal file so that this user's running instance,
// which watches it, brings its window forward. Never waits.
void activateExistentProcess();

// Takes the per-user lock ("/var/tmp/lockfile-<user>", owner-only; an older
// file with a wider mode is narrowed) and the same lock in the user's own
// folder. True when this process now holds them; the locks live as long as
// the process. When another user's object stands at the shared name, or a
// process of another user holds a lock on it (taken while the file was
// readable by all), the lock in the user's own folder alone decides.
bool checkOnly();
