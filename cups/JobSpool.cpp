#include "JobSpool.h"

#include <cups/cups.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace JobSpool
{

namespace
{

std::string Lower(std::string s)
{
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return s;
}

struct Alias {
    const char* alias; // lower case
    const char* choice;
};

std::string Lookup(const Alias* table, size_t n, const std::string& value)
{
    const std::string key = Lower(value);
    for (size_t i = 0; i < n; ++i) {
        if (key == table[i].alias)
            return table[i].choice;
    }
    return std::string();
}

bool IsOptionName(const std::string& name)
{
    if (name.empty())
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!ok)
            return false;
    }
    return true;
}

void Trim(std::string& s)
{
    const char* blanks = " \t\r\n";
    const size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos) {
        s.clear();
        return;
    }
    s = s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

} // namespace

std::string SpoolRoot(const char* prefix)
{
    std::string p = prefix ? prefix : "";
    while (p.size() > 1 && p.back() == '/')
        p.pop_back();
    if (p == "/")
        p.clear();
    return p + "/var/spool/cups-pdf/";
}

bool IsPlainUserName(const std::string& name)
{
    if (name.empty() || name.size() > 255 || name == "." || name == ".." || name[0] == '-')
        return false;
    return IsOptionName(name);
}

namespace
{

// The number of the last "key <number>" line of the login.defs file at path,
// else fallback.
unsigned long ReadLoginDefsNumber(const char* path, const std::string& key, unsigned long fallback)
{
    unsigned long result = fallback;
    std::ifstream in(path ? path : "");
    std::string line;
    while (std::getline(in, line)) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, key.size(), key) != 0)
            continue;
        const size_t value = line.find_first_not_of(" \t", start + key.size());
        if (value == std::string::npos || value == start + key.size())
            continue; // the key alone, or a longer key such as "UID_MINIMUM"
        errno = 0;
        char* end = nullptr;
        const unsigned long n = std::strtoul(line.c_str() + value, &end, 10);
        const bool number = line[value] >= '0' && line[value] <= '9';
        if (number && errno == 0 && end != line.c_str() + value &&
            (*end == '\0' || *end == ' ' || *end == '\t' || *end == '\r' || *end == '#'))
            result = n;
    }
    return result;
}

} // namespace

unsigned long ReadUidMin(const char* path)
{
    const unsigned long uidMin = ReadLoginDefsNumber(path, "UID_MIN", kDefaultUidMin);
    return uidMin < 1 ? 1 : uidMin;
}

unsigned long ReadUidMax(const char* path)
{
    return ReadLoginDefsNumber(path, "UID_MAX", kDefaultUidMax);
}

unsigned TimeLimitSeconds(const char* prefix, const char* value)
{
    if (SpoolRoot(prefix) == SpoolRoot(nullptr) || !value || *value < '1' || *value > '9')
        return kDefaultTimeLimitSeconds;
    char* end = nullptr;
    errno = 0;
    const unsigned long n = std::strtoul(value, &end, 10);
    return errno == 0 && *end == '\0' && n <= 86400 ? unsigned(n) : kDefaultTimeLimitSeconds;
}

