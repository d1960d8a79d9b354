#pragma once

#include <QDialog>

class OrixUser;
namespace Ui
{
class ServerMsgDlg;
}

// The pop-up of one server notice in the bottom-right corner of the screen.
// It closes itself after three seconds, except for a request for approval,
// which stays until the user clicks it; that click opens the approval page
// of the web portal. It never takes the keyboard from the window the user
// types in: a tool window shown without being activated, still clickable.
class ServerMsgDlg : public QDialog
{
    Q_OBJECT

public:
    explicit ServerMsgDlg(QWidget* parent = nullptr);
    ~ServerMsgDlg() override;

    // Time a notice stays on the screen unless it asks for approval.
    static constexpr int kShowMilliseconds = 3000;

    // Shows a notice for the session user, with headline (UTF-8), through
    // the client's NoticeCenter: a desktop notification where the desktop
    // has a notification server, else a pop-up on its own (no parent,
    // deleted when it closes), which is returned.
    static ServerMsgDlg* ShowNotice(OrixUser* user, const char* headline);

    void SetUser(OrixUser* user);
    // Shows the headline (UTF-8), moves to the corner and, unless the notice
    // is to remain, starts the closing timer.
    void SetMsg(const char* text);

    bool IsRemainShowMsg() const;
    // The notice asks the user for an approval.
    bool IsDocNeedToAuditMsg() const;

public slots:
    void handlelabelclicked();

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    Ui::ServerMsgDlg* Ui;
    OrixUser* User;
    int TimerId;
};
