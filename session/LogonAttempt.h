#pragma once

class OrixUser;

// How one run of the session's logon ended.
struct LogonOutcome {
    enum Kind {
        Accepted,    // logged on (result 0)
        Refused,     // the server said no (result > 0): wrong password, locked account, ...
        Unreachable, // no answer: LogOn < 0, or the RPC layer raised an RpcFailure
        Failed,      // anything else went wrong (another exception, or no attempt was made)
    };
    Kind kind = Failed;
    int result = -1; // the logon's result; -1 when an exception ended it
    bool threw = false;

    // Worth trying again by itself later: the server could not be reached.
    bool unreachable() const { return kind == Unreachable; }
};

// Runs user.Logon() on this thread. Never throws: an exception becomes an
// outcome with threw set (Unreachable for the RPC layer's RpcFailure, Failed
// for anything else).
LogonOutcome TryLogon(OrixUser& user);

// The same on a thread of its own while this thread's events keep flowing
// (Background::RunResponsive). The caller keeps the user's controls from
// starting another logon meanwhile.
LogonOutcome RunLogon(OrixUser& user);
