#include "MobileJobParamDlg.h"
#include "ui_MobileJobParamDlg.h"

#include "FileDialogs.h"
#include "FramelessWindow.h"
#include "MessageBoxes.h"
#include "OrixUser.h"
#include "PdfPages.h"
#include "TavAuditFlow.h"
#include "TavCommon.h"
#include "TextUtil.h"

#include <QFile>
#include <QFileInfo>
#include <QPixmap>

#include <cstring>
#include <memory>

namespace
{

template <size_t N> void copyUtf8(char (&field)[N], const QString& text)
{
    CopyUtf8Text(field, N, text.toUtf8().constData());
}

char firstCharacter(const QVariant& data)
{
    const QByteArray text = data.toString().toLatin1();
    return text.isEmpty() ? '\0' : text.at(0);
}

} // namespace

void FillMobileTask(MobilePrintTaskInfo& job, const OrixUser& user, const MobileJobChoice& choice)
{
    memset(&job, 0, sizeof job);
    CopyUtf8Text(job.JobFileName, sizeof job.JobFileName, user.ComputerName);
    job.Copies = choice.Copies;
    job.ColorMode = choice.ColorMode;
    job.DuplexMode = choice.DuplexMode;
    job.Orientation = choice.Orientation;
    CopyUtf8Text(job.IPAddress, sizeof job.IPAddress, user.IPAddress);
    CopyUtf8Text(job.MacAddress, sizeof job.MacAddress, user.MacAddress);
    copyUtf8(job.PaperSize, choice.PaperSize);
    copyUtf8(job.SecretLevel, choice.SecretLevel);
    copyUtf8(job.Purpose, choice.Purpose);
    copyUtf8(job.DocName, choice.DocName);
    copyUtf8(job.PageRange, choice.PageRange);
    CopyUtf8Text(job.UserFullName, sizeof job.UserFullName, user.FullName);
    job.UserID = user.UserId;
    CopyUtf8Text(job.UserName, sizeof job.UserName, user.UserName);
    CopyText(job.DocType, sizeof job.DocType, "doc");
    job.AuditorCount = choice.AuditorCount;
    for (int level = 0; level < choice.AuditorCount && level < RequestChoices::kMaxAuditLevels;
         ++level)
        job.AuditorIDs[level] = choice.AuditorIDs[level];
    job.PageCount = 1;
}

int32_t MobileJobPageCount(const char* path)
{
    return GetPdfPageCount(path);
}

MobileJobParamDlg::MobileJobParamDlg(QWidget* parent)
    : QDialog(parent), Ui(new ::Ui::MobileJobParamDlg)
{
    Ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    enableFramelessDrag(this);
    applyShapedBackground(this, QPixmap(QStringLiteral(":/background/images/PrintParams.png")));
    centreOnScreen(this);
}

MobileJobParamDlg::~MobileJobParamDlg()
{
    delete Ui;
}

void MobileJobParamDlg::SetUser(OrixUser* user)
{
    User = user;
    SetDefaultAuditPath();
    SetDefaultJobParams();
    SetDefaultSecretLevelParams();
    SetDefaultDocPurpose();
}

void MobileJobParamDlg::SetDefaultAuditPath()
{
    Ui->comboBoxAuditPath->addItem(QStringLiteral("行政审批"));
    Ui->comboBoxAuditPath->setEnabled(false);
}

void MobileJobParamDlg::SetDefaultJobParams()
{
    FilePath.clear();
    Ui->lineEditDocName->setText(FilePath);
    Ui->lineEditPageRange->setText(QStringLiteral("-1"));
    Ui->lineEditCopies->setText(QStringLiteral("1"));
    Ui->comboBoxOrientation->addItem(QStringLiteral("纵向"), QStringLiteral("P"));
    Ui->comboBoxOrientation->addItem(QStringLiteral("横向"), QStringLiteral("L"));
    Ui->comboBoxColor->addItem(QStringLiteral("黑白"), QStringLiteral("M"));
    Ui->comboBoxColor->addItem(QStringLiteral("彩色"), QStringLiteral("C"));
    Ui->comboBoxDuplex->addItem(QStringLiteral("单面"), QStringLiteral("S"));
    Ui->comboBoxDuplex->addItem(QStringLiteral("双面"), QStringLiteral("D"));
    for (const char* size : {"A4", "A3", "B4", "B5"})
        Ui->comboBoxPaperSize->addItem(QLatin1String(size), QLatin1String(size));
}

void MobileJobParamDlg::SetDefaultSecretLevelParams()
{
    if (!User)
        return;
    const QList<TavSecret>& secrets = User->AuditFlow.Secrets;
    for (int i = 0; i < secrets.size(); ++i) {
        const TavSecret& secret = secrets.at(i);
        Ui->comboBoxSecretLevel->addItem(
            QString::fromUtf8(BoundedText(secret.SecretLevelName, sizeof secret.SecretLevelName)),
            i);
    }
    ShowAuditorsBySecretLevel();
}

void MobileJobParamDlg::SetDefaultDocPurpose()
{
    if (!User)
        return;
    for (const TavPurpose& purpose : User->AuditFlow.Purposes)
        Ui->comboBoxPurpose->addItem(
            QString::fromUtf8(BoundedText(purpose.Name, sizeof purpose.Name)));
}

void MobileJobParamDlg::on_comboBoxSecretLevel_currentIndexChanged(int)
{
    ShowAuditorsBySecretLevel();
}

