#pragma once

// The expected bytes of a request record, written field by field at their offsets into a
// zero-filled block, so that a test states the wire layout independently of the structures
// that the client fills.

#include <QByteArray>
#include <QList>
#include <QPair>
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
    RecordBytes& text(int offset, const QByteArray& value)
    {
        data.replace(offset, value.size(), value);
        return *this;
    }
    // Texts at their offsets.
    RecordBytes& texts(const QList<QPair<int, QByteArray>>& fields)
    {
        for (const auto& field : fields)
            text(field.first, field.second);
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
