#include "ProxyChoice.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>

namespace
{

std::string lower(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string trimmed(const std::string& s)
{
    const size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos)
        return std::string();
    return s.substr(begin, s.find_last_not_of(" \t\r\n") - begin + 1);
}

std::string withoutBrackets(const std::string& host)
{
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        return host.substr(1, host.size() - 2);
    return host;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string percentDecoded(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// An address in network order, 4 or 16 bytes; 0 when text is none.
int addressOf(const std::string& text, unsigned char* bytes)
{
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1)
        return 4;
    if (inet_pton(AF_INET6, text.c_str(), bytes) == 1)
        return 16;
    return 0;
}

bool sameLeadingBits(const unsigned char* a, const unsigned char* b, int bits)
{
    for (int i = 0; bits > 0; ++i, bits -= 8) {
        const unsigned char mask =
            bits >= 8 ? 0xFF : static_cast<unsigned char>(0xFF << (8 - bits));
        if ((a[i] & mask) != (b[i] & mask))
            return false;
    }
    return true;
}

bool entryMatches(std::string entry, const std::string& host)
{
    if (entry == "*")
        return true;
    unsigned char hostAddress[16];
    const int hostLength = addressOf(host, hostAddress);
    if (hostLength) {
        // An address is matched by an address or a range, never by a name.
        const size_t slash = entry.find('/');
        int bits = hostLength * 8;
        if (slash != std::string::npos) {
            char* end = nullptr;
            const std::string prefix = entry.substr(slash + 1);
            bits = static_cast<int>(strtol(prefix.c_str(), &end, 10));
            if (prefix.empty() || *end || bits < 0 || bits > hostLength * 8)
                return false;
            entry.resize(slash);
        }
        unsigned char entryAddress[16];
        return addressOf(withoutBrackets(entry), entryAddress) == hostLength &&
               sameLeadingBits(entryAddress, hostAddress, bits);
    }
    if (!entry.empty() && entry.front() == '.')
        entry.erase(0, 1);
    if (!entry.empty() && entry.back() == '.')
        entry.pop_back();
    if (entry.empty())
        return false;
    // The name itself, or one under it ("example.com" covers "a.example.com").
    return host == entry || (host.size() > entry.size() &&
                             host.compare(host.size() - entry.size(), entry.size(), entry) == 0 &&
                             host[host.size() - entry.size() - 1] == '.');
}

} // namespace

std::string ProxyChoice::describe() const
{
    if (!use)
        return "none";
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ':' + std::to_string(port);
}

bool ProxyChoice::Bypassed(const std::string& noProxy, const std::string& host)
{
    std::string name = lower(withoutBrackets(trimmed(host)));
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    size_t begin = 0;
    while (begin < noProxy.size()) {
        const size_t end = noProxy.find_first_of(", \t", begin);
        const std::string entry = lower(trimmed(
            noProxy.substr(begin, end == std::string::npos ? std::string::npos : end - begin)));
        if (!entry.empty() && entryMatches(entry, name))
            return true;
        if (end == std::string::npos)
            break;
        begin = end + 1;
    }
    return false;
}

bool ProxyChoice::Parse(const std::string& text, ProxyChoice* out)
{
    *out = ProxyChoice();
    std::string url = trimmed(text);
    const size_t scheme = url.find("://");
    if (scheme != std::string::npos) {
        if (lower(url.substr(0, scheme)) != "http") {
            out->error = "only an http:// proxy can be used: " + url.substr(0, scheme + 3);
            return false;
        }
        url.erase(0, scheme + 3);
    }
    url = url.substr(0, url.find_first_of("/?#"));
    const size_t at = url.rfind('@');
    if (at != std::string::npos) {
        const std::string credentials = url.substr(0, at);
        const size_t colon = credentials.find(':');
        out->user = percentDecoded(credentials.substr(0, colon));
        if (colon != std::string::npos)
            out->password = percentDecoded(credentials.substr(colon + 1));
        url.erase(0, at + 1);
    }
    std::string port;
    if (!url.empty() && url.front() == '[') {
        const size_t close = url.find(']');
        if (close == std::string::npos) {
            out->error = "unclosed bracket in the proxy address";
            return false;
        }
        out->host = url.substr(1, close - 1);
        if (close + 1 < url.size()) {
            if (url[close + 1] != ':') {
                out->error = "bad proxy address";
                return false;
            }
            port = url.substr(close + 2);
        }
    } else {
        const size_t colon = url.find(':');
        out->host = url.substr(0, colon);
        if (colon != std::string::npos)
            port = url.substr(colon + 1);
    }
    out->port = 1080;
    if (!port.empty()) {
        char* end = nullptr;
        const long p = strtol(port.c_str(), &end, 10);
        if (*end || p < 1 || p > 65535) {
            out->error = "bad proxy port " + port;
            return false;
        }
        out->port = static_cast<int>(p);
    }
    if (out->host.empty()) {
        out->error = "no proxy host";
        return false;
    }
    out->use = true;
    return true;
}

std::string ProxyChoice::HostOf(const std::string& endpoint)
{
    std::string rest = endpoint;
    const size_t scheme = rest.find("://");
    if (scheme != std::string::npos)
        rest.erase(0, scheme + 3);
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        return rest.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return rest.substr(0, rest.find_first_of(":/?#"));
}

ProxyChoice ProxyChoice::For(const std::string& configured, bool https, const std::string& host,
                             const Environment& environment)
{
    const Environment env =
        environment ? environment : [](const char* name) -> const char* { return getenv(name); };
    ProxyChoice choice;
    const std::string setting = trimmed(configured);
    if (!setting.empty()) {
        if (lower(setting) == "none") {
            choice.source = "configuration";
            return choice;
        }
        Parse(setting, &choice);
        choice.source = "configuration";
        return choice;
    }
    static const char* const kHttps[] = {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};
    static const char* const kHttp[] = {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"};
    std::string url;
    for (const char* name : https ? kHttps : kHttp) {
        const char* value = env(name);
        if (value && *value) {
            url = value;
            choice.source = name;
            break;
        }
    }
    if (url.empty())
        return choice;
    for (const char* name : {"no_proxy", "NO_PROXY"}) {
        const char* value = env(name);
        if (value && *value) {
            if (Bypassed(value, host)) {
                choice.source = name;
                return choice;
            }
            break; // the lower-case list hides the upper-case one
        }
    }
    const std::string source = choice.source;
    Parse(url, &choice);
    choice.source = source;
    return choice;
}
