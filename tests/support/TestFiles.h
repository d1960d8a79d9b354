#pragma once

// Files of the tests: read, written (folders made), filled with varied bytes; standard output.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

// The file's bytes; "(missing)" when it cannot be read, so that it never equals an empty file.
inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

inline bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// The permission bits of what stands at path (a link's own), -1 when nothing does.
inline int modeOf(const QString& path)
{
    struct stat st;
    return lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// Bytes that differ from block to block and from seed to seed.
inline QByteArray pseudoRandom(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = static_cast<char>(seed >> 23);
    }
    return data;
}

// Runs fn with standard output sent to a file and returns what it printed.
template <typename Fn> QByteArray captureStdout(Fn fn)
{
    QTemporaryFile capture;
    capture.open();
    fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(capture.handle(), STDOUT_FILENO);
    fn();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    capture.seek(0);
    return capture.readAll();
}
