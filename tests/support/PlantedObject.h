#pragma once

// What another user of the workstation can leave at a name in a shared
// folder, for the tests that check the client neither waits on it nor
// writes through it.

#include <QDir>
#include <QFile>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

namespace PlantedObject
{

// The uid the planted objects get when they are another user's: nobody.
constexpr uid_t kOtherUser = 65534;

// Puts kind at path: "fifo", "file" (contents), "folder" (mode 0777), or
// "link" (to linkTarget). foreign: owned by kOtherUser (needs root).
inline bool plant(const QString& path, const QString& kind, bool foreign,
                  const QByteArray& contents = {}, const QString& linkTarget = {})
{
    const QByteArray at = QFile::encodeName(path);
    bool made = false;
    if (kind == "fifo") {
        made = mkfifo(at.constData(), 0666) == 0;
    } else if (kind == "link") {
        made = QFile::link(linkTarget, path);
    } else if (kind == "file") {
        QFile file(path);
        made = file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
    } else if (kind == "folder") {
        made = QDir().mkdir(path) && chmod(at.constData(), 0777) == 0;
    }
    return made && (!foreign || lchown(at.constData(), kOtherUser, kOtherUser) == 0);
}

// What stands at path, to tell whether anything was written through it:
// type, owner, content of a file, target (and what is there) of a link,
// entries of a folder.
inline QString snapshot(const QString& path)
{
    struct stat st;
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "missing";
    QString text = QString::asprintf("%o %d ", st.st_mode & S_IFMT, int(st.st_uid));
    QFile file(path);
    if (S_ISLNK(st.st_mode)) {
        const QString target = QFile::symLinkTarget(path);
        text += target + " " + snapshot(target);
    } else if (S_ISREG(st.st_mode) && file.open(QIODevice::ReadOnly)) {
        text += QString::fromUtf8(file.readAll());
    } else if (S_ISDIR(st.st_mode)) {
        for (const QString& entry :
             QDir(path).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
            text += entry + "=" + snapshot(path + "/" + entry) + ";";
    }
    return text;
}

} // namespace PlantedObject
