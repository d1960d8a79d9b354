#include "PrintSettingDlg.h"
#include "ui_PrintSettingDlg.h"

#include "Background.h"
#include "ChoiceMemory.h"
#include "DComLayerWS.h"
#include "EventLog.h"
#include "FramelessWindow.h"
#include "JobHistory.h"
#include "MessageBoxes.h"
#include "OrixUser.h"
#include "TavAuditFlow.h"
#include "TavCommon.h"
#include "TavQuotaRequest.h"
#include "TextUtil.h"

#include <QBitmap>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

namespace
{

const char kButtonStyle[] =
    "QPushButton{border-image:url(:/background/images/button.png);"
    "color:rgb(255,255,255);}"
    "QPushButton:hover{border-image:url(:/background/images/button_on.png);}"
    "QPushButton:pressed{border-image:url(:/background/images/"
    "button_down.png);}";

// Runs an exchange with the server; false when it failed: RpcFailure, or
// whatever else a library throws (logged with the operation).
template <typename Exchange> bool exchanged(const char* operation, Exchange&& exchange)
{
    try {
        exchange();
        return true;
    } catch (const RpcFailure&) {
        return false;
    } catch (const std::exception&) {
        LogException(operation, std::current_exception());
        return false;
    }
}

// Rows at the bottom of the background picture (rounded corners, border)
// that stay at the bottom whatever the dialog's height.
constexpr int kBottomRows = 16;

// The background picture for a dialog of size: the picture's top, its
// bottom rows at the bottom, and its last body row repeated in between
// should the dialog be taller than the picture.
QPixmap fitBackground(const QPixmap& picture, const QSize& size)
{
    if (picture.isNull() || size == picture.size() || size.isEmpty())
        return picture;
    const int w = size.width();
    const int h = size.height();
    const int pictureHeight = picture.height();
    const int bottom = std::min({kBottomRows, h, pictureHeight});
    const int top = h - bottom;
    const int fromPicture = std::min(top, pictureHeight - bottom);
    QPixmap out(w, h);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.drawPixmap(0, 0, picture, 0, 0, w, fromPicture);
    if (fromPicture < top)
        p.drawPixmap(QRect(0, fromPicture, w, top - fromPicture), picture,
                     QRect(0, pictureHeight - bottom - 1, w, 1));
    p.drawPixmap(0, top, picture, 0, pictureHeight - bottom, w, bottom);
    return out;
}

// The bytes of the document sent so far, written by the uploading thread
// and read by the GUI thread's timer.
struct UploadProgressState {
    std::atomic<unsigned long long> Sent{0};
    std::atomic<unsigned long long> Total{0};
};

} // namespace

PrintSettingDlg::PrintSettingDlg(QWidget* parent) : QDialog(parent), Ui(new ::Ui::PrintSettingDlg)
{
    Ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    enableFramelessDrag(this);
    Background.load(QStringLiteral(":/background/images/printbackground.png"));
    if (!Background.isNull())
        resize(Background.size());
    centreOnScreen(this);
    applyStyles();

    Layout.AuditWidth = Ui->groupBoxAuditSetting->width();
    Layout.AuditHeight = Ui->groupBoxAuditSetting->height();
    Layout.SecretWidth = Ui->groupBoxSecretlevelSelect->width();
    Layout.SecretHeight = Ui->groupBoxSecretlevelSelect->height();
    Layout.DialogWidth = width();
    Layout.DialogHeight = height();
    Layout.ProjectWidth = Ui->groupBoxProjectSetting->width();
    Layout.ProjectHeight = Ui->groupBoxProjectSetting->height();
    Layout.RowHeight = Ui->comboBoxAuditor2->y() - Ui->comboBoxAuditor1->y();
}

PrintSettingDlg::~PrintSettingDlg()
{
    delete Ui;
}

void PrintSettingDlg::applyStyles()
{
    Ui->groupBoxPrinterSelect->setStyleSheet(QStringLiteral("QGroupBox{border-color:red;}"));
    const QString combo = QString::fromLatin1(kComboStyle);
    for (QComboBox* box : findChildren<QComboBox*>())
        box->setStyleSheet(combo);
    Ui->lineEditOtherPurpose->setStyleSheet(QString::fromLatin1(kLineEditStyle));
    const QString button = QString::fromLatin1(kButtonStyle);
    Ui->Btn_OK_Print->setStyleSheet(button);
    Ui->Btn_Cancel_Print->setStyleSheet(button);
    QFile qss(QStringLiteral(":/background/Qss.qss"));
    if (qss.open(QIODevice::ReadOnly))
        Ui->CheckProjectPrint->setStyleSheet(QString::fromUtf8(qss.readAll()));
}

