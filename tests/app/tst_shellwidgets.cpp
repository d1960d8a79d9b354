// The About box and the clickable link label.

#include "aboutdlg.h"
#include "label.h"

#include <QLabel>
#include <QSignalSpy>
#include <QtTest>

class TestShellWidgets : public QObject
{
    Q_OBJECT

private slots:
    void aboutBoxShowsVersionAndConfirmCloses()
    {
        aboutdlg about;
        QCOMPARE(about.findChild<QLabel*>("label_Version")->text(), QStringLiteral("版本：2.0.2"));
        about.show();
        QTest::mouseClick(about.findChild<QWidget*>("pushButtonOK"), Qt::LeftButton);
        QVERIFY(!about.isVisible());
    }

    void labelClicksOnLeftPressOnly()
    {
        label link(QStringLiteral("link"));
        QSignalSpy spy(&link, &label::clicked);
        QTest::mousePress(&link, Qt::LeftButton);
        QCOMPARE(spy.count(), 1); // already on the press
        QTest::mouseRelease(&link, Qt::LeftButton);
        QTest::mouseClick(&link, Qt::RightButton);
        QCOMPARE(spy.count(), 1);
    }

    void labelUnderlinedOnlyWhileHovered()
    {
        label link(QStringLiteral("link"));
        link.resize(200, 40);
        // The middle of the underline's row, 5 pixels above the bottom.
        const auto underlined = [&] {
            return link.grab().toImage().pixelColor(100, 35) == QColor(Qt::blue);
        };
        QVERIFY(!underlined());
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(&link, &enter);
        QVERIFY(underlined());
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(&link, &leave);
        QVERIFY(!underlined());
    }
};

QTEST_MAIN(TestShellWidgets)
#include "tst_shellwidgets.moc"
