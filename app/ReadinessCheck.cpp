#include "ReadinessCheck.h"

#include "ClientConfig.h"
#include "CupsPolicy.h"
#include "DComLayerWS.h"
#include "EventLog.h"
#include "LogonForm.h"
#include "OrixUser.h"
#include "ProxyChoice.h"
#include "SafeFile.h"
#include "SoapTransport.h"
#include "SpoolWatch.h"
#include "SystemPaths.h"
#include "TavCommon.h"

#include "stdsoap2.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QHostInfo>
#include <QSettings>
#include <QTimer>

#include <cstdio>
#include <cups/cups.h>
#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

using Item = ReadinessCheck::Item;
using Verdict = ReadinessCheck::Verdict;

Item make(Verdict verdict, const char* name, const QString& detail)
{
    Item item;
    item.verdict = verdict;
    item.name = QString::fromLatin1(name);
    item.detail = detail;
    return item;
}

QString text(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

QString seconds(int ms)
{
    return QString::number(ms / 1000.0, 'g', 3) + " s";
}

// --- the server -----------------------------------------------------------------------------

// Looks host up, waiting at most timeoutMs; empty error when it resolves.
QString resolve(const QString& host, int timeoutMs)
{
    if (!QHostAddress(host).isNull())
        return QString();
    QEventLoop loop;
    QString error = QString("no answer from the name service within %1").arg(seconds(timeoutMs));
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    const int id = QHostInfo::lookupHost(host, &loop, [&](const QHostInfo& info) {
        if (info.error() != QHostInfo::NoError)
            error = "the name does not resolve (" + info.errorString() + ")";
        else if (info.addresses().isEmpty())
            error = "the name has no address";
        else
            error.clear();
        loop.quit();
    });
    loop.exec();
    QHostInfo::abortHostLookup(id);
    return error;
}

// The runtime's description of its error, on one line.
QString soapError(struct soap* soap)
{
    soap_set_fault(soap);
    const char* what = soap_fault_string(soap);
    const char* detail = soap_fault_detail(soap);
    QString message = QString::fromUtf8(what ? what : "").simplified();
    if (detail && *detail)
        message += " (" + QString::fromUtf8(detail).simplified() + ")";
    return message.isEmpty() ? QString("error %1").arg(soap->error) : message;
}

// --- CUPS, loaded like the job options reader loads it ---------------------------------------

struct CupsLibrary {
    void* handle = nullptr;
    decltype(&::cupsServer) server = nullptr;
    decltype(&::cupsSetServer) setServer = nullptr;
    decltype(&::ippPort) port = nullptr;
    decltype(&::cupsEncryption) encryption = nullptr;
    decltype(&::cupsSetPasswordCB2) setPasswordCallback = nullptr;
    decltype(&::httpConnect2) connect = nullptr;
    decltype(&::httpSetTimeout) setTimeout = nullptr;
    decltype(&::httpGetField) field = nullptr;
    decltype(&::httpClose) close = nullptr;
    decltype(&::ippNewRequest) newRequest = nullptr;
    decltype(&::ippAddString) addString = nullptr;
    decltype(&::ippAddStrings) addStrings = nullptr;
    decltype(&::cupsDoRequest) doRequest = nullptr;
    decltype(&::ippGetStatusCode) statusCode = nullptr;
    decltype(&::ippFindAttribute) findAttribute = nullptr;
    decltype(&::ippGetString) getString = nullptr;
    decltype(&::ippGetBoolean) getBoolean = nullptr;
    decltype(&::ippDelete) remove = nullptr;
    decltype(&::cupsLastErrorString) lastError = nullptr;

    template <typename Function> bool find(Function& function, const char* name)
    {
        function = reinterpret_cast<Function>(dlsym(handle, name));
        return function != nullptr;
    }

    bool load()
    {
        handle = dlopen(ORIX_CUPS_SONAME, RTLD_NOW | RTLD_LOCAL);
        return handle && find(server, "cupsServer") && find(setServer, "cupsSetServer") &&
               find(port, "ippPort") && find(encryption, "cupsEncryption") &&
               find(setPasswordCallback, "cupsSetPasswordCB2") && find(connect, "httpConnect2") &&
               find(setTimeout, "httpSetTimeout") && find(field, "httpGetField") &&
               find(close, "httpClose") && find(newRequest, "ippNewRequest") &&
               find(addString, "ippAddString") && find(addStrings, "ippAddStrings") &&
               find(doRequest, "cupsDoRequest") && find(statusCode, "ippGetStatusCode") &&
               find(findAttribute, "ippFindAttribute") && find(getString, "ippGetString") &&
               find(getBoolean, "ippGetBoolean") && find(remove, "ippDelete") &&
               find(lastError, "cupsLastErrorString");
    }
};

const char* noPassword(const char*, http_t*, const char*, const char*, void*)
{
    return nullptr; // never a prompt: the queue's attributes need no password
}

const char kQueue[] = "TavPDF";
const char kRepair[] = "sudo /usr/lib/orixclient/tavpdf-queue install";

QString modeText(mode_t mode)
{
    return QString::asprintf("%04o", unsigned(mode & 07777));
}

// The lock or the remembered logon at a shared path, else in the user's own folder.
Item sharedOrPrivate(const char* name, const QByteArray& shared, const QByteArray& own)
{
    const SafeFile::Check check = SafeFile::Inspect(shared.constData());
    const QByteArray folder = shared.left(shared.lastIndexOf('/'));
    if ((check == SafeFile::Check::Ok || check == SafeFile::Check::Exposed) ||
        (check == SafeFile::Check::Missing && access(folder.constData(), W_OK | X_OK) == 0))
        return make(Verdict::Ok, name,
                    text(shared) + (check == SafeFile::Check::Missing ? " (not there yet)" : ""));
    const QByteArray privateFolder = SystemPaths::privateFolder();
    const SafeFile::Check mine = SafeFile::Inspect(privateFolder.constData(), true);
    const QString why = check == SafeFile::Check::Missing
                            ? QString("cannot be created")
                            : QString("is ") + SafeFile::Describe(check);
    if (mine == SafeFile::Check::Ok || mine == SafeFile::Check::Missing)
        return make(Verdict::Ok, name,
                    QString("%1 %2; the client uses %3 instead").arg(text(shared), why, text(own)));
    return make(Verdict::Fail, name,
                QString("%1 %2, and the user's own folder %3 is %4")
                    .arg(text(shared), why, text(privateFolder), SafeFile::Describe(mine)));
}

// Why the server's cupsd.conf does not make the policy authenticate job
// creation; empty when it does.
QString policyDoesNotAuthenticate(const QString& policy)
{
    const QString path = QString::fromStdString(CupsPolicy::ConfigPath());
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString("cannot read %1 (%2) to see whether its policy %3 asks for "
                       "authentication")
            .arg(path, file.errorString(), policy);
    const QByteArray text = file.read(4 * 1024 * 1024);
    switch (CupsPolicy::JobCreation(text.toStdString(), policy.toStdString())) {
    case CupsPolicy::Verdict::Authenticates:
        return QString();
    case CupsPolicy::Verdict::Missing:
        return QString("%1 has no <Policy %2>").arg(path, policy);
    case CupsPolicy::Verdict::Open:
        break;
    }
    return QString("the policy %1 in %2 lets Create-Job or Print-Job in without authentication "
                   "(no AuthType, or AuthType None)")
        .arg(policy, path);
}

} // namespace

