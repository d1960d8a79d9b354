#include "DComLayerWS.h"
#include "DevServerProcess.h"
#include "TavCommon.h"
#include "TavQuotaRequest.h"
#include "TavUserRecord.h"

#include <QtTest>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// The user, group, setting, website, printer, payer and quota queries and
// the notices, against the development server and its seed data: every
// query text runs on the server's database here.
class TestServerQueries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void groupAndPrintWay_data();
    void groupAndPrintWay();
    void groupName();
    void settings_data();
    void settings();
    void settingDefaultWhenUnreachable();
    void websiteAddress_data();
    void websiteAddress();
    void userInfo();
    void printerList();
    void secretLevelSpecialAuditPayer();
    void projectOfStoredJob_data();
    void projectOfStoredJob();
    void quota_data();
    void quota();
    void notices_data();
    void notices();
    void noNotice();

private:
    static void pointAt(CDComLayerWS& client, quint16 port);

    DevServerProcess m_server;
    CDComLayerWS m_client;
    QTemporaryDir m_workDir;
    QString m_oldWorkDir;
};

namespace
{

// A loopback port on which nobody listens.
quint16 closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

QByteArray gbk(const char* utf8)
{
    return UTF82GBK(utf8);
}

} // namespace

void TestServerQueries::pointAt(CDComLayerWS& client, quint16 port)
{
    client.InitDCOM();
    client.SetPort(QByteArray::number(port).constData());
    TavUserRecord user;
    memset(&user, 0, sizeof user);
    strcpy(user.UserName, "zhangsan");
    strcpy(user.Password, "E10ADC3949BA59ABBE56E057F20F883E");
    strcpy(user.ServerAddress, "127.0.0.1");
    // The logon builds the endpoint every later call uses.
    client.LogOn(&user);
}

void TestServerQueries::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    pointAt(m_client, m_server.port());
    QCOMPARE(QByteArray(m_client.Endpoint()), m_server.endpoint());

    // The notice texts come from the configuration in the working folder.
    m_oldWorkDir = QDir::currentPath();
    QFile ini(m_workDir.filePath("OrixClientAPP.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Log Online]\n7104=\xE7\x8A\xB6\xE6\x80\x81\xE6\x9C\xAA\xE7\x9F\xA5\n"); // 状态未知
    ini.close();
    QVERIFY(QDir::setCurrent(m_workDir.path()));
}

void TestServerQueries::cleanupTestCase()
{
    QDir::setCurrent(m_oldWorkDir);
}

void TestServerQueries::groupAndPrintWay_data()
{
    QTest::addColumn<QByteArray>("userName");
    QTest::addColumn<int>("group");
    QTest::addColumn<int>("printWay");

    QTest::newRow("plain name") << QByteArray("lisi") << 2 << 2;
    QTest::newRow("name with a single quote") << QByteArray("o'neil") << 102 << 2;
    QTest::newRow("unknown user") << QByteArray("nobody") << -5 << -5;
    QTest::newRow("injection attempt stays a name") << QByteArray("x' OR '1'='1") << -5 << -5;
}

void TestServerQueries::groupAndPrintWay()
{
    QFETCH(QByteArray, userName);
    int group = -5;
    QCOMPARE(m_client.GetGroupIDFromUsersByUserName(userName.data(), &group), 0);
    QTEST(group, "group");
    int way = -5;
    QCOMPARE(m_client.GetPrintWayFromUsersByUserName(userName.data(), &way), 0);
    QTEST(way, "printWay");
}

void TestServerQueries::groupName()
{
    char name[256] = "old";
    QCOMPARE(m_client.GetGroupNameFromGroupByGroupID(101, name), 0);
    QCOMPARE(QString::fromUtf8(name), QStringLiteral("市场部"));
    strcpy(name, "old");
    QCOMPARE(m_client.GetGroupNameFromGroupByGroupID(4711, name), 0);
    QCOMPARE(QByteArray(name), QByteArray("old"));
}