void PrintSettingDlg::setUser(OrixUser* user)
{
    User = user;
}

void PrintSettingDlg::setJob(const CapturedJob& job)
{
    Job = job;
}

int PrintSettingDlg::displayDialog()
{
    if (!User)
        return 0;
    Remembered = ChoiceMemory().recall(
        memoryServer(), QString::fromUtf8(BoundedText(User->UserName, sizeof User->UserName)));
    if (InitPrintsList() == 0)
        return 0;
    const int project = IniProjectNameCtrl();
    if (project == 0)
        return 0;
    InitSecretLevelList();
    InitPurpose();
    Ui->comboBoxAuditPath->setEnabled(false);
    Ui->comboBoxAuditLevel->setEnabled(false);
    Ui->comboBoxAuditPath->addItem(QStringLiteral("行政审批"));
    preselectRemembered();
    return project;
}

QString PrintSettingDlg::memoryServer() const
{
    return QString::fromUtf8(BoundedText(User->ServerAddress, sizeof User->ServerAddress)) +
           QLatin1Char(':') +
           QString::fromUtf8(BoundedText(User->ServerPort, sizeof User->ServerPort));
}

void PrintSettingDlg::preselectRemembered()
{
    const RememberedChoice& last = Remembered;
    if (last.isEmpty())
        return;
    const auto texts = [](const QComboBox* box) {
        QStringList items;
        for (int i = 0; i < box->count(); ++i)
            items << box->itemText(i);
        return items;
    };
    QComboBox* printers = Ui->comboBoxPrintersList;
    if (printers->isEnabled())
        printers->setCurrentIndex(
            PreferredIndex(texts(printers), last.Printer, printers->currentIndex()));
    Ui->comboBoxUseTo->setCurrentIndex(
        PreferredIndex(texts(Ui->comboBoxUseTo), last.Purpose, Ui->comboBoxUseTo->currentIndex()));
    if (last.HasProject)
        for (int i = 0;
             User->Payers && i < User->PayerCount && i < Ui->comboBoxProjectName->count(); ++i)
            if (User->Payers[i].PayerID == last.ProjectId) {
                Ui->comboBoxProjectName->setCurrentIndex(i);
                break;
            }
}

void PrintSettingDlg::rememberChoices(const JobChoice& choice)
{
    // Auditors of levels this job did not need stay as they were.
    RememberedChoice made = Remembered;
    made.Printer = choice.PrinterText;
    made.Purpose = Ui->comboBoxUseTo->currentText();
    for (int i = 0; i < 3 && i < Chosen.Count; ++i)
        made.Auditors[i] = Chosen.IDs[i];
    // The project list's choice, whether or not this job is charged to it:
    // the check box decides for one job only.
    if (choice.ProjectIndex >= 0 && User->Payers && choice.ProjectIndex < User->PayerCount) {
        made.HasProject = true;
        made.ProjectId = User->Payers[choice.ProjectIndex].PayerID;
    }
    ChoiceMemory().remember(memoryServer(),
                            QString::fromUtf8(BoundedText(User->UserName, sizeof User->UserName)),
                            made);
}

int PrintSettingDlg::InitPrintsList()
{
    // The query waits on the server: the window keeps serving events.
    void* block = nullptr;
    if (!exchanged("printer list", [this, &block] {
            Background::RunResponsive(
                [this, &block] { return User->GetPrinterList(User->UserName, &block); });
        })) {
        // The server said nothing about printers. The job stays with the
        // monitor, which offers it again.
        Result = SubmitResult::Failed;
        MessageBoxes::showInformation(this, QStringLiteral("错误"),
                                      QStringLiteral("无法连接服务器！\n") +
                                          QString::fromUtf8(kKeptJobNote));
        return 0;
    }
    if (!block) {
        MessageBoxes::showInformation(this, QStringLiteral("错误"),
                                      QStringLiteral("用户没有可以使用的打印机"));
        return 0;
    }
    const PrinterListReply reply =
        ParsePrinterList(static_cast<const char*>(block), PrinterListBlockLength(block));
    SysFreeString(block);

    const PrinterChoices choices = BuildPrinterChoices(reply, User->PrintWay);
    Ui->comboBoxPrintersList->clear();
    Ui->comboBoxPrintersList->addItems(choices.Items);
    Ui->comboBoxPrintersList->setEnabled(choices.Enabled);
    return 1;
}

