#pragma once

#include "CapturedJob.h"
#include "ChoiceMemory.h"
#include "JobHistory.h"
#include "PrintSettingModel.h"

#include <QDialog>
#include <QPixmap>
#include <QString>

class OrixUser;
class QComboBox;
struct TavAuditorArray;
struct TavSecret;
struct _TAV_PRINT_TASK_INFO_;

namespace Ui
{
class PrintSettingDlg;
}

// The settings dialog shown for every captured print job: printer (or
// card-swipe release), secret level, purpose, one auditor per approval level
// and, where the server bills projects, the project. On "确定" it fills the
// task records and submits the job; "取消" drops it. The monitor creates
// one per job, gives it the job (setJob), prepares it with displayDialog and
// runs it modally.
class PrintSettingDlg : public QDialog
{
    Q_OBJECT

public:
    // What the dialog did with the job.
    enum class SubmitResult {
        NotSubmitted, // cancelled (or never confirmed)
        Submitted,    // handed to the server
        Refused,      // the quota check refused it (the user was told)
        Failed,       // the server could not be reached or the submission failed (told)
    };

    explicit PrintSettingDlg(QWidget* parent = nullptr);
    ~PrintSettingDlg() override;

    void setUser(OrixUser* user);
    // The job the dialog is for: its folder, document and options file.
    void setJob(const CapturedJob& job);

    // Fills every list. 0 when the dialog must not be shown (no printer for
    // the user, project billing without a project, or no printer list
    // because the server could not be reached, which makes submitResult()
    // Failed: the user has been told), else non-zero.
    int displayDialog();

    // The dialog's record from the current choices; 1 when an auditor is
    // missing, else 0.
    int FillTaskInfo(_TAV_PRINT_TASK_INFO_& task);
    void GetSelectedAuditors();

    SubmitResult submitResult() const { return Result; }

public slots:
    // Ignored while the job is being sent.
    void reject() override;

private slots:
    void on_comboBoxSecretLevel_currentIndexChanged(int index);
    void on_Btn_OK_Print_clicked();
    void on_Btn_Cancel_Print_clicked();
    void on_CheckProjectPrint_clicked();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int InitPrintsList();
    int IniProjectNameCtrl();
    void InitSecretLevelList();
    void InitPurpose();
    void ShowAuditorsBySecretLevel();
    void ShowOneSecret(const TavSecret* secret);
    void ShowAuditor(QComboBox* list, const TavAuditorArray& auditors);
    void ResizeDialog(int levels);
    void applyStyles();
    void applyPlacement(const SettingPlacement& placement, bool projectShown);
    // The choices remembered for this server and user, preselected where
    // the lists still offer them; and remembered again on confirmation.
    void preselectRemembered();
    void rememberChoices(const JobChoice& choice);
    QString memoryServer() const;
    // The job into the user's list of recent jobs (sent, or kept after a
    // failed upload).
    void recordJob(const CapturedJob& job, JobState state);
    // Runs the submission of job off the GUI thread with a progress dialog
    // of the bytes sent; the session's result (1 handed over, 0 refused).
    int submitJob(const CapturedJob& job);

    Ui::PrintSettingDlg* Ui;
    ChosenAuditors Chosen;
    SettingLayout Layout;
    OrixUser* User = nullptr;
    CapturedJob Job;
    RememberedChoice Remembered; // for this server and user, read by displayDialog
    bool Submitting = false;
    SubmitResult Result = SubmitResult::NotSubmitted;
    QPixmap Background;
};
