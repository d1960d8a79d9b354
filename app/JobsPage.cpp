#include "JobsPage.h"

#include "JobHistory.h"
#include "JobHistoryModel.h"
#include "MessageBoxes.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

JobsPage::JobsPage(JobHistory* history, QWidget* parent)
    : QWidget(parent), History(history), Model(new JobHistoryModel(history, this)),
      View(new QTableView(this)), Empty(new QLabel(this)), Timeline(new QLabel(this)),
      Resubmit(new QPushButton(QStringLiteral("重新提交"), this)),
      Remove(new QPushButton(QStringLiteral("删除"), this)), Menu(new QMenu(this))
{
    setObjectName(QStringLiteral("pageMyJobs"));
    View->setObjectName(QStringLiteral("tableMyJobs"));
    View->setModel(Model);
    View->setAccessibleName(QStringLiteral("我的任务"));
    View->setSelectionBehavior(QAbstractItemView::SelectRows);
    View->setSelectionMode(QAbstractItemView::SingleSelection);
    View->setEditTriggers(QAbstractItemView::NoEditTriggers);
    View->setAlternatingRowColors(true);
    View->setWordWrap(false);
    View->setContextMenuPolicy(Qt::CustomContextMenu);
    View->verticalHeader()->hide();
    // Fixed row heights and no content-sized columns: long lists open at once.
    View->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    View->verticalHeader()->setDefaultSectionSize(View->fontMetrics().height() + 6);
    QHeaderView* header = View->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    header->resizeSection(JobHistoryModel::DocumentColumn, 96);
    header->resizeSection(JobHistoryModel::StateColumn, 70);
    header->resizeSection(JobHistoryModel::TimeColumn, 96);
    header->resizeSection(JobHistoryModel::PagesColumn, 40);
    header->resizeSection(JobHistoryModel::CopiesColumn, 40);

    Empty->setObjectName(QStringLiteral("labelNoJobs"));
    Empty->setText(QStringLiteral("还没有打印任务。"));
    Empty->setAlignment(Qt::AlignCenter);
    Timeline->setObjectName(QStringLiteral("labelJobTimeline"));
    Timeline->setWordWrap(true);
    Timeline->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    Timeline->setFocusPolicy(Qt::NoFocus);
    Resubmit->setObjectName(QStringLiteral("btnResubmitJob"));
    Remove->setObjectName(QStringLiteral("btnRemoveJob"));
    Resubmit->setAccessibleName(QStringLiteral("重新提交所选任务"));
    Remove->setAccessibleName(QStringLiteral("删除所选任务"));
    Resubmit->setAutoDefault(false);
    Remove->setAutoDefault(false);

    Menu->addAction(QStringLiteral("重新提交"), this, &JobsPage::resubmitSelected);
    QAction* removeAction =
        Menu->addAction(QStringLiteral("删除"), this, &JobsPage::removeSelected);
    // The Delete key on the list does the same (it still asks first).
    removeAction->setShortcut(QKeySequence::Delete);
    removeAction->setShortcutContext(Qt::WidgetShortcut);
    View->addAction(removeAction);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Resubmit);
    buttons->addWidget(Remove);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(View, 1);
    layout->addWidget(Empty, 1);
    layout->addWidget(Timeline);
    layout->addLayout(buttons);

    connect(Resubmit, &QPushButton::clicked, this, &JobsPage::resubmitSelected);
    connect(Remove, &QPushButton::clicked, this, &JobsPage::removeSelected);
    connect(View, &QWidget::customContextMenuRequested, this, &JobsPage::showMenu);
    connect(View->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &JobsPage::updateSelection);
    connect(Model, &QAbstractItemModel::modelReset, this, &JobsPage::updateSelection);
    connect(Model, &QAbstractItemModel::dataChanged, this, &JobsPage::updateSelection);
    updateSelection();
}

void JobsPage::setActions(FolderAction resubmit, FolderAction remove)
{
    ResubmitAction = std::move(resubmit);
    RemoveAction = std::move(remove);
    updateSelection();
}

void JobsPage::setOnline(bool online)
{
    Online = online;
    updateSelection();
}

int JobsPage::selectedRow() const
{
    const QModelIndex current = View->selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void JobsPage::updateSelection()
{
    const bool empty = Model->rowCount() == 0;
    View->setVisible(!empty);
    Empty->setVisible(empty);
    const int row = selectedRow();
    const bool kept =
        History && row >= 0 && row < History->jobs().size() && History->jobs().at(row).isKept();
    Resubmit->setEnabled(kept && Online && ResubmitAction != nullptr);
    Remove->setEnabled(kept && RemoveAction != nullptr);
    Menu->actions().at(0)->setEnabled(Resubmit->isEnabled());
    Menu->actions().at(1)->setEnabled(Remove->isEnabled());
    Resubmit->setToolTip(Online ? QString() : QStringLiteral("登录后才能重新提交"));
    Timeline->setText(row >= 0 ? Model->timeline(row) : QString());
    Timeline->setVisible(row >= 0);
}

void JobsPage::showMenu(const QPoint& pos)
{
    if (selectedRow() >= 0)
        Menu->popup(View->viewport()->mapToGlobal(pos));
}

void JobsPage::resubmitSelected()
{
    const int row = selectedRow();
    if (!Resubmit->isEnabled() || row < 0)
        return;
    const QString folder = History->jobs().at(row).Folder;
    if (!ResubmitAction(folder))
        MessageBoxes::showInformation(this, QStringLiteral("错误"),
                                      QStringLiteral("现在无法重新提交这个任务。"));
}

void JobsPage::removeSelected()
{
    const int row = selectedRow();
    if (!Remove->isEnabled() || row < 0)
        return;
    const JobEntry job = History->jobs().at(row);
    if (!MessageBoxes::askYesNo(
            this, QStringLiteral("删除任务"),
            QStringLiteral("删除保留在本机的任务“%1”吗？删除后无法恢复。").arg(job.Document)))
        return;
    if (!RemoveAction(job.Folder))
        MessageBoxes::showInformation(this, QStringLiteral("错误"),
                                      QStringLiteral("现在无法删除这个任务。"));
}
