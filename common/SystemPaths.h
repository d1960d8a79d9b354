#pragma once

#include <QByteArray>

// The fixed places of the system on a workstation. Every part of the client
// asks this module for them instead of spelling them out, so that a test or
// a demo can move all of them under one folder.
//
// A deployed client runs without ORIX_ROOT_PREFIX in its environment and
// gets exactly the production paths. With ORIX_ROOT_PREFIX=/some/dir every
// path below is that folder followed by the production path
// (/some/dir/var/tmp, /some/dir/Library/Application Support/..., ...).
namespace SystemPaths
{

// Name of the environment variable that relocates every fixed path.
constexpr const char* kRootPrefixVariable = "ORIX_ROOT_PREFIX";

// The relocation prefix without a trailing slash; empty in production.
QByteArray rootPrefix();

// "/Library/Application Support/TavPrint Driver/" (with its trailing slash):
// configuration file, event log, logon background, closed libraries.
QByteArray programFolder();

// "/var/tmp": lock files, the signal folder, the default remembered-logon
// folder and the temporary upload files.
QByteArray varTmp();

// "/var/spool/cups-pdf/": the PDF printer writes each user's jobs into this
// folder followed by the user name.
QByteArray spoolRoot();

// "/var/tmp/lockfile": the per-user lock file is this path, "-" and the
// user name.
QByteArray lockFileBase();

// "/var/tmp/Tavlockfilepath": folder touched by a second start so that the
// running instance brings its window forward.
QByteArray signalFolder();

// The user's own folder of this client, "$HOME/.local/share/OrixClient"
// (owner-only): where what the client keeps for the user goes when its
// place in a shared folder is taken by another user's object. Empty when
// HOME is not set.
QByteArray privateFolder();

// The user's own folder of this client's state, "$XDG_STATE_HOME/OrixClient"
// (the variable only when it is an absolute path), else
// "$HOME/.local/state/OrixClient": the event log when the program folder
// cannot take it. Empty when neither variable is set.
QByteArray stateFolder();

// The user's own folders of this client's settings and data:
// "$XDG_CONFIG_HOME/OrixClient" (else "$HOME/.config/OrixClient") holds the
// choices the print settings dialog remembers, "$XDG_DATA_HOME/OrixClient"
// (else "$HOME/.local/share/OrixClient") the list of the user's recent jobs.
// The variables count only when they are absolute paths. Empty when neither
// the variable nor HOME is set. Never moved by ORIX_ROOT_PREFIX: tests set
// the variables.
QByteArray configFolder();
QByteArray dataFolder();

// "/usr/lib/cups/backend/tavpdf": the PDF printer's backend, which CUPS
// runs as root only when its mode keeps everybody else out.
QByteArray cupsBackend();

} // namespace SystemPaths
