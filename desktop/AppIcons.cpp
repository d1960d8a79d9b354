#include "AppIcons.h"

namespace AppIcons
{

QIcon application()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/hicolor/%1x%1/apps/orixclient.png").arg(size),
                     QSize(size, size));
    if (icon.availableSizes().isEmpty())
        icon.addFile(QStringLiteral(":/icon/images/ICON_Online.png"));
    return icon;
}

QIcon offline()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/offline/%1x%1.png").arg(size), QSize(size, size));
    if (icon.availableSizes().isEmpty())
        icon.addFile(QStringLiteral(":/icon/images/ICON_Offline.png"));
    return icon;
}

} // namespace AppIcons
