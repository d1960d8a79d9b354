// The compression library "libminizip.so": packs the listed files into one
// zip archive with zlib's minizip. Entry names are the paths without their
// leading "/" (so equal base names from different folders never collide),
// flagged as UTF-8; "password=%s;" in the option text protects every entry
// with the traditional zip encryption (ZipCrypto.h). Plain C++; the client loads it
// with dlopen.

#include "DiscLib.h"
#include "ZipCrypto.h"

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <set>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

constexpr size_t kChunk = 64 * 1024;
constexpr uint64_t kZip64Size = 0xffffffffu; // sizes from here on need zip64 fields
constexpr uLong kMadeByUnix = (3 << 8) | 20; // host Unix (permissions), version 2.0
constexpr uLong kEncrypted = 1 << 0;
constexpr uLong kUtf8Names = 1 << 11;

// minizip opens its output through this: the "path" it passes is the
// descriptor that ZipFiles created exclusively.
// Once the stream owns the descriptor, the caller's copy becomes -1.
voidpf ZCALLBACK openDescriptor(voidpf, const void* descriptor, int)
{
    int* fd = const_cast<int*>(static_cast<const int*>(descriptor));
    FILE* stream = fdopen(*fd, "wb");
    if (stream)
        *fd = -1;
    return stream;
}

// The entry name of a path: without leading "/", "." and empty components.
// False for a path with "..", which would leave the folder it is unpacked to.
bool entryName(const std::string& path, std::string* name)
{
    name->clear();
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        const std::string part = path.substr(pos, end - pos);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".")
            *name += (name->empty() ? "" : "/") + part;
        pos = end + 1;
    }
    return !name->empty() && name->size() <= 0xffff;
}

// The password of "password=%s;". It runs to the last ";" of the text, so
// a password may itself hold ";" (and must be the last option). Other
// options are ignored.
std::string passwordOf(const char* options)
{
    const std::string text = options ? options : "";
    static const std::string key = "password=";
    for (size_t pos = 0; pos < text.size();) {
        if (text.compare(pos, key.size(), key) == 0) {
            const size_t begin = pos + key.size();
            size_t end = text.rfind(';');
            if (end == std::string::npos || end < begin)
                end = text.size();
            return text.substr(begin, end - begin);
        }
        const size_t semicolon = text.find(';', pos);
        if (semicolon == std::string::npos)
            break;
        pos = semicolon + 1;
    }
    return std::string();
}

tm_zip zipTime(time_t when)
{
    struct tm t;
    tm_zip z{};
    if (!localtime_r(&when, &t) || t.tm_year < 80) { // a zip date starts in 1980
        z.tm_mday = 1;
        z.tm_year = 1980;
        return z;
    }
    z.tm_sec = static_cast<uInt>(t.tm_sec);
    z.tm_min = static_cast<uInt>(t.tm_min);
    z.tm_hour = static_cast<uInt>(t.tm_hour);
    z.tm_mday = static_cast<uInt>(t.tm_mday);
    z.tm_mon = static_cast<uInt>(t.tm_mon);
    z.tm_year = static_cast<uInt>(t.tm_year + 1900);
    return z;
}

class Archiver
{
public:
    Archiver(DiscLib::Work& work, const char* zipPath, const std::string& password)
        : m_work(work), m_path(zipPath), m_password(password), m_buffer(kChunk)
    {
    }

    int run(const std::vector<std::string>& paths, const std::vector<std::string>& names)
    {
        int fd = DiscLib::createExclusive(m_path);
        if (fd < 0)
            return m_work.fail(kZipCannotCreate, DiscLib::describe("cannot create", m_path));
        fstat(fd, &m_archive);
        zlib_filefunc64_def io;
        fill_fopen64_filefunc(&io);
        io.zopen64_file = openDescriptor;
        m_zip = zipOpen2_64(&fd, APPEND_STATUS_CREATE, nullptr, &io);
        if (!m_zip) {
            if (fd >= 0)
                close(fd);
            return abandon(kZipCannotCreate, std::string("cannot start the archive ") + m_path);
        }
        std::set<std::string> seen;
        for (size_t i = 0; i < paths.size(); ++i) {
            const int result = add(paths[i], names[i], !seen.insert(names[i]).second);
            if (result != kDiscOk)
                return result;
        }
        const int closed = zipClose(m_zip, nullptr);
        m_zip = nullptr;
        if (closed != ZIP_OK)
            return abandon(kZipWriteFailed, std::string("cannot write ") + m_path);
        m_work.finish();
        return kDiscOk;
    }

private:
    // Adds one file; a file listed twice is archived once but counted in
    // the progress both times, so the reports still add up to the list.
    int add(const std::string& path, const std::string& name, bool duplicate)
    {
        int64_t size = 0;
        const int fd = DiscLib::openRegular(path.c_str(), true, &size);
        if (fd < 0)
            return abandon(kZipUnreadableFile, DiscLib::describe("cannot read", path.c_str()));
        const int result = addOpen(fd, size, path, name, duplicate);
        close(fd);
        return result;
    }