// --- items ------------------------------------------------------------------------------------

Item ReadinessCheck::configuration() const
{
    const QByteArray path = ConfigFilePath();
    const QFileInfo file(QString::fromUtf8(path));
    if (!file.isFile())
        return make(Verdict::Fail, "configuration", text(path) + ": missing");
    if (!file.isReadable())
        return make(Verdict::Fail, "configuration", text(path) + ": not readable");
    QSettings settings(file.filePath(), QSettings::IniFormat);
    const QStringList keys = settings.allKeys();
    if (settings.status() != QSettings::NoError)
        return make(Verdict::Fail, "configuration", text(path) + ": not an INI file");
    return make(Verdict::Ok, "configuration",
                text(path) + ": " +
                    (keys.isEmpty() ? QString("no keys set") : "keys set: " + keys.join(", ")));
}

ReadinessCheck::Server ReadinessCheck::configuredServer() const
{
    const OrixUser user; // reads the configuration and the remembered logon as a start does
    Server server;
    server.host = QByteArray(user.ServerAddress);
    server.port = QByteArray(user.ServerPort);
    // A configured "host:port" is split as the logon dialog splits what it proposes.
    if (server.port.isEmpty())
        SplitServerText(QByteArray(user.ServerAddress), &server.host, &server.port);
    if (server.port.isEmpty())
        server.port = CDComLayerWS::kDefaultServicePort;
    server.https = user.Config.UseSsl != 0;
    server.proxySetting = QByteArray(user.Config.Proxy);
    return server;
}

