#pragma once

#include <QWidget>

#include <functional>

class JobHistory;
class JobHistoryModel;
class QLabel;
class QMenu;
class QPushButton;
class QTableView;

// The page "我的任务" of the main window: the user's recent jobs, newest
// first, kept jobs on top; the selected job's notices as a short timeline;
// and, for a kept job, "重新提交" and "删除" as buttons and in the row's
// context menu (the keyboard's menu key included).
class JobsPage : public QWidget
{
    Q_OBJECT

public:
    // What the two actions do with a kept job's folder; false when it
    // could not be done (the job is being handled).
    using FolderAction = std::function<bool(const QString& folder)>;

    explicit JobsPage(JobHistory* history, QWidget* parent = nullptr);

    void setActions(FolderAction resubmit, FolderAction remove);
    // Offline: kept jobs cannot be sent again until the next logon.
    void setOnline(bool online);

    QTableView* view() const { return View; }
    JobHistoryModel* model() const { return Model; }

public slots:
    void resubmitSelected();
    void removeSelected();

private:
    int selectedRow() const;
    void updateSelection();
    void showMenu(const QPoint& pos);

    JobHistory* History;
    JobHistoryModel* Model;
    QTableView* View;
    QLabel* Empty;
    QLabel* Timeline;
    QPushButton* Resubmit;
    QPushButton* Remove;
    QMenu* Menu;
    FolderAction ResubmitAction;
    FolderAction RemoveAction;
    bool Online = false;
};
