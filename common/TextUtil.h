#pragma once

#include <cstddef>

// Bounded copies into the fixed-width, NUL-terminated text fields that the
// records of this client are made of. Both always terminate the destination
// (when it has room for at least the terminator) and never write past
// dstSize bytes.

// Copies at most dstSize - 1 bytes of src. Returns the number of bytes copied.
// A null src gives an empty text.
size_t CopyText(char* dst, size_t dstSize, const char* src);

// Same for UTF-8 text: when src does not fit, it is cut before the first
// character that would not fit whole, so no multi-byte sequence is split.
size_t CopyUtf8Text(char* dst, size_t dstSize, const char* src);

// Same for GB18030 (GBK) text: a cut never splits a two- or four-byte
// character.
size_t CopyGbkText(char* dst, size_t dstSize, const char* src);

// Length of the longest prefix of the first len bytes of text that ends on a
// UTF-8 character boundary.
size_t Utf8BoundaryLength(const char* text, size_t len);

// printf into a fixed buffer; the output is cut to fit (at a UTF-8
// character boundary) and always terminated. Returns the length written.
size_t FormatText(char* dst, size_t dstSize, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
