// Every window as an accessibility client sees it: each control that takes the keyboard focus has
// a name, the fields are named by their labels, the password is never read out, and the dialogs
// answer Enter and Escape.

#include "AccessiblePassword.h"
#include "CDTaskDlg.h"
#include "CopyJobParamDlg.h"
#include "JobHistory.h"
#include "JobsPage.h"
#include "LogonPWDlg.h"
#include "MobileJobParamDlg.h"
#include "OnlineDlg.h"
#include "PrintSettingDlg.h"
#include "ServerMsgDlg.h"
#include "TestRoot.h"
#include "aboutdlg.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using MakeWindow = std::function<QWidget*()>;
Q_DECLARE_METATYPE(MakeWindow)

namespace
{

// "objectName (class)" of each focusable control of window (itself included, disabled ones too)
// whose accessible interface has no name. Controls hidden for good (the form's spare buttons) and
// those of pop-ups (a combo box's list) are left out.
QStringList unnamed(QWidget* window)
{
    QList<QWidget*> all = window->findChildren<QWidget*>();
    all.prepend(window);
    QStringList found;
    for (QWidget* w : all) {
        if (w->focusPolicy() == Qt::NoFocus || w->focusProxy() || w->isHidden() ||
            w->window() != window)
            continue;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        if (!iface || iface->text(QAccessible::Name).trimmed().isEmpty())
            found << QStringLiteral("%1 (%2)").arg(
                w->objectName(), QString::fromLatin1(w->metaObject()->className()));
    }
    return found;
}

} // namespace

class tst_Accessibility : public QObject
{
    Q_OBJECT

    TestRoot m_root;

private slots:
    void initTestCase()
    {
        AccessiblePassword::install(); // as the program does
        QAccessible::setActive(true);
    }

    void everyControlNamed_data()
    {
        using Make = MakeWindow;
        QTest::addColumn<Make>("make");
        QTest::addColumn<QString>("confirm"); // the button Enter presses; none for windows
        QTest::newRow("main window") << Make([] {
            OnlineDlg::Options options;
            options.pluginPath.clear();
            return new OnlineDlg(options);
        }) << QString();
        QTest::newRow("logon") << Make([] { return new LogonPWDlg; }) << "Logon";
        QTest::newRow("print settings")
            << Make([] { return new PrintSettingDlg; }) << "Btn_OK_Print";
        QTest::newRow("mobile job") << Make([] { return new MobileJobParamDlg; }) << "btnOK";
        QTest::newRow("copy request") << Make([] { return new CopyJobParamDlg; }) << "btnOK";
        QTest::newRow("disc request") << Make([] { return new CDTaskDlg; }) << "btnOK";
        QTest::newRow("about") << Make([] { return new aboutdlg; }) << "pushButtonOK";
        QTest::newRow("notice") << Make([] { return new ServerMsgDlg; }) << QString();
    }
    void everyControlNamed()
    {
        QFETCH(MakeWindow, make);
        QFETCH(QString, confirm);
        std::unique_ptr<QWidget> window(make());
        // The main window is walked as built: with an event loop its state machine would open
        // the logon dialog (walked on its own).
        if (!qobject_cast<OnlineDlg*>(window.get())) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        }
        const QStringList missing = unnamed(window.get());
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join(", ")));
        if (!confirm.isEmpty()) {
            auto* button = window->findChild<QPushButton*>(confirm);
            QVERIFY(button);
            QVERIFY(button->isDefault());
        }
    }

    // Tab walks the controls as they stand on screen: row by row, left to right.
    void tabOrder_data()
    {
        QTest::addColumn<MakeWindow>("make");
        QTest::newRow("logon") << MakeWindow([] { return new LogonPWDlg; });
        QTest::newRow("print settings") << MakeWindow([] { return new PrintSettingDlg; });
        QTest::newRow("about") << MakeWindow([] {
            auto* about = new aboutdlg;
            about->setDiagnostics([] { return QString(); });
            return about;
        });
    }
    void tabOrder()
    {
        QFETCH(MakeWindow, make);
        std::unique_ptr<QWidget> window(make());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QList<QWidget*> chain;
        for (QWidget* w = window->nextInFocusChain(); w != window.get(); w = w->nextInFocusChain())
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(window.get()) &&
                w->isEnabled() && w->window() == window.get() && !chain.contains(w))
                chain << w;
        QVERIFY(chain.size() >= 2);
        const auto place = [&window](QWidget* w) { return w->mapTo(window.get(), QPoint(0, 0)); };
        for (int i = 1; i < chain.size(); ++i) {
            const QPoint a = place(chain[i - 1]), b = place(chain[i]);
            // The same row when their tops are within a few pixels.
            const bool inOrder = b.y() > a.y() + 4 || (qAbs(b.y() - a.y()) <= 4 && b.x() > a.x());
            QVERIFY2(inOrder,
                     qPrintable(chain[i - 1]->objectName() + " before " + chain[i]->objectName()));
        }
    }

    // Escape cancels the settings dialog and closes the about box.
    void escape()
    {
        PrintSettingDlg settings;
        settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&settings));
        QTest::keyClick(&settings, Qt::Key_Escape);
        QVERIFY(settings.isHidden());
        QCOMPARE(settings.result(), int(QDialog::Rejected));
        aboutdlg about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QTest::keyClick(&about, Qt::Key_Escape);
        QVERIFY(about.isHidden());
    }

    // Fields are named by the labels beside them; the password's text is never given out.
    void labelsAndPassword()
    {
        LogonPWDlg logon;
        logon.show();
        QVERIFY(QTest::qWaitForWindowExposed(&logon));
        int buddies = 0;
        for (QLabel* label : logon.findChildren<QLabel*>())
            if (label->buddy())
                ++buddies;
        QVERIFY(buddies >= 3);
        for (QLineEdit* edit : logon.findChildren<QLineEdit*>()) {
            if (edit->echoMode() == QLineEdit::Normal)
                continue;
            edit->setText("s3cret-Passw0rd");
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(edit);
            QVERIFY(iface);
            // Not even its length: no value, no text interface; named by its label.
            QCOMPARE(iface->text(QAccessible::Value), QString());
            QVERIFY(!iface->textInterface());
            QVERIFY(iface->state().passwordEdit);
            QVERIFY(iface->text(QAccessible::Name).startsWith(QString::fromUtf8("密")));
            return;
        }
        QFAIL("no password field");
    }
};

QTEST_MAIN(tst_Accessibility)
#include "tst_accessibility.moc"
