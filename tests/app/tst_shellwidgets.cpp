// The About box and the clickable link label.

#include "aboutdlg.h"
#include "label.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

class TestShellWidgets : public QObject
{
    Q_OBJECT

private slots:
    void aboutBoxLayout_data();
    void aboutBoxLayout();
    void aboutBoxTexts();
    void aboutBoxConfirmCloses();

    void labelClickOnPress_data();
    void labelClickOnPress();
    void labelUnderlineOnlyWhileHovered();
    void labelLooksLikeALink();
};

void TestShellWidgets::aboutBoxLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("icon") << "toolButtonIcon" << QRect(30, 40, 81, 81);
    QTest::newRow("product") << "label" << QRect(120, 40, 251, 41);
    QTest::newRow("version") << "label_Version" << QRect(120, 90, 171, 16);
    QTest::newRow("confirm") << "pushButtonOK" << QRect(170, 130, 91, 31);
}

void TestShellWidgets::aboutBoxLayout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    aboutdlg about;
    QWidget* widget = about.findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->geometry(), geometry);
}

void TestShellWidgets::aboutBoxTexts()
{
    aboutdlg about;
    QCOMPARE(about.windowTitle(), QStringLiteral("关于"));
    // The background picture gives the size.
    QCOMPARE(about.size(), QSize(400, 184));
    QCOMPARE(about.palette().brush(QPalette::Window).texture().size(), QSize(400, 184));
    QCOMPARE(about.findChild<QLabel*>("label_Version")->text(), QStringLiteral("版本：2.0.2"));
    QCOMPARE(about.findChild<QLabel*>("label")->text(), QStringLiteral("rizederevoz"));
    QCOMPARE(about.findChild<QPushButton*>("pushButtonOK")->text(), QStringLiteral("确认"));
    // The icon is shown at the picture's own size.
    QCOMPARE(about.findChild<QToolButton*>("toolButtonIcon")->iconSize(), QSize(64, 64));
}

void TestShellWidgets::aboutBoxConfirmCloses()
{
    aboutdlg about;
    bool clicked = false;
    QTimer::singleShot(0, &about, [&] {
        if (about.isVisible()) {
            clicked = true;
            QTest::mouseClick(about.findChild<QPushButton*>("pushButtonOK"), Qt::LeftButton);
        }
    });
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, &about, &QDialog::reject);
    guard.start(10000); // only if the button failed to close it
    about.exec();
    QVERIFY(clicked);
    QVERIFY(guard.isActive());
    QVERIFY(!about.isVisible());
}

void TestShellWidgets::labelClickOnPress_data()
{
    QTest::addColumn<int>("buttonValue");
    QTest::addColumn<int>("clicks");
    QTest::newRow("left") << int(Qt::LeftButton) << 1;
    QTest::newRow("right") << int(Qt::RightButton) << 0;
    QTest::newRow("middle") << int(Qt::MiddleButton) << 0;
}

void TestShellWidgets::labelClickOnPress()
{
    QFETCH(int, buttonValue);
    const auto button = static_cast<Qt::MouseButton>(buttonValue);
    QFETCH(int, clicks);
    label link(QStringLiteral("link"));
    link.resize(200, 40);
    QSignalSpy spy(&link, &label::clicked);
    QTest::mousePress(&link, button, Qt::NoModifier, QPoint(50, 20));
    QCOMPARE(spy.count(), clicks); // already on the press
    QTest::mouseRelease(&link, button, Qt::NoModifier, QPoint(50, 20));
    QCOMPARE(spy.count(), clicks);
}

namespace
{

bool isLinkBlue(QRgb pixel)
{
    return qRed(pixel) == 0 && qGreen(pixel) == 0 && qBlue(pixel) == 255;
}

// The pixel in the middle of the underline's row (5 pixels above the bottom).
QRgb underlinePixel(label& link)
{
    const QImage image = link.grab().toImage();
    return image.pixel(link.width() / 2, link.height() - 5);
}

} // namespace

void TestShellWidgets::labelUnderlineOnlyWhileHovered()
{
    label link(QStringLiteral("link"));
    link.resize(200, 40);
    QVERIFY(!isLinkBlue(underlinePixel(link)));

    QEvent enter(QEvent::Enter);
    QCoreApplication::sendEvent(&link, &enter);
    QVERIFY(link.isHovered());
    QVERIFY(isLinkBlue(underlinePixel(link)));
    // The line keeps 5 pixels off both ends.
    const QImage image = link.grab().toImage();
    QVERIFY(!isLinkBlue(image.pixel(2, link.height() - 5)));
    QVERIFY(isLinkBlue(image.pixel(5, link.height() - 5)));
    QVERIFY(isLinkBlue(image.pixel(link.width() - 5, link.height() - 5)));
    QVERIFY(!isLinkBlue(image.pixel(link.width() - 2, link.height() - 5)));

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&link, &leave);
    QVERIFY(!link.isHovered());
    QVERIFY(!isLinkBlue(underlinePixel(link)));
}

void TestShellWidgets::labelLooksLikeALink()
{
    label link;
    QCOMPARE(link.text(), QStringLiteral("str"));
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        QCOMPARE(link.palette().color(group, QPalette::WindowText), QColor(0, 0, 255, 255));
    QCOMPARE(link.alignment(), Qt::AlignHCenter | Qt::AlignVCenter);
    QCOMPARE(link.cursor().shape(), Qt::PointingHandCursor);
}

QTEST_MAIN(TestShellWidgets)
#include "tst_shellwidgets.moc"
