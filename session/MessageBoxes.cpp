#include "MessageBoxes.h"

#include "Background.h"

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

InformationHook& warningHook()
{
    static InformationHook hook;
    return hook;
}

YesNoHook& okCancelHook()
{
    static YesNoHook hook;
    return hook;
}

} // namespace

// A box asked for by work on a worker thread is shown by the GUI thread;
// the worker waits for the answer.
void showInformation(QWidget* parent, const QString& title, const QString& text)
{
    Background::OnApplicationThreadBlocking([&] {
        if (informationHook())
            informationHook()(parent, title, text);
        else
            QMessageBox::information(parent, title, text);
    });
}

bool askYesNo(QWidget* parent, const QString& title, const QString& text)
{
    bool yes = false;
    Background::OnApplicationThreadBlocking([&] {
        if (yesNoHook())
            yes = yesNoHook()(parent, title, text);
        else
            yes = QMessageBox::warning(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                       QMessageBox::Yes) == QMessageBox::Yes;
    });
    return yes;
}

void showWarning(QWidget* parent, const QString& title, const QString& text)
{
    Background::OnApplicationThreadBlocking([&] {
        if (warningHook())
            warningHook()(parent, title, text);
        else
            QMessageBox::warning(parent, title, text);
    });
}

bool askOkCancel(QWidget* parent, const QString& title, const QString& text)
{
    bool ok = false;
    Background::OnApplicationThreadBlocking([&] {
        if (okCancelHook())
            ok = okCancelHook()(parent, title, text);
        else
            ok = QMessageBox::warning(parent, title, text, QMessageBox::Ok | QMessageBox::Cancel,
                                      QMessageBox::Ok) == QMessageBox::Ok;
    });
    return ok;
}

void showServerUnreachable(QWidget* parent)
{
    showInformation(parent, QStringLiteral("错误"), QStringLiteral("无法连接服务器！"));
}

void openInformation(QWidget* parent, const QString& title, const QString& text)
{
    if (informationHook()) {
        informationHook()(parent, title, text);
        return;
    }
    QMessageBox* box =
        new QMessageBox(QMessageBox::Information, title, text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

void setInformationHook(InformationHook hook)
{
    informationHook() = std::move(hook);
}

void setYesNoHook(YesNoHook hook)
{
    yesNoHook() = std::move(hook);
}

void setWarningHook(InformationHook hook)
{
    warningHook() = std::move(hook);
}

void setOkCancelHook(YesNoHook hook)
{
    okCancelHook() = std::move(hook);
}

} // namespace MessageBoxes
