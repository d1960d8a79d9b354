#include "DevJobs.h"

#include "DevDatabase.h"
#include "DevStorage.h"

#include <QtEndian>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <vector>

namespace
{

// MobileName: GB18030 in a captured job's mobile record, UTF-8 in the
// mobile print job dialog's (MobileRecordText).
enum class FieldType { Text, MobileName, Int, Unsigned, Char, Auditors };

// One field of a request record. For Auditors, offset is the count and
// extra the first of the ten identifiers.
struct Field {
    const char* name;
    size_t offset;
    size_t width;
    FieldType type;
    size_t extra;
};

struct Layout {
    const char* kind;
    size_t size;
    std::vector<Field> fields;
};

constexpr FieldType T = FieldType::Text;
constexpr FieldType G = FieldType::MobileName;
constexpr FieldType I = FieldType::Int;
constexpr FieldType C = FieldType::Char;

// The print task (UTF-8), the mobile print task (names and choices in
// GB18030 for a captured job, UTF-8 for a mobile one), the copy request and
// the disc request (UTF-8).
const std::vector<Layout>& layouts()
{
    static const std::vector<Layout> all = {
        {"print",
         664,
         {{"user", 0, 50, T, 0},
          {"secret level", 100, 50, T, 0},
          {"purpose", 150, 512, T, 0},
          {"auditors", 52, 0, FieldType::Auditors, 60}}},
        {"mobile",
         1112,
         {{"user", 0, 50, T, 0},           {"full name", 50, 50, G, 0},
          {"user id", 100, 4, I, 0},       {"document", 714, 50, G, 0},
          {"printer", 960, 50, G, 0},      {"secret level", 152, 50, G, 0},
          {"purpose", 202, 512, G, 0},     {"auditors", 104, 0, FieldType::Auditors, 112},
          {"copies", 876, 4, I, 0},        {"pages", 872, 4, I, 0},
          {"paper", 880, 50, T, 0},        {"colour", 865, 1, C, 0},
          {"duplex", 866, 1, C, 0},        {"orientation", 864, 1, C, 0},
          {"job state", 868, 4, I, 0},     {"doc type", 930, 30, T, 0},
          {"page range", 1010, 100, T, 0}, {"job file", 764, 30, T, 0},
          {"mac", 794, 20, T, 0},          {"ip", 814, 50, T, 0}}},
        {"copy",
         932,
         {{"user", 0, 50, T, 0},
          {"full name", 50, 50, T, 0},
          {"user id", 100, 4, I, 0},
          {"document", 714, 50, T, 0},
          {"secret level", 152, 50, T, 0},
          {"purpose", 202, 512, T, 0},
          {"auditors", 104, 0, FieldType::Auditors, 112},
          {"copies", 876, 4, I, 0},
          {"pages", 872, 4, I, 0},
          {"paper", 880, 50, T, 0},
          {"colour", 865, 1, C, 0},
          {"duplex", 866, 1, C, 0},
          {"orientation", 864, 1, C, 0},
          {"job state", 868, 4, I, 0},
          {"computer", 764, 30, T, 0},
          {"mac", 794, 20, T, 0},
          {"ip", 814, 50, T, 0}}},
        {"cd",
         1024,
         {{"user", 34, 50, T, 0},
          {"full name", 84, 50, T, 0},
          {"user id", 136, 4, I, 0},
          {"document", 750, 50, T, 0},
          {"secret level", 188, 50, T, 0},
          {"purpose", 238, 512, T, 0},
          {"auditors", 140, 0, FieldType::Auditors, 148},
          {"copies", 912, 4, I, 0},
          {"disc type", 968, 4, I, 0},
          {"total size", 0, 4, FieldType::Unsigned, 0},
          {"computer", 800, 30, T, 0},
          {"mac", 830, 20, T, 0},
          {"ip", 850, 50, T, 0}}},
    };
    return all;
}

// Control characters of a record would garble the listing.
std::string printable(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return text;
}

std::string value(const Field& f, const unsigned char* r)
{
    const char* at = reinterpret_cast<const char*>(r + f.offset);
    switch (f.type) {
    case FieldType::Text:
        return printable(FieldText(at, f.width));
    case FieldType::MobileName:
        return printable(MobileRecordText(r, f.offset, f.width));
    case FieldType::Int:
        return std::to_string(qFromLittleEndian<qint32>(r + f.offset));
    case FieldType::Unsigned:
        return std::to_string(qFromLittleEndian<quint32>(r + f.offset));
    case FieldType::Char:
        return printable(FieldText(at, 1));
    case FieldType::Auditors: {
        const qint32 count = qFromLittleEndian<qint32>(r + f.offset);
        std::string list = std::to_string(count);
        for (qint32 i = 0; i < count && i < 10; ++i)
            list +=
                (i ? "," : " [") + std::to_string(qFromLittleEndian<qint32>(r + f.extra + 4 * i));
        return count > 0 ? list + "]" : list;
    }
    }
    return std::string();
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void usage()
{
    fprintf(stderr, "usage: orws-devserver jobs --db FILE [--storage DIR]\n");
}

} // namespace

std::string DescribeRecord(const std::string& kind, const std::string& record)
{
    for (const Layout& layout : layouts()) {
        if (kind != layout.kind)
            continue;
        if (record.size() < layout.size)
            return "  record: " + std::to_string(record.size()) + " bytes, not " +
                   std::to_string(layout.size) + "\n";
        const auto* r = reinterpret_cast<const unsigned char*>(record.data());
        std::string text;
        for (const Field& f : layout.fields)
            text += "  " + std::string(f.name) + ": " + value(f, r) + "\n";
        return text;
    }
    return "  record: of an unknown kind\n";
}

int RunJobsCommand(int argc, char** argv)
{
    std::string db, storage;
    for (int i = 2; i < argc; i += 2) { // option and value
        const std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--db" && next) {
            db = next;
        } else if (a == "--storage" && next) {
            storage = next;
        } else {
            usage();
            return 2;
        }
    }
    struct stat st;
    if (db.empty()) {
        usage();
        return 2;
    }
    if (stat(db.c_str(), &st) != 0) {
        fprintf(stderr, "orws-devserver: %s: no such database\n", db.c_str());
        return 1;
    }
    DevDatabase database;
    if (!database.open(db)) {
        fprintf(stderr, "orws-devserver: %s: %s\n", db.c_str(), database.error().c_str());
        return 1;
    }
    if (storage.empty())
        storage = db + "-storage";

