// The development server's queries, logon and notices, called through the
// generated proxy as the client calls them.

#include "DevServerCalls.h"
#include "DevServerProcess.h"

#include <QtTest>

#include <cjson/cJSON.h>

class TestDevServerQueries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void databaseCreatedOnceAndKept();
    void emptyOrForeignDatabaseFile_data();
    void emptyOrForeignDatabaseFile();
    void userLogon_data();
    void userLogon();
    void fieldValues_data();
    void fieldValues();
    void fieldValuesRejected_data();
    void fieldValuesRejected();
    void textValuesCutAtCharacters_data();
    void textValuesCutAtCharacters();
    void oversizedFieldSizeCapped();
    void excuteSql_data();
    void excuteSql();
    void userRecords();
    void printerList();
    void payerInfo();
    void quotaVerification_data();
    void quotaVerification();
    void noticesOldestFirstThenEmpty();

private:
    struct FieldReply {
        int status = -1;
        QByteArray bytes;
    };
    FieldReply fieldQuery(const QByteArray& sql, const QByteArray& field, qint64 type, qint64 size);

    DevServerProcess m_server;
};

void TestDevServerQueries::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

TestDevServerQueries::FieldReply TestDevServerQueries::fieldQuery(const QByteArray& sql,
                                                                  const QByteArray& field,
                                                                  qint64 type, qint64 size)
{
    FieldReply reply;
    auto proxy = makeProxy();
    ns__GetFieldValuesBySQLResponse result;
    QByteArray sqlText = sql;
    QByteArray fieldText = field;
    reply.status = proxy->GetFieldValuesBySQL(m_server.endpoint().constData(), nullptr,
                                              sqlText.data(), fieldText.data(), type, size, result);
    if (reply.status == SOAP_OK)
        reply.bytes = bytesOf(result.ret);
    return reply;
}

void TestDevServerQueries::databaseCreatedOnceAndKept()
{
    DevServerProcess server;
    QVERIFY(!QFile::exists(server.dbPath()));
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QVERIFY(QFile::exists(server.dbPath()));
    QCOMPARE(server
                 .scalar("SELECT SettingValue FROM SysSettings "
                         "WHERE SettingName = 'LinuxPrintStateNew'")
                 .toString(),
             QStringLiteral("20"));
    const qlonglong users = server.scalar("SELECT count(*) FROM Users").toLongLong();
    QVERIFY(users >= 9);
    QVERIFY(server.exec("INSERT INTO SysSettings VALUES ('KeptMarker', '1');"
                        "DELETE FROM Users WHERE UserName = 'sunqi'"));
    server.stop();
    QCOMPARE(server.lastExitCode(), 0); // SIGTERM ends it cleanly

    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QCOMPARE(server.scalar("SELECT count(*) FROM SysSettings WHERE SettingName = 'KeptMarker'")
                 .toLongLong(),
             1LL);
    QCOMPARE(server.scalar("SELECT count(*) FROM Users").toLongLong(), users - 1);
}

void TestDevServerQueries::emptyOrForeignDatabaseFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("serves");
    QTest::newRow("empty file gets the schema") << QByteArray() << true;
    QTest::newRow("not a database") << QByteArray(4096, 'x') << false;
}

void TestDevServerQueries::emptyOrForeignDatabaseFile()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, serves);
    DevServerProcess server;
    QFile file(server.dbPath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QCOMPARE(server.start(), serves);
    if (serves)
        QVERIFY(server.scalar("SELECT count(*) FROM Users").toLongLong() >= 9);
    else
        QCOMPARE(QFile(server.dbPath()).size(), qint64(content.size())); // left alone
}

