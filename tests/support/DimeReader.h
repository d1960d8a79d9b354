#pragma once

// Splits a DIME message (HTTP content type "application/dime") into its
// records, for tests that check what the SOAP client uploads. Chunked
// records (CF flag) are joined into one record.
//
//     bool ok = false;
//     const QList<DimeRecord> records = DimeReader::parse(request.body, &ok);
//     // records[0].data is the SOAP envelope, records[1..] the attachments

#include <QByteArray>
#include <QList>

struct DimeRecord {
    int version = 0;
    bool messageBegin = false; // MB
    bool messageEnd = false;   // ME
    int typeFormat = 0;        // TNF: 1 media type, 2 absolute URI
    QByteArray options;
    QByteArray id;
    QByteArray type;
    QByteArray data;
};

namespace DimeReader
{

inline quint32 be(const QByteArray& b, int pos, int width)
{
    quint32 v = 0;
    for (int i = 0; i < width; ++i)
        v = (v << 8) | static_cast<unsigned char>(b.at(pos + i));
    return v;
}

inline int padded(quint32 n)
{
    return static_cast<int>((n + 3) & ~3u);
}

// *ok is false when the bytes end inside a record or the last record lacks
// the ME flag; the records read so far are returned either way.
inline QList<DimeRecord> parse(const QByteArray& message, bool* ok = nullptr)
{
    QList<DimeRecord> records;
    if (ok)
        *ok = false;
    int pos = 0;
    bool continuing = false;
    while (pos + 12 <= message.size()) {
        const unsigned char b0 = static_cast<unsigned char>(message.at(pos));
        const unsigned char b1 = static_cast<unsigned char>(message.at(pos + 1));
        const quint32 optLen = be(message, pos + 2, 2);
        const quint32 idLen = be(message, pos + 4, 2);
        const quint32 typeLen = be(message, pos + 6, 2);
        const quint32 dataLen = be(message, pos + 8, 4);
        const qint64 end = static_cast<qint64>(pos) + 12 + padded(optLen) + padded(idLen) +
                           padded(typeLen) + padded(dataLen);
        if (end > message.size())
            return records;
        int p = pos + 12;
        DimeRecord r;
        r.version = b0 >> 3;
        r.messageBegin = b0 & 0x04;
        r.messageEnd = b0 & 0x02;
        const bool chunk = b0 & 0x01;
        r.typeFormat = b1 >> 4;
        r.options = message.mid(p, static_cast<int>(optLen));
        p += padded(optLen);
        r.id = message.mid(p, static_cast<int>(idLen));
        p += padded(idLen);
        r.type = message.mid(p, static_cast<int>(typeLen));
        p += padded(typeLen);
        r.data = message.mid(p, static_cast<int>(dataLen));
        pos = static_cast<int>(end);
        if (continuing) {
            records.last().data += r.data;
            records.last().messageEnd = r.messageEnd;
        } else {
            records.append(r);
        }
        continuing = chunk;
        if (r.messageEnd && !chunk) {
            if (ok)
                *ok = pos == message.size();
            return records;
        }
    }
    return records;
}

} // namespace DimeReader
