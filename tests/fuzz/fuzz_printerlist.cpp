// The printer list: the reply of GetPrinterList through the SOAP runtime
// into the length-prefixed block that the print settings dialog reads.
#include "FuzzTransport.h"
#include "TavCommon.h"

#include <cstdint>

namespace
{

// The print settings dialog's parser of the block plugs in here once it
// exists: parse block (SysStringLen(block) * 2 bytes and a terminator).
// Until then every byte the block claims to hold is read.
void parsePrinterList(const char* block)
{
    volatile unsigned sink = 0;
    const size_t bytes = size_t(SysStringLen(block)) * 2 + 1;
    for (size_t i = 0; i < bytes; ++i)
        sink = sink + static_cast<unsigned char>(block[i]);
    (void)sink;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static CDComLayerWS client;
    static const bool ready = (FuzzTransport::Init(client), true);
    (void)ready;
    FuzzTransport::Serve(data, size);
    char user[] = "alice";
    void* block = nullptr;
    try {
        if (client.GetPrinterList(user, &block) == 0)
            parsePrinterList(static_cast<const char*>(block));
    } catch (unsigned int) {
    }
    SysFreeString(block);
    return 0;
}