namespace
{

ProxyChoice proxyFor(const ReadinessCheck::Server& s)
{
    return ProxyChoice::For(s.proxySetting.toStdString(), s.https, s.host.toStdString());
}

} // namespace

Item ReadinessCheck::proxy(const Server& s)
{
    const ProxyChoice choice = proxyFor(s);
    const QString from = QString::fromStdString(choice.source);
    if (!choice.error.empty())
        return make(Verdict::Fail, "proxy",
                    QString("%1 (%2): %3")
                        .arg(from == "configuration" ? "OPTION/Proxy" : from,
                             QString::fromStdString(choice.error),
                             "the server is reached directly"));
    if (choice.use)
        return make(Verdict::Info, "proxy",
                    QString("%1 (from %2%3)%4")
                        .arg(QString::fromStdString(choice.describe()),
                             from == "configuration" ? "OPTION/Proxy" : from,
                             choice.user.empty() ? "" : ", with credentials",
                             s.https ? ", HTTPS through CONNECT" : ""));
    if (from.isEmpty())
        return make(Verdict::Info, "proxy", "none: the server is reached directly");
    if (from == "configuration")
        return make(Verdict::Info, "proxy", "none (OPTION/Proxy=none)");
    return make(Verdict::Info, "proxy", "none: " + text(s.host) + " is listed in " + from);
}

Item ReadinessCheck::server(const Server& s) const
{
    if (s.host.isEmpty())
        return make(Verdict::Fail, "server",
                    "no server address (Main Window/2002 of the configuration, or a logon)");
    const QString name =
        QString("%1:%2 (%3)").arg(text(s.host), text(s.port), s.https ? "https" : "http");
    const ProxyChoice via = proxyFor(s);
    const QString through =
        via.use ? " through the proxy " + QString::fromStdString(via.describe()) : QString();
    QElapsedTimer clock;
    clock.start();
    // Behind a proxy only the proxy's name need resolve here.
    const QString lookup =
        resolve(via.use ? QString::fromStdString(via.host) : text(s.host), timeoutMs);
    if (!lookup.isEmpty())
        return make(Verdict::Fail, "server", name + through + ": " + lookup);

    SoapTransport::InitRuntime();
    struct soap* soap = soap_new();
    const int left = int(qMax<qint64>(1000, timeoutMs - clock.elapsed()));
    soap->connect_timeout = soap->send_timeout = soap->recv_timeout = -left * 1000; // microseconds
    soap->transfer_timeout = (left + 999) / 1000;
    soap->socket_flags = MSG_NOSIGNAL;
    SoapTransport::BoundNameResolution(soap);
    if (via.use) {
        soap->proxy_host = soap_strdup(soap, via.host.c_str());
        soap->proxy_port = via.port;
        if (!via.user.empty()) {
            soap->proxy_userid = soap_strdup(soap, via.user.c_str());
            soap->proxy_passwd = soap_strdup(soap, via.password.c_str());
        }
    }
    int status = s.https ? SoapTransport::UseClientTls(soap) : SOAP_OK;
    const QByteArray endpoint = (s.https ? "https://" : "http://") + s.host + ':' + s.port + '/';
    if (status == SOAP_OK)
        status = soap_GET(soap, endpoint.constData(), nullptr);
    if (status == SOAP_OK)
        status = soap_begin_recv(soap);
    // Any HTTP answer will do: the service is not asked for anything.
    const int http = soap->status;
    const bool answered = status == SOAP_OK || (http >= 100 && http < 600 && status == http);
    const QString error = answered ? QString() : soapError(soap);
    soap_destroy(soap);
    soap_end(soap);
    soap_free(soap);
    if (!answered)
        return make(Verdict::Fail, "server", name + through + ": " + error);
    return make(Verdict::Ok, "server",
                QString("%1: answered HTTP %2 in %3 ms%4")
                    .arg(name + through)
                    .arg(status == SOAP_OK ? 200 : http)
                    .arg(clock.elapsed())
                    .arg(s.https ? ", certificate accepted" : ""));
}

