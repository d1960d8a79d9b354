#pragma once

#include <cstdint>

// The head of the session's user record, the in-memory layout through which
// the RPC client reads the logon values (LogOn), fills the user information
// (GetUserInfo, GetUserInfoEx) and reads the user for the audit-flow queries.
// The session object derives from it, so a pointer to the session converted
// to TavUserRecord* is what the RPC operations receive as their untyped
// "session" / "user record" argument.
struct TavUserRecord {
    char UserName[256];      // logon name, UTF-8
    char FullName[256];      // full name from the user information query, UTF-8
    char ServerAddress[256]; // host name or IPv4 text of the central server
    char Password[256];      // as sent: upper-case MD5 hex digest, or the typed text
    int32_t LogonMode;       // 0, 1 or 2, passed to UserLogon as UserType
    int32_t UseSsl;          // non-zero: https endpoint
    int32_t SecretLevel;     // the user's secret level number (a count of levels)
    int32_t UserId;          // the user's number on the server

    // Extended user information block as the server returned it: a 32-bit
    // entry count, then entries of 364 bytes each, each beginning with the
    // secret level's name (50 bytes, GB18030) and a second GB18030 text at
    // byte 50 of the entry; at most 11 entries fit.
    static constexpr int kUserInfoExSize = 4012;
    static constexpr int kUserInfoExEntrySize = 364;
    unsigned char UserInfoEx[kUserInfoExSize];
};
