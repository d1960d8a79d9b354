#include "PrintSettingModel.h"

#include "JobOptions.h"
#include "OrixUser.h"
#include "TavAuditFlow.h"
#include "TavCommon.h"
#include "TextUtil.h"

#include <algorithm>
#include <cstring>

const char kCardSwipeEntry[] = "刷卡打印";
const char kKeptJobNote[] = "作业已保留，稍后将再次弹出打印设置。";

namespace
{

// The text at data[from..length) up to its terminator or the end.
QByteArray textAt(const char* data, size_t from, size_t length)
{
    const void* end = memchr(data + from, '\0', length - from);
    const size_t n =
        end ? static_cast<size_t>(static_cast<const char*>(end) - (data + from)) : length - from;
    return QByteArray(data + from, static_cast<int>(n));
}

} // namespace

// --- printer list -------------------------------------------------------------------

PrinterListReply ParsePrinterList(const char* data, size_t length)
{
    PrinterListReply reply;
    if (!data || length == 0)
        return reply;
    // Names longer than any field could hold are still taken whole; a block
    // of more than 2 GiB is not a printer list.
    length = std::min<size_t>(length, 0x7fffffff);
    const QByteArray total = textAt(data, 0, length);
    bool ok = false;
    const int value = total.trimmed().toInt(&ok);
    reply.Total = ok ? value : 0;
    size_t at = static_cast<size_t>(total.size()) + 1;
    while (at < length && length - at >= 2 && data[at] != '\0') {
        const QByteArray name = textAt(data, at, length);
        reply.Names << name;
        at += static_cast<size_t>(name.size()) + 1;
    }
    return reply;
}

size_t PrinterListBlockLength(const void* block)
{
    return block ? static_cast<size_t>(SysStringLen(block)) * 2 + 2 : 0;
}

PrinterChoices BuildPrinterChoices(const PrinterListReply& reply, int printWay)
{
    PrinterChoices choices;
    QStringList names;
    for (const QByteArray& name : reply.Names)
        names << GBK2UTF8(name.constData());
    if (printWay == 2) {
        choices.Items = names;
        choices.Enabled = true;
        return choices;
    }
    choices.Items << QString::fromUtf8(kCardSwipeEntry);
    if (names.isEmpty() || names.size() >= reply.Total)
        return choices;
    choices.Items += names;
    choices.Enabled = true;
    return choices;
}

// --- secret levels -------------------------------------------------------------------

QStringList SecretLevelItems(const unsigned char* userInfoEx, size_t size, int secretLevel)
{
    QStringList items;
    constexpr size_t kEntry = TavUserRecord::kUserInfoExEntrySize;
    constexpr size_t kNameWidth = 50;
    if (!userInfoEx || size < 4 || secretLevel < 1)
        return items;
    int32_t count;
    memcpy(&count, userInfoEx, sizeof count);
    const size_t fits = (size - 4) / kEntry;
    const size_t shown =
        std::min({static_cast<size_t>(std::max(count, 0)), fits, static_cast<size_t>(secretLevel)});
    for (size_t i = 0; i < shown; ++i) {
        const char* entry = reinterpret_cast<const char*>(userInfoEx + 4 + i * kEntry);
        const QString name = GBK2UTF8(BoundedText(entry, kNameWidth).constData());
        const QString second =
            GBK2UTF8(BoundedText(entry + kNameWidth, kEntry - kNameWidth).constData());
        const QString text = second.isEmpty() ? name : QStringLiteral("%1(%2)").arg(name, second);
        if (!text.isEmpty())
            items << text;
    }
    return items;
}

// --- audit rows -------------------------------------------------------------------------

const TavSecret* SecretAt(const TavAuditFlow& flow, int index)
{
    if (flow.FlowID <= 0 || index < 0 || index >= flow.Secrets.size())
        return nullptr;
    return &flow.Secrets.at(index);
}

AuditRows AuditRowsFor(int levels)
{
    AuditRows rows;
    if (levels <= 0) {
        rows.LevelText = QStringLiteral("无需审批");
    } else if (levels == 1) {
        rows = {QStringLiteral("一级审批"), 1, 1};
    } else if (levels == 2) {
        rows = {QStringLiteral("二级审批"), 2, 2};
    } else {
        rows = {QStringLiteral("三级审批"), 3, 3};
    }
    return rows;
}

// --- layout ----------------------------------------------------------------------------------

SettingPlacement PlaceForLevels(const SettingLayout& layout, int levels, int auditTop,
                                bool projectPrinting, bool checkShown)
{
    levels = std::clamp(levels, 0, 3);
    const int h = layout.RowHeight;
    const int missing = h * (3 - levels);
    const int b = (levels + 2) * h + auditTop;
    SettingPlacement p;
    p.AuditHeight = layout.AuditHeight - missing;
    p.DialogHeight = layout.DialogHeight - missing;
    if (projectPrinting) {
        p.ProjectTop = b + 40;
        p.CheckTop = b + 120;
        p.ButtonsTop = b + 150;
    } else {
        p.CheckTop = b + 40;
        p.ButtonsTop = checkShown ? b + 70 : b + 60;
        p.DialogHeight -= layout.ProjectHeight;
    }
    return p;
}

