#include "JobHistory.h"

#include "EventLog.h"
#include "SafeFile.h"
#include "ServerNotice.h"
#include "SystemPaths.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <mutex>
#include <string>

namespace
{

constexpr size_t kMostBytes = 64 * 1024 * 1024;

std::mutex CurrentMutex;
QPointer<JobHistory> Current;

JobState stateFromInt(int value)
{
    if (value < int(JobState::Kept) || value > int(JobState::Failed))
        return JobState::Received;
    return JobState(value);
}

QJsonObject toJson(const JobEntry& job)
{
    QJsonObject o;
    o.insert(QLatin1String("doc"), job.Document);
    o.insert(QLatin1String("pages"), job.Pages);
    o.insert(QLatin1String("copies"), job.Copies);
    o.insert(QLatin1String("printer"), job.Printer);
    o.insert(QLatin1String("at"), double(job.SubmittedAt));
    o.insert(QLatin1String("state"), int(job.State));
    if (!job.Folder.isEmpty())
        o.insert(QLatin1String("folder"), job.Folder);
    if (!job.Notices.isEmpty()) {
        QJsonArray notices;
        for (const JobNotice& n : job.Notices)
            notices.append(QJsonArray{double(n.At), int(n.State)});
        o.insert(QLatin1String("notices"), notices);
    }
    return o;
}

JobEntry fromJson(const QJsonObject& o)
{
    JobEntry job;
    job.Document = o.value(QLatin1String("doc")).toString().left(1024);
    job.Pages = std::max(0, o.value(QLatin1String("pages")).toInt());
    job.Copies = std::max(0, o.value(QLatin1String("copies")).toInt());
    job.Printer = o.value(QLatin1String("printer")).toString().left(1024);
    job.SubmittedAt = qint64(o.value(QLatin1String("at")).toDouble());
    job.State = stateFromInt(o.value(QLatin1String("state")).toInt());
    job.Folder = o.value(QLatin1String("folder")).toString();
    if (job.isKept() && job.Folder.isEmpty())
        job.State = JobState::Failed;
    const QJsonArray notices = o.value(QLatin1String("notices")).toArray();
    for (int i = 0; i < notices.size() && i < 64; ++i) {
        const QJsonArray n = notices.at(i).toArray();
        job.Notices.append({qint64(n.at(0).toDouble()), stateFromInt(n.at(1).toInt())});
    }
    return job;
}

} // namespace

QString JobStateText(JobState state)
{
    switch (state) {
    case JobState::Kept:
        return QStringLiteral("未能提交");
    case JobState::Submitted:
        return QStringLiteral("已提交");
    case JobState::Received:
        return QStringLiteral("服务器已接收");
    case JobState::WaitingApproval:
        return QStringLiteral("等待审批");
    case JobState::Approved:
        return QStringLiteral("审批通过");
    case JobState::Refused:
        return QStringLiteral("审批被拒绝");
    case JobState::Printing:
        return QStringLiteral("正在打印");
    case JobState::Printed:
        return QStringLiteral("打印成功");
    case JobState::Failed:
        return QStringLiteral("打印失败");
    }
    return QString();
}

bool NoticeState(int type, int auditCode, bool hasAudit, JobState* state)
{
    if (type == 2 || type == 12) {
        if (!hasAudit || auditCode == 0)
            *state = JobState::WaitingApproval;
        else if (auditCode == 1)
            *state = JobState::Approved;
        else if (auditCode == 2)
            *state = JobState::Refused;
        else
            return false;
        return true;
    }
    // Copy (640..644), recycling (768, 769), 1024 and disc (2048 on)
    // notices are about other requests than print jobs.
    if ((type >= 640 && type <= 644) || type == 768 || type == 769 || type >= 1024)
        return false;
    int textId = 0;
    const int row = ServerNotice::FindPrintResult(type, &textId);
    if (row == ServerNotice::kUnknownTypeRowCode)
        return false;
    switch (textId) {
    case 7000:
        *state = JobState::Received;
        return true;
    case 7002:
        *state = JobState::WaitingApproval;
        return true;
    case 7003:
    case 7004:
        *state = JobState::Printing;
        return true;
    case 7512:
        *state = JobState::Printed;
        return true;
    case 7515:
        *state = JobState::Refused;
        return true;
    default:
        break;
    }
    // Failures and cancellations of a print job.
    if ((row >= 511 && row <= 537) || (row >= 704 && row <= 707)) {
        *state = JobState::Failed;
        return true;
    }
    return false;
}

JobHistory::JobHistory(const QString& folder, QObject* parent)
    : QObject(parent),
      Folder(folder.isEmpty() ? QFile::decodeName(SystemPaths::dataFolder()) : folder),
      Now([] { return QDateTime::currentMSecsSinceEpoch(); })
{
    load();
}

JobHistory::~JobHistory()
{
    std::lock_guard<std::mutex> lock(CurrentMutex);
    if (Current == this)
        Current = nullptr;
}

JobHistory* JobHistory::current()
{
    std::lock_guard<std::mutex> lock(CurrentMutex);
    return Current;
}

void JobHistory::setCurrent(JobHistory* history)
{
    std::lock_guard<std::mutex> lock(CurrentMutex);
    Current = history;
}

