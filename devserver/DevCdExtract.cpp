// orws-devserver cd-extract --db FILE [--storage DIR] (--job NAME | --latest)
//                           --out DIR [--password P]
//
// Shows what a disc request brought to the server: the upload's cd.dat is
// decrypted with the built-in key when it carries the codec's header (a
// password-protected request uploads its zip archive as it is), then the
// archive is unpacked into DIR. Every file written is printed with its size.
// Entries that would land outside DIR (absolute names, "..", links, devices)
// are refused; nothing is written through a link found in DIR.

#include "DevCdExtract.h"

#include "DevDatabase.h"
#include "DevStorage.h"
#include "DiscCodec.h"
#include "ZipCrypto.h"

#include <unzip.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{

void usage()
{
    fprintf(stderr, "usage: orws-devserver cd-extract --db FILE [--storage DIR] "
                    "(--job STORED_NAME | --latest) --out DIR [--password P]\n");
}

int fail(const std::string& text)
{
    fprintf(stderr, "orws-devserver cd-extract: %s\n", text.c_str());
    return 1;
}

// Like fail, for an entry that is not unpacked.
bool refuse(const std::string& text)
{
    fail(text);
    return false;
}

bool writeAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string errnoText(const std::string& what)
{
    return what + ": " + strerror(errno);
}

// Closes a descriptor when it goes out of scope.
struct Fd {
    int fd = -1;
    explicit Fd(int f = -1) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// The folder components of an entry name and its last component (empty for
// a folder entry, whose name ends in "/"). False for a name that could leave
// the output folder or means something else on another system: absolute,
// "..", ".", empty components, backslashes.
bool splitEntry(const std::string& name, std::vector<std::string>* folders, std::string* leaf)
{
    folders->clear();
    leaf->clear();
    if (name.empty() || name[0] == '/' || name.find('\\') != std::string::npos)
        return false;
    size_t pos = 0;
    for (;;) {
        const size_t slash = name.find('/', pos);
        const std::string part = name.substr(pos, slash == std::string::npos ? slash : slash - pos);
        if (slash == std::string::npos) {
            *leaf = part;
            return part != "." && part != "..";
        }
        if (part.empty() || part == "." || part == "..")
            return false;
        folders->push_back(part);
        pos = slash + 1;
    }
}

// Opens (making it when missing) the folder below root, one component at a
// time without following links.
int openFolder(int root, const std::vector<std::string>& folders)
{
    int current = dup(root);
    for (const std::string& part : folders) {
        if (mkdirat(current, part.c_str(), 0755) != 0 && errno != EEXIST) {
            close(current);
            return -1;
        }
        const int next =
            openat(current, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        close(current);
        if (next < 0)
            return -1;
        current = next;
    }
    return current;
}

bool makeOutput(const std::string& dir)
{
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') {
            if (mkdir(dir.substr(0, pos).c_str(), 0755) != 0 && errno != EEXIST)
                return false;
        }
    }
    return true;
}

class Extractor
{
public:
    Extractor(unzFile zip, int root, const std::string& password)
        : m_zip(zip), m_root(root), m_password(password)
    {
    }

