// The web portal link: the URL forms, the host without its port, a full
// address opened as it is, and query values that are percent-encoded.

#include "OrixUser.h"
#include "TestRoot.h"
#include "TextUtil.h"
#include "UrlRecorder.h"

#include <QUrlQuery>
#include <QtTest>

class TestPortal : public QObject
{
    Q_OBJECT

private slots:
    void urls_data();
    void urls();
    void queryValuesSurvive_data();
    void queryValuesSurvive();
    void fullAddressOpenedDirectly_data();
    void fullAddressOpenedDirectly();
};

void TestPortal::urls_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QByteArray>("website");
    QTest::addColumn<QByteArray>("redirect");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray q = "key=alice&value=E10ADC3949BA59ABBE56E057F20F883E";
    QTest::newRow("defaults") << QByteArray() << QByteArray("10.1.2.3") << QByteArray("Default")
                              << "http://10.1.2.3/RazodAroZid/Home/Index1/LoginFrm.aspx?" + q +
                                     "&Redirect=Default";
    QTest::newRow("path and port")
        << QByteArray("[Main%20Window]\n2017=Portal/Main\n2022=8080\n") << QByteArray("10.1.2.3")
        << QByteArray("Default")
        << "http://10.1.2.3:8080/Portal/Main/LoginFrm.aspx?" + q + "&Redirect=Default";
    QTest::newRow("no path, port 80")
        << QByteArray("[Main%20Window]\n2017=NULL\n") << QByteArray("portal.example")
        << QByteArray("AuditorPrintProcTask")
        << "http://portal.example/LoginFrm.aspx?" + q + "&Redirect=AuditorPrintProcTask";
    QTest::newRow("no path, other port")
        << QByteArray("[Main%20Window]\n2017=NULL\n2022=8080\n") << QByteArray("10.1.2.3")
        << QByteArray("Default") << "http://10.1.2.3:8080/LoginFrm.aspx?" + q + "&Redirect=Default";
    QTest::newRow("lower-case null is a path")
        << QByteArray("[Main%20Window]\n2017=null\n") << QByteArray("10.1.2.3")
        << QByteArray("Default") << "http://10.1.2.3/null/LoginFrm.aspx?" + q + "&Redirect=Default";
    QTest::newRow("website with port")
        << QByteArray("[Main%20Window]\n2022=81\n") << QByteArray("127.0.0.1:8080")
        << QByteArray("Default")
        << "http://127.0.0.1:81/RazodAroZid/Home/Index1/LoginFrm.aspx?" + q + "&Redirect=Default";
}

void TestPortal::urls()
{
    QFETCH(QByteArray, config);
    QFETCH(QByteArray, website);
    QFETCH(QByteArray, redirect);
    QFETCH(QByteArray, expected);
    TestRoot root;
    root.writeConfig(config);
    OrixUser user;
    CopyText(user.UserName, sizeof user.UserName, "alice");
    CopyText(user.Password, sizeof user.Password, "E10ADC3949BA59ABBE56E057F20F883E");
    CopyText(user.WebsiteAddress, sizeof user.WebsiteAddress, website.constData());

    UrlRecorder recorder;
    QCOMPARE(user.LogWebSite(redirect.constData()), 0);
    QCOMPARE(recorder.encoded(), QList<QByteArray>{expected});
}

void TestPortal::queryValuesSurvive_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<QByteArray>("encodedQuery");
    QTest::newRow("ampersand and blank") << QByteArray("li & wang") << QByteArray("ABC")
                                         << QByteArray("key=li%20%26%20wang&value=ABC");
    QTest::newRow("equals and hash") << QByteArray("a=b#c") << QByteArray("x&Redirect=Evil")
                                     << QByteArray("key=a%3Db%23c&value=x%26Redirect%3DEvil");
    QTest::newRow("Chinese") << QByteArray("张三") << QByteArray("P")
                             << QByteArray("key=%E5%BC%A0%E4%B8%89&value=P");
    QTest::newRow("plus and percent")
        << QByteArray("a+b%") << QByteArray("") << QByteArray("key=a%2Bb%25&value=");
}

void TestPortal::queryValuesSurvive()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, password);
    QFETCH(QByteArray, encodedQuery);
    TestRoot root;
    OrixUser user;
    CopyText(user.UserName, sizeof user.UserName, name.constData());
    CopyText(user.Password, sizeof user.Password, password.constData());
    CopyText(user.WebsiteAddress, sizeof user.WebsiteAddress, "10.1.2.3");

    UrlRecorder recorder;
    user.LogWebSite("Default");
    QCOMPARE(recorder.urls.size(), 1);
    const QUrl url = recorder.urls.first();
    QCOMPARE(url.query(QUrl::FullyEncoded).toUtf8(), encodedQuery + "&Redirect=Default");
    // What the portal decodes is what the session holds.
    const QUrlQuery query(url);
    QCOMPARE(query.queryItems().size(), 3);
    QCOMPARE(query.queryItemValue("key", QUrl::FullyDecoded).toUtf8(), name);
    QCOMPARE(query.queryItemValue("value", QUrl::FullyDecoded).toUtf8(), password);
    QCOMPARE(query.queryItemValue("Redirect"), QString("Default"));
}

void TestPortal::fullAddressOpenedDirectly_data()
{
    QTest::addColumn<QByteArray>("redirect");
    QTest::newRow("https") << QByteArray("https://portal.example/approve?id=5");
    QTest::newRow("http") << QByteArray("http://10.0.0.9:8080/x");
    QTest::newRow("http: inside") << QByteArray("go-to-http://10.0.0.9/x");
}

void TestPortal::fullAddressOpenedDirectly()
{
    QFETCH(QByteArray, redirect);
    TestRoot root;
    OrixUser user;
    CopyText(user.UserName, sizeof user.UserName, "alice");
    CopyText(user.WebsiteAddress, sizeof user.WebsiteAddress, "10.1.2.3");
    UrlRecorder recorder;
    // A text that is not itself a URL of a scheme with a handler reaches no
    // handler; the http rows are what the browser would get.
    QDesktopServices::setUrlHandler(QStringLiteral("go-to-http"), &recorder, "open");
    QCOMPARE(user.LogWebSite(redirect.constData()), 0);
    QDesktopServices::unsetUrlHandler(QStringLiteral("go-to-http"));
    QCOMPARE(recorder.encoded(), QList<QByteArray>{redirect});
}

QTEST_MAIN(TestPortal)
#include "tst_portal.moc"
