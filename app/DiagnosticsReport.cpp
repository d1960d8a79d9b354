#include "DiagnosticsReport.h"

#include "EventLog.h"

#include <QDateTime>
#include <QFile>

QString DiagnosticsReport::text(const QStringList& secrets) const
{
    QStringList lines;
    lines << QStringLiteral("OrixClient 诊断信息 %1")
                 .arg(QDateTime::currentDateTime().toString(Qt::ISODate));
    lines << QStringLiteral("version  %1").arg(Version);
    lines << QStringLiteral("server   %1").arg(Server.isEmpty() ? QStringLiteral("-") : Server);
    lines << QStringLiteral("log      %1").arg(LogPath);
    lines << QString();
    for (const ReadinessCheck::Item& item : Items)
        lines << ReadinessCheck::format(item);
    QString all = lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
    for (const QString& secret : secrets)
        if (secret.size() >= 4) // a short text would blank out ordinary words
            all.replace(secret, QStringLiteral("***"), Qt::CaseInsensitive);
    return all;
}

DiagnosticsReport DiagnosticsReport::collect(const QString& server)
{
    DiagnosticsReport report;
    report.Version = QString::fromLatin1(ORIX_VERSION);
    report.Server = server;
    report.LogPath = QFile::decodeName(EventLogFile());
    ReadinessCheck check;
    report.Items = check.run();
    return report;
}
