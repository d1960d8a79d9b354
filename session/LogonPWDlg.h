#pragma once

#include "Background.h"
#include "LogonAttempt.h"
#include "LogonScheduler.h"

#include <QDialog>
#include <QTimer>

class OrixUser;
namespace Ui
{
class LogonPWDlg;
}

// The logon dialog: server, user name, password and the logon options. It
// writes the user's choices into the session, runs the session's logon off
// the GUI thread (its buttons are disabled meanwhile), reports a refusal and
// closes itself (accept) once the user is logged on. Cancel only minimises
// it.
//
// After an automatic logon that could not reach the server, the dialog can
// keep trying in the background with what the session already holds
// (StartReconnect) and closes itself as soon as the server answers. A user
// who clicks the logon button takes over: background attempts stop, and a
// click during one waits for its end.
//
// Every logon it starts is cleared with the logon scheduler first (the
// window's, see SetScheduler): a click is a manual logon and starts at once;
// the silent logon and the background attempts are automatic and wait as
// long as the scheduler says after a failure.
class LogonPWDlg : public QDialog
{
    Q_OBJECT

public:
    explicit LogonPWDlg(QWidget* parent = nullptr);
    ~LogonPWDlg() override;

    // Fills the form from the session (not owned).
    void SetUser(OrixUser* user);
    // The scheduler that clears its logons (not owned; it must outlive the
    // dialog or be replaced). Null: a scheduler of the dialog's own.
    void SetScheduler(LogonScheduler* scheduler);

    // One logon attempt with what the form holds. With interactive false no
    // result message is shown (the two validation messages are shown
    // either way; an exception is left to the caller to report, see
    // GetLastOutcome). Returns the logon's result (0 = logged on), or the
    // previous result when the form was refused before a logon was tried,
    // another logon is running or (not interactive) the scheduler's wait
    // after a failure is not over. Never throws.
    int Logon(bool interactive);

    // Result of the last logon attempt; non-zero until one succeeded.
    int GetLastResult() const { return LastResult; }
    // How the last attempt ended (Failed with result -1 before any attempt).
    const LogonOutcome& GetLastOutcome() const { return LastOutcome; }

    // Tries the logon again in the background, each time the scheduler's
    // wait after the last failure is over, while the server cannot be
    // reached. Stops on success (the dialog accepts), on a refusal or any
    // other failure, and when the user starts a logon.
    void StartReconnect();
    // Stops trying; an attempt still running is waited for (events keep
    // flowing) and its success still counts.
    void StopReconnect();
    bool isLogonRunning() const { return Busy || AttemptRunning; }

    // The first show puts on the background picture, which gives the
    // dialog its size and shape.
    void setVisible(bool visible) override;

    // Drops the repeats of a held Return or Enter key: one press, one logon.
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    // Escape and the window's close button are ignored while a logon runs.
    void reject() override;

private slots:
    void on_Logon_clicked();
    void on_Cacel_clicked();
    void on_checkBoxAutomaticLog_stateChanged(int state);
    void on_lineEditPassword_textChanged(const QString& text);
    void on_lineEditPassword_editingFinished();
    void on_comboBoxUserName_currentTextChanged(const QString& text);
    void on_LogonPWDlg_rejected();

private:
    void applyBackground();
    void applyStyles();
    void setBusy(bool busy);
    void reconnectAttempt();
    void scheduleReconnect();
    void reconnectFinished(const LogonOutcome& outcome);

    Ui::LogonPWDlg* Ui;
    OrixUser* User;
    int LastResult;
    LogonOutcome LastOutcome;
    bool PasswordTyped;
    int PasswordChanges;

    bool Busy = false;           // the dialog's own logon runs
    bool AttemptRunning = false; // a background attempt runs
    bool ClickWaiting = false;   // the user clicked during a background attempt
    bool Reconnecting = false;
    bool BackgroundApplied = false;
    unsigned long EnterReleasedAt = 0; // time stamp of the last Return or Enter release
    QTimer ReconnectTimer;
    LogonScheduler OwnScheduler;
    LogonScheduler* Scheduler = &OwnScheduler;
    Background::TaskGroup Attempts; // last member: waits for its work before the rest goes
};