Item ReadinessCheck::queue() const
{
    static CupsLibrary cups;
    static const bool loaded = cups.load();
    if (!loaded)
        return make(
            Verdict::Fail, "printer queue",
            QString("the CUPS library %1 is missing (package libcups2)").arg(ORIX_CUPS_SONAME));
    cups.setPasswordCallback(noPassword, nullptr);
    cups.setServer(nullptr); // the default server again: CUPS_SERVER, client.conf, the socket
    const QString where = QString::fromUtf8(cups.server());
    http_t* http = cups.connect(cups.server(), cups.port(), nullptr, AF_UNSPEC, cups.encryption(),
                                1, timeoutMs, nullptr);
    if (!http)
        return make(Verdict::Fail, "printer queue",
                    QString("the CUPS server at %1 does not answer (start it: systemctl start "
                            "cups, or /etc/init.d/cups start)")
                        .arg(where));
    cups.setTimeout(http, timeoutMs / 1000.0, nullptr, nullptr);
    ipp_t* request = cups.newRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    const QByteArray uri = QByteArray("ipp://localhost/printers/") + kQueue;
    cups.addString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                   uri.constData());
    static const char* const wanted[] = {"device-uri", "printer-op-policy", "printer-is-shared",
                                         "printer-is-accepting-jobs"};
    cups.addStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                    int(sizeof wanted / sizeof *wanted), nullptr, wanted);
    ipp_t* response = cups.doRequest(http, request, "/");
    const char* server = cups.field(http, HTTP_FIELD_SERVER);
    m_cupsServerVersion = server ? QString::fromUtf8(server) : QString();
    const auto value = [&](const char* name) {
        ipp_attribute_t* a = response ? cups.findAttribute(response, name, IPP_TAG_ZERO) : nullptr;
        const char* v = a ? cups.getString(a, 0, nullptr) : nullptr;
        return v ? QString::fromUtf8(v) : QString();
    };
    const ipp_status_t status = response ? cups.statusCode(response) : IPP_STATUS_ERROR_INTERNAL;
    const QString device = value("device-uri");
    const QString policy = value("printer-op-policy");
    ipp_attribute_t* accepting =
        response ? cups.findAttribute(response, "printer-is-accepting-jobs", IPP_TAG_BOOLEAN)
                 : nullptr;
    const bool accepts = accepting && cups.getBoolean(accepting, 0);
    const QString lastError = QString::fromUtf8(cups.lastError());
    if (response)
        cups.remove(response);
    cups.close(http);

    if (status == IPP_STATUS_ERROR_NOT_FOUND)
        return make(Verdict::Fail, "printer queue",
                    QString("no queue %1 on the CUPS server at %2 (create it: %3)")
                        .arg(kQueue, where, kRepair));
    if (status > IPP_STATUS_OK_EVENTS_COMPLETE)
        return make(Verdict::Fail, "printer queue",
                    QString("the CUPS server at %1 did not answer within %2: %3")
                        .arg(where, seconds(timeoutMs), lastError));
    if (!device.startsWith("tavpdf:"))
        return make(Verdict::Fail, "printer queue",
                    QString("%1 prints to \"%2\", not to the backend tavpdf (repair: %3)")
                        .arg(kQueue, device, kRepair));
    if (policy != "authenticated")
        return make(Verdict::Fail, "printer queue",
                    QString("%1 has the operation policy \"%2\": any local user can print under "
                            "another user's name (repair: %3)")
                        .arg(kQueue, policy, kRepair));
    const QString policyProblem = policyDoesNotAuthenticate(policy);
    if (!policyProblem.isEmpty())
        return make(Verdict::Fail, "printer queue",
                    QString("%1: %2; any local user could print under another user's name "
                            "(\"/usr/lib/orixclient/tavpdf-queue check-policy\" shows what to "
                            "add)")
                        .arg(kQueue, policyProblem));
    return make(accepts ? Verdict::Ok : Verdict::Fail, "printer queue",
                QString("%1 on %2: device %3, owner taken from the local socket's credentials "
                        "(policy %4)%5")
                    .arg(kQueue, where, device, policy,
                         accepts ? QString()
                                 : QString(", but it rejects jobs (cupsaccept ") + kQueue + ")"));
}

