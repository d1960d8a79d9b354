// The reply of the notice query (type, field text) decoded for the pop-up.
#include "LanguageManager.h"
#include "ServerNotice.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const LanguageManager texts(QStringLiteral("/nonexistent/OrixClientAPP.ini"));
    TavServerMessage out;
    memset(&out, 0, sizeof out);
    if (ServerNotice::Decode(data, int(size), texts, &out) == 0) {
        volatile size_t sink = strlen(out.Headline) + strnlen(out.Detail, sizeof out.Detail);
        (void)sink;
    }
    return 0;
}
