#pragma once

#include <QByteArray>
#include <cstddef>

// Building the SQL texts that the client sends to the server's field and
// update queries.

// The text with every single quote doubled, ready to stand between two
// single quotes of an SQL literal. A null text gives an empty literal.
QByteArray SqlQuoted(const char* text);

// printf into the query buffer. Returns false (and leaves an empty text)
// when the whole query does not fit into bufferSize - 1 bytes: a cut query
// would be a different query, so the caller must not send it.
bool FormatSql(char* buffer, size_t bufferSize, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Size of the buffer every query text is built in.
constexpr size_t kSqlBufferSize = 1024;
