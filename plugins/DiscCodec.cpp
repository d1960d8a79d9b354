#include "DiscCodec.h"

#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace DiscCodec
{

using namespace DiscCodecFormat;

namespace
{

struct CipherFree {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
struct PkeyFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
using CipherPtr = std::unique_ptr<EVP_CIPHER_CTX, CipherFree>;

// Reads until size bytes are in or the input ends. -1 on a read error.
ssize_t readFull(int fd, unsigned char* buffer, size_t size)
{
    size_t have = 0;
    while (have < size) {
        const ssize_t n = read(fd, buffer + have, size - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(have);
}

bool writeAll(int fd, const unsigned char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool deriveKey(const std::vector<unsigned char>& keyText, const unsigned char* salt,
               unsigned char* out)
{
    std::unique_ptr<EVP_PKEY_CTX, PkeyFree> ctx(EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr));
    size_t length = kKeySize;
    return ctx && EVP_PKEY_derive_init(ctx.get()) == 1 &&
           EVP_PKEY_CTX_set_hkdf_md(ctx.get(), EVP_sha256()) == 1 &&
           EVP_PKEY_CTX_set1_hkdf_salt(ctx.get(), salt, static_cast<int>(kSaltSize)) == 1 &&
           EVP_PKEY_CTX_set1_hkdf_key(ctx.get(), keyText.data(),
                                      static_cast<int>(keyText.size())) == 1 &&
           EVP_PKEY_CTX_add1_hkdf_info(ctx.get(), reinterpret_cast<const unsigned char*>(kKdfInfo),
                                       static_cast<int>(sizeof kKdfInfo - 1)) == 1 &&
           EVP_PKEY_derive(ctx.get(), out, &length) == 1 && length == kKeySize;
}

// One segment's state: the AES key, the header as additional data and the
// nonce prefix; the nonce of segment i is the prefix, i and the last flag.
class Segments
{
public:
    bool init(const std::vector<unsigned char>& key, const unsigned char* header)
    {
        memcpy(m_header, header, kHeaderSize);
        memcpy(m_nonce, header + kNoncePrefixOffset, kNoncePrefixSize);
        m_ctx.reset(EVP_CIPHER_CTX_new());
        return m_ctx && deriveKey(key, header + kSaltOffset, m_key);
    }
    ~Segments() { OPENSSL_cleanse(m_key, sizeof m_key); }

    // Seals size bytes of in into out (same size) and writes the tag.
    bool seal(const unsigned char* in, size_t size, bool last, unsigned char* out,
              unsigned char* tag)
    {
        int n = 0, tail = 0;
        return start(last, 1) && addHeader(1) &&
               (size == 0 ||
                EVP_EncryptUpdate(m_ctx.get(), out, &n, in, static_cast<int>(size)) == 1) &&
               EVP_EncryptFinal_ex(m_ctx.get(), out + n, &tail) == 1 &&
               EVP_CIPHER_CTX_ctrl(m_ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize),
                                   tag) == 1;
    }

    // Opens size bytes of in into out; false when the tag does not match.
    bool open(const unsigned char* in, size_t size, const unsigned char* tag, bool last,
              unsigned char* out)
    {
        int n = 0, tail = 0;
        return start(last, 0) && addHeader(0) &&
               (size == 0 ||
                EVP_DecryptUpdate(m_ctx.get(), out, &n, in, static_cast<int>(size)) == 1) &&
               EVP_CIPHER_CTX_ctrl(m_ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize),
                                   const_cast<unsigned char*>(tag)) == 1 &&
               EVP_DecryptFinal_ex(m_ctx.get(), out + n, &tail) == 1;
    }

    // False once 2^32 segments (256 TiB) have been used: the counter would
    // repeat a nonce.
    bool next() { return ++m_index != 0; }

private:
    bool start(bool last, int encrypting)
    {
        m_nonce[7] = static_cast<unsigned char>(m_index >> 24);
        m_nonce[8] = static_cast<unsigned char>(m_index >> 16);
        m_nonce[9] = static_cast<unsigned char>(m_index >> 8);
        m_nonce[10] = static_cast<unsigned char>(m_index);
        m_nonce[11] = last ? 1 : 0;
        return EVP_CipherInit_ex(m_ctx.get(), EVP_aes_256_gcm(), nullptr, m_key, m_nonce,
                                 encrypting) == 1;
    }
    bool addHeader(int encrypting)
    {
        int n = 0;
        return (encrypting ? EVP_EncryptUpdate : EVP_DecryptUpdate)(
                   m_ctx.get(), nullptr, &n, m_header, static_cast<int>(kHeaderSize)) == 1;
    }

    CipherPtr m_ctx;
    unsigned char m_key[kKeySize] = {};
    unsigned char m_header[kHeaderSize] = {};
    unsigned char m_nonce[12] = {};
    uint32_t m_index = 0;
};

Control g_noControl;

} // namespace

bool decodeKey(const char* keyText, std::vector<unsigned char>* key)
{
    const size_t length = keyText ? strlen(keyText) : 0;
    if (length == 0 || length % 4 != 0 || length > 4096)
        return false;
    key->assign(length / 4 * 3, 0);
    const int n = EVP_DecodeBlock(key->data(), reinterpret_cast<const unsigned char*>(keyText),
                                  static_cast<int>(length));
    if (n < 0)
        return false;
    // EVP_DecodeBlock counts the padding as zero bytes.
    size_t padding = 0;
    while (padding < 2 && keyText[length - 1 - padding] == '=')
        ++padding;
    key->resize(static_cast<size_t>(n) - padding);
    return !key->empty();
}

bool hasHeader(const unsigned char* data, size_t size)
{
    return size >= kHeaderSize && memcmp(data, kMagic, sizeof kMagic) == 0;
}

int encrypt(const std::vector<unsigned char>& key, int in, int out, Control* control,
            std::string* error)
{
    if (!control)
        control = &g_noControl;
    unsigned char header[kHeaderSize] = {};
    memcpy(header, kMagic, sizeof kMagic);
    header[6] = kVersion;
    header[7] = kAlgorithm;
    header[8] = static_cast<unsigned char>(kSegmentSize);
    header[9] = static_cast<unsigned char>(kSegmentSize >> 8);
    header[10] = static_cast<unsigned char>(kSegmentSize >> 16);
    header[11] = static_cast<unsigned char>(kSegmentSize >> 24);
    Segments segments;
    if (RAND_bytes(header + kSaltOffset, static_cast<int>(kSaltSize + kNoncePrefixSize)) != 1 ||
        !segments.init(key, header)) {
        *error = "the cipher cannot be set up";
        return kCodecWriteFailed;
    }
    if (!writeAll(out, header, kHeaderSize)) {
        *error = std::string("cannot write: ") + strerror(errno);
        return kCodecWriteFailed;
    }
    // One byte beyond a full segment tells whether another segment follows.
    std::vector<unsigned char> plain(kSegmentSize + 1), sealed(kSegmentSize + kTagSize);
    ssize_t have = readFull(in, plain.data(), kSegmentSize);
    for (;;) {
        if (have < 0) {
            *error = std::string("cannot read: ") + strerror(errno);
            return kCodecUnreadableFile;
        }
        if (!control->proceed()) {
            *error = "cancelled";
            return kCodecCancelled;
        }
        ssize_t more = 0;
        if (static_cast<size_t>(have) == kSegmentSize)
            more = readFull(in, plain.data() + kSegmentSize, 1);
        if (more < 0) {
            have = -1;
            continue;
        }
        const bool last = more == 0;
        const size_t size = static_cast<size_t>(have);
        if (!segments.seal(plain.data(), size, last, sealed.data(), sealed.data() + size)) {
            *error = "the cipher failed";
            return kCodecWriteFailed;
        }
        if (!writeAll(out, sealed.data(), size + kTagSize)) {
            *error = std::string("cannot write: ") + strerror(errno);
            return kCodecWriteFailed;
        }
        control->processed(static_cast<int64_t>(size));
        if (last)
            return kDiscOk;
        if (!segments.next()) {
            *error = "the input is too large";
            return kCodecWriteFailed;
        }
        plain[0] = plain[kSegmentSize];
        have = readFull(in, plain.data() + 1, kSegmentSize - 1);
        if (have >= 0)
            ++have;
    }
}

int decrypt(const std::vector<unsigned char>& key, int in, int out, Control* control,
            std::string* error)
{
    if (!control)
        control = &g_noControl;
    unsigned char header[kHeaderSize];
    const ssize_t headerSize = readFull(in, header, kHeaderSize);
    if (headerSize < 0) {
        *error = std::string("cannot read: ") + strerror(errno);
        return kCodecUnreadableFile;
    }
    const uint32_t segmentSize =
        header[8] | header[9] << 8 | header[10] << 16 | static_cast<uint32_t>(header[11]) << 24;
    if (!hasHeader(header, static_cast<size_t>(headerSize)) || header[6] != kVersion ||
        header[7] != kAlgorithm || segmentSize != kSegmentSize || header[kHeaderSize - 1] != 0) {
        *error = "not an encrypted archive of a known version";
        return kCodecNotEncrypted;
    }
    Segments segments;
    if (!segments.init(key, header)) {
        *error = "the cipher cannot be set up";
        return kCodecWriteFailed;
    }
    constexpr size_t kSealed = kSegmentSize + kTagSize;
    std::vector<unsigned char> sealed(kSealed + 1), plain(kSegmentSize);
    int64_t consumed = static_cast<int64_t>(kHeaderSize);
    ssize_t have = readFull(in, sealed.data(), kSealed);
    for (;;) {
        if (have < 0) {
            *error = std::string("cannot read: ") + strerror(errno);
            return kCodecUnreadableFile;
        }
        if (!control->proceed()) {
            *error = "cancelled";
            return kCodecCancelled;
        }
        if (static_cast<size_t>(have) < kTagSize) {
            *error = "the encrypted archive is truncated";
            return kCodecAuthFailed;
        }
        ssize_t more = 0;
        if (static_cast<size_t>(have) == kSealed)
            more = readFull(in, sealed.data() + kSealed, 1);
        if (more < 0) {
            have = -1;
            continue;
        }
        const bool last = more == 0;
        const size_t size = static_cast<size_t>(have) - kTagSize;
        if (!segments.open(sealed.data(), size, sealed.data() + size, last, plain.data())) {
            *error = "the encrypted archive fails to authenticate at byte " +
                     std::to_string(consumed) + " (wrong key, damaged or truncated)";
            return kCodecAuthFailed;
        }
        if (!writeAll(out, plain.data(), size)) {
            *error = std::string("cannot write: ") + strerror(errno);
            return kCodecWriteFailed;
        }
        consumed += have;
        control->processed(have);
        if (last)
            return kDiscOk;
        if (!segments.next()) {
            *error = "the encrypted archive is too large";
            return kCodecAuthFailed;
        }
        sealed[0] = sealed[kSealed];
        have = readFull(in, sealed.data() + 1, kSealed - 1);
        if (have >= 0)
            ++have;
    }
}

} // namespace DiscCodec