void TestDevServerQueries::userLogon_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<qint64>("type");
    QTest::addColumn<qint64>("expected");
    const QByteArray md5 = "E10ADC3949BA59ABBE56E057F20F883E"; // 123456
    QTest::newRow("active") << QByteArray("zhangsan") << md5 << qint64(0) << qint64(0);
    QTest::newRow("lower-case digest")
        << QByteArray("zhangsan") << md5.toLower() << qint64(1) << qint64(0);
    QTest::newRow("wrong password")
        << QByteArray("zhangsan") << QByteArray("0123") << qint64(0) << qint64(2);
    QTest::newRow("plain text is not a digest")
        << QByteArray("zhangsan") << QByteArray("123456") << qint64(0) << qint64(2);
    QTest::newRow("unknown user") << QByteArray("nobody") << md5 << qint64(0) << qint64(2);
    QTest::newRow("deleted user") << QByteArray("chenyi") << md5 << qint64(0) << qint64(2);
    QTest::newRow("not activated") << QByteArray("zhouba") << md5 << qint64(0) << qint64(9);
    QTest::newRow("not activated, wrong password")
        << QByteArray("zhouba") << QByteArray("x") << qint64(0) << qint64(2);
    QTest::newRow("locked") << QByteArray("wujiu") << md5 << qint64(0) << qint64(16);
    QTest::newRow("password expired") << QByteArray("zhengshi") << md5 << qint64(0) << qint64(19);
    QTest::newRow("domain agent, plain text")
        << QByteArray("wangwu") << QByteArray("wangwu888") << qint64(2) << qint64(0);
    QTest::newRow("domain agent, digest sent")
        << QByteArray("wangwu") << QByteArray("2B900BF84F918A3B55999C27E1AA0A61") << qint64(2)
        << qint64(2);
    QTest::newRow("quote in the name") << QByteArray("zhang'san") << md5 << qint64(0) << qint64(2);
}

void TestDevServerQueries::userLogon()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(qint64, type);
    QFETCH(qint64, expected);
    auto proxy = makeProxy();
    LONG64 result = -1;
    QCOMPARE(proxy->UserLogon(m_server.endpoint().constData(), nullptr, user.data(),
                              password.data(), type, &result),
             SOAP_OK);
    QCOMPARE(static_cast<qint64>(result), expected);
}

void TestDevServerQueries::fieldValues_data()
{
    // The client's own query texts against the seed data.
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<qint64>("type");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QVariantList>("values"); // ints, or texts (compared after GB18030)

    QTest::newRow("group of a user")
        << QByteArray("SELECT GroupID FROM Users WHERE UserName = 'zhangsan'")
        << QByteArray("GroupID") << qint64(1) << qint64(4) << QVariantList{1};
    QTest::newRow("print way") << QByteArray("SELECT PrintWay FROM Users WHERE UserName = 'lisi'")
                               << QByteArray("PrintWay") << qint64(1) << qint64(4)
                               << QVariantList{2};
    QTest::newRow("group name, GB18030")
        << QByteArray("SELECT GroupName FROM Groups WHERE GroupID = 1") << QByteArray("GroupName")
        << qint64(0) << qint64(255) << QVariantList{QStringLiteral("研发部")};
    QTest::newRow("setting") << QByteArray(
                                    "SELECT SettingValue FROM SysSettings WHERE SettingName = "
                                    "'LinuxPrintStateNew'")
                             << QByteArray("SettingValue") << qint64(0) << qint64(512)
                             << QVariantList{"20"};
    QTest::newRow("monitored web site")
        << QByteArray("SELECT WebsiteIP FROM Servers WHERE ServerIP='127.0.0.1' AND "
                      "IsMonitored='Y' AND  IsDeleted='N'")
        << QByteArray("WebsiteIP") << qint64(0) << qint64(50) << QVariantList{"127.0.0.1:8080"};
    QTest::newRow("unmonitored server: no row")
        << QByteArray("SELECT WebsiteIP FROM Servers WHERE ServerIP='192.168.10.20' AND "
                      "IsMonitored='Y' AND  IsDeleted='N'")
        << QByteArray("WebsiteIP") << qint64(0) << qint64(50) << QVariantList{};
    QTest::newRow("flow items in order")
        << QByteArray("SELECT FlowItemID FROM AuditFlowItems WHERE FlowID=1")
        << QByteArray("FlowItemID") << qint64(1) << qint64(4) << QVariantList{1, 2, 3, 4};
    QTest::newRow("own flow 0 falls back to the group")
        << QByteArray("SELECT AuditFlowID FROM Groups WHERE GroupID=1") << QByteArray("AuditFlowID")
        << qint64(1) << qint64(4) << QVariantList{1};
    QTest::newRow("secret level name")
        << QByteArray("SELECT SecretLevelName FROM SysSettingsAudit WHERE LevelID=3")
        << QByteArray("SecretLevelName") << qint64(0) << qint64(50)
        << QVariantList{QStringLiteral("秘密")};
    QTest::newRow("auditors of a level")
        << QByteArray("SELECT AuditorID FROM AuditFlowAuditors WHERE AuditLevelIndex=1 AND "
                      "FlowItemID=3")
        << QByteArray("AuditorID") << qint64(1) << qint64(4) << QVariantList{10, 1};
    QTest::newRow("auditor name")
        << QByteArray("SELECT UserFullName FROM Users WHERE UserID=10 AND IsDeleted='N' AND "
                      "UserStatus<>0")
        << QByteArray("UserFullName") << qint64(0) << qint64(255)
        << QVariantList{QStringLiteral("钱审批")};
    QTest::newRow("inactive auditor: no row")
        << QByteArray("SELECT UserFullName FROM Users WHERE UserID=13 AND IsDeleted='N' AND "
                      "UserStatus<>0")
        << QByteArray("UserFullName") << qint64(0) << qint64(255) << QVariantList{};
    QTest::newRow("named column chosen")
        << QByteArray("SELECT UserName, UserID FROM Users WHERE UserName = 'lisi'")
        << QByteArray("UserID") << qint64(1) << qint64(4) << QVariantList{2};
    QTest::newRow("unknown name: first column")
        << QByteArray("SELECT UserID, GroupID FROM Users WHERE UserName = 'lisi'")
        << QByteArray("Nothing") << qint64(1) << qint64(4) << QVariantList{2};
    QTest::newRow("integer size from the request is ignored")
        << QByteArray("SELECT GroupID FROM Users WHERE UserID IN (1, 2) ORDER BY UserID")
        << QByteArray("GroupID") << qint64(1) << qint64(100) << QVariantList{1, 2};
}

