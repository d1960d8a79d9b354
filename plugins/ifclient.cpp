// Stand-in of the interface plug-in "ifclient.so" through which an outside
// sign-on system logs the desktop user on and off. The client calls only the
// five exported functions below; the sign-on state comes from a small text
// file (see README.md in this folder). Plain C++ on purpose: the library is
// loaded into the client with dlopen and must not bring its own Qt.

#include "SafeFile.h"
#include "TextUtil.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string>

#define IFCLIENT_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{

constexpr size_t kNameSize = 256; // the client's user name buffer

// What SyncInit hands out and SyncFree takes back. It holds nothing: the one
// piece of state, the state file's path, is kept in g_statePath, where
// SyncCheckLogin (which gets no context) finds it.
struct Context {
};

std::string defaultStatePath()
{
    const char* explicitPath = getenv("ORIX_SIGNON_STATE");
    if (explicitPath && *explicitPath)
        return explicitPath;
    // Same relocation rule as the client's fixed paths. One file per
    // desktop user (named like the client's lock file, after the last part
    // of the home folder), which only that user may write.
    std::string prefix;
    if (const char* root = getenv("ORIX_ROOT_PREFIX"))
        prefix = root;
    while (!prefix.empty() && prefix.back() == '/')
        prefix.pop_back();
    std::string home;
    if (const char* value = getenv("HOME"))
        home = value;
    return prefix + "/var/tmp/ifclient-signon-" + home.substr(home.rfind('/') + 1);
}

// The path of the state file as SyncInit saw it, so that SyncCheckLogin,
// which gets no context, reads the same file.
std::string g_statePath;

std::string trim(const std::string& text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

// First line of the state file, at most 4 KiB; false when it cannot be read.
// The file counts only when it is the user's own regular file that no other
// user may write: it is opened without following a link and without waiting
// on a FIFO, and another user's file is ignored.
bool readStateLine(const std::string& path, std::string* line)
{
    std::string content;
    if (SafeFile::ReadOwnedFile(path.c_str(), &content, 64 * 1024) != SafeFile::Check::Ok)
        return false;
    const size_t end = content.find_first_of(std::string("\n\0", 2));
    *line = trim(content.substr(0, std::min<size_t>(end, 4095)));
    return !content.empty();
}

// Copies name into the client's 256-byte buffer, cut at 255 bytes without
// splitting a UTF-8 sequence.
void copyName(char* out, const std::string& name)
{
    CopyUtf8Text(out, kNameSize, name.c_str());
}

} // namespace

// Prepares the plug-in. config is the client's initialisation text
// ("Server=127.0.0.1;"), which this stand-in does not need. Returns the
// context, or null when the plug-in cannot work.
IFCLIENT_EXPORT void* SyncInit(const char* config)
{
    (void)config;
#ifdef IFCLIENT_INIT_FAILS
    return nullptr;
#else
    g_statePath = defaultStatePath();
    return new Context;
#endif
}

// Reports the outside sign-on: 0 a user is signed on (name copied into
// userName, a 256-byte buffer), 1 the user has signed off (with the name
// when the state file gives one), 2 nothing known (no or unreadable state
// file). online and authServer are not needed by this stand-in.
IFCLIENT_EXPORT int SyncCheckLogin(int online, char* authServer, char* userName)
{
    (void)online;
    (void)authServer;
    const std::string path = g_statePath.empty() ? defaultStatePath() : g_statePath;
    std::string line;
    if (!readStateLine(path, &line))
        return 2;
    if (line == "logout" || line.compare(0, 7, "logout ") == 0) {
        if (userName)
            copyName(userName, trim(line.substr(6)));
        return 1;
    }
    if (line.compare(0, 6, "login ") == 0) {
        const std::string name = trim(line.substr(6));
        if (name.empty())
            return 2;
        if (userName)
            copyName(userName, name);
        return 0;
    }
    return 2;
}

IFCLIENT_EXPORT void SyncFree(void* context)
{
    delete static_cast<Context*>(context);
}

// Hooks for server messages and captured jobs; the client looks them up but
// this stand-in has nothing to do with them.
IFCLIENT_EXPORT int SyncHandleMsg(void* context, const char* message)
{
    (void)context;
    (void)message;
    return 0;
}

#ifndef IFCLIENT_NO_HANDLE_JOB
IFCLIENT_EXPORT int SyncHandleJob(void* context, const char* job)
{
    (void)context;
    (void)job;
    return 0;
}
#endif
