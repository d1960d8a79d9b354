#include "DisplayChoice.h"

#include <QByteArray>

#include <cstring>

namespace DisplayChoice
{

bool x11UnderWayland(int argc, char** argv)
{
    const bool wayland =
        qgetenv("XDG_SESSION_TYPE") == "wayland" || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (!wayland || qEnvironmentVariableIsEmpty("DISPLAY") ||
        qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return false;
    for (int i = 1; i < argc; ++i)
        if (argv[i] && (strcmp(argv[i], "-platform") == 0 || strcmp(argv[i], "--platform") == 0))
            return false;
    return true;
}

} // namespace DisplayChoice
