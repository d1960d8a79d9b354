#pragma once

// The expected bytes of a request record, written field by field at their offsets into a
// zero-filled block, so that a test states the wire layout independently of the structures
// that the client fills.

#include <QByteArray>
#include <QList>
#include <QtEndian>

// A little-endian int32.
inline QByteArray le32(qint32 value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

struct RecordBytes {
    QByteArray data;
    explicit RecordBytes(int size) : data(size, '\0') {}
    // Texts at their offsets: offset, text, offset, text, ...
    template <typename... More> RecordBytes& text(int offset, const QByteArray& value, More... more)
    {
        data.replace(offset, value.size(), value);
        if constexpr (sizeof...(more) > 0)
            text(more...);
        return *this;
    }
    // Little-endian int32 values one after another.
    RecordBytes& numbers(int offset, const QList<int>& values)
    {
        for (int i = 0; i < values.size(); ++i)
            qToLittleEndian<qint32>(values[i], data.data() + offset + 4 * i);
        return *this;
    }
    RecordBytes& number(int offset, int value) { return numbers(offset, {value}); }
};