    // Unpacks every entry it accepts; false when any entry failed or was
    // refused.
    bool run()
    {
        bool ok = true;
        int step = unzGoToFirstFile(m_zip);
        for (; step == UNZ_OK; step = unzGoToNextFile(m_zip))
            ok = entry() && ok;
        if (step != UNZ_END_OF_LIST_OF_FILE) {
            fail("the archive's directory is damaged");
            return false;
        }
        fprintf(stderr, "orws-devserver cd-extract: %lld files, %lld bytes\n", m_files, m_bytes);
        return ok;
    }

private:
    bool entry()
    {
        unz_file_info64 info;
        std::vector<char> nameBuffer(65537);
        if (unzGetCurrentFileInfo64(m_zip, &info, nameBuffer.data(), nameBuffer.size() - 1, nullptr,
                                    0, nullptr, 0) != UNZ_OK)
            return refuse("cannot read an entry of the archive");
        const std::string name(nameBuffer.data());
        std::vector<std::string> folders;
        std::string leaf;
        if (!splitEntry(name, &folders, &leaf))
            return refuse("refused \"" + name + "\": it would leave the output folder");
        // Made on a Unix host: the file type is in the high half of the
        // external attributes. Only plain files and folders are unpacked.
        const unsigned type = (info.version >> 8) == 3 ? (info.external_fa >> 16) & S_IFMT : 0;
        if (type != 0 && type != S_IFREG && type != S_IFDIR)
            return refuse("refused \"" + name + "\": not a plain file (a link or a device)");
        if (!leaf.empty() && (info.flag & 1) && m_password.empty())
            return refuse("\"" + name + "\" is password-protected: give --password");
        Fd folder(openFolder(m_root, folders));
        if (folder.fd < 0)
            return refuse(errnoText("cannot make the folder of \"" + name + "\""));
        if (leaf.empty())
            return true;
        Fd out(openat(folder.fd, leaf.c_str(),
                      O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (out.fd < 0)
            return refuse(errnoText("cannot write \"" + name + "\""));
        long long size = 0;
        std::string error =
            (info.flag & 1) ? unpackEncrypted(info, out.fd, &size) : unpackPlain(out.fd, &size);
        const int closed = close(out.fd);
        out.fd = -1;
        if (error.empty() && closed != 0)
            error = errnoText("cannot write");
        if (!error.empty()) {
            unlinkat(folder.fd, leaf.c_str(), 0);
            return refuse("\"" + name + "\": " + error);
        }
        printf("%lld\t%s\n", size, name.c_str());
        ++m_files;
        m_bytes += size;
        return true;
    }

    // The current entry through minizip, which inflates it and checks its
    // CRC. Empty or what went wrong.
    std::string unpackPlain(int out, long long* size)
    {
        if (unzOpenCurrentFile(m_zip) != UNZ_OK)
            return "cannot open it in the archive";
        std::string error;
        for (;;) {
            const int n =
                unzReadCurrentFile(m_zip, m_buffer.data(), static_cast<unsigned>(m_buffer.size()));
            if (n <= 0) {
                if (n < 0)
                    error = "cannot unpack it (damaged archive)";
                break;
            }
            if (!writeAll(out, m_buffer.data(), static_cast<size_t>(n))) {
                error = errnoText("cannot write");
                break;
            }
            *size += n;
        }
        if (unzCloseCurrentFile(m_zip) == UNZ_CRCERROR && error.empty())
            error = "it fails its CRC check (damaged archive)";
        return error;
    }

    // An encrypted entry read raw, decrypted, inflated and checked here (see
    // ZipCrypto.h for why minizip's own decryption is not used).
    std::string unpackEncrypted(const unz_file_info64& info, int out, long long* size)
    {
        int method = 0, level = 0;
        if (unzOpenCurrentFile2(m_zip, &method, &level, 1) != UNZ_OK)
            return "cannot open it in the archive";
        std::string error = decryptOpen(info, method, out, size);
        unzCloseCurrentFile(m_zip);
        return error;
    }

    std::string decryptOpen(const unz_file_info64& info, int method, int out, long long* size)
    {
        if (method != 0 && method != Z_DEFLATED)
            return "unknown compression method " + std::to_string(method);
        ZipCrypto crypto(m_password.c_str());
        uint8_t header[ZipCrypto::kHeaderSize];
        if (unzReadCurrentFile(m_zip, header, sizeof header) != static_cast<int>(sizeof header))
            return "cannot unpack it (damaged archive)";
        // With a data descriptor (flag bit 3) the check byte is the high byte
        // of the modification time instead of the CRC's.
        const uint32_t check = (info.flag & 8) ? static_cast<uint32_t>(info.dosDate << 16)
                                               : static_cast<uint32_t>(info.crc);
        if (!crypto.checkHeader(header, check))
            return "wrong password";
        z_stream zs{};
        if (method == Z_DEFLATED && inflateInit2(&zs, -MAX_WBITS) != Z_OK)
            return "cannot start the decompression";
        std::vector<unsigned char> plain(m_buffer.size());
        uLong crc = crc32(0, nullptr, 0);
        bool ended = method != Z_DEFLATED;
        std::string error;
        while (error.empty()) {
            const int n =
                unzReadCurrentFile(m_zip, m_buffer.data(), static_cast<unsigned>(m_buffer.size()));
            if (n < 0)
                error = "cannot unpack it (damaged archive)";
            if (n <= 0)
                break;
            crypto.decrypt(reinterpret_cast<uint8_t*>(m_buffer.data()), static_cast<size_t>(n));
            zs.next_in = reinterpret_cast<Bytef*>(m_buffer.data());
            zs.avail_in = static_cast<uInt>(n);
            do {
                const unsigned char* data = zs.next_in;
                size_t produced = zs.avail_in;
                if (method == Z_DEFLATED) {
                    if (ended) {
                        error = "data after the end of the compressed stream";
                        break;
                    }
                    zs.next_out = plain.data();
                    zs.avail_out = static_cast<uInt>(plain.size());
                    const int status = inflate(&zs, Z_NO_FLUSH);
                    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
                        error = "cannot unpack it (wrong password or damaged archive)";
                        break;
                    }
                    ended = status == Z_STREAM_END;
                    data = plain.data();
                    produced = plain.size() - zs.avail_out;
                } else {
                    zs.avail_in = 0;
                }
                crc = crc32(crc, data, static_cast<uInt>(produced));
                if (!writeAll(out, data, produced)) {
                    error = errnoText("cannot write");
                    break;
                }
                *size += static_cast<long long>(produced);
            } while (zs.avail_in > 0 || (method == Z_DEFLATED && zs.avail_out == 0 && !ended));
        }
        if (method == Z_DEFLATED)
            inflateEnd(&zs);
        if (error.empty() && (!ended || crc != info.crc))
            error = "it fails its CRC check (wrong password or damaged archive)";
        return error;
    }

    std::vector<char> m_buffer = std::vector<char>(65536);
    unzFile m_zip;
    int m_root;
    std::string m_password;
    long long m_files = 0;
    long long m_bytes = 0;
};

// Decrypts data into a new private file beside it; its path in *plain.
int decryptUpload(int data, const std::string& dataPath, std::string* plain)
{
    std::vector<unsigned char> key;
    DiscCodec::decodeKey(DiscCodecFormat::kBuiltInKey, &key);
    std::vector<char> path(dataPath.begin(), dataPath.end());
    const char suffix[] = ".zip.XXXXXX";
    path.insert(path.end(), suffix, suffix + sizeof suffix);
    Fd out(mkostemp(path.data(), O_CLOEXEC));
    if (out.fd < 0)
        return fail(errnoText("cannot create a file beside " + dataPath));
    *plain = path.data();
    std::string error;
    int result = DiscCodec::decrypt(key, data, out.fd, nullptr, &error);
    if (result == kDiscOk && close(out.fd) != 0) {
        result = kCodecWriteFailed;
        error = errnoText("cannot write " + *plain);
    }
    out.fd = -1;
    if (result != kDiscOk) {
        unlink(plain->c_str());
        plain->clear();
        return fail(dataPath + ": " + error);
    }
    return 0;
}

} // namespace