void TestServerQueries::settings_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("plain") << QByteArray("LinuxPrintStateNew") << QByteArray("20");
    QTest::newRow("as received, GBK") << QByteArray("CompanyName") << gbk("星河科技有限公司");
    QTest::newRow("quotes in name and value")
        << QByteArray("Owner's Note") << gbk("由'行政部'维护");
    QTest::newRow("missing: the default") << QByteArray("NoSuchSetting") << QByteArray("dflt");
}

void TestServerQueries::settings()
{
    QFETCH(QByteArray, name);
    char value[256];
    QCOMPARE(m_client.GetSettingValueBySettingName(name.data(), value, const_cast<char*>("dflt")),
             0);
    QTEST(QByteArray(value), "value");

    // Longer than the 256-byte buffer the callers pass: cut to 255 bytes at
    // a character boundary.
    char banner[256 + 16];
    memset(banner, '#', sizeof banner);
    char bannerName[] = "PortalBanner";
    QCOMPARE(m_client.GetSettingValueBySettingName(bannerName, banner, nullptr), 0);
    const QByteArray stored = gbk(m_server
                                      .scalar("SELECT SettingValue FROM SysSettings WHERE "
                                              "SettingName = 'PortalBanner'")
                                      .toString()
                                      .toUtf8()
                                      .constData());
    QVERIFY(stored.size() > 300);
    const QByteArray got(banner);
    QVERIFY(got.size() >= 254 && got.size() <= 255);
    QVERIFY(stored.startsWith(got));
    // Whole characters only: the text converts back to the same bytes.
    QCOMPARE(UTF82GBK(GBK2UTF8(got.constData()).toUtf8().constData()), got);
    QCOMPARE(banner[256], '#');
}

void TestServerQueries::settingDefaultWhenUnreachable()
{
    CDComLayerWS offline;
    pointAt(offline, closedPort());
    char value[256] = "";
    char name[] = "LinuxPrintStateNew";
    QCOMPARE(offline.GetSettingValueBySettingName(name, value, const_cast<char*>("30")), 15);
    QCOMPARE(QByteArray(value), QByteArray("30"));
    int group = 7;
    QCOMPARE(offline.GetGroupIDFromUsersByUserName(name, &group), 15);
    QCOMPARE(group, 7);
    char address[256];
    char server[] = "127.0.0.1";
    QVERIFY_EXCEPTION_THROWN(offline.GetWebsiteIP(address, server), int);
}

void TestServerQueries::websiteAddress_data()
{
    QTest::addColumn<QByteArray>("server");
    QTest::addColumn<QByteArray>("website");

    QTest::newRow("monitored") << QByteArray("127.0.0.1") << QByteArray("127.0.0.1:8080");
    QTest::newRow("not monitored") << QByteArray("192.168.10.20") << QByteArray("192.168.10.20");
    QTest::newRow("deleted") << QByteArray("192.168.10.30") << QByteArray("192.168.10.30");
    QTest::newRow("unknown") << QByteArray("server.example") << QByteArray("server.example");
    QTest::newRow("quote") << QByteArray("a'b") << QByteArray("a'b");
}

void TestServerQueries::websiteAddress()
{
    QFETCH(QByteArray, server);
    char website[256] = "";
    QCOMPARE(m_client.GetWebsiteIP(website, server.data()), 0);
    QTEST(QByteArray(website), "website");
}

