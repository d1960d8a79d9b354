// The result buffer of a field query as the server sends it. The first byte
// chooses the requested field size; the rest is the buffer.
#include "FieldResult.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const long fieldSizes[] = {0, 4, 50, 255, 512, -1};
    const FieldResult result(data + 1, int(size - 1), fieldSizes[data[0] % 6]);
    volatile uint32_t sink = uint32_t(result.rowCount()) + uint32_t(result.errorCode());
    int32_t value = 0;
    if (result.firstInt(&value))
        sink = uint32_t(value);
    QVector<int32_t> rows;
    if (result.intRows(&rows))
        for (int32_t row : rows)
            sink = sink + uint32_t(row);
    sink = sink + uint32_t(result.firstText().size());
    (void)sink;
    return 0;
}
