// The web portal: opened in the desktop's browser with the user logged on.

#include "OrixUser.h"

#include "EventLog.h"
#include "PortalPage.h"
#include "SafeFile.h"
#include "SystemPaths.h"
#include "TextUtil.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <shared_mutex>
#include <unistd.h>

namespace
{

int g_pageLifetimeMs = 120000;

QUrl toUrl(const char* url)
{
    return QUrl(QString::fromUtf8(url), QUrl::TolerantMode);
}

QByteArray htmlEscaped(const QByteArray& text)
{
    return QString::fromLatin1(text)
        .toHtmlEscaped()
        .replace('\'', QLatin1String("&#39;"))
        .toLatin1();
}

// A JavaScript string literal that holds nothing but letters and digits
// as they are.
QByteArray scriptString(const QByteArray& text)
{
    QByteArray literal = "\"";
    for (char c : text) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            literal += c;
        else
            literal +=
                QByteArray("\\u00") + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
    }
    return literal + '"';
}

// Pages of earlier opens (or runs) that are old enough to have been read;
// with a null limit all of them.
void removeOldPages(const QString& folder, const QDateTime& limit)
{
    for (const QFileInfo& page :
         QDir(folder).entryInfoList({QStringLiteral("portal-*.html")}, QDir::Files)) {
        if (limit.isNull() || page.lastModified() <= limit)
            SafeFile::RemoveOwnedFile(QFile::encodeName(folder).constData(),
                                      QFile::encodeName(page.fileName()).constData());
    }
}

} // namespace

namespace PortalPage
{

void SetLifetime(int milliseconds)
{
    g_pageLifetimeMs = milliseconds;
}

void RemoveLeftovers()
{
    const QByteArray folder = SystemPaths::privateFolder();
    if (!folder.isEmpty())
        removeOldPages(QFile::decodeName(folder), QDateTime());
}

bool Open(const QByteArray& url)
{
    const QByteArray folder = SystemPaths::privateFolder();
    if (folder.isEmpty() ||
        SafeFile::EnsurePrivateFolder(folder.constData()) != SafeFile::Check::Ok)
        return false;
    removeOldPages(QFile::decodeName(folder),
                   QDateTime::currentDateTime().addMSecs(-g_pageLifetimeMs));

    const QByteArray attribute = htmlEscaped(url);
    const QByteArray page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<meta name=\"referrer\" content=\"no-referrer\">"
        "<meta http-equiv=\"refresh\" content=\"0;url=" +
        attribute + "\"><title>Portal</title></head>\n<body><script>window.location.replace(" +
        scriptString(url) + ");</script>\n<a href=\"" + attribute +
        "\">&#x7EE7;&#x7EED;</a></body></html>\n";

    // A new owner-only file in an owner-only folder.
    QByteArray path = folder + "/portal-XXXXXX.html";
    const int fd = mkostemps(path.data(), 5, O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = write(fd, page.constData(), size_t(page.size())) == page.size();
    close(fd);
    if (!written) {
        unlink(path.constData());
        return false;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(path)));
    const QByteArray name = QFileInfo(QFile::decodeName(path)).fileName().toLocal8Bit();
    QTimer::singleShot(g_pageLifetimeMs, [folder, name] {
        SafeFile::RemoveOwnedFile(folder.constData(), name.constData());
    });
    return true;
}

} // namespace PortalPage

QByteArray OrixUser::URLEncode(const char* text)
{
    // Everything but the unreserved characters of a URL is escaped, so "&",
    // "=", "#" and blanks in a name stay inside their query value.
    return QByteArray(text ? text : "").toPercentEncoding();
}

int OrixUser::LogWebSite(const char* redirect)
{
    if (!redirect)
        redirect = "";
    char url[1024];

    // A full address is opened as it is.
    if (redirect[0] != '\0' && (strstr(redirect, "http:") || strstr(redirect, "https:"))) {
        CopyUtf8Text(url, sizeof url, redirect);
        QDesktopServices::openUrl(toUrl(url));
        return 0;
    }

    // A logon under way on its worker is rewriting the names and the portal's
    // address: nothing is opened from half-written fields, and the GUI
    // thread does not wait for the server.
    const std::shared_lock<std::shared_mutex> session(SessionLock, std::try_to_lock);
    if (!session.owns_lock()) {
        LogEvent(kLogError, "logon under way, portal not opened\n");
        return 0;
    }

    char query[1024];
    FormatText(query, sizeof query, "key=%s&value=%s", URLEncode(UserName).constData(),
               URLEncode(Password).constData());

    // The portal's host without the port the server may have written after it.
    char host[256];
    CopyText(host, sizeof host, WebsiteAddress);
    if (char* colon = strchr(host, ':'))
        *colon = '\0';

    const bool noPath = strcmp(Config.WebPath, "NULL") == 0;
    const int port = Config.WebPort;
    if (!noPath && port == 80)
        FormatText(url, sizeof url, "http://%s/%s/LoginFrm.aspx?%s&Redirect=%s", host,
                   Config.WebPath, query, redirect);
    else if (!noPath)
        FormatText(url, sizeof url, "http://%s:%d/%s/LoginFrm.aspx?%s&Redirect=%s", host, port,
                   Config.WebPath, query, redirect);
    else if (port == 80)
        FormatText(url, sizeof url, "http://%s/LoginFrm.aspx?%s&Redirect=%s", host, query,
                   redirect);
    else
        FormatText(url, sizeof url, "http://%s:%d/LoginFrm.aspx?%s&Redirect=%s", host, port, query,
                   redirect);
    // The query carries the password digest: the browser gets it from a
    // private page, never on its command line.
    if (!PortalPage::Open(toUrl(url).toEncoded()))
        LogEvent(kLogError, "portal page cannot be written, portal not opened\n");
    return 0;
}