std::string JobFolderName(std::time_t when, long jobId)
{
    std::tm utc{};
    gmtime_r(&when, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    char name[64];
    std::snprintf(name, sizeof name, "%s-%010ld", stamp, jobId < 0 ? 0L : jobId);
    return name;
}

std::string PageSizeChoice(const std::string& value)
{
    static const Alias kSizes[] = {
        {"a3", "A3"},
        {"iso_a3_297x420mm", "A3"},
        {"iso-a3", "A3"},
        {"a4", "A4"},
        {"iso_a4_210x297mm", "A4"},
        {"iso-a4", "A4"},
        {"a5", "A5"},
        {"iso_a5_148x210mm", "A5"},
        {"iso-a5", "A5"},
        {"b5", "B5"},
        {"jis_b5_182x257mm", "B5"},
        {"jis-b5", "B5"},
        {"iso_b5_176x250mm", "B5"},
        {"iso-b5", "B5"},
        {"letter", "Letter"},
        {"na_letter_8.5x11in", "Letter"},
        {"na-letter", "Letter"},
        {"legal", "Legal"},
        {"na_legal_8.5x14in", "Legal"},
        {"na-legal", "Legal"},
    };
    // "media" may list a size, a source and a type separated by commas.
    size_t start = 0;
    while (start <= value.size()) {
        size_t end = value.find(',', start);
        if (end == std::string::npos)
            end = value.size();
        const std::string choice =
            Lookup(kSizes, sizeof kSizes / sizeof *kSizes, value.substr(start, end - start));
        if (!choice.empty())
            return choice;
        start = end + 1;
    }
    return std::string();
}

std::string DuplexChoice(const std::string& value)
{
    static const Alias kDuplex[] = {
        {"none", "None"},
        {"duplexnotumble", "DuplexNoTumble"},
        {"duplextumble", "DuplexTumble"},
        {"one-sided", "None"},
        {"two-sided-long-edge", "DuplexNoTumble"},
        {"two-sided-short-edge", "DuplexTumble"},
    };
    return Lookup(kDuplex, sizeof kDuplex / sizeof *kDuplex, value);
}

std::string ColorModelChoice(const std::string& value)
{
    static const Alias kColor[] = {
        {"rgb", "RGB"},
        {"cmyk", "CMYK"},
        {"gray", "Gray"},
        {"color", "RGB"},
        {"monochrome", "Gray"},
        {"process-monochrome", "Gray"},
        {"auto-monochrome", "Gray"},
        {"bi-level", "Gray"},
        {"process-bi-level", "Gray"},
    };
    return Lookup(kColor, sizeof kColor / sizeof *kColor, value);
}

PpdDefaults ReadPpdDefaults(const char* path)
{
    PpdDefaults d;
    if (!path || !*path)
        return d;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.compare(0, 8, "*Default") != 0)
            continue;
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        const std::string key = line.substr(8, colon - 8);
        std::string value = line.substr(colon + 1);
        Trim(value);
        std::string choice;
        if (key == "PageSize" && !(choice = PageSizeChoice(value)).empty())
            d.pageSize = choice;
        else if (key == "Duplex" && !(choice = DuplexChoice(value)).empty())
            d.duplex = choice;
        else if (key == "ColorModel" && !(choice = ColorModelChoice(value)).empty())
            d.colorModel = choice;
    }
    return d;
}

int CopiesValue(const char* copies)
{
    if (!copies)
        return 1;
    errno = 0;
    char* end = nullptr;
    const long n = std::strtol(copies, &end, 10);
    if (errno != 0 || end == copies || *end != '\0' || n < 1)
        return 1;
    return n > INT_MAX ? INT_MAX : int(n);
}

std::vector<Option> JobOptions(const char* title, const char* copies, const char* options,
                               const PpdDefaults& defaults, int pages)
{
    cups_option_t* parsed = nullptr;
    const int count = cupsParseOptions(options ? options : "", 0, &parsed);
    auto find = [&](const char* name) -> std::string {
        const char* v = cupsGetOption(name, count, parsed);
        return v ? v : "";
    };

    // The PPD's own option wins over the IPP attribute it stands for, and
    // both over the queue's default.
    auto choose = [&](const char* ppdName, const char* ippName,
                      std::string (*choice)(const std::string&), const std::string& fallback) {
        std::string c = choice(find(ppdName));
        if (c.empty())
            c = choice(find(ippName));
        return c.empty() ? fallback : c;
    };
    const std::string pageSize = choose("PageSize", "media", PageSizeChoice, defaults.pageSize);
    const std::string duplex = choose("Duplex", "sides", DuplexChoice, defaults.duplex);
    const std::string colorModel =
        choose("ColorModel", "print-color-mode", ColorModelChoice, defaults.colorModel);

    const int nCopies = CopiesValue(copies);
    const long long impressions = (long long)(pages < 1 ? 1 : pages) * nCopies;

    std::vector<Option> added = {
        {"copies", std::to_string(nCopies)},
        {"title", title ? title : ""},
        {"PageSize", pageSize},
        {"Duplex", duplex},
        {"ColorModel", colorModel},
        {"job-impressions", std::to_string(std::min<long long>(impressions, INT_MAX))},
    };

    std::vector<Option> result;
    for (int i = 0; i < count; ++i) {
        const std::string name = parsed[i].name;
        const bool replaced = std::any_of(added.begin(), added.end(),
                                          [&](const Option& o) { return o.first == name; });
        if (!replaced)
            result.emplace_back(name, parsed[i].value ? parsed[i].value : "");
    }
    cupsFreeOptions(count, parsed);
    result.insert(result.end(), added.begin(), added.end());
    return result;
}

std::string FormatOptions(const std::vector<Option>& options)
{
    std::string out;
    for (const Option& o : options) {
        if (!IsOptionName(o.first))
            continue;
        std::string value;
        bool quote = o.second.empty();
        for (unsigned char c : o.second) {
            if (c < 0x20 || c == 0x7f)
                c = ' ';
            if (std::strchr(" '\"\\{}", c))
                quote = true;
            if (c == '"' || c == '\\')
                value += '\\';
            value += char(c);
        }
        if (!out.empty())
            out += ' ';
        out += o.first;
        out += '=';
        if (quote)
            out += '"' + value + '"';
        else
            out += value;
    }
    out += '\n';
    return out;
}

} // namespace JobSpool
