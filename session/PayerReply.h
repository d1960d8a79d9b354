#pragma once

#include "OrixUser.h"
#include "TavQuotaRequest.h"

#include <cstdint>

// The payer settings of a GetPayerInfo reply, parsed apart from the session
// so that any text the server may send can be fed to the parser alone.
struct PayerReply {
    bool IsSupportCostControl = false;
    bool IsSupportProject = false;
    int32_t PayerType = kPayerOwnAccount;
    int32_t PayerCount = 0;
    TavPayer* Payers = nullptr; // calloc'ed, PayerCount entries; the caller frees it
};

// Parses reply (JSON text; null when the server sent none) into out, which
// starts as a default PayerReply. Returns 0 when the reply is complete, 2
// when it is not JSON, a switch is missing, "PayerInfo" is not an array or an
// entry lacks one of its keys (what was found is kept, as the logon uses it).
int ParsePayerReply(const char* reply, PayerReply* out);
