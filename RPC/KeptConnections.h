#pragma once

// The connections a client keeps open between its calls. Every call still
// builds a runtime context of its own and releases it afterwards; only the
// transport (the socket with its TLS session) outlives the call when the
// server agreed to keep it: the next call to the same server through the same
// proxy takes it over instead of connecting again.
//
// - A kept connection belongs to exactly one call at a time: calls on several
//   threads at once (a poll, an upload, a request) each take their own, and at
//   most kMaxIdle connections wait between calls.
// - One that has waited kIdleSeconds or more, or that the server has closed
//   meanwhile (checked with a look at the socket right before it is used), is
//   closed and a new connection made.
// - A call whose reused connection failed before any byte of an answer came
//   is sent once more on a new connection: the send failed, or the connection
//   was found closed (the server closed it while it was idle, the usual case,
//   or, rarely, after reading the request). A call that changes the server
//   (MarkChangesServer: an upload block, a copy request, an SQL write) is
//   never sent twice; a read may be.

#include <cstddef>
#include <string>

struct soap;

namespace KeptConnections
{

constexpr int kIdleSeconds = 15;
constexpr size_t kMaxIdle = 4;
// A request longer than this is not kept for a second sending.
constexpr size_t kMaxReplayBytes = 1u << 20;

// Prepares soap to keep its connection (HTTP keep-alive) and to take over a
// kept one. Call once the context is otherwise prepared.
void Prepare(struct soap* soap);
// The call on soap changes what the server holds: it is never sent twice.
void MarkChangesServer(struct soap* soap);
// Called as the context is released, before the runtime ends it: keeps the
// connection when the exchange finished and the server keeps it open, else
// leaves it to the runtime to close.
void Release(struct soap* soap);

// Used by the transport's connect: a kept connection for what soap is about
// to connect to, set into soap (socket returned, TLS session set), or
// SOAP_INVALID_SOCKET (-1) when none is kept.
int TakeOver(struct soap* soap);
// Remembers how the transport connected soap, to connect it again for a
// second sending.
using OpenFn = int (*)(struct soap*, const char*, const char*, int);
void RememberOpen(struct soap* soap, OpenFn open, const char* endpoint, const char* host, int port);

// false: every call connects anew and closes afterwards, the way the client
// worked before (the benchmark's reference, a switch for a server that
// mishandles kept connections). On by default.
void SetEnabled(bool enabled);
bool Enabled();
// Closes every connection waiting between calls.
void CloseIdle();
// Connections waiting between calls now (for the tests).
size_t IdleCount();

} // namespace KeptConnections
