#pragma once

// Which HTTP proxy, if any, carries the calls to a server: the administrator's
// setting in the configuration first, else the environment the way curl reads
// it.
//
// - Configuration: empty = ask the environment; "none" = no proxy at all;
//   anything else is the proxy's URL.
// - Environment: https_proxy or HTTPS_PROXY for an HTTPS server, http_proxy or
//   HTTP_PROXY for a plain one (the lower-case name first), then all_proxy or
//   ALL_PROXY; no_proxy or NO_PROXY lists the servers reached directly: "*"
//   (every server), host names (the name and every name under it; a leading
//   dot is the same), addresses and address ranges ("10.0.0.0/8",
//   "fd00::/8"), separated by commas or blanks.
// - A proxy URL: [http://][user[:password]@]host[:port][/], port 1080 when
//   none is given, user and password percent-decoded (Basic credentials).
//   Another scheme (a TLS or SOCKS proxy) is not one the client can use: such
//   a setting is reported and the server is reached directly.

#include <functional>
#include <string>

struct ProxyChoice {
    bool use = false;     // a proxy carries the calls
    std::string host;     // its name or address (an IPv6 address without brackets)
    int port = 0;         // its port
    std::string user;     // Basic credentials, empty without
    std::string password; //
    // Where the choice comes from: "configuration", the name of the
    // environment variable, "no_proxy" / "NO_PROXY" when the server is
    // listed there, or empty when nothing names a proxy.
    std::string source;
    // A setting that names no usable proxy (an empty error when all is well).
    std::string error;

    // "host:port" of the proxy (credentials left out), or "none".
    std::string describe() const;

    // The proxy for a server called host (a name or an address, IPv6 in
    // brackets or not). configured: the configuration's value; env: looks a
    // variable up (getenv by default).
    using Environment = std::function<const char*(const char*)>;
    static ProxyChoice For(const std::string& configured, bool https, const std::string& host,
                           const Environment& env = Environment());

    // True when the no_proxy list sends host past the proxy.
    static bool Bypassed(const std::string& noProxy, const std::string& host);
    // Parses a proxy URL into use/host/port/user/password; false (and
    // error) when it names no usable proxy.
    static bool Parse(const std::string& url, ProxyChoice* out);
    // The host of an endpoint "scheme://host:port/...", IPv6 without brackets.
    static std::string HostOf(const std::string& endpoint);
};
