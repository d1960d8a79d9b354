#pragma once

#include <QAbstractButton>
#include <QAction>
#include <QObject>
#include <QString>

class QMenu;
class QToolBox;
class QWidget;

// The controls of the requests (mobile print job, copy request, disc
// request): a button on the main window's request page and an entry in the
// tray menu for each. The configuration's UIHide bits decide which are
// offered: bit 0 removes the request page, and with it every request;
// bit 1 the copy request; bit 2 the disc request. A request that is not
// offered has neither its button nor its tray entry. The controls work
// only while the user is online and while no request is under way.
class RequestEntries : public QObject
{
    Q_OBJECT

public:
    enum Request { MobilePrint, Copy, Disc, RequestCount };

    // Whether the UIHide mask offers request.
    static bool IsOffered(Request request, int uiHide);

    // page is the tool box's request page; the tray entries go into menu
    // in front of before, followed by a separator of their own.
    RequestEntries(QToolBox* toolBox, QWidget* page, QMenu* menu, QAction* before,
                   QObject* parent = nullptr);

    // Makes button and a tray entry with the button's text the controls of
    // request; both call slot on receiver.
    template <typename Receiver, typename Slot>
    void add(Request request, QAbstractButton* button, Receiver* receiver, Slot slot)
    {
        QAction* entry = addEntry(request, button);
        connect(button, &QAbstractButton::clicked, receiver, slot);
        connect(entry, &QAction::triggered, receiver, slot);
    }

    // The UIHide mask in force (applied when the user goes online).
    void apply(int uiHide);
    void setOnline(bool online);
    // Set while a request runs: its controls and the others wait.
    void setBusy(bool busy);

    // The tray entry of request; null until it is added.
    QAction* entry(Request request) const { return Entries[request].Action; }

private:
    QAction* addEntry(Request request, QAbstractButton* button);
    void refresh();

    struct Controls {
        QAbstractButton* Button = nullptr;
        QAction* Action = nullptr;
    };

    QToolBox* ToolBox;
    QWidget* Page;
    QString PageTitle;
    int PageIndex;
    QMenu* Menu;
    QAction* Before;
    QAction* Separator;
    Controls Entries[RequestCount];
    int UiHide = 0;
    bool Online = false;
    bool Busy = false;
};
