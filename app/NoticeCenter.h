#pragma once

#include "DesktopNotifications.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class OrixUser;
class ServerMsgDlg;

// Where the server's notices reach the user, and how many at once.
//
// Where the desktop's notification server answers, each notice is a desktop
// notification: the headline with the client's icon; a request for approval
// carries the action "查看", which opens the approval page with the user
// logged on (as a click on the pop-up does), and stays until the user acts,
// while other notices expire after three seconds. Where no server answers,
// the notice is the corner pop-up (ServerMsgDlg): the newest in the corner,
// older ones stacked above it. While the server is being asked (at start,
// when another program takes its name, and for each notice while none
// answered: a server started on demand may have gone when it was idle),
// notices wait for its answer.
//
// However fast notices come, at most kMostOnScreen are up at once: a new one
// takes the place of the oldest that is not a request for approval (of the
// oldest when all are), replacing it in place where it is a desktop
// notification.
class NoticeCenter : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMostOnScreen = 3;

    explicit NoticeCenter(DesktopNotifications* notifications, QObject* parent = nullptr);
    ~NoticeCenter() override;

    // The client's: on the desktop's notification server of the session bus.
    static NoticeCenter* instance();

    // Shows a notice for user; headline is UTF-8 text from the server. The
    // pop-up when the notice became one at once, else null.
    ServerMsgDlg* show(OrixUser* user, const QString& headline);

    // The session goes: the notices up or waiting for it stay, without their
    // action.
    void forgetUser(OrixUser* user);

    // Notices up (desktop notifications and pop-ups) and waiting.
    int onScreen() const { return int(Notices.size()); }
    int waiting() const { return int(Waiting.size()); }

private:
    struct Notice {
        OrixUser* user = nullptr;
        QString headline;
        bool approval = false;
        quint32 handle = 0;           // as a desktop notification
        QPointer<ServerMsgDlg> popUp; // as a pop-up
    };

    ServerMsgDlg* place(Notice notice);
    ServerMsgDlg* openPopUp(Notice notice);
    // Takes the notice whose place a new one gets out of the list (when the
    // list is full); the handle of a desktop notification to replace, or 0.
    quint32 makeRoom(bool replaceable);
    int victim(const QList<Notice>& notices) const;
    void serverChanged();
    void notificationGone(quint32 handle);
    void notificationFailed(quint32 handle);
    void actionInvoked(quint32 handle);
    void popUpGone();
    void stackPopUps();

    QPointer<DesktopNotifications> Notifications;
    QList<Notice> Notices; // on screen, oldest first
    QList<Notice> Waiting; // until the server has answered
};
