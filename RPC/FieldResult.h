#pragma once

#include <QByteArray>
#include <QVector>
#include <cstdint>

// The answer of a field query (GetFieldValuesBySQL), copied out of the
// runtime context and read defensively: every count and offset in it comes
// from the server, so nothing is read past the bytes that actually arrived.
//
// Layout (little-endian): int32 row count, int32 error code of the server's
// query, then the values of the requested column. An integer column has one
// int32 per row; a text column holds zero-terminated GB18030 text of at most
// FieldSize bytes per row, of which only the first row is read.
class FieldResult
{
public:
    FieldResult() = default;
    FieldResult(const unsigned char* data, int size, long fieldSize);

    // At least the row count and the error code arrived; an answer shorter
    // than that is treated like an empty one.
    bool isUsable() const { return m_bytes.size() >= kHeaderSize; }

    int size() const { return m_bytes.size(); }
    // As the server sent them; 0 when the answer is not usable.
    int32_t rowCount() const;
    int32_t errorCode() const;

    // The first integer value, when its four bytes arrived.
    bool firstInt(int32_t* value) const;
    // All integer rows. False when the row count is negative or claims more
    // rows than the bytes hold (a truncated or corrupt answer).
    bool intRows(QVector<int32_t>* rows) const;
    // The text of the first row: at most FieldSize bytes and never past the
    // end of the answer, up to the first zero byte. A text without its
    // terminator is cut where the slot or the answer ends.
    QByteArray firstText() const;

    static constexpr int kHeaderSize = 8;

private:
    int32_t readInt(int offset) const;

    QByteArray m_bytes;
    long m_fieldSize = 0;
};
