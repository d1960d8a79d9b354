#pragma once

// What the runtime context of every call shares with the others on the way
// to the server: a name lookup with a deadline before the runtime connects,
// and one client TLS context (with the trust store read once) for every
// HTTPS call of the process.

struct soap;

namespace SoapTransport
{

// Sets up the runtime's TLS library (OpenSSL, its configuration and error
// texts, the random generator), once per process whichever thread comes
// first; later calls return at once, or wait while another thread is at it.
// The runtime does this itself when it makes its first context, for plain
// HTTP too, but unguarded: every context of ours is made after this call.
// The start does it on a helper thread, off the way to the first request.
void InitRuntime();

// A name lookup of the server gives up after this long.
constexpr int kResolveMilliseconds = 10000;

// Makes soap look the server's name up with a deadline before the runtime
// connects; a name that does not resolve in time fails the call with
// SOAP_TCP_ERROR. Numeric addresses connect as before. The endpoint text,
// the name the runtime connects to and the TLS checks are unchanged.
void BoundNameResolution(struct soap* soap);

// Prepares soap for an HTTPS call: the server's certificate must chain to an
// authority of the system store (OpenSSL's default verify paths) and name
// the endpoint's host. The TLS context that carries these settings and the
// store is made once per process (again only when SSL_CERT_FILE or
// SSL_CERT_DIR changed) and shared by every call; the runtime releases its
// reference with the context. Returns SOAP_OK or the runtime's error.
int UseClientTls(struct soap* soap);

// false: every call builds a TLS context of its own and reads the trust store
// again, the way calls did before the context was shared (for the benchmark).
void SetTlsShared(bool shared);

} // namespace SoapTransport
