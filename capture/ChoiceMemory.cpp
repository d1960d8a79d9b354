#include "ChoiceMemory.h"

#include "SafeFile.h"
#include "SystemPaths.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <string>

namespace
{

constexpr size_t kMostBytes = 256 * 1024;

QString keyOf(const QString& server, const QString& user)
{
    return user + QLatin1Char('@') + server;
}

QJsonObject readAll(const QString& folder)
{
    std::string content;
    const QByteArray path =
        QFile::encodeName(folder + QLatin1Char('/') + QLatin1String(ChoiceMemory::kFileName));
    if (SafeFile::ReadOwnedFile(path.constData(), &content, kMostBytes) != SafeFile::Check::Ok)
        return {};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(content.data(), int(content.size())));
    return doc.isObject() ? doc.object() : QJsonObject();
}

} // namespace

ChoiceMemory::ChoiceMemory(const QString& folder)
    : Folder(folder.isEmpty() ? QFile::decodeName(SystemPaths::configFolder()) : folder)
{
}

RememberedChoice ChoiceMemory::recall(const QString& server, const QString& user) const
{
    RememberedChoice choice;
    if (Folder.isEmpty())
        return choice;
    const QJsonObject entry = readAll(Folder).value(keyOf(server, user)).toObject();
    choice.Printer = entry.value(QLatin1String("printer")).toString();
    choice.Purpose = entry.value(QLatin1String("purpose")).toString();
    const QJsonArray auditors = entry.value(QLatin1String("auditors")).toArray();
    for (int i = 0; i < 3 && i < auditors.size(); ++i)
        choice.Auditors[i] = std::max(0, auditors.at(i).toInt());
    const QJsonValue project = entry.value(QLatin1String("project"));
    choice.HasProject = project.isDouble();
    choice.ProjectId = project.toInt();
    return choice;
}

bool ChoiceMemory::remember(const QString& server, const QString& user,
                            const RememberedChoice& choice)
{
    if (Folder.isEmpty())
        return false;
    const QByteArray folder = QFile::encodeName(Folder);
    if (SafeFile::EnsurePrivateFolder(folder.constData()) != SafeFile::Check::Ok)
        return false;
    QJsonObject all = readAll(Folder);
    QJsonObject entry;
    entry.insert(QLatin1String("printer"), choice.Printer);
    entry.insert(QLatin1String("purpose"), choice.Purpose);
    entry.insert(QLatin1String("auditors"),
                 QJsonArray{choice.Auditors[0], choice.Auditors[1], choice.Auditors[2]});
    if (choice.HasProject)
        entry.insert(QLatin1String("project"), choice.ProjectId);
    entry.insert(QLatin1String("confirmed"), QDateTime::currentMSecsSinceEpoch());
    all.insert(keyOf(server, user), entry);
    // The oldest confirmations go when there are too many.
    while (all.size() > kMostEntries) {
        auto oldest = all.begin();
        for (auto it = all.begin(); it != all.end(); ++it)
            if (it.value().toObject().value(QLatin1String("confirmed")).toDouble() <
                oldest.value().toObject().value(QLatin1String("confirmed")).toDouble())
                oldest = it;
        all.erase(oldest);
    }
    const QByteArray json = QJsonDocument(all).toJson(QJsonDocument::Compact);
    return SafeFile::ReplaceFile(folder.constData(), kFileName,
                                 std::string(json.constData(), size_t(json.size())),
                                 0600) == SafeFile::Check::Ok;
}

int PreferredIndex(const QStringList& items, const QString& remembered, int fallback)
{
    if (remembered.isEmpty())
        return fallback;
    const int index = items.indexOf(remembered);
    return index >= 0 ? index : fallback;
}
