#pragma once

// Tests of the session's dialogs (every widget class at hand): widgets by name, message boxes
// recorded in place of being shown, modal dialogs worked as they come up, a seed user of the
// development server, and the current row's value of a column (QFETCH without a variable).

#include "MessageBoxes.h"
#include "OrixUser.h"
#include "SeedAccounts.h"
#include "TextUtil.h"

#include <QTest>
#include <QtWidgets>

#include <functional>

template <typename T = QWidget> T* child(const QObject* parent, const QString& name)
{
    T* widget = parent->findChild<T*>(name);
    if (!widget)
        qFatal("no widget %s", qPrintable(name));
    return widget;
}

template <typename T> T fetch(const char* column)
{
    return *static_cast<T*>(QTest::qData(column, qMetaTypeId<T>()));
}

// Every box as "title|text" while it lives; questions are given answer.
struct BoxRecorder {
    QStringList boxes;
    bool answer = true;
    BoxRecorder()
    {
        const auto show = [this](QWidget*, const QString& title, const QString& text) {
            boxes << title + '|' + text;
        };
        const auto ask = [this, show](QWidget* parent, const QString& title, const QString& text) {
            show(parent, title, text);
            return answer;
        };
        MessageBoxes::setInformationHook(show);
        MessageBoxes::setWarningHook(show);
        MessageBoxes::setYesNoHook(ask);
        MessageBoxes::setOkCancelHook(ask);
    }
    ~BoxRecorder()
    {
        MessageBoxes::setInformationHook({});
        MessageBoxes::setWarningHook({});
        MessageBoxes::setYesNoHook({});
        MessageBoxes::setOkCancelHook({});
    }
};

// Hands each modal dialog that comes up to act, once; seen: their class names.
struct ModalDriver {
    std::function<void(QDialog*)> act;
    QStringList seen;
    QTimer timer;
    ModalDriver()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!act || !dialog || dialog->property("driven").toBool())
                return;
            dialog->setProperty("driven", true);
            seen << dialog->metaObject()->className();
            act(dialog);
        });
        timer.start(10);
    }
};

// A user of the development server's seed data at 127.0.0.1, port as the client writes it.
inline void seedUser(OrixUser& user, const char* name, const QByteArray& port)
{
    CopyText(user.ServerAddress, sizeof user.ServerAddress, "127.0.0.1");
    CopyText(user.RpcPort, sizeof user.RpcPort, port.constData());
    CopyText(user.UserName, sizeof user.UserName, name);
    CopyText(user.Password, sizeof user.Password, kSeedPasswordDigest);
}

// What the desktop's browser would show for url: a local page is followed to the address it
// forwards to.
inline QByteArray browsedUrl(const QUrl& url)
{
    if (!url.isLocalFile())
        return url.toEncoded();
    QFile page(url.toLocalFile());
    page.open(QIODevice::ReadOnly);
    const QByteArray html = page.readAll();
    const int start = html.indexOf("href=\"") + 6;
    return html.mid(start, html.indexOf('"', start) - start).replace("&amp;", "&");
}