Item ReadinessCheck::backend() const
{
    const QByteArray path = SystemPaths::cupsBackend();
    struct stat st;
    if (stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return make(Verdict::Fail, "printer backend", text(path) + ": missing");
    // CUPS runs a backend as root only when nobody but its owner may use it.
    const QString found = QString("%1: owner uid %2, mode %3")
                              .arg(text(path))
                              .arg(st.st_uid)
                              .arg(modeText(st.st_mode));
    if (st.st_uid != 0 || (st.st_mode & 077) != 0 || !(st.st_mode & S_IXUSR))
        return make(Verdict::Fail, "printer backend",
                    found + ": CUPS would not run it as root (needs root, 0700)");
    return make(Verdict::Ok, "printer backend", found + ": CUPS runs it as root");
}

Item ReadinessCheck::spoolFolder() const
{
    QByteArray root = SystemPaths::spoolRoot();
    root.chop(1);
    struct stat st;
    if (lstat(root.constData(), &st) != 0)
        return make(Verdict::Fail, "spool folder",
                    text(root) + ": missing (create it: " + kRepair + ")");
    if (!S_ISDIR(st.st_mode) || st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)))
        return make(Verdict::Fail, "spool folder",
                    QString("%1: owner uid %2, mode %3: the printer refuses to write under it "
                            "(repair: %4)")
                        .arg(text(root))
                        .arg(st.st_uid)
                        .arg(S_ISDIR(st.st_mode) ? modeText(st.st_mode) : QString("not a folder"))
                        .arg(kRepair));
    const QByteArray user = getUserName().toUtf8();
    const QByteArray folder = root + '/' + user;
    SpoolFolder::Check check;
    const int fd = SpoolFolder::Open(folder, user, &check);
    if (fd >= 0)
        close(fd);
    if (check == SpoolFolder::Check::Missing)
        return make(Verdict::Ok, "spool folder",
                    text(folder) + ": not there yet (the printer makes it for the first job)");
    if (check != SpoolFolder::Check::Usable)
        return make(Verdict::Fail, "spool folder",
                    text(folder) + ": " + SpoolFolder::Describe(check) +
                        ": the client does not read it");
    return make(Verdict::Ok, "spool folder", text(folder) + ": the user's own, closed to others");
}

Item ReadinessCheck::singleInstance() const
{
    const QByteArray user = getUserName().toUtf8();
    return sharedOrPrivate("single instance", SystemPaths::lockFileBase() + '-' + user,
                           SystemPaths::privateFolder() + "/lockfile");
}

Item ReadinessCheck::rememberedLogon() const
{
    ClientConfig config;
    OrixUser::ReadConfigInfo(&config, true); // INIPATH as a start sets it
    const QByteArray shared = QByteArray(INIPATH) + "/Last.ini";
    return sharedOrPrivate("remembered logon", shared, SystemPaths::privateFolder() + "/Last.ini");
}

