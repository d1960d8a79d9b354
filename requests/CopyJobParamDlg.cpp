#include "CopyJobParamDlg.h"
#include "ui_CopyJobParamDlg.h"

#include "MessageBoxes.h"
#include "OrixUser.h"

#include <QShowEvent>

#include <cstring>

CopyJobParamDlg::CopyJobParamDlg(QWidget* parent) : QDialog(parent), Ui(new ::Ui::CopyJobParamDlg)
{
    Ui->setupUi(this);
    Rows = {Ui->cbAuditLevel,
            {Ui->labelAuditor1, Ui->labelAuditor2, Ui->labelAuditor3},
            {Ui->cbAuditor1, Ui->cbAuditor2, Ui->cbAuditor3}};
    Ui->lineEditPages->setText(QStringLiteral("1"));
    Ui->lineEditCopies->setText(QStringLiteral("1"));
    Ui->cbOrient->addItems({QStringLiteral("纵向"), QStringLiteral("横向")});
    Ui->cbColor->addItems({QStringLiteral("黑白"), QStringLiteral("彩色")});
    Rows.init();
    Ui->lineEditOtherPurpose->hide();
    BuiltSize = size();
    BuiltAuditGroupSize = Ui->groupAuditSetting->size();
}

CopyJobParamDlg::~CopyJobParamDlg()
{
    delete Ui;
}

void CopyJobParamDlg::showEvent(QShowEvent* event)
{
    // The lists are filled when the dialog comes up, not again when the
    // window system shows it once more (after a minimise).
    if (!event->spontaneous() && User) {
        RequestChoices::FillSecretLevels(Ui->cbSecretLevel, *User);
        Ui->cbUseTo->clear();
        RequestChoices::FillPurposes(Ui->cbUseTo, User->Config.PurposeList);
        restoreChoices();
    }
    QDialog::showEvent(event);
}

void CopyJobParamDlg::restoreChoices()
{
    if (!Restore)
        return;
    const Choices c = *Restore;
    Restore.reset();
    auto pick = [](QComboBox* box, int index) {
        if (index >= 0 && index < box->count())
            box->setCurrentIndex(index);
    };
    Ui->lineEditDocName->setText(c.DocName);
    Ui->lineEditPages->setText(c.Pages);
    Ui->lineEditCopies->setText(c.Copies);
    pick(Ui->cbColor, c.Color);
    pick(Ui->cbOrient, c.Orientation);
    pick(Ui->cbSecretLevel, c.SecretLevel); // refills the auditor rows
    for (int level = 0; level < RequestChoices::kMaxAuditLevels; ++level)
        pick(Rows.Auditors[level], c.Auditors[level]);
    pick(Ui->cbUseTo, c.Purpose);
    Ui->lineEditOtherPurpose->setText(c.OtherPurpose);
}

CopyJobParamDlg::Choices CopyJobParamDlg::choices() const
{
    Choices c;
    c.DocName = Ui->lineEditDocName->text();
    c.Pages = Ui->lineEditPages->text();
    c.Copies = Ui->lineEditCopies->text();
    c.Color = Ui->cbColor->currentIndex();
    c.Orientation = Ui->cbOrient->currentIndex();
    c.SecretLevel = Ui->cbSecretLevel->currentIndex();
    for (int level = 0; level < RequestChoices::kMaxAuditLevels; ++level)
        c.Auditors[level] = Rows.Auditors[level]->currentIndex();
    c.Purpose = Ui->cbUseTo->currentIndex();
    c.OtherPurpose = Ui->lineEditOtherPurpose->text();
    return c;
}

void CopyJobParamDlg::on_cbSecretLevel_currentIndexChanged(int index)
{
    if (index < 0 || !User)
        return;
    const RequestChoices::AuditOptions options = RequestChoices::AuditOptionsFor(
        User->AuditFlow, Ui->cbSecretLevel->itemData(index).toInt());
    Rows.show(options);
    ResizeDialog(options.Level);
}

void CopyJobParamDlg::on_cbUseTo_currentIndexChanged(int index)
{
    const int count = Ui->cbUseTo->count();
    if (count < 2)
        return;
    // The free text is kept while the line edit is hidden.
    Ui->lineEditOtherPurpose->setVisible(index == count - 1);
}

void CopyJobParamDlg::ResizeDialog(int level)
{
    const int step = Ui->cbAuditor2->y() - Ui->cbAuditor1->y();
    const int missing = (RequestChoices::kMaxAuditLevels - level) * step;
    const int buttonsY = Ui->groupAuditSetting->y() + (level + 1) * step + 50;
    Ui->btnOK->move(Ui->btnOK->x(), buttonsY);
    Ui->btnCancel->move(Ui->btnCancel->x(), buttonsY);
    Ui->groupAuditSetting->resize(BuiltAuditGroupSize.width(),
                                  BuiltAuditGroupSize.height() - missing);
    resize(BuiltSize.width(), BuiltSize.height() - missing);
}

int CopyJobParamDlg::GetTaskFromUI()
{
    if (Ui->lineEditDocName->text().isEmpty()) {
        MessageBoxes::showInformation(nullptr, QStringLiteral("警告"),
                                      QStringLiteral("请输入文档名称。"));
        return -1;
    }
    if (!Task || !User)
        return -1;

    const RequestChoices::CommonChoice choice =
        RequestChoices::Chosen({Ui->lineEditDocName, Ui->cbSecretLevel, Ui->cbUseTo,
                                Ui->lineEditOtherPurpose, Ui->lineEditCopies},
                               Rows);
    RequestChoices::FillCommonFields(*Task, *User, choice);

    Task->ColorMode = Ui->cbColor->currentIndex() == 1 ? 'C' : 'M';
    Task->Orientation = Ui->cbOrient->currentIndex() == 1 ? 'L' : 'P';
    Task->DuplexMode = 'S';
    Task->JobState = kCopyJobState;
    Task->PageCount = RequestChoices::DecimalValue(Ui->lineEditPages->text());
    CopyText(Task->PaperSize, sizeof Task->PaperSize, "A4");
    return 0;
}

void CopyJobParamDlg::on_btnOK_clicked()
{
    if (GetTaskFromUI() == 0)
        accept();
}

void CopyJobParamDlg::on_btnCancel_clicked()
{
    reject();
}
