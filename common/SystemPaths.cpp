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

QByteArray privateFolder()
{
    QByteArray home = qgetenv("HOME");
    while (home.size() > 1 && home.endsWith('/'))
        home.chop(1);
    if (home.isEmpty())
        return QByteArray();
    return home + "/.local/share/OrixClient";
}

} // namespace SystemPaths