Item ReadinessCheck::tray(const DesktopProbe::Report& report)
{
    QStringList found;
    if (report.statusNotifierHost)
        found << "a StatusNotifier host";
    if (report.xembedTray)
        found << "an X11 system tray";
    if (found.isEmpty())
        return make(Verdict::Fail, "tray",
                    "no StatusNotifier host on the session bus and no X11 system tray (on GNOME "
                    "enable the AppIndicator extension)");
    return make(Verdict::Ok, "tray", found.join(" and "));
}

Item ReadinessCheck::notifications(const DesktopProbe::Report& report)
{
    if (!report.notificationServer)
        return make(Verdict::Fail, "notifications",
                    "no notification server (org.freedesktop.Notifications) on the session bus");
    QString detail = report.notificationServerName.isEmpty() ? QString("a notification server")
                                                             : report.notificationServerName;
    if (!report.notificationCapabilities.isEmpty())
        detail += " (" + report.notificationCapabilities.join(", ") + ")";
    return make(Verdict::Ok, "notifications", detail);
}

Item ReadinessCheck::log() const
{
    QByteArray reason;
    const QByteArray path = EventLogFile(&reason);
    const int level = GetPrivateProfileInt("Debug", "Level", 0, ConfigFilePath().constData());
    QString detail = path.isEmpty() ? QString("nowhere (HOME is not set)") : text(path);
    if (!reason.isEmpty())
        detail += " (" + text(reason) + ")";
    if (level > kLogStdoutBase)
        detail = "standard output (Debug/Level " + QString::number(level) + ")";
    else if (level <= 0)
        detail += "; nothing is logged at Debug/Level 0";
    else
        detail += "; Debug/Level " + QString::number(level);
    return make(path.isEmpty() && level <= kLogStdoutBase && level > 0 ? Verdict::Fail
                                                                       : Verdict::Info,
                "log", detail);
}

Item ReadinessCheck::versions() const
{
    const int soap = GSOAP_VERSION;
    QString detail =
        QString("OrixClientAPP %1, Qt %2 (built with %3), gSOAP %4.%5.%6, CUPS library %7")
            .arg(QString::fromLatin1(ORIX_VERSION), QString::fromLatin1(qVersion()),
                 QString::fromLatin1(QT_VERSION_STR))
            .arg(soap / 100000)
            .arg(soap / 1000 % 100)
            .arg(soap % 1000)
            .arg(QString("%1.%2.%3")
                     .arg(CUPS_VERSION_MAJOR)
                     .arg(CUPS_VERSION_MINOR)
                     .arg(CUPS_VERSION_PATCH));
    if (!m_cupsServerVersion.isEmpty())
        detail += ", CUPS server " + m_cupsServerVersion;
    return make(Verdict::Info, "versions", detail);
}

QVector<Item> ReadinessCheck::run() const
{
    QVector<Item> items;
    const Server configured = configuredServer();
    items << configuration() << proxy(configured) << server(configured) << queue() << backend()
          << spoolFolder() << singleInstance() << rememberedLogon();
    const DesktopProbe::Report desktop = DesktopProbe::probe(timeoutMs);
    items << tray(desktop) << notifications(desktop) << log() << versions();
    return items;
}

QString ReadinessCheck::format(const Item& item)
{
    const char* verdict = item.verdict == Verdict::Ok     ? "ok"
                          : item.verdict == Verdict::Info ? "info"
                                                          : "FAIL";
    return QString("%1  %2 %3").arg(verdict, -4).arg(item.name, -16).arg(item.detail);
}

int ReadinessCheck::exitStatus(const QVector<Item>& items)
{
    for (const Item& item : items) {
        if (item.verdict == Verdict::Fail)
            return 1;
    }
    return 0;
}

int RunReadinessCheck()
{
    ReadinessCheck check;
    const QVector<Item> items = check.run();
    for (const Item& item : items)
        std::printf("%s\n", ReadinessCheck::format(item).toUtf8().constData());
    std::fflush(stdout);
    return ReadinessCheck::exitStatus(items);
}
