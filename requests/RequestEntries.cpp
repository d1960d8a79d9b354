#include "RequestEntries.h"

#include <QAbstractButton>
#include <QAction>
#include <QMenu>
#include <QToolBox>

bool RequestEntries::IsOffered(Request request, int uiHide)
{
    if (uiHide & 1)
        return false;
    switch (request) {
    case Copy:
        return !(uiHide & 2);
    case Disc:
        return !(uiHide & 4);
    default:
        return true;
    }
}

RequestEntries::RequestEntries(QToolBox* toolBox, QWidget* page, QMenu* menu, QAction* before,
                               QObject* parent)
    : QObject(parent), ToolBox(toolBox), Page(page),
      PageTitle(toolBox->itemText(toolBox->indexOf(page))), PageIndex(toolBox->indexOf(page)),
      Menu(menu), Before(before)
{
    Separator = Menu->insertSeparator(Before);
    refresh();
}

QAction* RequestEntries::addEntry(Request request, QAbstractButton* button)
{
    Controls& controls = Entries[request];
    controls.Button = button;
    controls.Action = new QAction(button->text(), this);
    Menu->insertAction(Separator, controls.Action);
    refresh();
    return controls.Action;
}

void RequestEntries::apply(int uiHide)
{
    UiHide = uiHide;
    refresh();
}

void RequestEntries::setOnline(bool online)
{
    Online = online;
    refresh();
}

void RequestEntries::setBusy(bool busy)
{
    Busy = busy;
    refresh();
}

void RequestEntries::refresh()
{
    // The page: out of the tool box under bit 0, back in its place without.
    const int index = ToolBox->indexOf(Page);
    if (UiHide & 1) {
        if (index >= 0)
            ToolBox->removeItem(index);
        Page->hide();
    } else if (index < 0) {
        ToolBox->insertItem(PageIndex, Page, PageTitle);
    }

    bool anyEntry = false;
    for (const Controls& controls : Entries) {
        if (!controls.Button)
            continue;
        const Request request = static_cast<Request>(&controls - Entries);
        const bool offered = IsOffered(request, UiHide);
        controls.Button->setVisible(offered);
        controls.Action->setVisible(offered);
        controls.Button->setEnabled(Online && !Busy);
        controls.Action->setEnabled(Online && !Busy);
        anyEntry = anyEntry || offered;
    }
    Separator->setVisible(anyEntry);
}
