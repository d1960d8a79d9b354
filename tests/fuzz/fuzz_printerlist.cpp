// The printer list: GetPrinterList's reply into the block, the settings dialog's parser of it.
#include "FuzzTransport.h"
#include "PrintSettingModel.h"
#include "TavCommon.h"

#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The parser on the raw bytes, exactly size of them on the heap.
    const std::vector<char> raw(data, data + size);
    BuildPrinterChoices(ParsePrinterList(raw.data(), raw.size()), 1);

    static CDComLayerWS client;
    static const bool ready = (FuzzTransport::Init(client), true);
    (void)ready;
    FuzzTransport::Serve(data, size);
    char user[] = "alice";
    void* block = nullptr;
    try {
        if (client.GetPrinterList(user, &block) == 0 && block) {
            const PrinterListReply reply =
                ParsePrinterList(static_cast<const char*>(block), PrinterListBlockLength(block));
            BuildPrinterChoices(reply, 1);
            BuildPrinterChoices(reply, 2);
        }
    } catch (const RpcFailure&) {
    }
    SysFreeString(block);
    return 0;
}