void TestServerQueries::userInfo()
{
    TavUserRecord user;
    memset(&user, 0, sizeof user);
    char name[] = "gaofeng";
    QCOMPARE(m_client.GetUserInfo(name, &user), 0);
    QCOMPARE(user.UserId, 101);
    QCOMPARE(QString::fromUtf8(user.FullName), QStringLiteral("高峰"));

    memset(user.UserInfoEx, 0x55, sizeof user.UserInfoEx);
    QCOMPARE(m_client.GetUserInfoEx(name, &user), 0);
    qint32 count = 0;
    memcpy(&count, user.UserInfoEx, 4);
    QVERIFY(count >= 4 && count <= 11);
    const QString first = GBK2UTF8(reinterpret_cast<char*>(user.UserInfoEx) + 4);
    QVERIFY2(m_server.scalar("SELECT count(*) FROM SysSettingsAudit WHERE SecretLevel = 1 AND "
                             "SecretLevelName = '" +
                             first + "'")
                     .toInt() == 1,
             qPrintable(first));

    char unknown[] = "nobody";
    QCOMPARE(m_client.GetUserInfo(unknown, &user), 15);
    QCOMPARE(user.UserId, 101);
}

void TestServerQueries::printerList()
{
    // "N\0" "3楼\0" "\0": 7 bytes when fewer than ten printers exist.
    const qlonglong printers = m_server.scalar("SELECT count(*) FROM Printers").toLongLong();
    const QByteArray expected = QByteArray::number(printers) + '\0' + gbk("3楼") + '\0' + '\0';
    char name[] = "xiaoyin";
    void* list = nullptr;
    QCOMPARE(m_client.GetPrinterList(name, &list), 0);
    QVERIFY(list);
    QCOMPARE(SysStringLen(list), static_cast<unsigned int>(expected.size() / 2));
    QCOMPARE(QByteArray(static_cast<const char*>(list), expected.size() + 1), expected + '\0');
    if (expected.size() == 7)
        QCOMPARE(SysStringLen(list), 3u);
    SysFreeString(list);

    char none[] = "sunqi";
    list = nullptr;
    QCOMPARE(m_client.GetPrinterList(none, &list), 15);
    QCOMPARE(list, nullptr);
}

void TestServerQueries::secretLevelSpecialAuditPayer()
{
    char lisi[] = "lisi";
    QCOMPARE(m_client.GetSecretLevel(lisi), 2);
    int special = -1;
    QCOMPARE(m_client.GetSpecialAudit(lisi, &special), 0);
    QCOMPARE(special, 1);
    char nobody[] = "nobody";
    QCOMPARE(m_client.GetSpecialAudit(nobody, &special), 1);
    QCOMPARE(special, 0);

    char item[] = "{\"UserName\":\"wangwu\"}";
    char* payer = nullptr;
    QCOMPARE(m_client.GetPayerInfo(item, payer), 0);
    QVERIFY(payer);
    QVERIFY(QByteArray(payer).contains("\"PayerType\":4"));
    free(payer);

    char bad[] = "not json";
    payer = nullptr;
    QVERIFY(m_client.GetPayerInfo(bad, payer) != 0);
    QCOMPARE(payer, nullptr);
}

void TestServerQueries::projectOfStoredJob_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<int>("payerType");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("project");

    QTest::newRow("project payer") << QByteArray("20260101-0001.spl") << 4 << 1 << 17;
    QTest::newRow("own account") << QByteArray("20260101-0002.spl") << 1 << 1 << 0;
    QTest::newRow("quote in the stored name") << QByteArray("o'neil-0003.spl") << 4 << 1 << 17;
    QTest::newRow("no such job") << QByteArray("absent.spl") << 4 << 0 << -1;
}

void TestServerQueries::projectOfStoredJob()
{
    QFETCH(QByteArray, stored);
    QFETCH(int, payerType);
    QFETCH(int, project);
    TavQuotaRequest request{};
    request.PayerType = payerType;
    request.PayerID = 17;
    QTEST(m_client.UpdateProjectIDOfPrintProcTask(&request, stored.data()), "result");
    if (project < 0)
        return;
    const QList<QVariantList> rows = m_server.query(
        "SELECT PayerID, PayerType, ProjectID FROM PrintProcTask WHERE SPLFileName = '" +
        QString::fromUtf8(stored).replace("'", "''") + "'");
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows.first().at(0).toInt(), 17);
    QCOMPARE(rows.first().at(1).toInt(), payerType);
    QCOMPARE(rows.first().at(2).toInt(), project);
}