void TestDevServerQueries::fieldValues()
{
    QFETCH(QByteArray, sql);
    QFETCH(QByteArray, field);
    QFETCH(qint64, type);
    QFETCH(qint64, size);
    QFETCH(QVariantList, values);
    const FieldReply reply = fieldQuery(sql, field, type, size);
    QCOMPARE(reply.status, SOAP_OK);
    QVERIFY(reply.bytes.size() >= 8);
    QCOMPARE(int32At(reply.bytes, 4), 0);
    QCOMPARE(int32At(reply.bytes, 0), values.size());
    const int width = type == 1 ? 4 : static_cast<int>(size);
    QCOMPARE(reply.bytes.size(), 8 + width * values.size());
    for (int i = 0; i < values.size(); ++i) {
        if (type == 1) {
            QCOMPARE(int32At(reply.bytes, 8 + 4 * i), values.at(i).toInt());
        } else {
            const QByteArray text = textAt(reply.bytes, 8 + width * i, width);
            QCOMPARE(text, gbk(values.at(i).toString()));
        }
    }
}

void TestDevServerQueries::fieldValuesRejected_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<qint64>("type");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<int>("error");
    QTest::newRow("syntax error") << QByteArray("SELEC GroupID FROM Users") << qint64(1)
                                  << qint64(4) << 1;
    QTest::newRow("unknown table")
        << QByteArray("SELECT GroupID FROM Userz") << qint64(1) << qint64(4) << 1;
    QTest::newRow("unescaped quote")
        << QByteArray("SELECT GroupID FROM Users WHERE UserName = 'o'brien'") << qint64(1)
        << qint64(4) << 1;
    QTest::newRow("empty text") << QByteArray("") << qint64(1) << qint64(4) << 1;
    QTest::newRow("a write") << QByteArray("DELETE FROM Notices") << qint64(1) << qint64(4) << 4;
    QTest::newRow("two statements")
        << QByteArray("SELECT 1; DELETE FROM Notices") << qint64(1) << qint64(4) << 4;
    QTest::newRow("unknown field type") << QByteArray("SELECT 1") << qint64(7) << qint64(4) << 3;
    QTest::newRow("text without room") << QByteArray("SELECT 'a'") << qint64(0) << qint64(0) << 3;
    QTest::newRow("negative text size") << QByteArray("SELECT 'a'") << qint64(0) << qint64(-5) << 3;
}

