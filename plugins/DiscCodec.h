#pragma once

// The encrypted-archive codec (format in DiscPlugins.h) on open file
// descriptors: streaming, constant memory. Used by the codec library and by
// the development server, which decrypts what a client uploaded.

#include "DiscPlugins.h"

#include <cstdint>
#include <string>
#include <vector>

namespace DiscCodec
{

// What the caller of encrypt/decrypt may watch and steer; both hooks run on
// the working thread between segments.
class Control
{
public:
    virtual ~Control() = default;
    // Called before each segment; may block (pause). False stops the work.
    virtual bool proceed() { return true; }
    // bytes of the input processed since the previous call.
    virtual void processed(int64_t bytes) { (void)bytes; }
};

// The key bytes of a key text: its Base64 decoding (padding allowed, no
// white space). False for an empty or malformed text.
bool decodeKey(const char* keyText, std::vector<unsigned char>* key);

// True when the first bytes (at least kHeaderSize of them) carry the magic.
bool hasHeader(const unsigned char* data, size_t size);

// Encrypts everything readable from in to out. Returns kDiscOk,
// kCodecUnreadableFile (read error), kCodecWriteFailed or kCodecCancelled;
// *error says what happened. The caller removes the output on failure.
int encrypt(const std::vector<unsigned char>& key, int in, int out, Control* control,
            std::string* error);

// Decrypts in to out. Besides the codes above: kCodecNotEncrypted when the
// header is missing or unknown, kCodecAuthFailed for a wrong key or a
// damaged, truncated or extended file. Output written before a failure is
// not to be trusted: the caller removes it.
int decrypt(const std::vector<unsigned char>& key, int in, int out, Control* control,
            std::string* error);

} // namespace DiscCodec
