#pragma once

#include <QString>
#include <functional>

class QWidget;

// The file dialogs of the request dialogs. Every one goes through these
// functions so that a test can answer in place of the real modal dialog;
// the program itself never installs a hook.
namespace FileDialogs
{

// QFileDialog::getOpenFileName: the chosen file, or empty when cancelled.
QString openFileName(QWidget* parent, const QString& caption, const QString& folder,
                     const QString& filter);

// QFileDialog::getExistingDirectory (folders only): the chosen folder, or
// empty when cancelled.
QString existingDirectory(QWidget* parent, const QString& caption, const QString& folder);

// What a hook gets: the dialog's parent, caption, start folder and name
// filter (empty for the folder dialog); what it returns is the answer.
using Hook = std::function<QString(QWidget*, const QString& caption, const QString& folder,
                                   const QString& filter)>;

// Replaces both dialogs; an empty function puts the real ones back.
void setHook(Hook hook);

} // namespace FileDialogs