int PrintSettingDlg::IniProjectNameCtrl()
{
    if (!User->IsSupportProject) {
        Ui->groupBoxProjectSetting->hide();
        Ui->CheckProjectPrint->hide();
    } else {
        Ui->CheckProjectPrint->setChecked(true);
        const bool utf8 = User->rpc() && User->rpc()->UsesUtf8Strings();
        for (int i = 0; User->Payers && i < User->PayerCount; ++i)
            Ui->comboBoxProjectName->addItem(PayerDisplayName(User->Payers[i], utf8));
    }
    if (User->IsSupportCostControl)
        Ui->CheckProjectPrint->hide();
    if (User->PayerCount == 0 && User->PayerType == kPayerProject) {
        MessageBoxes::showInformation(this, QStringLiteral("错误"),
                                      QStringLiteral("用户未配置项目名称,请配置好再提交作业"));
        return 0;
    }
    return 1;
}

void PrintSettingDlg::InitSecretLevelList()
{
    Ui->comboBoxSecretLevel->clear();
    const QStringList items =
        SecretLevelItems(User->UserInfoEx, sizeof User->UserInfoEx, User->SecretLevel);
    // Adding the first item selects it, which shows its auditors.
    for (const QString& item : items)
        Ui->comboBoxSecretLevel->addItem(item);
    if (items.isEmpty())
        ShowOneSecret(nullptr);
}

void PrintSettingDlg::InitPurpose()
{
    Ui->comboBoxUseTo->clear();
    Ui->comboBoxUseTo->addItems(QStringLiteral("不归还;归还").split(';'));
    QLineEdit* other = Ui->lineEditOtherPurpose;
    if (other->isHidden())
        return;
    other->hide();
    QGroupBox* secret = Ui->groupBoxSecretlevelSelect;
    secret->resize(secret->width(), secret->height() - Layout.RowHeight);
    for (QWidget* w : std::initializer_list<QWidget*>{
             Ui->groupBoxAuditSetting, Ui->groupBoxProjectSetting, Ui->CheckProjectPrint,
             Ui->Btn_OK_Print, Ui->Btn_Cancel_Print})
        w->move(w->x(), w->y() - other->height());
}

void PrintSettingDlg::on_comboBoxSecretLevel_currentIndexChanged(int)
{
    ShowAuditorsBySecretLevel();
}

void PrintSettingDlg::ShowAuditorsBySecretLevel()
{
    const int index = Ui->comboBoxSecretLevel->currentIndex();
    if (index == -1 || !User)
        return;
    ShowOneSecret(SecretAt(User->AuditFlow, index));
}

void PrintSettingDlg::ShowOneSecret(const TavSecret* secret)
{
    QComboBox* const lists[3] = {Ui->comboBoxAuditor1, Ui->comboBoxAuditor2, Ui->comboBoxAuditor3};
    QLabel* const labels[3] = {Ui->labelAuditor1, Ui->labelAuditor2, Ui->labelAuditor3};
    Ui->comboBoxAuditLevel->clear();
    for (int i = 0; i < 3; ++i) {
        lists[i]->show();
        labels[i]->show();
        lists[i]->clear();
    }

    const int levels = secret ? secret->AuditLevel : 0;
    const AuditRows rows = AuditRowsFor(levels);
    if (rows.LevelData > 0)
        Ui->comboBoxAuditLevel->addItem(rows.LevelText, rows.LevelData);
    else
        Ui->comboBoxAuditLevel->addItem(rows.LevelText);
    for (int i = 0; i < 3; ++i) {
        if (i < rows.AuditorLists) {
            if (secret->Auditors)
                ShowAuditor(lists[i], secret->Auditors[i]);
            // The auditor last chosen at this level, while the list offers him.
            const int remembered =
                Remembered.Auditors[i] > 0 ? lists[i]->findData(Remembered.Auditors[i]) : -1;
            if (remembered >= 0)
                lists[i]->setCurrentIndex(remembered);
        } else {
            lists[i]->hide();
            labels[i]->hide();
        }
    }
    ResizeDialog(levels);
}