void TestServerQueries::quota_data()
{
    QTest::addColumn<int>("pages");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<int>("result");

    // Payer (4, 202) holds 1 yuan, 0.10 yuan a page.
    QTest::newRow("covered") << 10 << true << 0;
    QTest::newRow("not covered") << 11 << true << 1;
    QTest::newRow("failed exchange lets the job go") << 11 << false << 0;
}

void TestServerQueries::quota()
{
    QFETCH(int, pages);
    QFETCH(bool, reachable);
    TavQuotaRequest request{};
    request.Kind = 'P';
    request.PayerType = 4;
    request.PayerID = 202;
    strcpy(request.PrinterName, "研发部彩色打印机");
    request.TotalPages = pages;
    strcpy(request.Color, "B");
    strcpy(request.Duplex, "S");
    strcpy(request.PaperSize, "A4");
    request.PaperWidth = 210;
    request.PaperHeight = 297;
    CDComLayerWS offline;
    pointAt(offline, closedPort());
    CDComLayerWS& client = reachable ? m_client : offline;
    QTEST(client.QuotaVerification(reinterpret_cast<char*>(&request)), "result");
}

void TestServerQueries::notices_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<QString>("headline");

    QTest::newRow("512 printed") << 512 << "会议纪要.pdf|一楼复印机|0"
                                 << "<会议纪要.pdf>打印成功!";
    QTest::newRow("2 audit 0") << 2 << "合同.pdf|研发部彩色打印机|0|0"
                               << "<合同.pdf>等待审批!";
    QTest::newRow("2 audit 1") << 2 << "合同.pdf|研发部彩色打印机|0|1"
                               << "<合同.pdf>审批通过!";
    QTest::newRow("2 audit 5") << 2 << "合同.pdf|研发部彩色打印机|0|5"
                               << "<合同.pdf>";
    QTest::newRow("2 without audit code") << 2 << "合同.pdf|研发部彩色打印机|0"
                                          << "<合同.pdf>等待审批!";
    QTest::newRow("520") << 520 << "a.pdf|p|3"
                         << "<a.pdf>打印失败";
    QTest::newRow("7 not in table") << 7 << "a.pdf|p|0"
                                    << "<a.pdf>状态未知";
    QTest::newRow("leading separator") << 512 << "|一楼复印机|0"
                                       << "<>打印成功!";
    QTest::newRow("120-character job name") << 512 << QString(120, 'n') + "|p|0"
                                            << "<" + QString(98, 'n') + "**>打印成功!";
}

void TestServerQueries::notices()
{
    QFETCH(int, type);
    QFETCH(QString, fields);
    QString error;
    QVERIFY2(m_server.addNotice("noticeuser", type, fields, &error), qPrintable(error));
    TavServerMessage out;
    memset(&out, 0, sizeof out);
    QCOMPARE(m_client.ReadMessage("noticeuser", &out), 0);
    QCOMPARE(out.Type, type);
    QTEST(QString::fromUtf8(out.Headline), "headline");
    QCOMPARE(QString::fromUtf8(out.Detail), fields);
}

void TestServerQueries::noNotice()
{
    TavServerMessage out;
    QCOMPARE(m_client.ReadMessage("nobody-has-notices", &out), -1);
    QString error;
    QVERIFY2(m_server.addNotice("noticeuser", 512, "only|two", &error), qPrintable(error));
    QCOMPARE(m_client.ReadMessage("noticeuser", &out), -1);

    CDComLayerWS offline;
    pointAt(offline, closedPort());
    QCOMPARE(offline.ReadMessage("noticeuser", &out), -2);
}

QTEST_GUILESS_MAIN(TestServerQueries)
#include "tst_serverqueries.moc"
