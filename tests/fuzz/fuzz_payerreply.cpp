// The payer settings the server sends as JSON text at logon.
#include "PayerReply.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    PayerReply reply;
    ParsePayerReply(text.c_str(), &reply);
    volatile size_t sink = 0;
    for (int i = 0; i < reply.PayerCount; ++i)
        sink = sink + strnlen(reply.Payers[i].PayerName, sizeof reply.Payers[i].PayerName);
    (void)sink;
    free(reply.Payers);
    return 0;
}
