#pragma once

// Certificates for TLS tests, made with the openssl command.

#include <QDir>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace TestPki
{

// Writes <dir>/<name>.pem and <dir>/<name>.key (EC P-256, subject
// CN=<name>): self-signed without altName, else issued by <dir>/ca.pem with
// altName (e.g. "IP:127.0.0.1") as its subjectAltName.
inline bool makeCertificate(const QString& dir, const QString& name,
                            const QString& altName = QString())
{
    const QDir folder(dir);
    QStringList args = QString("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                               "-days 2 -subj")
                           .split(' ');
    args << "/CN=" + name << "-keyout" << folder.filePath(name + ".key") << "-out"
         << folder.filePath(name + ".pem");
    if (!altName.isEmpty())
        args << "-CA" << folder.filePath("ca.pem") << "-CAkey" << folder.filePath("ca.key")
             << QString("-addext basicConstraints=CA:FALSE -addext").split(' ')
             << "subjectAltName=" + altName;
    QProcess p;
    p.start("openssl", args);
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace TestPki
