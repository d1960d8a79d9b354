#include "CDTaskDlg.h"
#include "ui_CDTaskDlg.h"

#include "CDTaskRules.h"
#include "DComLayerWS.h"
#include "FileDialogs.h"
#include "MessageBoxes.h"
#include "OrixUser.h"

#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QShowEvent>
#include <QStandardItemModel>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <utility>

CDTaskDlg::CDTaskDlg(QWidget* parent) : QDialog(parent), Ui(new ::Ui::CDTaskDlg)
{
    Ui->setupUi(this);
    Rows = {Ui->cbAuditLevel,
            {Ui->labelAuditor1, Ui->labelAuditor2, Ui->labelAuditor3},
            {Ui->cbAuditor1, Ui->cbAuditor2, Ui->cbAuditor3}};
    Ui->lineEditCopies->setText(QStringLiteral("1"));
    Rows.init();
    Ui->lineEditOtherPurpose->hide();
    Ui->cbCDType->addItems({QStringLiteral("CD"), QStringLiteral("DVD"), QStringLiteral("BDVD")});
    Ui->labelProgress->hide();
    Ui->progressBar->hide();
    Ui->btnPause->hide();
    Ui->lineEditTotalBytes->setReadOnly(true);
    Ui->lineEditPassword->setMaxLength(CDTaskRules::kMaxPasswordLength);

    // The file table: one row per file, its absolute path and its size.
    Files = new QStandardItemModel(0, 2, Ui->treeViewFiles);
    Files->setHorizontalHeaderLabels({QStringLiteral("文件"), QStringLiteral("大小(字节)")});
    Ui->treeViewFiles->setModel(Files);
    Ui->treeViewFiles->setRootIsDecorated(false);
    Ui->treeViewFiles->header()->setStretchLastSection(false);
    Ui->treeViewFiles->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    Ui->treeViewFiles->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);

    connect(this, &CDTaskDlg::processSignal, this, &CDTaskDlg::processSlot);
}

CDTaskDlg::~CDTaskDlg()
{
    // The worker reports through this dialog: it goes first.
    StopWorker();
    delete Ui;
}

void CDTaskDlg::SetUser(OrixUser* user)
{
    User = user;
    if (user && !HasBlockSender()) {
        SetBlockSender([user](int blockType, int size, void* data, char* storedName) {
            return user->rpc()->SaveCDJobByBlock(blockType, size, data, storedName);
        });
    }
}

void CDTaskDlg::showEvent(QShowEvent* event)
{
    // The lists are filled when the dialog comes up, not again when the
    // window system shows it once more (after a minimise).
    if (!event->spontaneous() && User) {
        RequestChoices::FillSecretLevels(Ui->cbSecretLevel, *User);
        Ui->cbUseTo->clear();
        RequestChoices::FillPurposes(Ui->cbUseTo, User->Config.PurposeList);
        Ui->progressBar->setRange(0, 100);
        Ui->progressBar->setValue(0);
        const bool password = User->Config.CdPassword != 0;
        Ui->labelPassword->setVisible(password);
        Ui->lineEditPassword->setVisible(password);
        if (!password)
            Ui->lineEditPassword->clear();
    }
    QDialog::showEvent(event);
}

void CDTaskDlg::on_cbSecretLevel_currentIndexChanged(int index)
{
    if (index < 0 || !User)
        return;
    Rows.show(RequestChoices::AuditOptionsFor(User->AuditFlow,
                                              Ui->cbSecretLevel->itemData(index).toInt()));
}

void CDTaskDlg::on_cbUseTo_currentIndexChanged(int index)
{
    const int count = Ui->cbUseTo->count();
    if (count < 2)
        return;
    // The free text is kept while the line edit is hidden.
    Ui->lineEditOtherPurpose->setVisible(index == count - 1);
}

// --- the file table --------------------------------------------------------------------

void CDTaskDlg::on_btnAddFile_clicked()
{
    const QString path =
        FileDialogs::openFileName(this, QStringLiteral("add file"), QStringLiteral("."), QString());
    if (!path.isEmpty())
        AddFileIntoTree(path);
}

