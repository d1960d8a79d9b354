#pragma once

#include "FramelessWindow.h"

#include <QDialog>

class OrixUser;
namespace Ui
{
class LogonPWDlg;
}

// The logon dialog: server, user name, password and the logon options. It
// writes the user's choices into the session, runs the session's logon,
// reports a refusal and closes itself (accept) once the user is logged on.
// Cancel only minimises it.
class LogonPWDlg : public QDialog
{
    Q_OBJECT

public:
    explicit LogonPWDlg(QWidget* parent = nullptr);
    ~LogonPWDlg() override;

    // Fills the form from the session (not owned).
    void SetUser(OrixUser* user);

    // One logon attempt with what the form holds. With interactive false no
    // result message is shown (the two validation messages are shown
    // either way). Returns the logon's result (0 = logged on), or the
    // previous result when the form was refused before a logon was tried.
    // Exceptions of the RPC layer pass through to the caller.
    int Logon(bool interactive);

    // Result of the last logon attempt; non-zero until one succeeded.
    int GetLastResult() const { return LastResult; }

private slots:
    void on_Logon_clicked();
    void on_Cacel_clicked();
    void on_checkBoxAutomaticLog_stateChanged(int state);
    void on_lineEditPassword_textChanged(const QString& text);
    void on_lineEditPassword_editingFinished();
    void on_comboBoxUserName_currentTextChanged(const QString& text);
    void on_LogonPWDlg_rejected();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void applyBackground();
    void applyStyles();

    Ui::LogonPWDlg* Ui;
    OrixUser* User;
    int LastResult;
    bool PasswordTyped;
    int PasswordChanges;
    FramelessDrag Drag;
};
