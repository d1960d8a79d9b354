#include "MessageBoxes.h"

#include <QMessageBox>

namespace MessageBoxes
{

namespace
{

InformationHook& informationHook()
{
    static InformationHook hook;
    return hook;
}

YesNoHook& yesNoHook()
{
    static YesNoHook hook;
    return hook;
}

} // namespace

void showInformation(QWidget* parent, const QString& title, const QString& text)
{
    if (informationHook()) {
        informationHook()(parent, title, text);
        return;
    }
    QMessageBox::information(parent, title, text);
}

bool askYesNo(QWidget* parent, const QString& title, const QString& text)
{
    if (yesNoHook())
        return yesNoHook()(parent, title, text);
    return QMessageBox::warning(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                QMessageBox::Yes) == QMessageBox::Yes;
}

void showServerUnreachable(QWidget* parent)
{
    showInformation(parent, QStringLiteral("错误"), QStringLiteral("无法连接服务器！"));
}

void setInformationHook(InformationHook hook)
{
    informationHook() = std::move(hook);
}

void setYesNoHook(YesNoHook hook)
{
    yesNoHook() = std::move(hook);
}

} // namespace MessageBoxes