void PrintSettingDlg::ShowAuditor(QComboBox* list, const TavAuditorArray& auditors)
{
    for (int i = 0; auditors.Entries && i < auditors.Count; ++i) {
        const TavAuditor& entry = auditors.Entries[i];
        list->addItem(QString::fromUtf8(BoundedText(entry.AuditorName, sizeof entry.AuditorName)),
                      entry.AuditorID);
    }
}

void PrintSettingDlg::ResizeDialog(int levels)
{
    // The rows below follow the project group as it is shown: also under
    // cost control, where the project list is shown without the check box.
    const bool projectShown = !Ui->groupBoxProjectSetting->isHidden();
    applyPlacement(PlaceForLevels(Layout, levels, Ui->groupBoxAuditSetting->y(), projectShown,
                                  !Ui->CheckProjectPrint->isHidden()),
                   projectShown);
}

void PrintSettingDlg::applyPlacement(const SettingPlacement& p, bool projectShown)
{
    QGroupBox* audit = Ui->groupBoxAuditSetting;
    audit->resize(audit->width(), p.AuditHeight);
    if (projectShown)
        Ui->groupBoxProjectSetting->move(Ui->groupBoxProjectSetting->x(), p.ProjectTop);
    Ui->CheckProjectPrint->move(Ui->CheckProjectPrint->x(), p.CheckTop);
    Ui->Btn_OK_Print->move(Ui->Btn_OK_Print->x(), p.ButtonsTop);
    Ui->Btn_Cancel_Print->move(Ui->Btn_Cancel_Print->x(), p.ButtonsTop);
    resize(width(), p.DialogHeight);
}

void PrintSettingDlg::on_CheckProjectPrint_clicked()
{
    // For this job only: the next dialog starts from the server's setting.
    const bool checked = Ui->CheckProjectPrint->isChecked();
    QGroupBox* audit = Ui->groupBoxAuditSetting;
    QGroupBox* project = Ui->groupBoxProjectSetting;
    const SettingPlacement p = PlaceForProject(checked, audit->y() + audit->height(), project->y(),
                                               project->height(), audit->height(), height());
    project->setVisible(checked);
    applyPlacement(p, checked);
}

void PrintSettingDlg::GetSelectedAuditors()
{
    const int selected[3] = {Ui->comboBoxAuditor1->currentIndex(),
                             Ui->comboBoxAuditor2->currentIndex(),
                             Ui->comboBoxAuditor3->currentIndex()};
    Chosen =
        User ? ChooseAuditors(User->AuditFlow, Ui->comboBoxSecretLevel->currentIndex(), selected)
             : ChosenAuditors();
}

int PrintSettingDlg::FillTaskInfo(_TAV_PRINT_TASK_INFO_& task)
{
    GetSelectedAuditors();
    return FillTaskRecord(task, User ? User->UserName : "", Chosen,
                          Ui->comboBoxSecretLevel->currentText(), Ui->comboBoxUseTo->currentText());
}

void PrintSettingDlg::on_Btn_OK_Print_clicked()
{
    if (!User || Submitting)
        return;
    CapturedJob job = Job;
    if (FillTaskInfo(job.Task) == 1) {
        MessageBoxes::showInformation(this, QStringLiteral("错误"),
                                      QStringLiteral("审批人不能为空！"));
        return;
    }
    JobChoice choice;
    choice.PrinterIndex = Ui->comboBoxPrintersList->currentIndex();
    choice.PrinterText = Ui->comboBoxPrintersList->currentText();
    choice.ProjectIndex = Ui->comboBoxProjectName->currentIndex();
    choice.Project = User->IsSupportProject && Ui->CheckProjectPrint->isChecked();
    rememberChoices(choice);
    if (!exchanged("print job submission", [this, &job, &choice] {
            FillCapturedJob(job, *User, choice);
            Result = submitJob(job) == 1 ? SubmitResult::Submitted : SubmitResult::Refused;
            if (Result == SubmitResult::Submitted)
                recordJob(job, JobState::Submitted);
        })) {
        // The job's folder stays with the monitor, which offers it again.
        Result = SubmitResult::Failed;
        recordJob(job, JobState::Kept);
        MessageBoxes::showInformation(this, QStringLiteral("错误"),
                                      QStringLiteral("提交作业失败\n") +
                                          QString::fromUtf8(kKeptJobNote));
    }
    accept();
}

