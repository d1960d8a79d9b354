#include "SystemPaths.h"

namespace SystemPaths
{

QByteArray rootPrefix()
{
    QByteArray prefix = qgetenv(kRootPrefixVariable);
    while (prefix.size() > 1 && prefix.endsWith('/'))
        prefix.chop(1);
    if (prefix == "/")
        prefix.clear();
    return prefix;
}

QByteArray programFolder()
{
    return rootPrefix() + "/Library/Application Support/TavPrint Driver/";
}

QByteArray varTmp()
{
    return rootPrefix() + "/var/tmp";
}

QByteArray spoolRoot()
{
    return rootPrefix() + "/var/spool/cups-pdf/";
}

QByteArray lockFileBase()
{
    return varTmp() + "/lockfile";
}

QByteArray signalFolder()
{
    return varTmp() + "/Tavlockfilepath";
}

namespace
{

QByteArray withoutTrailingSlashes(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

} // namespace

QByteArray privateFolder()
{
    const QByteArray home = withoutTrailingSlashes(qgetenv("HOME"));
    if (home.isEmpty())
        return QByteArray();
    return home + "/.local/share/OrixClient";
}

QByteArray stateFolder()
{
    const QByteArray state = withoutTrailingSlashes(qgetenv("XDG_STATE_HOME"));
    if (state.startsWith('/'))
        return (state == "/" ? QByteArray() : state) + "/OrixClient";
    const QByteArray home = withoutTrailingSlashes(qgetenv("HOME"));
    if (home.isEmpty())
        return QByteArray();
    return home + "/.local/state/OrixClient";
}

namespace
{

// "$<variable>/OrixClient" when the variable is an absolute path, else
// "$HOME/<fallback>/OrixClient"; empty when neither is set.
QByteArray xdgFolder(const char* variable, const char* fallback)
{
    const QByteArray base = withoutTrailingSlashes(qgetenv(variable));
    if (base.startsWith('/'))
        return (base == "/" ? QByteArray() : base) + "/OrixClient";
    const QByteArray home = withoutTrailingSlashes(qgetenv("HOME"));
    if (home.isEmpty())
        return QByteArray();
    return home + "/" + fallback + "/OrixClient";
}

} // namespace

QByteArray configFolder()
{
    return xdgFolder("XDG_CONFIG_HOME", ".config");
}

QByteArray dataFolder()
{
    return xdgFolder("XDG_DATA_HOME", ".local/share");
}

QByteArray cupsBackend()
{
    return rootPrefix() + "/usr/lib/cups/backend/tavpdf";
}

} // namespace SystemPaths
