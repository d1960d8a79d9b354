#pragma once

// "OrixClientAPP --check": whether this workstation and this user are ready
// for the client, for support staff and for the package's own test. No
// window, no logon; each item is looked at once, within a bounded time, and
// gets a plain verdict:
//
//   ok    configuration   /Library/.../OrixClientAPP.ini: Main Window/2002, OPTION/SSL
//   FAIL  server          print.example.com:8086 (https): certificate not accepted: ...
//   info  log             /home/alice/.local/state/OrixClient/AppLog.txt (...)
//
// "info" lines report and never fail; the check passes (exit status 0) when
// no line says FAIL.

#include "DesktopProbe.h"

#include <QByteArray>
#include <QString>
#include <QVector>

class ReadinessCheck
{
public:
    enum class Verdict { Ok, Info, Fail };

    struct Item {
        Verdict verdict = Verdict::Fail;
        QString name;
        QString detail;
    };

    // Where the client would talk to: the remembered logon's server and port,
    // else the configuration's server and the port "8086"; https from
    // OPTION/SSL.
    struct Server {
        QByteArray host;
        QByteArray port;
        bool https = false;
        QByteArray proxySetting; // OPTION/Proxy
    };

    // Every network or CUPS item gives up after this long.
    int timeoutMs = 5000;

    // The configuration file: found, and which keys it sets.
    Item configuration() const;
    // The server the client would use, as the configuration and the
    // remembered logon give it.
    Server configuredServer() const;
    // Which proxy the calls to the server take, and why (the configuration,
    // an environment variable, the server listed in no_proxy). Info, or Fail
    // for a setting that names no usable proxy.
    static Item proxy(const Server& server);
    // The name resolves and the port answers HTTP, or TLS with a certificate
    // the client accepts (system trust store, host name) and then HTTP; the
    // path goes through the proxy the client would take.
    Item server(const Server& server) const;
    // The queue TavPDF exists on the CUPS server, writes to our backend, and
    // takes the job's owner from the local socket's credentials (operation
    // policy "authenticated", whose Limit for Create-Job and Print-Job in the
    // server's cupsd.conf asks for authentication), and accepts jobs. Also
    // names the server's CUPS version.
    Item queue() const;
    // The backend file's owner and mode let CUPS run it as root.
    Item backend() const;
    // The spool root is root's and closed to others; the user's folder in it
    // is the user's own (owner, mode) or not there yet.
    Item spoolFolder() const;
    // The lock file and the signal file of the single instance, and the
    // remembered logon: usable in /var/tmp, or in the user's own folder.
    Item singleInstance() const;
    Item rememberedLogon() const;
    // A tray (StatusNotifier host or XEmbed tray manager) and a notification
    // server.
    static Item tray(const DesktopProbe::Report& report);
    static Item notifications(const DesktopProbe::Report& report);
    // Where the event log goes.
    Item log() const;
    // Versions of the client, Qt, gSOAP and CUPS.
    Item versions() const;

    // Every item in the order above (the desktop probed once).
    QVector<Item> run() const;

    static QString format(const Item& item);
    // 0 when no item failed, else 1.
    static int exitStatus(const QVector<Item>& items);

private:
    mutable QString m_cupsServerVersion; // filled by queue()
};

// The command: prints every item to standard output, one line each, and
// returns the exit status. Needs a QCoreApplication.
int RunReadinessCheck();
