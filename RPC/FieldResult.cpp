#include "FieldResult.h"

#include "TavCommon.h"

#include <QtEndian>

FieldResult::FieldResult(const unsigned char* data, int size, long fieldSize)
    : m_fieldSize(fieldSize)
{
    if (data && size > 0)
        m_bytes = QByteArray(reinterpret_cast<const char*>(data), size);
}

int32_t FieldResult::readInt(int offset) const
{
    return qFromLittleEndian<qint32>(m_bytes.constData() + offset);
}

int32_t FieldResult::rowCount() const
{
    return isUsable() ? readInt(0) : 0;
}

int32_t FieldResult::errorCode() const
{
    return isUsable() ? readInt(4) : 0;
}

bool FieldResult::firstInt(int32_t* value) const
{
    if (m_bytes.size() < kHeaderSize + 4)
        return false;
    *value = readInt(kHeaderSize);
    return true;
}

bool FieldResult::intRows(QVector<int32_t>* rows) const
{
    rows->clear();
    if (!isUsable())
        return false;
    const int32_t count = rowCount();
    const int available = (m_bytes.size() - kHeaderSize) / 4;
    if (count < 0 || count > available)
        return false;
    rows->reserve(count);
    for (int i = 0; i < count; ++i)
        rows->append(readInt(kHeaderSize + 4 * i));
    return true;
}

QByteArray FieldResult::firstText() const
{
    if (m_bytes.size() <= kHeaderSize || m_fieldSize <= 0)
        return QByteArray();
    long limit = m_bytes.size() - kHeaderSize;
    if (m_fieldSize < limit)
        limit = m_fieldSize;
    return BoundedText(m_bytes.constData() + kHeaderSize, static_cast<size_t>(limit));
}
