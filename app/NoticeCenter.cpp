#include "NoticeCenter.h"

#include "AppIcons.h"
#include "DesktopNotifications.h"
#include "OrixUser.h"
#include "ServerMsgDlg.h"
#include "ServerNotice.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>

namespace
{

const char kApprovalPage[] = "AuditorPrintProcTask";

} // namespace

NoticeCenter::NoticeCenter(DesktopNotifications* notifications, QObject* parent)
    : QObject(parent), Notifications(notifications)
{
    // 64 pixels, times the screen's scale: taken from the hicolor set.
    Notifications->setImage(AppIcons::application().pixmap(64).toImage());
    connect(Notifications, &DesktopNotifications::serverChanged, this,
            &NoticeCenter::serverChanged);
    connect(Notifications, &DesktopNotifications::closed, this, &NoticeCenter::notificationGone);
    connect(Notifications, &DesktopNotifications::failed, this, &NoticeCenter::notificationFailed);
    connect(Notifications, &DesktopNotifications::actionInvoked, this,
            &NoticeCenter::actionInvoked);
}

NoticeCenter::~NoticeCenter()
{
    // Nothing of ours stays up with nobody left to act on it.
    const QList<Notice> notices = Notices;
    Notices.clear();
    for (const Notice& notice : notices) {
        if (notice.handle && Notifications)
            Notifications->close(notice.handle);
        if (notice.popUp)
            notice.popUp->close();
    }
}

NoticeCenter* NoticeCenter::instance()
{
    static QPointer<NoticeCenter> center;
    if (!center) {
        center = new NoticeCenter(DesktopNotifications::instance(), QCoreApplication::instance());
        OrixUser::SetNoticeShower(
            [](OrixUser* user, const char* headline) { ServerMsgDlg::ShowNotice(user, headline); });
    }
    return center;
}

// The pop-up's own entry to the notices: defined here, with the routing it
// enters, so that the pop-up needs nothing of the routing.
ServerMsgDlg* ServerMsgDlg::ShowNotice(OrixUser* user, const char* headline)
{
    return NoticeCenter::instance()->show(user, QString::fromUtf8(headline ? headline : ""));
}

ServerMsgDlg* NoticeCenter::show(OrixUser* user, const QString& headline)
{
    Notice notice;
    notice.user = user;
    notice.headline = headline;
    notice.approval = ServerNotice::IsApprovalRequest(headline);
    // Where no server answered, it is asked again first.
    if (Notifications)
        Notifications->askAgain();
    if (Notifications && Notifications->server() == DesktopNotifications::Server::Asking) {
        if (Waiting.size() >= kMostOnScreen)
            Waiting.removeAt(victim(Waiting));
        Waiting.append(notice);
        return nullptr;
    }
    return place(notice);
}

void NoticeCenter::forgetUser(OrixUser* user)
{
    for (QList<Notice>* notices : {&Notices, &Waiting})
        for (Notice& notice : *notices)
            if (notice.user == user) {
                notice.user = nullptr;
                if (notice.popUp)
                    notice.popUp->SetUser(nullptr);
            }
}

int NoticeCenter::victim(const QList<Notice>& notices) const
{
    for (int i = 0; i < notices.size(); ++i)
        if (!notices[i].approval)
            return i;
    return 0;
}

quint32 NoticeCenter::makeRoom(bool replaceable)
{
    if (Notices.size() < kMostOnScreen)
        return 0;
    const Notice old = Notices.takeAt(victim(Notices));
    if (old.handle && replaceable)
        return old.handle;
    if (old.handle && Notifications)
        Notifications->close(old.handle);
    if (old.popUp)
        old.popUp->close();
    return 0;
}

ServerMsgDlg* NoticeCenter::place(Notice notice)
{
    if (Notifications && Notifications->server() == DesktopNotifications::Server::Present) {
        DesktopNotifications::Message message;
        message.summary = QStringLiteral("消息提示");
        message.body = notice.headline;
        if (notice.approval) {
            message.actionLabel = QStringLiteral("查看");
            message.timeoutMs = 0;
        } else {
            message.timeoutMs = ServerMsgDlg::kShowMilliseconds;
        }
        notice.handle = Notifications->show(message, makeRoom(true));
        if (notice.handle) {
            Notices.append(notice);
            return nullptr;
        }
    }
    return openPopUp(notice);
}

ServerMsgDlg* NoticeCenter::openPopUp(Notice notice)
{
    makeRoom(false);
    ServerMsgDlg* dialog = new ServerMsgDlg(nullptr);
    dialog->setModal(false);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->SetUser(notice.user);
    dialog->SetMsg(notice.headline.toUtf8().constData());
    connect(dialog, &QDialog::finished, this, &NoticeCenter::popUpGone);
    connect(dialog, &QObject::destroyed, this, &NoticeCenter::popUpGone);
    notice.handle = 0;
    notice.popUp = dialog;
    Notices.append(notice);
    stackPopUps();
    dialog->show();
    return dialog;
}

void NoticeCenter::stackPopUps()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    int bottom = area.y() + area.height();
    for (int i = Notices.size() - 1; i >= 0; --i) {
        ServerMsgDlg* popUp = Notices[i].popUp;
        if (!popUp)
            continue;
        bottom -= popUp->height();
        popUp->move(area.x() + area.width() - popUp->width(), bottom);
    }
}

void NoticeCenter::popUpGone()
{
    const int before = Notices.size();
    for (int i = Notices.size() - 1; i >= 0; --i) {
        const Notice& notice = Notices[i];
        if (!notice.handle && (!notice.popUp || !notice.popUp->isVisible()))
            Notices.removeAt(i);
    }
    if (Notices.size() != before)
        stackPopUps();
}

void NoticeCenter::serverChanged()
{
    if (!Notifications || Notifications->server() == DesktopNotifications::Server::Asking)
        return;
    const QList<Notice> waiting = Waiting;
    Waiting.clear();
    for (const Notice& notice : waiting)
        place(notice);
}

void NoticeCenter::notificationGone(quint32 handle)
{
    for (int i = 0; i < Notices.size(); ++i)
        if (Notices[i].handle == handle) {
            Notices.removeAt(i);
            return;
        }
}

void NoticeCenter::notificationFailed(quint32 handle)
{
    // The server did not take it: the notice comes as a pop-up.
    for (int i = 0; i < Notices.size(); ++i)
        if (Notices[i].handle == handle) {
            openPopUp(Notices.takeAt(i));
            return;
        }
}

void NoticeCenter::actionInvoked(quint32 handle)
{
    for (int i = 0; i < Notices.size(); ++i) {
        if (Notices[i].handle != handle)
            continue;
        const Notice notice = Notices[i];
        if (notice.approval && notice.user)
            notice.user->LogWebSite(kApprovalPage);
        if (Notifications)
            Notifications->close(handle);
        return;
    }
}
