#include "SingleInstance.h"

#include "SystemPaths.h"
#include "TavCommon.h"

#include <QDir>
#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

void activateExistentProcess()
{
    const QString folder = QString::fromUtf8(SystemPaths::signalFolder());
    for (;;) {
        QDir dir(folder);
        if (dir.exists()) {
            const QString signalFile = folder + "/1";
            const QStringList entries =
                dir.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
            if (entries.isEmpty()) {
                int fd = open(QFile::encodeName(signalFile).constData(), O_WRONLY | O_CREAT, 0777);
                if (fd >= 0)
                    close(fd);
            } else {
                // The attribute change is what the running instance's watcher
                // sees; a failure (file of another user) is of no concern.
                chmod(QFile::encodeName(signalFile).constData(), 0777);
            }
            return;
        }
        QDir().mkpath(folder);
        if (!QDir(folder).exists())
            sleep(1);
    }
}

bool checkOnly()
{
    char path[256];
    snprintf(path, sizeof path, "%s-%s", SystemPaths::lockFileBase().constData(),
             getUserName().toUtf8().constData());
    int fd = open(path, O_WRONLY | O_CREAT, 0644);
    if (fd < 0) {
        perror("open lockfile/n");
        return false;
    }
    if (lockf(fd, F_TLOCK, 0) < 0) {
        perror("lock file error/n");
        close(fd);
        return false;
    }
    // The descriptor stays open: the lock lives exactly as long as the process.
    return true;
}