void MobileJobParamDlg::ShowAuditorsBySecretLevel()
{
    if (!User || Ui->comboBoxSecretLevel->currentIndex() < 0)
        return;
    QList<TavSecret>& secrets = User->AuditFlow.Secrets;
    const int index = Ui->comboBoxSecretLevel->currentData().toInt();
    if (index >= 0 && index < secrets.size())
        ShowOneSecret(secrets[index]);
}

void MobileJobParamDlg::setAuditorRowsEnabled(int fromLevel, bool enabled)
{
    QComboBox* boxes[] = {Ui->comboBoxAuditor1, Ui->comboBoxAuditor2, Ui->comboBoxAuditor3};
    QWidget* labels[] = {Ui->labelAuditor1, Ui->labelAuditor2, Ui->labelAuditor3};
    for (int level = fromLevel; level < RequestChoices::kMaxAuditLevels; ++level) {
        boxes[level]->setEnabled(enabled);
        labels[level]->setEnabled(enabled);
    }
}

void MobileJobParamDlg::ShowOneSecret(TavSecret& secret)
{
    QComboBox* boxes[] = {Ui->comboBoxAuditor1, Ui->comboBoxAuditor2, Ui->comboBoxAuditor3};
    Ui->comboBoxAuditLevel->setEnabled(true);
    setAuditorRowsEnabled(0, true);
    Ui->comboBoxAuditLevel->clear();
    for (QComboBox* box : boxes)
        box->clear();

    static const char* const kLevelNames[] = {"一级审批", "二级审批", "三级审批"};
    const int level = secret.AuditLevel < 1 ? 0
                      : secret.AuditLevel > RequestChoices::kMaxAuditLevels
                          ? RequestChoices::kMaxAuditLevels
                          : static_cast<int>(secret.AuditLevel);
    if (level == 0) {
        Ui->comboBoxAuditLevel->addItem(QStringLiteral("无需审批"));
    } else {
        for (int i = 0; i < level && secret.Auditors; ++i)
            ShowAuditor(boxes[i], secret.Auditors[i]);
        Ui->comboBoxAuditLevel->addItem(QString::fromUtf8(kLevelNames[level - 1]), level);
    }
    setAuditorRowsEnabled(level, false);
    Ui->comboBoxAuditLevel->setEnabled(false);
}

void MobileJobParamDlg::ShowAuditor(QComboBox* box, TavAuditorArray auditors)
{
    if (auditors.Count < 1 || !auditors.Entries)
        return;
    for (int i = 0; i < auditors.Count; ++i) {
        const TavAuditor& auditor = auditors.Entries[i];
        box->addItem(
            QString::fromUtf8(BoundedText(auditor.AuditorName, sizeof auditor.AuditorName)),
            auditor.AuditorID);
    }
}

void MobileJobParamDlg::on_btnBrowse_clicked()
{
    // Cancelling the file dialog clears the choice.
    FilePath = FileDialogs::openFileName(this, tr("选择打印文件"), QStringLiteral("."), tr("*"));
    Ui->lineEditDocName->setText(QFileInfo(FilePath).fileName());
}

int MobileJobParamDlg::ParamsIsValid()
{
    if (!User || FilePath.isEmpty())
        return 0;
    // A path that does not fit the session's field is refused rather than
    // cut: a cut path would name another file.
    const QByteArray path = QFile::encodeName(FilePath);
    if (path.size() >= static_cast<int>(sizeof User->DocumentPath))
        return 0;

    QComboBox* boxes[] = {Ui->comboBoxAuditor1, Ui->comboBoxAuditor2, Ui->comboBoxAuditor3};
    MobileJobChoice choice;
    choice.AuditorCount = Ui->comboBoxAuditLevel->currentData().toInt();
    for (int level = 0; level < choice.AuditorCount && level < RequestChoices::kMaxAuditLevels;
         ++level)
        choice.AuditorIDs[level] = boxes[level]->currentData().toInt();
    choice.Copies = RequestChoices::DecimalValue(Ui->lineEditCopies->text());
    choice.ColorMode = firstCharacter(Ui->comboBoxColor->currentData());
    choice.DuplexMode = firstCharacter(Ui->comboBoxDuplex->currentData());
    choice.Orientation = firstCharacter(Ui->comboBoxOrientation->currentData());
    choice.PaperSize = Ui->comboBoxPaperSize->currentText();
    choice.SecretLevel = Ui->comboBoxSecretLevel->currentText();
    choice.Purpose = Ui->comboBoxPurpose->currentText();
    choice.DocName = Ui->lineEditDocName->text();
    choice.PageRange = Ui->lineEditPageRange->text();

    CopyText(User->DocumentPath, sizeof User->DocumentPath, path.constData());
    FillMobileTask(User->MobileTaskInfo, *User, choice);
    return 1;
}

void MobileJobParamDlg::on_btnOK_clicked()
{
    if (ParamsIsValid() == 0) {
        MessageBoxes::showInformation(nullptr, QStringLiteral("错误"),
                                      QStringLiteral("打印参数错误，请重新选择！"));
        return;
    }
    accept();
}

void MobileJobParamDlg::on_btnCancel_clicked()
{
    reject();
}

// --- the session's part ------------------------------------------------------------------

bool OrixUser::GetMobileJobParam()
{
    std::unique_ptr<MobileJobParamDlg> dialog(new MobileJobParamDlg(nullptr));
    dialog->SetUser(this);
    return dialog->exec() == QDialog::Accepted;
}
