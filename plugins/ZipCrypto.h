#pragma once

// The traditional zip encryption (the one every unzip tool knows; weak by
// today's standards) on raw entry data. Debian's minizip carries its own
// copy, but that one keeps the keys and the CRC table in 64-bit words on
// 64-bit systems and produces archives no other tool can open, so the
// compression library writes raw entries encrypted here, and the
// development server reads them back the same way.

#include <cstddef>
#include <cstdint>
#include <zlib.h>

class ZipCrypto
{
public:
    // 12 bytes in front of the data: ten random, then the two high bytes of
    // the entry's CRC-32, all encrypted; the last one checks the password.
    static constexpr size_t kHeaderSize = 12;

    explicit ZipCrypto(const char* password)
    {
        for (const char* p = password; *p; ++p)
            update(static_cast<uint8_t>(*p));
    }

    uint8_t encrypt(uint8_t plain)
    {
        const uint8_t cipher = plain ^ stream();
        update(plain);
        return cipher;
    }

    uint8_t decrypt(uint8_t cipher)
    {
        const uint8_t plain = cipher ^ stream();
        update(plain);
        return plain;
    }

    void encrypt(uint8_t* data, size_t size)
    {
        for (size_t i = 0; i < size; ++i)
            data[i] = encrypt(data[i]);
    }

    void decrypt(uint8_t* data, size_t size)
    {
        for (size_t i = 0; i < size; ++i)
            data[i] = decrypt(data[i]);
    }

    // The header for an entry with this CRC, from ten random bytes.
    void makeHeader(const uint8_t random[10], uint32_t crc, uint8_t header[kHeaderSize])
    {
        for (size_t i = 0; i < 10; ++i)
            header[i] = random[i];
        header[10] = static_cast<uint8_t>(crc >> 16);
        header[11] = static_cast<uint8_t>(crc >> 24);
        encrypt(header, kHeaderSize);
    }

    // Decrypts a header; false when its check byte says the password is wrong.
    bool checkHeader(uint8_t header[kHeaderSize], uint32_t crc)
    {
        decrypt(header, kHeaderSize);
        return header[11] == static_cast<uint8_t>(crc >> 24);
    }

private:
    static uint32_t crc(uint32_t value, uint8_t byte)
    {
        return static_cast<uint32_t>(get_crc_table()[(value ^ byte) & 0xff]) ^ (value >> 8);
    }

    uint8_t stream() const
    {
        const uint32_t t = (m_keys[2] & 0xffff) | 2;
        return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
    }

    void update(uint8_t plain)
    {
        m_keys[0] = crc(m_keys[0], plain);
        m_keys[1] = (m_keys[1] + (m_keys[0] & 0xff)) * 134775813u + 1;
        m_keys[2] = crc(m_keys[2], static_cast<uint8_t>(m_keys[1] >> 24));
    }

    uint32_t m_keys[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};
