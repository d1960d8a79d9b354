#pragma once

#include <QByteArray>
#include <QString>

// Opening a portal address that carries the password digest in its query.
// Handed to the browser directly, the address would stand on the browser's
// command line, which every local user can read (/proc/<pid>/cmdline).
// Instead a small owner-only page in the user's own folder forwards the
// browser to the address; only that page's file name reaches the command
// line. The page is removed once the browser has had time to read it.
namespace PortalPage
{

// Writes the forwarding page for url (already encoded) and opens it in the
// desktop's browser. False when no private page could be written; then
// nothing is opened.
bool Open(const QByteArray& url);

// How long a page is kept before it is removed (default 120 s; tests
// shorten it). Pages left over from an earlier run are removed at the next
// Open once they are this old.
void SetLifetime(int milliseconds);

// Removes every page left in the user's folder, whatever its age. For the
// start of the program, once it holds the single-instance lock: no page of
// a running client can be among them then.
void RemoveLeftovers();

} // namespace PortalPage
