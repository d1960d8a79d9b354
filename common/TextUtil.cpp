#include "TextUtil.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

size_t CopyText(char* dst, size_t dstSize, const char* src)
{
    if (!dst || dstSize == 0)
        return 0;
    if (!src) {
        dst[0] = '\0';
        return 0;
    }
    size_t n = strnlen(src, dstSize - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
    return n;
}

size_t Utf8BoundaryLength(const char* text, size_t len)
{
    if (len == 0)
        return 0;
    // Walk back over continuation bytes to the start of the last character,
    // then keep that character only if all of its bytes are within len.
    size_t start = len;
    while (start > 0 && (static_cast<unsigned char>(text[start - 1]) & 0xC0) == 0x80)
        --start;
    if (start == 0)
        return 0; // only continuation bytes: nothing sound to keep
    unsigned char lead = static_cast<unsigned char>(text[start - 1]);
    size_t need = 1;
    if (lead >= 0xF0)
        need = 4;
    else if (lead >= 0xE0)
        need = 3;
    else if (lead >= 0xC0)
        need = 2;
    size_t have = len - (start - 1);
    return have >= need ? len : start - 1;
}

size_t CopyUtf8Text(char* dst, size_t dstSize, const char* src)
{
    if (!dst || dstSize == 0)
        return 0;
    if (!src) {
        dst[0] = '\0';
        return 0;
    }
    size_t full = strlen(src);
    size_t n = full < dstSize ? full : Utf8BoundaryLength(src, dstSize - 1);
    memcpy(dst, src, n);
    dst[n] = '\0';
    return n;
}

size_t CopyGbkText(char* dst, size_t dstSize, const char* src)
{
    if (!dst || dstSize == 0)
        return 0;
    if (!src) {
        dst[0] = '\0';
        return 0;
    }
    const size_t limit = dstSize - 1;
    size_t i = 0;
    // GB18030: a byte below 0x80 is one character; a lead byte 0x81..0xFE is
    // followed by a second byte 0x40..0xFE (two-byte character) or by a digit
    // 0x30..0x39 (four-byte character).
    while (src[i] != '\0') {
        unsigned char c = static_cast<unsigned char>(src[i]);
        size_t len = 1;
        if (c >= 0x81 && c <= 0xFE && src[i + 1] != '\0') {
            unsigned char c2 = static_cast<unsigned char>(src[i + 1]);
            if (c2 >= 0x30 && c2 <= 0x39 && src[i + 2] != '\0' && src[i + 3] != '\0')
                len = 4;
            else
                len = 2;
        }
        if (i + len > limit)
            break;
        i += len;
    }
    memcpy(dst, src, i);
    dst[i] = '\0';
    return i;
}

size_t FormatText(char* dst, size_t dstSize, const char* format, ...)
{
    if (!dst || dstSize == 0)
        return 0;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int needed = vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) {
        va_end(args);
        dst[0] = '\0';
        return 0;
    }
    std::vector<char> whole(static_cast<size_t>(needed) + 1);
    vsnprintf(whole.data(), whole.size(), format, args);
    va_end(args);
    return CopyUtf8Text(dst, dstSize, whole.data());
}