    int addOpen(int fd, int64_t size, const std::string& path, const std::string& name,
                bool duplicate)
    {
        struct stat st;
        fstat(fd, &st);
        if (st.st_dev == m_archive.st_dev && st.st_ino == m_archive.st_ino)
            return abandon(kZipBadArguments, path + " is the archive itself");
        if (duplicate) {
            m_work.processed(size);
            return kDiscOk;
        }
        const bool zip64 = static_cast<uint64_t>(size) >= kZip64Size;
        // The encryption header holds a byte of the CRC: one pass for the
        // CRC, one for the data, each counting half the progress.
        const bool encrypted = !m_password.empty();
        m_passes = encrypted ? 2 : 1;
        m_units = 0;
        m_reported = 0;
        uint32_t crc = 0;
        if (encrypted) {
            const int result = readFile(fd, path, nullptr, &crc, zip64);
            if (result != kDiscOk)
                return result;
            if (lseek(fd, 0, SEEK_SET) != 0)
                return abandon(kZipUnreadableFile, DiscLib::describe("cannot read", path.c_str()));
        }
        // The entry is written raw: deflated (and encrypted) here.
        zip_fileinfo info{};
        info.tmz_date = zipTime(st.st_mtime);
        info.external_fa = static_cast<uLong>((st.st_mode & 07777) | S_IFREG) << 16;
        if (zipOpenNewFileInZip4_64(
                m_zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                Z_DEFAULT_COMPRESSION, 1, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY, nullptr, 0,
                kMadeByUnix, kUtf8Names | (encrypted ? kEncrypted : 0), zip64 ? 1 : 0) != ZIP_OK)
            return abandon(kZipWriteFailed, "cannot add " + name + " to the archive");
        Entry entry;
        if (deflateInit2(&entry.stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8,
                         Z_DEFAULT_STRATEGY) != Z_OK)
            return abandon(kZipWriteFailed, "cannot start the compression");
        entry.ready = true;
        if (encrypted) {
            entry.crypto.reset(new ZipCrypto(m_password.c_str()));
            uint8_t random[10], header[ZipCrypto::kHeaderSize];
            if (getrandom(random, sizeof random, 0) != sizeof random)
                return abandon(kZipWriteFailed, "no random bytes for the encryption header");
            entry.crypto->makeHeader(random, crc, header);
            if (zipWriteInFileInZip(m_zip, header, sizeof header) != ZIP_OK)
                return abandon(kZipWriteFailed, std::string("cannot write ") + m_path);
        }
        uint32_t written = 0;
        int64_t total = 0;
        int result = readFile(fd, path, &entry, &written, zip64, &total);
        if (result == kDiscOk && !compress(entry, nullptr, 0, Z_FINISH))
            result = abandon(kZipWriteFailed, std::string("cannot write ") + m_path);
        if (result == kDiscOk && encrypted && written != crc)
            result = abandon(kZipUnreadableFile, path + " changed while it was being archived");
        if (result == kDiscOk &&
            zipCloseFileInZipRaw64(m_zip, static_cast<ZPOS64_T>(total), written) != ZIP_OK)
            result = abandon(kZipWriteFailed, std::string("cannot write ") + m_path);
        return result;
    }

    // One entry's compression (and encryption) state.
    struct Entry {
        z_stream stream{};
        bool ready = false;
        std::unique_ptr<ZipCrypto> crypto;
        ~Entry()
        {
            if (ready)
                deflateEnd(&stream);
        }
    };

