#include "JobOptions.h"

#include "TaskRecords.h"
#include "TavCommon.h"
#include "TextUtil.h"

#include <QByteArray>
#include <QFile>
#include <QStringList>

#include <cups/cups.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// An options file holds a few hundred bytes; anything beyond this is not one.
constexpr qint64 kMaxOptionsBytes = 1 << 20;

// The text of the options file, or an empty text. Only a regular file is
// read (never a FIFO or a device that could block the caller), and at most
// kMaxOptionsBytes of it.
QByteArray readOptionsFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return QByteArray();
    QByteArray text;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        char buffer[4096];
        while (text.size() < kMaxOptionsBytes) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            text.append(buffer, static_cast<int>(n));
        }
    }
    close(fd);
    // Decoded as UTF-8 and encoded again: what the option parser sees is
    // valid UTF-8 whatever the file held.
    return QString::fromUtf8(text.left(static_cast<int>(kMaxOptionsBytes))).toUtf8();
}

// The CUPS client library parses the options. It is loaded when the first
// job is read, not at program start: with the libraries it pulls in (TLS,
// Kerberos, service discovery) it would cost every start of the client far
// more than reading a job's options.
struct CupsFunctions {
    decltype(&cupsParseOptions) parseOptions = nullptr;
    decltype(&cupsGetOption) getOption = nullptr;
    decltype(&cupsFreeOptions) freeOptions = nullptr;
    bool complete = false;
};

template <typename Function> bool lookUp(void* library, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

const CupsFunctions& cups()
{
    static const CupsFunctions functions = [] {
        CupsFunctions f;
        void* library = dlopen(ORIX_CUPS_SONAME, RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return f;
        f.complete = lookUp(library, "cupsParseOptions", f.parseOptions) &&
                     lookUp(library, "cupsGetOption", f.getOption) &&
                     lookUp(library, "cupsFreeOptions", f.freeOptions);
        return f;
    }();
    return functions;
}

// A decimal integer as strtol reads it, held inside the int range.
int32_t decimal(const char* text)
{
    const long long value = strtoll(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

QString withoutOfficePrefixes(QString name)
{
    for (const char* prefix :
         {"Microsoft Word - ", "Microsoft Excel - ", "Microsoft PowerPoint - "})
        name.remove(QLatin1String(prefix), Qt::CaseSensitive);
    return name;
}

void setDocName(MobilePrintTaskInfo& info, const QString& name)
{
    memset(info.DocName, 0, sizeof info.DocName);
    CopyGbkText(info.DocName, sizeof info.DocName, UTF82GBK(name.toUtf8().constData()).constData());
}

} // namespace

void GetJobInfo(void* mobileTaskInfo, const QString& optionsPath)
{
    MobilePrintTaskInfo& info = *static_cast<MobilePrintTaskInfo*>(mobileTaskInfo);

    // Without the CUPS library every option reads as absent: the defaults.
    const CupsFunctions& cupsLibrary = cups();
    const QByteArray text = cupsLibrary.complete ? readOptionsFile(optionsPath) : QByteArray();
    cups_option_t* options = nullptr;
    const int count =
        cupsLibrary.complete ? cupsLibrary.parseOptions(text.constData(), 0, &options) : 0;
    const auto option = [&](const char* name) {
        return count > 0 ? cupsLibrary.getOption(name, count, options) : nullptr;
    };

    const char* duplex = option("Duplex");
    info.DuplexMode = 'S';
    if (duplex && strstr(duplex, "DuplexNoTumble"))
        info.DuplexMode = 'V';
    else if (duplex && strstr(duplex, "DuplexTumble"))
        info.DuplexMode = 'H';

    const char* pageSize = option("PageSize");
    memset(info.PaperSize, 0, sizeof info.PaperSize);
    CopyText(info.PaperSize, sizeof info.PaperSize, pageSize ? pageSize : "A4");

    const char* copies = option("copies");
    info.Copies = copies ? decimal(copies) : 1;

    if (const char* title = option("title")) {
        // A title that is a path names the document by its last part; one
        // that ends in "/" leaves the name empty.
        setDocName(info, withoutOfficePrefixes(QString::fromUtf8(title))
                             .split(QLatin1Char('/'), Qt::KeepEmptyParts)
                             .last());
        const char* supplied = option("document-name-supplied");
        if (info.DocName[0] == '\0' && supplied)
            setDocName(info, withoutOfficePrefixes(QString::fromUtf8(supplied)));
    }

    const char* colorModel = option("ColorModel");
    info.ColorMode = 'M';
    if (colorModel && (strcmp(colorModel, "RGB") == 0 || strcmp(colorModel, "CMYK") == 0))
        info.ColorMode = 'C';

    const char* impressions = option("job-impressions");
    // Copies of 0 (or a negative count) never divide.
    info.PageCount = impressions ? decimal(impressions) / (info.Copies > 0 ? info.Copies : 1) : 1;

    if (cupsLibrary.complete)
        cupsLibrary.freeOptions(count, options);
}
