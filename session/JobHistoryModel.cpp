#include "JobHistoryModel.h"

#include "JobHistory.h"

#include <QDateTime>

namespace
{

QString timeText(qint64 ms, const char* format)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QLatin1String(format));
}

} // namespace

JobHistoryModel::JobHistoryModel(JobHistory* history, QObject* parent)
    : QAbstractTableModel(parent), History(history)
{
    if (!history)
        return;
    connect(history, &JobHistory::aboutToChange, this, &JobHistoryModel::beginResetModel);
    connect(history, &JobHistory::changed, this, &JobHistoryModel::endResetModel);
    connect(history, &JobHistory::entryChanged, this,
            [this](int row) { emit dataChanged(index(row, 0), index(row, kColumns - 1)); });
}

int JobHistoryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() || !History ? 0 : History->jobs().size();
}

int JobHistoryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant JobHistoryModel::data(const QModelIndex& index, int role) const
{
    if (!History || !index.isValid() || index.row() >= History->jobs().size())
        return QVariant();
    const JobEntry& job = History->jobs().at(index.row());
    if (role == Qt::ToolTipRole)
        return timeline(index.row());
    if (role == Qt::TextAlignmentRole &&
        (index.column() == PagesColumn || index.column() == CopiesColumn))
        return int(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return QVariant();
    switch (index.column()) {
    case DocumentColumn:
        return job.Document;
    case PagesColumn:
        return job.Pages > 0 ? QVariant(job.Pages) : QVariant();
    case CopiesColumn:
        return job.Copies > 0 ? QVariant(job.Copies) : QVariant();
    case PrinterColumn:
        return job.isKept()            ? QString()
               : job.Printer.isEmpty() ? QStringLiteral("刷卡打印")
                                       : job.Printer;
    case TimeColumn: {
        if (job.SubmittedAt <= 0)
            return QString();
        // The year only when it is not this one.
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(job.SubmittedAt);
        return at.toString(QLatin1String(
            at.date().year() == QDate::currentDate().year() ? "MM-dd HH:mm" : "yyyy-MM-dd HH:mm"));
    }
    case StateColumn:
        return JobStateText(job.State);
    default:
        return QVariant();
    }
}

QVariant JobHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case DocumentColumn:
        return QStringLiteral("文档");
    case PagesColumn:
        return QStringLiteral("页数");
    case CopiesColumn:
        return QStringLiteral("份数");
    case PrinterColumn:
        return QStringLiteral("打印机");
    case TimeColumn:
        return QStringLiteral("时间");
    case StateColumn:
        return QStringLiteral("状态");
    default:
        return QVariant();
    }
}

QString JobHistoryModel::timeline(int row) const
{
    if (!History || row < 0 || row >= History->jobs().size())
        return QString();
    const JobEntry& job = History->jobs().at(row);
    QStringList lines;
    if (job.isKept())
        lines << QStringLiteral("上传失败，作业保留在本机，可重新提交");
    else if (job.SubmittedAt > 0)
        lines << timeText(job.SubmittedAt, "MM-dd HH:mm:ss") + QStringLiteral(" 已提交");
    for (const JobNotice& n : job.Notices)
        lines << timeText(n.At, "MM-dd HH:mm:ss") + QLatin1Char(' ') + JobStateText(n.State);
    return lines.join(QLatin1Char('\n'));
}