    // Feeds size bytes to the entry's compressor (Z_FINISH ends the entry)
    // and writes what comes out; false when the archive cannot be written.
    bool compress(Entry& entry, const unsigned char* data, size_t size, int flush)
    {
        entry.stream.next_in = const_cast<Bytef*>(data);
        entry.stream.avail_in = static_cast<uInt>(size);
        for (;;) {
            entry.stream.next_out = m_packed.data();
            entry.stream.avail_out = static_cast<uInt>(m_packed.size());
            const int status = deflate(&entry.stream, flush);
            if (status == Z_STREAM_ERROR)
                return false;
            const size_t produced = m_packed.size() - entry.stream.avail_out;
            if (entry.crypto)
                entry.crypto->encrypt(m_packed.data(), produced);
            if (produced > 0 && zipWriteInFileInZip(m_zip, m_packed.data(),
                                                    static_cast<unsigned>(produced)) != ZIP_OK)
                return false;
            if (flush == Z_FINISH ? status == Z_STREAM_END : entry.stream.avail_out != 0)
                return true;
        }
    }

    // Reads the file to its end, into the entry when one is given; *crc
    // gets the CRC-32 of what was read, *total its size.
    int readFile(int fd, const std::string& path, Entry* entry, uint32_t* crc, bool zip64,
                 int64_t* total = nullptr)
    {
        uLong sum = crc32(0, nullptr, 0);
        uint64_t count = 0;
        for (;;) {
            if (!m_work.proceed())
                return abandon(kZipCancelled, "cancelled");
            const ssize_t n = read(fd, m_buffer.data(), m_buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return abandon(kZipUnreadableFile, DiscLib::describe("cannot read", path.c_str()));
            if (n == 0)
                break;
            count += static_cast<uint64_t>(n);
            if (!zip64 && count >= kZip64Size)
                return abandon(kZipUnreadableFile, path + " grew while it was being archived");
            if (entry && !compress(*entry, m_buffer.data(), static_cast<size_t>(n), Z_NO_FLUSH))
                return abandon(kZipWriteFailed, std::string("cannot write ") + m_path);
            sum = crc32(sum, m_buffer.data(), static_cast<uInt>(n));
            // Progress in half bytes per pass, reported as whole bytes.
            m_units += n * (2 / m_passes);
            m_work.processed(m_units / 2 - m_reported);
            m_reported = m_units / 2;
        }
        *crc = static_cast<uint32_t>(sum);
        if (total)
            *total = static_cast<int64_t>(count);
        return kDiscOk;
    }

    // Ends a failed or cancelled run: the partial archive is removed.
    int abandon(int code, const std::string& text)
    {
        if (m_zip) {
            zipClose(m_zip, nullptr);
            m_zip = nullptr;
        }
        unlink(m_path);
        return m_work.fail(code, text);
    }

    DiscLib::Work& m_work;
    const char* m_path;
    std::string m_password;
    std::vector<unsigned char> m_buffer;
    std::vector<unsigned char> m_packed = std::vector<unsigned char>(kChunk);
    zipFile m_zip = nullptr;
    struct stat m_archive {
    };
    int m_passes = 1;
    int64_t m_units = 0;
    int64_t m_reported = 0;
};

} // namespace

DISC_EXPORT int ZipFiles(void* handle, char* fileList, char* options, char* zipPath)
{
    DiscLib::Handle* h = DiscLib::live(handle);
    if (!h)
        return kZipBadArguments;
    DiscLib::Work work(h);
    if (!fileList || !zipPath || !*zipPath)
        return work.fail(kZipBadArguments, "no file list or archive path");
    std::vector<std::string> paths, names;
    for (const char* entry = fileList; *entry; entry += paths.back().size() + 1) {
        paths.emplace_back(entry);
        names.emplace_back();
        if (!entryName(paths.back(), &names.back()))
            return work.fail(kZipBadArguments, "cannot archive the path " + paths.back());
    }
    if (paths.empty())
        return work.fail(kZipBadArguments, "the file list is empty");
    if (!work.proceed())
        return work.fail(kZipCancelled, "cancelled");
    return Archiver(work, zipPath, passwordOf(options)).run(paths, names);
}
