#pragma once

#include "RequestChoices.h"
#include "TaskRecords.h"

#include <QDialog>
#include <QString>
#include <cstdint>

class OrixUser;
class QComboBox;
struct TavAuditorArray;
struct TavSecret;

namespace Ui
{
class MobileJobParamDlg;
}

// What the user chose for a mobile print job.
struct MobileJobChoice {
    QString DocName;
    QString PageRange;
    QString SecretLevel;
    QString Purpose;
    QString PaperSize;
    int32_t Copies = 0;
    char Orientation = 'P';
    char ColorMode = 'M';
    char DuplexMode = 'S';
    int32_t AuditorCount = 0;
    int32_t AuditorIDs[RequestChoices::kMaxAuditLevels] = {0, 0, 0};
};

// Fills the mobile print task record from the session and the choice. The
// record is cleared first, so nothing of an earlier job (its printer, its
// pages) stays in it. Every text goes in as UTF-8 (only a captured job's
// record carries GB18030 names; the server tells the two by DocType, "doc"
// here) and is cut at a character so that it ends with its NUL inside its
// field. The page count starts at 1: the
// submission replaces it with the pages of the document.
void FillMobileTask(MobilePrintTaskInfo& job, const OrixUser& user, const MobileJobChoice& choice);

// Pages of one copy of a mobile job's document: the pages of a PDF, 1 for
// any other file (and for a PDF that cannot be read).
int32_t MobileJobPageCount(const char* path);

// The mobile print job dialog: the user picks a local file and describes
// the job (document name, orientation, colour, duplex, paper, copies, page
// range, secret level with its auditors, purpose). OK with a chosen file
// writes the session's print task record and document path and accepts;
// OK without one tells the user and stays open. Frameless, shaped by its
// background picture and dragged with the left mouse button.
class MobileJobParamDlg : public QDialog
{
    Q_OBJECT

public:
    explicit MobileJobParamDlg(QWidget* parent = nullptr);
    ~MobileJobParamDlg() override;

    // Takes the session (not owned) and fills the lists from it.
    void SetUser(OrixUser* user);

    // The audit display: the rows of the current secret level.
    void ShowAuditorsBySecretLevel();
    void ShowOneSecret(TavSecret& secret);
    void ShowAuditor(QComboBox* box, TavAuditorArray auditors);

    // 1 when a file is chosen and the record and document path are written,
    // 0 (nothing written) otherwise.
    int ParamsIsValid();

private slots:
    void on_btnOK_clicked();
    void on_btnCancel_clicked();
    void on_btnBrowse_clicked();
    void on_comboBoxSecretLevel_currentIndexChanged(int index);

private:
    void SetDefaultAuditPath();
    void SetDefaultJobParams();
    void SetDefaultSecretLevelParams();
    void SetDefaultDocPurpose();
    void setAuditorRowsEnabled(int fromLevel, bool enabled);

    Ui::MobileJobParamDlg* Ui;
    OrixUser* User = nullptr;
    QString FilePath;
};