int runCdExtract(int argc, char** argv)
{
    std::string db, storage, job, out, password;
    bool latest = false;
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--latest") {
            latest = true;
            continue;
        }
        std::string* target = a == "--db"         ? &db
                              : a == "--storage"  ? &storage
                              : a == "--job"      ? &job
                              : a == "--out"      ? &out
                              : a == "--password" ? &password
                                                  : nullptr;
        if (!target || !next) {
            usage();
            return 2;
        }
        *target = next;
        ++i;
    }
    if (db.empty() || out.empty() || latest == !job.empty()) {
        usage();
        return 2;
    }
    if (storage.empty())
        storage = db + "-storage";
    struct stat st;
    if (stat(db.c_str(), &st) != 0)
        return fail(errnoText(db));
    DevDatabase database;
    if (!database.open(db))
        return fail(db + ": " + database.error());

    if (latest) {
        DevStatement q(database.handle(), "SELECT StoredName FROM Uploads WHERE Kind = 'cd' AND "
                                          "Finished = 1 ORDER BY UploadID DESC LIMIT 1");
        if (!q.next())
            return fail("no finished disc request in " + db);
        job = q.text(0);
        if (!DevStorage::isValidName(job)) // the folder follows from the name
            return fail("the newest disc request has no valid stored name");
    } else {
        DevStatement q(database.handle(),
                       "SELECT 1 FROM Uploads WHERE StoredName = ? AND Kind = 'cd'");
        q.bind(1, job);
        if (!DevStorage::isValidName(job) || !q.next())
            return fail("no disc request \"" + job + "\" in " + db);
    }
    DevStorage files;
    std::string error;
    if (!files.init(storage, &error))
        return fail(error);
    const std::string dataPath = files.jobPath(job, "cd.dat");
    Fd data(open(dataPath.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (data.fd < 0)
        return fail(errnoText(dataPath));
    unsigned char head[DiscCodecFormat::kHeaderSize];
    const ssize_t headSize = pread(data.fd, head, sizeof head, 0);
    std::string zipPath = dataPath, plain;
    if (headSize > 0 && DiscCodec::hasHeader(head, static_cast<size_t>(headSize))) {
        if (decryptUpload(data.fd, dataPath, &plain) != 0)
            return 1;
        zipPath = plain;
    }

    bool ok = false;
    if (!makeOutput(out)) {
        fail(errnoText(out));
    } else if (unzFile zip = unzOpen64(zipPath.c_str())) {
        Fd root(open(out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (root.fd < 0)
            fail(errnoText(out));
        else
            ok = Extractor(zip, root.fd, password).run();
        unzClose(zip);
    } else {
        fail(job + " holds no zip archive" + (plain.empty() ? "" : " after decryption"));
    }
    if (!plain.empty())
        unlink(plain.c_str());
    return ok ? 0 : 1;
}
