#pragma once

#include <QIcon>

// The client's icons at every size of the hicolor set compiled in (16 to
// 256 pixels, the pictures the package installs as "orixclient"), so that a
// window, a tray and a notification take the size they show at, also on a
// scaled screen, instead of one picture stretched.
namespace AppIcons
{

// The program's icon: the window icon and the online tray icon.
QIcon application();
// The tray icon while offline, in the same sizes.
QIcon offline();

} // namespace AppIcons
