// The codec library "revududir.so": encrypts the disc archive into the
// format of DiscPlugins.h with a key derived from the key text. Plain C++ on
// OpenSSL; the client loads it with dlopen.

#include "DiscLib.h"

#include <unistd.h>

DISC_EXPORT int EncryptFile(char* key, char* sourcePath, char* targetPath, void* handle)
{
    DiscLib::Handle* h = DiscLib::live(handle);
    if (!h)
        return kCodecBadArguments;
    DiscLib::Work work(h);
    std::vector<unsigned char> keyBytes;
    if (!sourcePath || !*sourcePath || !targetPath || !*targetPath)
        return work.fail(kCodecBadArguments, "no source or target path");
    if (!DiscCodec::decodeKey(key ? key : DiscCodecFormat::kBuiltInKey, &keyBytes))
        return work.fail(kCodecBadArguments, "the key is not Base64 text");
    if (!work.proceed())
        return work.fail(kCodecCancelled, "cancelled");

    int64_t size = 0;
    // The source is the caller's own temporary archive: a link put in its
    // place is not followed.
    const int in = DiscLib::openRegular(sourcePath, false, &size);
    if (in < 0)
        return work.fail(kCodecUnreadableFile, DiscLib::describe("cannot read", sourcePath));
    const int out = DiscLib::createExclusive(targetPath);
    if (out < 0) {
        const std::string text = DiscLib::describe("cannot create", targetPath);
        close(in);
        return work.fail(kCodecCannotCreate, text);
    }
    std::string error;
    int result = DiscCodec::encrypt(keyBytes, in, out, &work, &error);
    close(in);
    if (close(out) != 0 && result == kDiscOk) {
        result = kCodecWriteFailed;
        error = DiscLib::describe("cannot write", targetPath);
    }
    if (result != kDiscOk) {
        unlink(targetPath);
        return work.fail(result, error);
    }
    work.finish();
    return kDiscOk;
}
