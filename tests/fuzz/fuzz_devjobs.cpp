// The request records that the development server's job listing decodes:
// the first byte chooses the kind, the rest is the record, of any size.
#include "DevJobs.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    static const char* const kinds[] = {"print", "mobile", "copy", "cd", "other"};
    const std::string record(reinterpret_cast<const char*>(data + 1), size - 1);
    volatile size_t sink = DescribeRecord(kinds[data[0] % 5], record).size();
    (void)sink;
    return 0;
}