void PrintSettingDlg::recordJob(const CapturedJob& job, JobState state)
{
    JobHistory* history = JobHistory::current();
    if (!history)
        return;
    const MobilePrintTaskInfo& r = job.Record;
    JobEntry entry;
    entry.Document = GBK2UTF8(BoundedText(r.DocName, sizeof r.DocName).constData());
    entry.Pages = r.PageCount;
    entry.Copies = r.Copies;
    entry.Printer = GBK2UTF8(BoundedText(r.PrinterName, sizeof r.PrinterName).constData());
    entry.State = state;
    entry.Folder = job.Folder;
    history->record(entry);
}

void PrintSettingDlg::on_Btn_Cancel_Print_clicked()
{
    reject();
}

void PrintSettingDlg::reject()
{
    // Escape or a close request while the job is being sent waits for it.
    if (!Submitting)
        QDialog::reject();
}

int PrintSettingDlg::submitJob(const CapturedJob& job)
{
    auto state = std::make_shared<UploadProgressState>();
    CDComLayerWS* rpc = User->rpc();
    if (rpc)
        rpc->SetUploadProgress([state](unsigned long long sent, unsigned long long total) {
            state->Sent = sent;
            state->Total = total;
        });

    // Shown when the upload takes a moment: the blocks sent so far.
    QProgressDialog progress(this);
    progress.setWindowTitle(QStringLiteral("请等待"));
    progress.setLabelText(QStringLiteral("正在提交作业......"));
    progress.setCancelButton(nullptr);
    progress.setRange(0, 100);
    progress.setMinimumDuration(0);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setWindowModality(Qt::NonModal);
    progress.cancel(); // hidden until the timer shows it
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick;
    connect(&tick, &QTimer::timeout, &progress, [&progress, &elapsed, state] {
        if (elapsed.elapsed() < 300)
            return;
        if (progress.isHidden())
            progress.show();
        const unsigned long long total = state->Total;
        const unsigned long long sent = std::min<unsigned long long>(state->Sent, total);
        if (total > 0) {
            progress.setValue(static_cast<int>(sent * 100 / total));
            progress.setLabelText(QStringLiteral("正在提交作业......\n已发送 %1 KB / %2 KB")
                                      .arg((sent + 1023) / 1024)
                                      .arg((total + 1023) / 1024));
        }
    });
    tick.start(100);

    // Nothing in the dialog changes while the job is sent: neither the
    // buttons nor the check box.
    Submitting = true;
    Ui->Btn_OK_Print->setEnabled(false);
    Ui->Btn_Cancel_Print->setEnabled(false);
    Ui->CheckProjectPrint->setEnabled(false);
    struct Restore {
        PrintSettingDlg* Dialog;
        CDComLayerWS* Rpc;
        ~Restore()
        {
            if (Rpc)
                Rpc->SetUploadProgress({});
            Dialog->Submitting = false;
            Dialog->Ui->Btn_OK_Print->setEnabled(true);
            Dialog->Ui->Btn_Cancel_Print->setEnabled(true);
            Dialog->Ui->CheckProjectPrint->setEnabled(true);
        }
    } restore{this, rpc};
    // The upload works on its own copies of the record, the path and the
    // payer.
    MobilePrintTaskInfo record = job.Record;
    char path[sizeof User->DocumentPath];
    CopyUtf8Text(path, sizeof path, job.Document.toUtf8().constData());
    const JobPayer payer = job.Payer;
    return Background::RunResponsive(
        [this, &record, &path, &payer] { return User->SaveMobileJob(record, path, payer); });
}

void PrintSettingDlg::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    const QPixmap picture = fitBackground(Background, size());
    if (picture.isNull())
        return;
    const QBitmap mask = picture.mask();
    if (!mask.isNull())
        setMask(mask);
    QPalette pal = palette();
    pal.setBrush(QPalette::Window, QBrush(picture));
    setPalette(pal);
    setAutoFillBackground(true);
}
