#pragma once

#include <QString>
#include <functional>

class QWidget;

// The message boxes of the session's dialogs. Every box goes through these
// functions so that a test can put a recorder in place of the real modal
// box; the program itself never installs a hook. They may be called from a
// worker thread: the box is then shown by the GUI thread and the caller
// waits for it.
namespace MessageBoxes
{

// Information box with an OK button.
void showInformation(QWidget* parent, const QString& title, const QString& text);

// Warning box with the buttons Yes and No, Yes being the default. True when
// the user chose Yes.
bool askYesNo(QWidget* parent, const QString& title, const QString& text);

// Warning box with an OK button.
void showWarning(QWidget* parent, const QString& title, const QString& text);

// Warning box with the buttons OK and Cancel, OK being the default. True
// when the user chose OK.
bool askOkCancel(QWidget* parent, const QString& title, const QString& text);

// The box "无法连接服务器！" (title "错误") for a server that cannot be reached.
void showServerUnreachable(QWidget* parent);

// Information box over parent (window-modal to it) that is not waited for:
// the caller goes on, and the box goes when the user closes it or with
// parent. GUI thread only.
void openInformation(QWidget* parent, const QString& title, const QString& text);

using InformationHook = std::function<void(QWidget*, const QString&, const QString&)>;
using YesNoHook = std::function<bool(QWidget*, const QString&, const QString&)>;

// Replace the real boxes; an empty function puts the real box back.
void setInformationHook(InformationHook hook);
void setYesNoHook(YesNoHook hook);
void setWarningHook(InformationHook hook);
void setOkCancelHook(YesNoHook hook);

} // namespace MessageBoxes
