#include "SqlText.h"

#include <cstdarg>
#include <cstdio>

QByteArray SqlQuoted(const char* text)
{
    QByteArray quoted;
    if (!text)
        return quoted;
    // A single quote (0x27) never occurs inside a multi-byte character of
    // UTF-8 or GB18030, so doubling the byte is safe in both encodings.
    for (const char* p = text; *p; ++p) {
        quoted.append(*p);
        if (*p == '\'')
            quoted.append('\'');
    }
    return quoted;
}

bool FormatSql(char* buffer, size_t bufferSize, const char* format, ...)
{
    if (!buffer || bufferSize == 0)
        return false;
    va_list args;
    va_start(args, format);
    const int needed = vsnprintf(buffer, bufferSize, format, args);
    va_end(args);
    if (needed < 0 || static_cast<size_t>(needed) >= bufferSize) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}
