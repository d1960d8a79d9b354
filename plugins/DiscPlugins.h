#pragma once

// What the client, the two disc-burning libraries ("libminizip.so" and
// "revududir.so" in the program folder) and the development server share:
// the entry points and their callback, the processing states, the result
// codes, the built-in codec key and the layout of the encrypted archive.
// Plain C++ without Qt: the libraries include it too.

#include <cstddef>
#include <cstdint>

extern "C" {

// Progress and messages from a library. type 1: data is the number of bytes
// of the stage's input processed since the previous report (at most
// INT_MAX in one report); type 2: a failure is about to be returned, data is
// its code and info says what went wrong. Other types may be added; a
// caller logs what it does not know. The return value is ignored.
typedef int (*DiscProgressCallback)(void* user, int type, int data, const char* info);

// Both libraries: reserved is always 0. Null when no handle can be made.
typedef void* (*DiscInitLibFn)(int reserved, DiscProgressCallback callback, void* user);
typedef void (*DiscFreeLibFn)(void* handle);
// May be called from any thread between InitLib and FreeLib, also before the
// work function starts; see DiscState.
typedef void (*DiscChangeStateFn)(void* handle, int state);

// "libminizip.so": fileList holds NUL-terminated UTF-8 paths one after
// another, ended by an empty entry; options is "" or "password=%s;".
typedef int (*DiscZipFilesFn)(void* handle, char* fileList, char* options, char* zipPath);
// "revududir.so": key is the codec key text (Base64), null for the built-in
// key.
typedef int (*DiscEncryptFileFn)(char* key, char* sourcePath, char* targetPath, void* handle);
}

// The states ChangeState understands. Paused work blocks until it is told
// to continue or to cancel; cancelled work stops soon, removes its partial
// output and returns its "cancelled" code. Cancelling is final.
enum DiscState : int {
    kDiscContinue = 1,
    kDiscCancel = 2,
    kDiscPause = 3,
};

enum DiscCallbackType : int {
    kDiscProgress = 1,
    kDiscMessage = 2,
};

// Result codes of the work functions: 0 success, negative failure. They do
// not overlap the client's own codes (-1..-3, -11..-13, -21..-25), so a
// failure box tells where a failure came from.
enum DiscResult : int {
    kDiscOk = 0,

    kZipBadArguments = -4,   // null or empty argument, empty list, ".." in a path
    kZipUnreadableFile = -5, // a listed file is missing, unreadable or not a regular file
    kZipCannotCreate = -6,   // the archive path exists already or cannot be created
    kZipWriteFailed = -7,    // writing the archive failed (disk full, ...)
    kZipCancelled = -8,

    kCodecBadArguments = -14,   // null argument or a key that is not Base64
    kCodecUnreadableFile = -15, // the source is missing, unreadable or not a regular file
    kCodecCannotCreate = -16,   // the target path exists already or cannot be created
    kCodecWriteFailed = -17,    // writing the target failed, or the cipher failed
    kCodecCancelled = -18,
    kCodecNotEncrypted = -19, // decryption: the input does not start with the header
    kCodecAuthFailed = -20,   // decryption: wrong key, damaged or truncated input
};

namespace DiscCodecFormat
{

// The key the client hands to the codec library: 128 Base64 characters
// (96 bytes). The AES key is derived from the decoded bytes.
constexpr const char kBuiltInKey[] =
    "V7DZeR7MdkPEN5Oy2YkU2XA/qs29t3ItRUt1/6Q+f9EERfbngLzJeVqepwBd7bokO/59DdnrWKIQaeWt5RvDVR3s"
    "68MNEI9erzF6GMo38jNB63sjO7Gh0b0lCg5THgaE";
static_assert(sizeof kBuiltInKey == 129, "the built-in key is 128 characters");

// The encrypted archive ("cd.dat" on the server): a header of kHeaderSize
// bytes, then the archive in segments of kSegmentSize bytes (the last one
// shorter, possibly empty), each sealed with AES-256-GCM and followed by its
// 16-byte tag, so the file ends with the last segment's tag.
//
//   offset  size  content
//        0     6  kMagic "ORIXCD"
//        6     1  kVersion
//        7     1  kAlgorithm (AES-256-GCM, key from HKDF-SHA256)
//        8     4  segment size, little-endian (always kSegmentSize)
//       12    32  random salt: the HKDF salt, so every file has its own key
//       44     7  random nonce prefix
//       51     1  zero
//
// AES key = HKDF-SHA256(decoded key text, salt, kKdfInfo), 32 bytes.
// Nonce of segment i = nonce prefix, i as 32-bit big-endian, then 1 for the
// last segment and 0 for every other. Every segment authenticates the whole
// header as additional data. A truncated file, reordered or dropped
// segments and appended bytes all fail to authenticate.
constexpr char kMagic[6] = {'O', 'R', 'I', 'X', 'C', 'D'};
constexpr unsigned char kVersion = 1;
constexpr unsigned char kAlgorithm = 1;
constexpr size_t kHeaderSize = 52;
constexpr size_t kSaltOffset = 12;
constexpr size_t kSaltSize = 32;
constexpr size_t kNoncePrefixOffset = 44;
constexpr size_t kNoncePrefixSize = 7;
constexpr size_t kSegmentSize = 65536;
constexpr size_t kTagSize = 16;
constexpr size_t kKeySize = 32;
constexpr const char kKdfInfo[] = "orix disc archive v1";

} // namespace DiscCodecFormat