void TestDevServerQueries::fieldValuesRejected()
{
    QFETCH(QByteArray, sql);
    QFETCH(qint64, type);
    QFETCH(qint64, size);
    QFETCH(int, error);
    const qlonglong notices = m_server.scalar("SELECT count(*) FROM Notices").toLongLong();
    const FieldReply reply = fieldQuery(sql, "GroupID", type, size);
    QCOMPARE(reply.status, SOAP_OK);
    QCOMPARE(reply.bytes.size(), 8);
    QCOMPARE(int32At(reply.bytes, 0), 0);
    QCOMPARE(int32At(reply.bytes, 4), error);
    QCOMPARE(m_server.scalar("SELECT count(*) FROM Notices").toLongLong(), notices);
}

void TestDevServerQueries::textValuesCutAtCharacters_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("expected");
    // "研发部" is six bytes in GB18030; a value keeps room for its terminator.
    QTest::newRow("fits") << qint64(7) << QStringLiteral("研发部");
    QTest::newRow("one byte short") << qint64(6) << QStringLiteral("研发");
    QTest::newRow("odd room") << qint64(4) << QStringLiteral("研");
    QTest::newRow("terminator only") << qint64(1) << QString();
}

void TestDevServerQueries::textValuesCutAtCharacters()
{
    QFETCH(qint64, size);
    QFETCH(QString, expected);
    const FieldReply reply =
        fieldQuery("SELECT GroupName FROM Groups WHERE GroupID = 1", "GroupName", 0, size);
    QCOMPARE(reply.bytes.size(), 8 + static_cast<int>(size));
    QCOMPARE(int32At(reply.bytes, 0), 1);
    const QByteArray value = reply.bytes.mid(8);
    QCOMPARE(value.back(), '\0');
    QCOMPARE(textAt(value, 0, value.size()), gbk(expected));
}

void TestDevServerQueries::oversizedFieldSizeCapped()
{
    const FieldReply reply = fieldQuery("SELECT UserName FROM Users WHERE UserID IN (1, 2)",
                                        "UserName", 0, qint64(1) << 40);
    QCOMPARE(reply.status, SOAP_OK);
    QCOMPARE(int32At(reply.bytes, 0), 2);
    QCOMPARE(int32At(reply.bytes, 4), 0);
    QCOMPARE(reply.bytes.size(), 8 + 2 * 8192);
    QCOMPARE(textAt(reply.bytes, 8, 8192), QByteArray("zhangsan"));
    QCOMPARE(textAt(reply.bytes, 8 + 8192, 8192), QByteArray("lisi"));

    // Many rows: the answer is bounded, and its count matches its values.
    QVERIFY(m_server.exec("CREATE TABLE Many (v INTEGER);"
                          "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                          "WHERE i < 20000) INSERT INTO Many SELECT i FROM n;"));
    const FieldReply many = fieldQuery("SELECT v FROM Many ORDER BY v", "v", 1, 4);
    const int rows = int32At(many.bytes, 0);
    QVERIFY(rows > 0 && rows < 20000);
    QCOMPARE(many.bytes.size(), 8 + 4 * rows);
    QCOMPARE(int32At(many.bytes, 8 + 4 * (rows - 1)), rows);
    QVERIFY(m_server.exec("DROP TABLE Many"));
}

void TestDevServerQueries::excuteSql_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<int>("result");
    QTest::addColumn<qlonglong>("marker"); // SpecialAudit of zhengshi afterwards
    QTest::newRow("one row") << QByteArray("UPDATE Users SET SpecialAudit = 5 WHERE UserID = 8")
                             << 1 << 5LL;
    QTest::newRow("no row")
        << QByteArray("UPDATE PrintProcTask SET PayerID=17,PayerType=4,ProjectID = 17 WHERE "
                      "SPLFileName='none'")
        << 0 << 5LL;
    QTest::newRow("syntax error") << QByteArray("UPDAT Users SET SpecialAudit = 6") << -1 << 5LL;
    QTest::newRow("second statement fails: nothing kept")
        << QByteArray("UPDATE Users SET SpecialAudit = 7 WHERE UserID = 8; UPDATE Nope SET x=1")
        << -1 << 5LL;
    QTest::newRow("two statements")
        << QByteArray("UPDATE Users SET SpecialAudit = 0 WHERE UserID = 8; "
                      "UPDATE Users SET SpecialAudit = 0 WHERE UserID IN (9, 13)")
        << 3 << 0LL;
}

