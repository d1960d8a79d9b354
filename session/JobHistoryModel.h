#pragma once

#include <QAbstractTableModel>
#include <QPointer>

class JobHistory;

// The user's recent jobs as a table: document, state, time, pages, copies,
// printer. Reads the history's list in place; resets when the list
// changes and updates one row when one job's state changes.
class JobHistoryModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // The state next to the name: what the user looks for first in a narrow window.
    enum Column {
        DocumentColumn,
        StateColumn,
        TimeColumn,
        PagesColumn,
        CopiesColumn,
        PrinterColumn
    };
    static constexpr int kColumns = 6;

    explicit JobHistoryModel(JobHistory* history, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // The notices of the job at row, one line each ("12-07 09:30 等待审批").
    QString timeline(int row) const;

private:
    QPointer<JobHistory> History;
};
