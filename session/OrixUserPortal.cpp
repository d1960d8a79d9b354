// The web portal: opened in the desktop's browser with the user logged on.

#include "OrixUser.h"

#include "TextUtil.h"

#include <QDesktopServices>
#include <QString>
#include <QUrl>

#include <cstring>

namespace
{

void openInBrowser(const char* url)
{
    QDesktopServices::openUrl(QUrl(QString::fromUtf8(url), QUrl::TolerantMode));
}

} // namespace

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
        openInBrowser(url);
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
    openInBrowser(url);
    return 0;
}