void TestDevServerQueries::excuteSql()
{
    QFETCH(QByteArray, sql);
    QFETCH(int, result);
    QFETCH(qlonglong, marker);
    auto proxy = makeProxy();
    int answer = 12345;
    QCOMPARE(proxy->ExcuteSQL(m_server.endpoint().constData(), nullptr, sql.data(), &answer),
             SOAP_OK);
    QCOMPARE(answer, result);
    QCOMPARE(m_server.scalar("SELECT SpecialAudit FROM Users WHERE UserID = 8").toLongLong(),
             marker);
}

void TestDevServerQueries::userRecords()
{
    const QByteArray endpoint = m_server.endpoint();
    QByteArray zhangsan("zhangsan"), wangwu("wangwu"), lisi("lisi"), nobody("nobody");
    {
        auto proxy = makeProxy();
        ns__GetUserInfoResponse info;
        QCOMPARE(proxy->GetUserInfo(endpoint.constData(), nullptr, zhangsan.data(), info), SOAP_OK);
        const QByteArray image = bytesOf(info.image);
        QCOMPARE(int32At(image, 0), 1);
        QCOMPARE(image.mid(4), gbk(QStringLiteral("张三")) + '\0');
    }
    {
        auto proxy = makeProxy();
        ns__GetUserInfoResponse info;
        QCOMPARE(proxy->GetUserInfo(endpoint.constData(), nullptr, nobody.data(), info), SOAP_OK);
        QCOMPARE(bytesOf(info.image).size(), 0);
    }
    {
        // A user without a table of his own gets the levels of his flow
        // (here his group's), in the flow's order.
        auto proxy = makeProxy();
        ns__GetUserInfoExResponse ex;
        QCOMPARE(proxy->GetUserInfoEx(endpoint.constData(), nullptr, zhangsan.data(), ex), SOAP_OK);
        const QByteArray block = bytesOf(ex.image);
        QCOMPARE(block.size(), 4012);
        QCOMPARE(int32At(block, 0), 4);
        QCOMPARE(textAt(block, 4, 50), gbk(QStringLiteral("公开")));
        QCOMPARE(textAt(block, 4 + 50, 50), gbk(QStringLiteral("可对外公开")));
        QCOMPARE(textAt(block, 4 + 3 * 364, 50), gbk(QStringLiteral("机密")));
        QCOMPARE(textAt(block, 4 + 4 * 364, 50), QByteArray());
    }
    {
        auto proxy = makeProxy();
        ns__GetUserInfoExResponse ex;
        QCOMPARE(proxy->GetUserInfoEx(endpoint.constData(), nullptr, wangwu.data(), ex), SOAP_OK);
        const QByteArray block = bytesOf(ex.image);
        QCOMPARE(int32At(block, 0), 2);
        QCOMPARE(textAt(block, 4 + 364 + 50, 50), gbk(QStringLiteral("项目内部")));
    }
    {
        // Without a flow: every secret level.
        QByteArray sunqi("sunqi");
        auto proxy = makeProxy();
        ns__GetUserInfoExResponse ex;
        QCOMPARE(proxy->GetUserInfoEx(endpoint.constData(), nullptr, sunqi.data(), ex), SOAP_OK);
        const QByteArray block = bytesOf(ex.image);
        const qlonglong levels =
            m_server.scalar("SELECT count(*) FROM SysSettingsAudit").toLongLong();
        QCOMPARE(int32At(block, 0), static_cast<int>(qMin(11LL, levels)));
        QCOMPARE(textAt(block, 4, 50), gbk(QStringLiteral("公开")));
    }
    {
        auto proxy = makeProxy();
        LONG64 level = -1;
        QCOMPARE(proxy->GetSecretLevel(endpoint.constData(), nullptr, zhangsan.data(), &level),
                 SOAP_OK);
        QCOMPARE(level, LONG64(3));
    }
    {
        auto proxy = makeProxy();
        ns__structGetSpecialAuditOfUser special;
        QCOMPARE(proxy->GetSpecialAuditOfUser(endpoint.constData(), nullptr, lisi.data(), special),
                 SOAP_OK);
        QVERIFY(special.return_);
        QCOMPARE(special.return_->pSpecialAudit, LONG64(1));
        QCOMPARE(special.return_->pRet, LONG64(0));
    }
}

