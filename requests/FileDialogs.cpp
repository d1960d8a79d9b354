#include "FileDialogs.h"

#include <QFileDialog>

namespace FileDialogs
{

namespace
{

Hook& hook()
{
    static Hook installed;
    return installed;
}

} // namespace

QString openFileName(QWidget* parent, const QString& caption, const QString& folder,
                     const QString& filter)
{
    if (hook())
        return hook()(parent, caption, folder, filter);
    return QFileDialog::getOpenFileName(parent, caption, folder, filter);
}

QString existingDirectory(QWidget* parent, const QString& caption, const QString& folder)
{
    if (hook())
        return hook()(parent, caption, folder, QString());
    return QFileDialog::getExistingDirectory(parent, caption, folder, QFileDialog::ShowDirsOnly);
}

void setHook(Hook installed)
{
    hook() = std::move(installed);
}

} // namespace FileDialogs
