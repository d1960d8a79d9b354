// "OrixClientAPP.ini" as its three readers see it: configuration, event log level, notice texts.
#include "EventLog.h"
#include "LanguageManager.h"
#include "OrixUser.h"
#include "SystemPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The program folder under a private root of this run.
    static QTemporaryDir root;
    qputenv(SystemPaths::kRootPrefixVariable, QFile::encodeName(root.path()));
    QDir().mkpath(QString::fromUtf8(SystemPaths::programFolder()));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static time_t stamp = 1000000000;
    const QByteArray path = ConfigFilePath();
    QFile file(QString::fromUtf8(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    // The settings library keeps a parse per file until its size or time
    // changes: every input gets a time of its own.
    const struct timespec times[2] = {{++stamp, 0}, {stamp, 0}};
    utimensat(AT_FDCWD, path.constData(), times, 0);

    ClientConfig config;
    OrixUser::ReadConfigInfo(&config, 1);
    volatile unsigned sink = unsigned(GetPrivateProfileInt("Debug", "Level", 0, path.constData()));
    const LanguageManager texts(QString::fromUtf8(path));
    for (int id : {7000, 7101, 2595, 1})
        sink = sink + unsigned(texts.GetString(id).size());
    (void)sink;
    return 0;
}
