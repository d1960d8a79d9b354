// The options file that the PDF printer leaves beside a job's document, read
// into the job's fields; its texts always end inside their fields.
#include "JobOptions.h"
#include "TaskRecords.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("options"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    MobilePrintTaskInfo info;
    memset(&info, 0x5A, sizeof info);
    strcpy(info.DocName, "TEST.pdf");
    GetJobInfo(&info, path);
    if (!memchr(info.DocName, 0, sizeof info.DocName) ||
        !memchr(info.PaperSize, 0, sizeof info.PaperSize))
        abort();
    return 0;
}