void JobHistory::post(int type, const QByteArray& fieldText)
{
    const ServerNotice::Fields fields = ServerNotice::SplitFields(fieldText);
    if (!fields.hasResult)
        return;
    const qint64 at = QDateTime::currentMSecsSinceEpoch();
    std::lock_guard<std::mutex> lock(CurrentMutex);
    JobHistory* history = Current;
    if (!history)
        return;
    // Queued into the history's thread; dropped should it go meanwhile.
    QMetaObject::invokeMethod(
        history,
        [history, type, fields, at] {
            history->notice(type, fields.auditCode, fields.hasAudit,
                            QString::fromUtf8(fields.jobName), at);
        },
        Qt::QueuedConnection);
}

int JobHistory::keptCount() const
{
    return int(
        std::count_if(Jobs.begin(), Jobs.end(), [](const JobEntry& job) { return job.isKept(); }));
}

void JobHistory::record(const JobEntry& job)
{
    emit aboutToChange();
    if (!job.Folder.isEmpty())
        Jobs.erase(std::remove_if(
                       Jobs.begin(), Jobs.end(),
                       [&job](const JobEntry& e) { return e.isKept() && e.Folder == job.Folder; }),
                   Jobs.end());
    JobEntry entry = job;
    if (!entry.isKept())
        entry.Folder.clear();
    if (entry.SubmittedAt == 0)
        entry.SubmittedAt = Now();
    Jobs.prepend(entry);
    sort();
    prune();
    emit changed();
    save();
}

void JobHistory::replaceAll(const QList<JobEntry>& jobs)
{
    emit aboutToChange();
    Jobs = jobs;
    sort();
    prune();
    emit changed();
    save();
}

void JobHistory::keep(const QString& folder)
{
    for (const JobEntry& job : Jobs)
        if (job.isKept() && job.Folder == folder)
            return;
    JobEntry job;
    job.Document = QFileInfo(folder).fileName();
    job.State = JobState::Kept;
    job.Folder = folder;
    record(job);
}

void JobHistory::forget(const QString& folder)
{
    const auto kept = [&folder](const JobEntry& e) { return e.isKept() && e.Folder == folder; };
    if (std::none_of(Jobs.begin(), Jobs.end(), kept))
        return;
    emit aboutToChange();
    Jobs.erase(std::remove_if(Jobs.begin(), Jobs.end(), kept), Jobs.end());
    emit changed();
    save();
}

bool JobHistory::notice(int type, int auditCode, bool hasAudit, const QString& jobName, qint64 at)
{
    JobState state;
    if (!NoticeState(type, auditCode, hasAudit, &state))
        return false;
    // The newest job of that name sent before the notice came.
    for (int row = 0; row < Jobs.size(); ++row) {
        JobEntry& job = Jobs[row];
        if (job.isKept() || job.Document != jobName || job.SubmittedAt > at + kClockGraceMs ||
            at - job.SubmittedAt > kMatchWindowMs)
            continue;
        job.State = state;
        if (job.Notices.size() >= 64)
            job.Notices.removeFirst();
        job.Notices.append({at, state});
        emit entryChanged(row);
        save();
        return true;
    }
    return false;
}

void JobHistory::sort()
{
    std::stable_sort(Jobs.begin(), Jobs.end(), [](const JobEntry& a, const JobEntry& b) {
        if (a.isKept() != b.isKept())
            return a.isKept();
        return a.SubmittedAt > b.SubmittedAt;
    });
}

void JobHistory::prune()
{
    const qint64 oldest = Now() - qint64(kMostDays) * 24 * 3600 * 1000;
    int others = 0;
    QList<JobEntry> kept;
    kept.reserve(Jobs.size());
    for (const JobEntry& job : Jobs) {
        if (!job.isKept()) {
            ++others;
            if (others > kMostRecent && job.SubmittedAt < oldest)
                continue;
        }
        if (kept.size() >= kMostJobs)
            break;
        kept.append(job);
    }
    Jobs.swap(kept);
}

void JobHistory::load()
{
    if (Folder.isEmpty())
        return;
    std::string content;
    const QByteArray path = QFile::encodeName(Folder + QLatin1Char('/') + QLatin1String(kFileName));
    const SafeFile::Check check = SafeFile::ReadOwnedFile(path.constData(), &content, kMostBytes);
    if (check != SafeFile::Check::Ok) {
        if (check != SafeFile::Check::Missing)
            LogEvent(4, "job history %s not read: %s\n", path.constData(),
                     SafeFile::Describe(check));
        return;
    }
    const QJsonArray all =
        QJsonDocument::fromJson(QByteArray::fromRawData(content.data(), int(content.size())))
            .object()
            .value(QLatin1String("jobs"))
            .toArray();
    Jobs.reserve(all.size());
    for (const QJsonValue& value : all)
        Jobs.append(fromJson(value.toObject()));
    sort();
    prune();
}

void JobHistory::save() const
{
    if (Folder.isEmpty())
        return;
    const QByteArray folder = QFile::encodeName(Folder);
    if (SafeFile::EnsurePrivateFolder(folder.constData()) != SafeFile::Check::Ok)
        return;
    QJsonArray all;
    for (const JobEntry& job : Jobs)
        all.append(toJson(job));
    const QByteArray json =
        QJsonDocument(QJsonObject{{QLatin1String("jobs"), all}}).toJson(QJsonDocument::Compact);
    const SafeFile::Check check = SafeFile::ReplaceFile(
        folder.constData(), kFileName, std::string(json.constData(), size_t(json.size())), 0600);
    if (check != SafeFile::Check::Ok)
        LogEvent(4, "job history not written: %s\n", SafeFile::Describe(check));
}
