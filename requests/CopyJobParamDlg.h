#pragma once

#include "CopyTaskInfo.h"
#include "RequestChoices.h"

#include <QDialog>
#include <QSize>
#include <QString>
#include <optional>

class OrixUser;

namespace Ui
{
class CopyJobParamDlg;
}

// The copy request dialog: document name, pages of one copy, copies, colour,
// orientation, secret level (with its approval levels and auditors) and
// purpose. OK with a document name fills the copy request record and
// accepts; without one it warns and stays open. The opener hands it the
// record and the session before exec (neither owned).
class CopyJobParamDlg : public QDialog
{
    Q_OBJECT

public:
    // What the user entered, as the widgets hold it: enough to open the
    // dialog again as it was (after a request that could not be sent).
    struct Choices {
        QString DocName;
        QString Pages;
        QString Copies;
        int Color = 0;
        int Orientation = 0;
        int SecretLevel = 0;
        int Auditors[RequestChoices::kMaxAuditLevels] = {0, 0, 0};
        int Purpose = 0;
        QString OtherPurpose;
    };

    explicit CopyJobParamDlg(QWidget* parent = nullptr);
    ~CopyJobParamDlg() override;

    void SetTask(CopyTaskInfo* task) { Task = task; }
    void SetUser(OrixUser* user) { User = user; }

    // Choices to restore once the lists are filled when the dialog shows;
    // an entry that no longer exists keeps the default.
    void SetChoices(const Choices& choices) { Restore = choices; }
    Choices choices() const;

    // 0 when a document name is given and the record is filled; -1 after
    // the warning, the record unchanged.
    int GetTaskFromUI();

    // Fits the dialog to the auditor rows of an audit level (0 to 3).
    void ResizeDialog(int level);

private slots:
    void on_btnOK_clicked();
    void on_btnCancel_clicked();
    void on_cbSecretLevel_currentIndexChanged(int index);
    void on_cbUseTo_currentIndexChanged(int index);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void restoreChoices();

    Ui::CopyJobParamDlg* Ui;
    RequestChoices::AuditRows Rows;
    CopyTaskInfo* Task = nullptr;
    OrixUser* User = nullptr;
    std::optional<Choices> Restore;
    // Sizes as built: the dialog's and the audit group's.
    QSize BuiltSize;
    QSize BuiltAuditGroupSize;
};
