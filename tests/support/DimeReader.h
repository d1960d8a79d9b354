#pragma once

// Splits a DIME message (content type "application/dime") into its records,
// for tests of what the SOAP client uploads: records[0] is the SOAP envelope,
// the others the attachments. Chunked records are joined.

#include <QByteArray>
#include <QList>

struct DimeRecord {
    QByteArray id;
    QByteArray data;
};

inline QList<DimeRecord> parseDime(const QByteArray& message)
{
    QList<DimeRecord> records;
    bool continued = false;
    for (qint64 pos = 0; pos + 12 <= message.size();) {
        const auto* h = reinterpret_cast<const unsigned char*>(message.constData() + pos);
        // Lengths of the options, id, type and data; each is padded to 4 bytes.
        const quint32 length[4] = {quint32(h[2] << 8 | h[3]), quint32(h[4] << 8 | h[5]),
                                   quint32(h[6] << 8 | h[7]),
                                   quint32(h[8]) << 24 | h[9] << 16 | h[10] << 8 | h[11]};
        QByteArray field[4];
        qint64 p = pos + 12;
        for (int i = 0; i < 4; ++i) {
            field[i] = message.mid(static_cast<int>(p), static_cast<int>(length[i]));
            p += (length[i] + qint64(3)) & ~qint64(3);
        }
        if (p > message.size())
            break;
        if (!continued)
            records.append(DimeRecord{field[1], QByteArray()});
        records.last().data += field[3];
        continued = h[0] & 0x01; // CF
        pos = p;
    }
    return records;
}