void CDTaskDlg::on_btnAddFolder_clicked()
{
    const QString folder =
        FileDialogs::existingDirectory(this, QStringLiteral("add folder"), QStringLiteral("."));
    if (!folder.isEmpty())
        AddFolderIntoTree(folder);
}

int CDTaskDlg::AddFileIntoTree(QString path)
{
    const qint64 size = QFileInfo(path).size();
    SelectedTotal += size;
    showTotal();
    Files->appendRow({new QStandardItem(path), new QStandardItem(QString::number(size))});
    return 0;
}

int CDTaskDlg::AddFolderIntoTree(QString folder)
{
    // Hidden entries count; links (to files or folders) do not, so the
    // walk never leaves the folder or runs in a circle.
    const QFileInfoList entries = QDir(folder).entryInfoList(
        QDir::Dirs | QDir::Files | QDir::NoSymLinks | QDir::Hidden | QDir::NoDotAndDotDot,
        QDir::Unsorted);
    for (const QFileInfo& entry : entries) {
        if (entry.isDir())
            AddFolderIntoTree(entry.absoluteFilePath());
        else
            AddFileIntoTree(entry.absoluteFilePath());
    }
    return 0;
}

void CDTaskDlg::on_btnDelete_clicked()
{
    const QModelIndex current = Ui->treeViewFiles->currentIndex();
    if (!current.isValid())
        return;
    const int row = current.row();
    const qint64 size = Files->item(row, 1)->text().toLongLong();
    Files->removeRow(row);
    SelectedTotal -= size;
    showTotal();
}

void CDTaskDlg::showTotal()
{
    Ui->lineEditTotalBytes->setText(CDTaskRules::MegabyteText(SelectedTotal));
}

// --- submission ------------------------------------------------------------------------

int CDTaskDlg::GetTaskFromUI()
{
    auto warn = [](const QString& text) {
        MessageBoxes::showInformation(nullptr, QStringLiteral("警告"), text);
        return -1;
    };
    if (Files->rowCount() == 0)
        return warn(QStringLiteral("请选择要刻录的文件。"));
    if (Ui->lineEditDocName->text().isEmpty())
        return warn(QStringLiteral("请输入文档名称。"));
    const int discType = Ui->cbCDType->currentIndex() + 1;
    if (CDTaskRules::ExceedsCapacity(discType, SelectedTotal))
        return warn(QStringLiteral("文件大小超过光盘类型的容量，请重新选择。"));
    if (!Task || !User)
        return -1;

    const RequestChoices::CommonChoice choice =
        RequestChoices::Chosen({Ui->lineEditDocName, Ui->cbSecretLevel, Ui->cbUseTo,
                                Ui->lineEditOtherPurpose, Ui->lineEditCopies},
                               Rows);
    // A submission made again after a failed one leaves nothing of the
    // earlier choices (auditors of a higher level) in the record.
    memset(Task, 0, sizeof *Task);
    RequestChoices::FillCommonFields(*Task, *User, choice);
    Task->TotalSize = static_cast<uint32_t>(static_cast<quint64>(SelectedTotal));
    Task->DiscType = discType;
    return 0;
}

void CDTaskDlg::on_btnOK_clicked()
{
    if (Processing || State() != kIdle)
        return; // one submission at a time
    if (GetTaskFromUI() != 0)
        return;

    Job job;
    QStringList paths;
    for (int row = 0; row < Files->rowCount(); ++row)
        paths << Files->item(row, 0)->text();
    job.FileList = CDTaskRules::FileList(paths);
    job.Options = CDTaskRules::OptionText(Ui->lineEditPassword->text());
    job.PasswordProtected = !job.Options.isEmpty();
    job.SelectedTotal = SelectedTotal;
    job.Record = *Task;

    Ui->labelProgress->show();
    Ui->progressBar->show();
    Ui->progressBar->setValue(0);
    Ui->btnPause->show();
    Ui->btnPause->setText(QStringLiteral("暂停"));
    FailureShown = false;
    PendingNotice = 0;
    if (!StartProcessing(std::move(job)))
        return;
    Processing = true;
    setChoicesEnabled(false);
}