void TestDevServerQueries::printerList()
{
    QByteArray zhangsan("zhangsan"), sunqi("sunqi");
    auto proxy = makeProxy();
    ns__GetPrinterListResponse list;
    QCOMPARE(proxy->GetPrinterList(m_server.endpoint().constData(), nullptr, zhangsan.data(), list),
             SOAP_OK);
    // First the number of all printers (other seed files may add some).
    QByteArray expected = m_server.scalar("SELECT count(*) FROM Printers").toString().toLatin1();
    expected += '\0';
    for (const QString& name : {QStringLiteral("研发部彩色打印机"), QStringLiteral("一楼复印机"),
                                QStringLiteral("会议室打印机")})
        expected += gbk(name) + '\0';
    expected += '\0';
    QCOMPARE(bytesOf(list.data), expected);

    auto second = makeProxy();
    ns__GetPrinterListResponse none;
    QCOMPARE(second->GetPrinterList(m_server.endpoint().constData(), nullptr, sunqi.data(), none),
             SOAP_OK);
    QCOMPARE(bytesOf(none.data).size(), 0);
}

void TestDevServerQueries::payerInfo()
{
    QByteArray request("{\"UserName\":\"wangwu\"}");
    auto proxy = makeProxy();
    char* answer = nullptr;
    QCOMPARE(proxy->GetPayerInfo(m_server.endpoint().constData(), nullptr, request.data(), &answer),
             SOAP_OK);
    QVERIFY(answer);
    cJSON* json = cJSON_Parse(answer);
    QVERIFY(json);
    QCOMPARE(cJSON_GetObjectItem(json, "IsSupportCostControl")->valueint, 0);
    QCOMPARE(cJSON_GetObjectItem(json, "IsSupportProject")->valueint, 1);
    QCOMPARE(cJSON_GetObjectItem(json, "PayerType")->valueint, 4);
    const cJSON* payers = cJSON_GetObjectItem(json, "PayerInfo");
    QCOMPARE(cJSON_GetArraySize(payers), 2);
    const cJSON* first = cJSON_GetArrayItem(payers, 0);
    // The answer is an XML string: its names arrive as UTF-8.
    QCOMPARE(QString::fromUtf8(cJSON_GetObjectItem(first, "PayerName")->valuestring),
             QStringLiteral("星辰项目"));
    QCOMPARE(cJSON_GetObjectItem(first, "PayerID")->valueint, 101);
    QCOMPARE(cJSON_GetObjectItem(first, "IsGroup")->valueint, 0);
    cJSON_Delete(json);

    // A user without settings gets the defaults; a request without a user
    // name is refused.
    QByteArray plain("{\"UserName\":\"zhangsan\"}");
    auto second = makeProxy();
    QCOMPARE(second->GetPayerInfo(m_server.endpoint().constData(), nullptr, plain.data(), &answer),
             SOAP_OK);
    QCOMPARE(QByteArray(answer), QByteArray("{\"IsSupportCostControl\":0,\"IsSupportProject\":0,"
                                            "\"PayerType\":1,\"PayerInfo\":[]}"));
    QByteArray bad("{\"Name\":1}");
    auto third = makeProxy();
    QVERIFY(third->GetPayerInfo(m_server.endpoint().constData(), nullptr, bad.data(), &answer) !=
            SOAP_OK);
}

