#include "LogonAttempt.h"

#include "Background.h"
#include "EventLog.h"
#include "OrixUser.h"
#include "RpcResults.h"

#include <system_error>

LogonOutcome TryLogon(OrixUser& user)
{
    LogonOutcome outcome;
    try {
        outcome.result = user.Logon();
        outcome.kind = outcome.result == RpcResult::kOk ? LogonOutcome::Accepted
                       : outcome.result > 0             ? LogonOutcome::Refused
                                                        : LogonOutcome::Unreachable;
        return outcome;
    } catch (const RpcFailure&) {
        outcome.kind = LogonOutcome::Unreachable;
    } catch (const std::exception&) {
        LogException("logon", std::current_exception());
        outcome.kind = LogonOutcome::Failed;
    }
    outcome.result = -1;
    outcome.threw = true;
    return outcome;
}

LogonOutcome RunLogon(OrixUser& user)
{
    try {
        return Background::RunResponsive([&user] { return TryLogon(user); });
    } catch (const std::system_error&) {
        // No thread could be started for it.
        LogonOutcome outcome;
        outcome.threw = true;
        return outcome;
    }
}
