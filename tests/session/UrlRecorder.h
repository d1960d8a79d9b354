#pragma once

// Catches the URLs that the client hands to the desktop's browser.

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    UrlRecorder()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
    }
    ~UrlRecorder() override
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }

    QList<QUrl> urls;

    // The URLs as the browser would receive them.
    QList<QByteArray> encoded() const
    {
        QList<QByteArray> list;
        for (const QUrl& url : urls)
            list << url.toEncoded();
        return list;
    }

public slots:
    void open(const QUrl& url) { urls << url; }
};