    DevStatement jobs(database.handle(),
                      "SELECT u.StoredName, u.Kind, u.Finished, u.Blocks, u.Bytes, u.CreatedAt, "
                      "p.PayerID, p.PayerType, p.ProjectID FROM Uploads u LEFT JOIN PrintProcTask "
                      "p ON p.SPLFileName = u.StoredName ORDER BY u.UploadID");
    int count = 0;
    while (jobs.next()) {
        ++count;
        const std::string name = jobs.text(0);
        const std::string kind = jobs.text(1);
        printf("%s %s %s, %s, %lld blocks\n", name.c_str(), kind.c_str(), jobs.text(5).c_str(),
               jobs.integer(2) ? "complete" : "incomplete", jobs.integer(3));
        // The record is kept when the job is complete, in the folder named
        // after the stored name (only a name the server could have made).
        if (jobs.integer(2) && !DevStorage::isValidName(name))
            fputs("  record: not read (not a stored name)\n", stdout);
        else if (jobs.integer(2))
            fputs(DescribeRecord(kind, readFile(storage + "/" + name + "/task.bin")).c_str(),
                  stdout);
        if (!jobs.isNull(6))
            printf("  payer: %lld (type %lld)\n  project: %lld\n", jobs.integer(6), jobs.integer(7),
                   jobs.integer(8));
        printf("  bytes: %lld\n", jobs.integer(4));
    }
    printf("%d job%s\n", count, count == 1 ? "" : "s");
    return 0;
}
