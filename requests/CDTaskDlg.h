#pragma once

#include "CDTaskInfo.h"
#include "CDTaskProcessing.h"
#include "RequestChoices.h"

#include <QDialog>
#include <QString>

class OrixUser;
class QStandardItemModel;

namespace Ui
{
class CDTaskDlg;
}

// The disc-burning request dialog: files and folders to burn (a flat table,
// one row per file, with the total in megabytes), disc type, document
// name, copies, secret level (with its approval levels and auditors),
// purpose and, where the configuration allows it, a password for the
// archive. OK checks the choices, fills the request record and starts the
// worker (CDTaskProcessing), whose stage and progress the dialog then
// shows, with Pause/Continue and Cancel. It closes when the upload stage
// is over: accepted when the request went through, rejected when it was
// cancelled or failed. After a failed compression or encryption stage it
// stays open, and OK starts again.
//
// While the worker runs, a close request (Escape, the window's close
// button) is a Cancel: it asks first, and the dialog stays open until the
// worker has stopped. The worker is joined before the dialog goes.
//
// The opener hands it the record and the session before exec (neither
// owned; the worker works on copies of what it needs from them).
class CDTaskDlg : public QDialog, public CDTaskProcessing
{
    Q_OBJECT

public:
    explicit CDTaskDlg(QWidget* parent = nullptr);
    ~CDTaskDlg() override;

    void SetTask(CDTaskInfo* task) { Task = task; }
    // Also makes the session's RPC client the upload's block sender, unless
    // one was set before.
    void SetUser(OrixUser* user);

    // 0 when the choices are valid and the record is filled; -1 after a
    // warning, the record unchanged.
    int GetTaskFromUI();
    int AddFileIntoTree(QString path);
    int AddFolderIntoTree(QString folder);
    // The dialog keeps its size whatever the audit level.
    void ResizeDialog(int level) { Q_UNUSED(level) }

    // The selected total in bytes (64-bit).
    qint64 selectedTotal() const { return SelectedTotal; }

public slots:
    void reject() override;

signals:
    void processSignal(int value);

private slots:
    void on_cbSecretLevel_currentIndexChanged(int index);
    void on_cbUseTo_currentIndexChanged(int index);
    void on_btnOK_clicked();
    void on_btnCancel_clicked();
    void on_btnAddFile_clicked();
    void on_btnAddFolder_clicked();
    void on_btnDelete_clicked();
    void processSlot(int value);
    void on_btnPause_clicked();

protected:
    void showEvent(QShowEvent* event) override;
    void Report(int value) override;
    void StageText(const QString& text) override;

private:
    void showTotal();
    void setChoicesEnabled(bool enabled);
    // Cancel, Escape and the close button: rejects when nothing runs, asks
    // to cancel a running submission, waits for one that is stopping.
    void requestClose();
    void endProcessing(int notice);
    // After a box of this dialog: an end notice held back meanwhile.
    void boxClosed();

    Ui::CDTaskDlg* Ui;
    RequestChoices::AuditRows Rows;
    QStandardItemModel* Files;
    CDTaskInfo* Task = nullptr;
    OrixUser* User = nullptr;
    qint64 SelectedTotal = 0;

    // GUI side of a submission: from OK until the worker's last notice.
    bool Processing = false;
    bool FailureShown = false; // a failure code came in this submission
    int OpenBoxes = 0;         // boxes of this dialog open in front of it
    int PendingNotice = 0;     // an end notice that came while a box was open
};