void CDTaskDlg::setChoicesEnabled(bool enabled)
{
    // What the running submission was made from stays as it is.
    for (QWidget* widget :
         {static_cast<QWidget*>(Ui->btnOK), static_cast<QWidget*>(Ui->btnAddFile),
          static_cast<QWidget*>(Ui->btnAddFolder), static_cast<QWidget*>(Ui->btnDelete),
          static_cast<QWidget*>(Ui->cbCDType), static_cast<QWidget*>(Ui->lineEditPassword)})
        widget->setEnabled(enabled);
}

// --- reports of the worker -------------------------------------------------------------

void CDTaskDlg::Report(int value)
{
    emit processSignal(value); // queued to the GUI thread
}

void CDTaskDlg::StageText(const QString& text)
{
    QMetaObject::invokeMethod(
        this, [this, text] { Ui->labelProgress->setText(text); }, Qt::QueuedConnection);
}

void CDTaskDlg::processSlot(int value)
{
    printf("processSlot %d\n", value);
    if (value == kCompletionNotice || value == kStoppedNotice) {
        // The end waits until the box in front of the dialog is answered.
        if (OpenBoxes > 0)
            PendingNotice = value;
        else
            endProcessing(value);
        return;
    }
    if (value >= 0 && value <= 100) {
        Ui->progressBar->setValue(value);
        return;
    }
    if (value > 0)
        return;
    FailureShown = true;
    ++OpenBoxes;
    MessageBoxes::showWarning(
        this, QStringLiteral("Error"),
        QStringLiteral("处理刻录作业错误:%1,%2").arg(value).arg(QString::fromUtf8(LastError())));
    boxClosed();
}

void CDTaskDlg::boxClosed()
{
    if (--OpenBoxes == 0 && PendingNotice)
        endProcessing(std::exchange(PendingNotice, 0));
}

void CDTaskDlg::endProcessing(int notice)
{
    Processing = false;
    if (notice == kStoppedNotice) {
        // A failed compression or encryption stage: the choices can be
        // changed and OK starts again.
        EndCompletion(); // the state is idle already; joins the worker
        setChoicesEnabled(true);
        return;
    }
    // The upload is over: the request went through only when it was
    // neither cancelled nor failed.
    const bool cancelled = EndCompletion();
    if (cancelled || FailureShown)
        QDialog::reject();
    else
        QDialog::accept();
}

// --- pause, continue, cancel -----------------------------------------------------------

void CDTaskDlg::on_btnPause_clicked()
{
    const int state = TogglePause();
    if (state == kPaused)
        Ui->btnPause->setText(QStringLiteral("继续"));
    else if (state == kRunning)
        Ui->btnPause->setText(QStringLiteral("暂停"));
    else
        return;
    // The button rests for a moment, so a double click does not undo
    // itself before the work has seen it.
    Ui->btnPause->setEnabled(false);
    QTimer::singleShot(Interval(), Ui->btnPause,
                       [button = Ui->btnPause] { button->setEnabled(true); });
}

void CDTaskDlg::on_btnCancel_clicked()
{
    requestClose();
}

void CDTaskDlg::reject()
{
    requestClose();
}

void CDTaskDlg::requestClose()
{
    const int state = State();
    if (state == kRunning || state == kPaused) {
        ++OpenBoxes;
        const bool confirmed = MessageBoxes::askOkCancel(
            this, QStringLiteral("警告"), QStringLiteral("作业正在处理中，确定取消？"));
        // The work may have ended meanwhile; then there is nothing to cancel.
        if (confirmed)
            Cancel();
        boxClosed();
        return;
    }
    // Cancelled, or the worker's end is on its way: the dialog closes then.
    if (Processing)
        return;
    QDialog::reject();
}