void TestDevServerQueries::quotaVerification_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<qint64>("expected");
    auto job = [](int type, int id, int pages, const char* color) {
        return QByteArray("{\"PayerType\":") + QByteArray::number(type) +
               ",\"PayerID\":" + QByteArray::number(id) +
               ",\"TotalPages\":" + QByteArray::number(pages) +
               ",\"PaperWidth\":210,\"PaperHeight\":297,\"TaskID\":0,\"PrinterName\":\"\","
               "\"Color\":\"" +
               color + "\",\"Duplex\":\"S\",\"PaperSize\":\"A4\"}";
    };
    // Payer (4, 202) holds 100 fen; a page costs 10, a colour page 50.
    QTest::newRow("covered") << job(4, 202, 10, "M") << qint64(0);
    QTest::newRow("one page too many") << job(4, 202, 11, "M") << qint64(1);
    QTest::newRow("colour covered") << job(4, 202, 2, "C") << qint64(0);
    QTest::newRow("colour refused") << job(4, 202, 3, "C") << qint64(1);
    QTest::newRow("group payer") << job(2, 201, 1000, "M") << qint64(0);
    QTest::newRow("no balance") << job(4, 999, 1, "M") << qint64(1);
    QTest::newRow("huge job") << job(1, 2, 2000000000, "M") << qint64(1);
    QTest::newRow("negative pages") << job(4, 202, -5, "M") << qint64(2);
    QTest::newRow("not JSON") << QByteArray("PayerType=4") << qint64(2);
    QTest::newRow("no payer") << QByteArray("{\"TotalPages\":1}") << qint64(2);
}

void TestDevServerQueries::quotaVerification()
{
    QFETCH(QByteArray, request);
    QFETCH(qint64, expected);
    auto proxy = makeProxy();
    LONG64 result = -1;
    QCOMPARE(
        proxy->QuotaVerification(m_server.endpoint().constData(), nullptr, request.data(), &result),
        SOAP_OK);
    QCOMPARE(static_cast<qint64>(result), expected);
}

void TestDevServerQueries::noticesOldestFirstThenEmpty()
{
    QString error;
    QVERIFY2(m_server.addNotice("sunqi", 512, QStringLiteral("月报.pdf|一楼复印机|0|0"), &error),
             qPrintable(error));
    QVERIFY2(m_server.addNotice("sunqi", 2, QStringLiteral("合同.pdf|会议室打印机|0|1"), &error),
             qPrintable(error));
    QByteArray user("sunqi");
    const QList<QPair<int, QString>> expected{{512, QStringLiteral("月报.pdf|一楼复印机|0|0")},
                                              {2, QStringLiteral("合同.pdf|会议室打印机|0|1")}};
    for (const auto& notice : expected) {
        auto proxy = makeProxy();
        ns__GetUserMessageResponse message;
        QCOMPARE(
            proxy->GetUserMessage(m_server.endpoint().constData(), nullptr, user.data(), message),
            SOAP_OK);
        const QByteArray data = bytesOf(message.data);
        QCOMPARE(data.size(), 4 + 3 * 1024);
        QCOMPARE(int32At(data, 0), notice.first);
        QCOMPARE(data.mid(4, 1024), QByteArray(1024, '\0'));
        QCOMPARE(fromGbk(textAt(data, 1028, 1024)), notice.second);
        QCOMPARE(data.mid(2052), QByteArray(1024, '\0'));
    }
    auto proxy = makeProxy();
    ns__GetUserMessageResponse empty;
    QCOMPARE(proxy->GetUserMessage(m_server.endpoint().constData(), nullptr, user.data(), empty),
             SOAP_OK);
    QCOMPARE(bytesOf(empty.data).size(), 0);
    QCOMPARE(m_server
                 .scalar("SELECT count(*) FROM Notices WHERE UserName = 'sunqi' "
                         "AND Delivered = 0")
                 .toLongLong(),
             0LL);
}

QTEST_GUILESS_MAIN(TestDevServerQueries)
#include "tst_devserver_queries.moc"