SettingPlacement PlaceForProject(bool checked, int auditBottom, int projectTop, int projectHeight,
                                 int auditHeight, int dialogHeight)
{
    SettingPlacement p;
    p.AuditHeight = auditHeight;
    if (checked) {
        p.ProjectTop = auditBottom + 10;
        p.CheckTop = p.ProjectTop + projectHeight + 20;
        p.ButtonsTop = p.ProjectTop + projectHeight + 50;
        p.DialogHeight = dialogHeight + projectHeight;
    } else {
        p.ProjectTop = projectTop;
        p.CheckTop = projectTop + 10;
        p.ButtonsTop = projectTop + 40;
        p.DialogHeight = dialogHeight - projectHeight;
    }
    return p;
}

// --- choices and records ------------------------------------------------------------------

ChosenAuditors ChooseAuditors(const TavAuditFlow& flow, int secretIndex, const int selected[3])
{
    ChosenAuditors chosen;
    if (flow.FlowID < 1 || flow.Secrets.isEmpty())
        return chosen;
    if (secretIndex < 0 || secretIndex >= flow.Secrets.size())
        secretIndex = 0;
    const TavSecret& secret = flow.Secrets.at(secretIndex);
    chosen.Count = std::clamp(secret.AuditLevel, 0, 10);
    for (int i = 0; i < std::min(chosen.Count, 3); ++i) {
        if (!secret.Auditors)
            break;
        const TavAuditorArray& level = secret.Auditors[i];
        if (selected[i] >= 0 && selected[i] < level.Count && level.Entries)
            chosen.IDs[i] = level.Entries[selected[i]].AuditorID;
    }
    return chosen;
}

int FillTaskRecord(_TAV_PRINT_TASK_INFO_& task, const char* userName,
                   const ChosenAuditors& auditors, const QString& secretLevel,
                   const QString& purpose)
{
    memset(&task, 0, sizeof task);
    CopyUtf8Text(task.UserName, sizeof task.UserName, userName);
    task.AuditorCount = auditors.Count;
    for (int i = 0; i < auditors.Count && i < 10; ++i) {
        task.AuditorIDs[i] = auditors.IDs[i];
        if (auditors.IDs[i] < 1)
            return 1;
    }
    CopyUtf8Text(task.SecretLevel, sizeof task.SecretLevel, secretLevel.toUtf8().constData());
    CopyUtf8Text(task.Purpose, sizeof task.Purpose, purpose.toUtf8().constData());
    return 0;
}

void FillCapturedJob(CapturedJob& captured, const OrixUser& user, const JobChoice& choice)
{
    const _TAV_PRINT_TASK_INFO_& task = captured.Task;
    MobilePrintTaskInfo& job = captured.Record;
    memset(&job, 0, sizeof job);
    job.AuditorCount = task.AuditorCount;

    FormatText(job.JobFileName, sizeof job.JobFileName, "%s.tavprint",
               BoundedText(user.ComputerName, 20).constData());
    job.ColorMode = 'M';
    job.Orientation = 'P';
    getIPMAC(job.IPAddress, job.MacAddress, sizeof job.IPAddress, sizeof job.MacAddress);

    const auto gbkOf = [](const char* utf8, size_t width) {
        return UTF82GBK(BoundedText(utf8, width).constData());
    };
    CopyGbkText(job.SecretLevel, sizeof job.SecretLevel,
                gbkOf(task.SecretLevel, sizeof task.SecretLevel).constData());
    CopyGbkText(job.Purpose, sizeof job.Purpose,
                gbkOf(task.Purpose, sizeof task.Purpose).constData());
    CopyText(job.DocName, sizeof job.DocName, "TEST.pdf");
    CopyText(job.PageRange, sizeof job.PageRange, "-1");
    CopyGbkText(job.UserFullName, sizeof job.UserFullName,
                gbkOf(user.FullName, sizeof user.FullName).constData());

    if (choice.PrinterIndex > 0)
        CopyGbkText(job.PrinterName, sizeof job.PrinterName,
                    UTF82GBK(choice.PrinterText.toUtf8().constData()).constData());

    captured.Payer = JobPayer{choice.Project, {}};
    if (choice.ProjectIndex >= 0 && choice.ProjectIndex < user.PayerCount && user.Payers)
        captured.Payer.Payer = user.Payers[choice.ProjectIndex];

    job.UserID = user.UserId;
    CopyUtf8Text(job.UserName, sizeof job.UserName,
                 BoundedText(user.UserName, sizeof user.UserName).constData());
    CopyText(job.DocType, sizeof job.DocType, "pdf");
    const int ids = std::clamp(static_cast<int>(task.AuditorCount), 0, 10);
    for (int i = 0; i < ids; ++i)
        job.AuditorIDs[i] = task.AuditorIDs[i];

    GetJobInfo(&job, captured.Options);
    job.JobState = user.JobState;
}

QString PayerDisplayName(const TavPayer& payer, bool utf8Strings)
{
    const QByteArray name = BoundedText(payer.PayerName, sizeof payer.PayerName);
    return utf8Strings ? QString::fromUtf8(name) : GBK2UTF8(name.constData());
}
