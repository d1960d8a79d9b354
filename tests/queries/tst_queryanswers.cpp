#include "DComLayerWS.h"
#include "RawHttpServer.h"
#include "SoapCall.h"
#include "TavAuditFlow.h"
#include "TavCommon.h"
#include "TavQuotaRequest.h"
#include "TavUserRecord.h"

#include <QtTest>

#include <cstring>

// The queries against a listener that answers canned bytes: the exact query
// texts on the wire, and answers that are truncated, lying or broken. None
// of them may read past what arrived; each ends in a failure code or in the
// part of the answer that is really there.
class TestQueryAnswers : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void queryTexts_data();
    void queryTexts();
    void tooLongQueryIsNotSent();
    void integerAnswers_data();
    void integerAnswers();
    void textAnswers_data();
    void textAnswers();
    void listAnswers_data();
    void listAnswers();
    void userInfo_data();
    void userInfo();
    void userInfoExCopiesOnlyWhatArrived();
    void printerListOfSevenBytes();
    void noticeReplies_data();
    void noticeReplies();
    void flowItemsFieldByField_data();
    void flowItemsFieldByField();
    void auditorCodeDropsThatSecretsLists();
    void flowIdSteps_data();
    void flowIdSteps();
    void quotaRequestText();
    void noContext();

private:
    void pointClientAtServer();

    RawHttpServer* m_server = nullptr;
    CDComLayerWS* m_client = nullptr;
    TavUserRecord* m_user = nullptr;
};

namespace
{

QByteArray le32(qint32 v)
{
    QByteArray b(4, '\0');
    const quint32 u = static_cast<quint32>(v);
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
    return b;
}

QByteArray fieldBytes(qint32 rows, qint32 error, const QByteArray& values)
{
    return le32(rows) + le32(error) + values;
}

// A response whose ns__Data child named element carries bytes; a null
// QByteArray gives a Fault instead, "cut" an HTTP reply that ends early.
QByteArray dataResponse(const QByteArray& operation, const QByteArray& element,
                        const QByteArray& bytes)
{
    if (bytes.isNull())
        return RawHttpServer::soapFault("no such thing");
    if (bytes == "cut") {
        QByteArray full = RawHttpServer::soapResponse("<ns:" + operation + "Response><" + element +
                                                      ">AAAAAAAAAAAA</" + element +
                                                      "></ns:" + operation + "Response>");
        return full.left(full.size() - 60);
    }
    return RawHttpServer::soapResponse("<ns:" + operation + "Response><" + element + ">" +
                                       bytes.toBase64() + "</" + element + "></ns:" + operation +
                                       "Response>");
}

QByteArray fieldResponse(const QByteArray& bytes)
{
    return dataResponse("GetFieldValuesBySQL", "ret", bytes);
}

// The text of one child element of a request body.
QByteArray child(const QByteArray& body, const QByteArray& name)
{
    const QByteArray open = "<" + name + ">";
    const int start = body.indexOf(open);
    const int end = body.indexOf("</" + name + ">");
    if (start < 0 || end < start)
        return QByteArray();
    return body.mid(start + open.size(), end - start - open.size());
}

QByteArray unescapeXml(QByteArray text)
{
    text.replace("&apos;", "'").replace("&quot;", "\"").replace("&lt;", "<").replace("&gt;", ">");
    return text.replace("&amp;", "&");
}

} // namespace

void TestQueryAnswers::init()
{
    m_server = new RawHttpServer;
    m_client = new CDComLayerWS;
    m_user = new TavUserRecord;
    memset(m_user, 0, sizeof *m_user);
    strcpy(m_user->UserName, "alice");
    strcpy(m_user->ServerAddress, "127.0.0.1");
    m_user->UserId = 12;
    m_user->SecretLevel = 4;
    pointClientAtServer();
}

void TestQueryAnswers::cleanup()
{
    SoapCall::SetContextFailureForTesting(false);
    delete m_client;
    delete m_server;
    delete m_user;
    m_client = nullptr;
    m_server = nullptr;
    m_user = nullptr;
}

void TestQueryAnswers::pointClientAtServer()
{
    m_client->InitDCOM();
    m_client->SetPort(m_server->portText().constData());
    m_server->queueReply(RawHttpServer::soapResponse(
        "<ns:UserLogonResponse><LogResult>0</LogResult></ns:UserLogonResponse>"));
    QCOMPARE(m_client->LogOn(m_user), 0);
    m_server->clearRequests();
}

enum Op {
    OpGroupId,
    OpPrintWay,
    OpGroupName,
    OpSetting,
    OpWebsite,
    OpProject,
    OpFlowItems,
    OpAuditors,
};

void TestQueryAnswers::queryTexts_data()
{
    QTest::addColumn<int>("op");
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("size");

    QTest::newRow("group id, quote doubled")
        << int(OpGroupId) << QByteArray("SELECT GroupID FROM Users WHERE UserName = 'o''brien'")
        << QByteArray("GroupID") << 1 << 4;
    QTest::newRow("print way") << int(OpPrintWay)
                               << QByteArray(
                                      "SELECT PrintWay FROM Users WHERE UserName = 'o''brien'")
                               << QByteArray("PrintWay") << 1 << 4;
    QTest::newRow("group name") << int(OpGroupName)
                                << QByteArray("SELECT GroupName FROM Groups WHERE GroupID = 7")
                                << QByteArray("GroupName") << 0 << 255;
    QTest::newRow("setting")
        << int(OpSetting)
        << QByteArray("SELECT SettingValue FROM SysSettings WHERE SettingName = 'It''s'")
        << QByteArray("SettingValue") << 0 << 512;
    QTest::newRow("website") << int(OpWebsite)
                             << QByteArray("SELECT WebsiteIP FROM Servers WHERE "
                                           "ServerIP='10.0.0.1' AND IsMonitored='Y' AND  "
                                           "IsDeleted='N'")
                             << QByteArray("WebsiteIP") << 0 << 50;
    QTest::newRow("flow items") << int(OpFlowItems)
                                << QByteArray(
                                       "SELECT FlowItemID FROM AuditFlowItems WHERE FlowID=3")
                                << QByteArray("FlowItemID") << 1 << 4;
    QTest::newRow("auditors") << int(OpAuditors)
                              << QByteArray("SELECT AuditorID FROM AuditFlowAuditors WHERE "
                                            "AuditLevelIndex=2 AND FlowItemID=41")
                              << QByteArray("AuditorID") << 1 << 4;
}

void TestQueryAnswers::queryTexts()
{
    QFETCH(int, op);
    m_server->setReply(fieldResponse(fieldBytes(0, 0, QByteArray())));
    char name[] = "o'brien";
    char setting[] = "It's";
    char value[256] = "";
    char server[] = "10.0.0.1";
    int number = 0;
    TavAuditFlowItemList items{0, nullptr};
    TavSecret secret{};
    secret.FlowItemID = 41;
    TavAuditorArray auditors{0, nullptr};
    switch (op) {
    case OpGroupId:
        QCOMPARE(m_client->GetGroupIDFromUsersByUserName(name, &number), 0);
        break;
    case OpPrintWay:
        QCOMPARE(m_client->GetPrintWayFromUsersByUserName(name, &number), 0);
        break;
    case OpGroupName:
        QCOMPARE(m_client->GetGroupNameFromGroupByGroupID(7, value), 0);
        break;
    case OpSetting:
        QCOMPARE(m_client->GetSettingValueBySettingName(setting, value, nullptr), 0);
        break;
    case OpWebsite:
        QCOMPARE(m_client->GetWebsiteIP(value, server), 0);
        break;
    case OpFlowItems:
        QCOMPARE(m_client->GetAuditFlowItems(3, &items), 0);
        break;
    case OpAuditors:
        QCOMPARE(m_client->GetAuditorsInAuditFlow(m_user, 2, &secret, &auditors), 0);
        break;
    }
    QCOMPARE(m_server->requestCount(), 1);
    const QByteArray body = m_server->request(0).body;
    QTEST(unescapeXml(child(body, "pSQL")), "sql");
    QTEST(child(body, "pFieldName"), "field");
    QTEST(child(body, "FieldType").toInt(), "type");
    QTEST(child(body, "FieldSize").toInt(), "size");
}

void TestQueryAnswers::tooLongQueryIsNotSent()
{
    m_server->setReply(fieldResponse(fieldBytes(1, 0, QByteArray("v\0", 2))));
    // 600 quotes double to 1200 bytes: more than the query buffer holds.
    QByteArray name(600, '\'');
    char value[256] = "";
    QCOMPARE(m_client->GetSettingValueBySettingName(name.data(), value, const_cast<char*>("dflt")),
             15);
    QCOMPARE(QByteArray(value), QByteArray("dflt"));
    int group = -3;
    QCOMPARE(m_client->GetGroupIDFromUsersByUserName(name.data(), &group), 15);
    QCOMPARE(group, -3);

    QByteArray stored(1000, 'x');
    TavQuotaRequest record{};
    record.PayerType = 4;
    record.PayerID = 17;
    QCOMPARE(m_client->UpdateProjectIDOfPrintProcTask(&record, stored.data()), 0);
    QCOMPARE(m_server->requestCount(), 0);
}

void TestQueryAnswers::integerAnswers_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("value");

    QTest::newRow("one row") << fieldResponse(fieldBytes(1, 0, le32(5))) << 0 << 5;
    QTest::newRow("server error") << fieldResponse(fieldBytes(0, 208, QByteArray())) << 208 << -3;
    QTest::newRow("error with a value") << fieldResponse(fieldBytes(1, 9, le32(5))) << 9 << -3;
    QTest::newRow("no row") << fieldResponse(fieldBytes(0, 0, QByteArray())) << 0 << -3;
    QTest::newRow("million rows in 12 bytes")
        << fieldResponse(fieldBytes(1000000, 0, le32(5))) << 0 << 5;
    QTest::newRow("value cut") << fieldResponse(fieldBytes(1, 0, "\x05\x00")) << 0 << -3;
    QTest::newRow("3-byte buffer") << fieldResponse("\x01\x00\x00") << 15 << -3;
    QTest::newRow("empty buffer") << fieldResponse("") << 15 << -3;
    QTest::newRow("fault") << fieldResponse(QByteArray()) << 15 << -3;
    QTest::newRow("reply cut short") << fieldResponse("cut") << 15 << -3;
    QTest::newRow("garbage") << QByteArray("HTTP/1.1 200 OK\r\n\r\n<<<not xml") << 15 << -3;
}

void TestQueryAnswers::integerAnswers()
{
    QFETCH(QByteArray, reply);
    m_server->setReply(reply);
    char name[] = "alice";
    int group = -3;
    QTEST(m_client->GetGroupIDFromUsersByUserName(name, &group), "result");
    QTEST(group, "value");
    int way = -3;
    QTEST(m_client->GetPrintWayFromUsersByUserName(name, &way), "result");
    QTEST(way, "value");
}

void TestQueryAnswers::textAnswers_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("groupName");
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QByteArray>("website");
    QTest::addColumn<bool>("websiteThrows");

    const QByteArray gbk = UTF82GBK("财务部");
    QTest::newRow("gbk text") << fieldResponse(fieldBytes(1, 0, gbk + QByteArray(10, '\0'))) << 0
                              << QByteArray("财务部") << gbk << gbk << false;
    QTest::newRow("no row") << fieldResponse(fieldBytes(0, 0, QByteArray())) << 0
                            << QByteArray("old") << QByteArray("dflt") << QByteArray("10.0.0.1")
                            << false;
    QTest::newRow("text without terminator")
        << fieldResponse(fieldBytes(1, 0, QByteArray(10, 'A'))) << 0 << QByteArray(10, 'A')
        << QByteArray(10, 'A') << QByteArray(10, 'A') << false;
    // 600 bytes without a terminator: the group name slot is 255 bytes, the
    // setting asked for 512 but lands in 256, the website slot is 50.
    QTest::newRow("long text without terminator")
        << fieldResponse(fieldBytes(1, 0, QByteArray(600, 'B'))) << 0 << QByteArray(255, 'B')
        << QByteArray(255, 'B') << QByteArray(50, 'B') << false;
    QTest::newRow("million rows in 12 bytes")
        << fieldResponse(fieldBytes(1000000, 0, "abcd")) << 0 << QByteArray("abcd")
        << QByteArray("abcd") << QByteArray("abcd") << false;
    QTest::newRow("server error") << fieldResponse(fieldBytes(1, 3, "zzz\0")) << 3
                                  << QByteArray("old") << QByteArray("dflt")
                                  << QByteArray("10.0.0.1") << false;
    QTest::newRow("3-byte buffer") << fieldResponse("\x01\x00\x00") << 15 << QByteArray("old")
                                   << QByteArray("dflt") << QByteArray() << true;
    QTest::newRow("fault") << fieldResponse(QByteArray()) << 15 << QByteArray("old")
                           << QByteArray("dflt") << QByteArray() << true;
}

void TestQueryAnswers::textAnswers()
{
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, website);
    QFETCH(bool, websiteThrows);
    m_server->setReply(reply);

    char groupName[256] = "old";
    QTEST(m_client->GetGroupNameFromGroupByGroupID(2, groupName), "result");
    QTEST(QByteArray(groupName), "groupName");

    char setting[] = "CompanyName";
    char value[256 + 8];
    memset(value, '#', sizeof value);
    QTEST(m_client->GetSettingValueBySettingName(setting, value, const_cast<char*>("dflt")),
          "result");
    QTEST(QByteArray(value), "setting");
    QCOMPARE(value[256], '#'); // nothing written past the 256-byte buffer

    char address[256] = "unchanged";
    char server[] = "10.0.0.1";
    bool thrown = false;
    try {
        QCOMPARE(m_client->GetWebsiteIP(address, server), 0);
    } catch (int code) {
        thrown = true;
        QCOMPARE(static_cast<unsigned int>(code), 0x80000000u);
    }
    QCOMPARE(thrown, websiteThrows);
    if (!thrown)
        QCOMPARE(QByteArray(address), website);
}

void TestQueryAnswers::listAnswers_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("itemsResult");
    QTest::addColumn<int>("auditorsResult");

    QTest::newRow("million rows in 12 bytes")
        << fieldResponse(fieldBytes(1000000, 0, le32(7))) << 13 << 13;
    QTest::newRow("two rows, one arrived") << fieldResponse(fieldBytes(2, 0, le32(7))) << 13 << 13;
    QTest::newRow("negative row count") << fieldResponse(fieldBytes(-5, 0, le32(7))) << 13 << 13;
    QTest::newRow("3-byte buffer") << fieldResponse("\x01\x00\x00") << 13 << 13;
    QTest::newRow("empty buffer") << fieldResponse("") << 13 << 13;
    QTest::newRow("fault") << fieldResponse(QByteArray()) << 13 << 13;
    QTest::newRow("reply cut short") << fieldResponse("cut") << 13 << 13;
    QTest::newRow("server error") << fieldResponse(fieldBytes(0, 42, QByteArray())) << 42 << 42;
}

void TestQueryAnswers::listAnswers()
{
    QFETCH(QByteArray, reply);
    m_server->setReply(reply);

    TavAuditFlowItemList items{99, reinterpret_cast<TavAuditFlowItem*>(this)};
    QTEST(m_client->GetAuditFlowItems(1, &items), "itemsResult");
    QCOMPARE(items.Items, nullptr);
    QCOMPARE(items.Count, 0);

    TavSecret secret{};
    secret.FlowItemID = 4;
    TavAuditorArray auditors{99, nullptr};
    QTEST(m_client->GetAuditorsInAuditFlow(m_user, 1, &secret, &auditors), "auditorsResult");
    QCOMPARE(auditors.Entries, nullptr);
    QCOMPARE(auditors.Count, 0);

    // The whole model: nothing is loaded from such answers.
    TavAuditFlow flow;
    QVERIFY(m_client->GetAuditFlow(&flow, m_user) != 0);
    QVERIFY(flow.Secrets.isEmpty());
}

void TestQueryAnswers::userInfo_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("result"); // -1: the call throws
    QTest::addColumn<int>("userId");
    QTest::addColumn<QByteArray>("fullName");

    const QByteArray name = UTF82GBK("张三");
    QTest::newRow("number and name") << dataResponse("GetUserInfo", "image", le32(17) + name + '\0')
                                     << 0 << 17 << QByteArray("张三");
    QTest::newRow("name without terminator")
        << dataResponse("GetUserInfo", "image", le32(17) + name) << 0 << 17 << QByteArray("张三");
    QTest::newRow("number only") << dataResponse("GetUserInfo", "image", le32(17)) << 0 << 17
                                 << QByteArray();
    QTest::newRow("3 bytes") << dataResponse("GetUserInfo", "image", "\x11\x00\x00") << 15 << 5
                             << QByteArray("old");
    QTest::newRow("empty") << dataResponse("GetUserInfo", "image", "") << 15 << 5
                           << QByteArray("old");
    QTest::newRow("fault") << dataResponse("GetUserInfo", "image", QByteArray()) << -1 << 5
                           << QByteArray("old");
    QTest::newRow("cut") << dataResponse("GetUserInfo", "image", "cut") << -1 << 5
                         << QByteArray("old");
}

void TestQueryAnswers::userInfo()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, result);
    m_server->setReply(reply);
    m_user->UserId = 5;
    strcpy(m_user->FullName, "old");
    bool thrown = false;
    try {
        QCOMPARE(m_client->GetUserInfo(m_user->UserName, m_user), result);
    } catch (unsigned int code) {
        thrown = true;
        QCOMPARE(code, 0x80000000u);
    }
    QCOMPARE(thrown, result == -1);
    QTEST(m_user->UserId, "userId");
    QTEST(QByteArray(m_user->FullName), "fullName");
}

void TestQueryAnswers::userInfoExCopiesOnlyWhatArrived()
{
    memset(m_user->UserInfoEx, 0x77, sizeof m_user->UserInfoEx);
    m_server->setReply(dataResponse("GetUserInfoEx", "image", QByteArray("\x02\x00\x00\x00ab", 6)));
    QCOMPARE(m_client->GetUserInfoEx(m_user->UserName, m_user), 0);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(m_user->UserInfoEx), 6),
             QByteArray("\x02\x00\x00\x00ab", 6));
    for (int i = 6; i < TavUserRecord::kUserInfoExSize; ++i)
        QCOMPARE(m_user->UserInfoEx[i], static_cast<unsigned char>(0x77));

    // A longer answer fills the block and no more.
    m_server->setReply(dataResponse("GetUserInfoEx", "image", QByteArray(5000, 'x')));
    QCOMPARE(m_client->GetUserInfoEx(m_user->UserName, m_user), 0);
    QCOMPARE(m_user->UserInfoEx[TavUserRecord::kUserInfoExSize - 1],
             static_cast<unsigned char>('x'));

    m_server->setReply(dataResponse("GetUserInfoEx", "image", ""));
    QCOMPARE(m_client->GetUserInfoEx(m_user->UserName, m_user), 15);
    m_server->setReply(dataResponse("GetUserInfoEx", "image", QByteArray()));
    QVERIFY_EXCEPTION_THROWN(m_client->GetUserInfoEx(m_user->UserName, m_user), unsigned int);
}

void TestQueryAnswers::printerListOfSevenBytes()
{
    m_server->setReply(dataResponse("GetPrinterList", "data", "3|a|b|c"));
    void* list = nullptr;
    QCOMPARE(m_client->GetPrinterList(m_user->UserName, &list), 0);
    QVERIFY(list);
    QCOMPARE(SysStringLen(list), 3u);
    QCOMPARE(QByteArray(static_cast<const char*>(list)), QByteArray("3|a|b|c"));
    SysFreeString(list);

    list = nullptr;
    m_server->setReply(dataResponse("GetPrinterList", "data", ""));
    QCOMPARE(m_client->GetPrinterList(m_user->UserName, &list), 15);
    QCOMPARE(list, nullptr);
    m_server->setReply(dataResponse("GetPrinterList", "data", QByteArray()));
    QVERIFY_EXCEPTION_THROWN(m_client->GetPrinterList(m_user->UserName, &list), unsigned int);
}

void TestQueryAnswers::noticeReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("headline");

    QByteArray full(3076, '\0');
    full.replace(0, 4, le32(512));
    full.replace(1028, 7, "job|p|0");
    QTest::newRow("full") << dataResponse("GetUserMessage", "data", full) << 0
                          << QByteArray("<job>打印成功!");
    QTest::newRow("ends inside the field text")
        << dataResponse("GetUserMessage", "data", full.left(1035)) << 0
        << QByteArray("<job>打印成功!");
    QTest::newRow("ends before the field text")
        << dataResponse("GetUserMessage", "data", full.left(100)) << -1 << QByteArray();
    QTest::newRow("3 bytes") << dataResponse("GetUserMessage", "data", "\x00\x02\x00") << -1
                             << QByteArray();
    QTest::newRow("empty") << dataResponse("GetUserMessage", "data", "") << -1 << QByteArray();
    QTest::newRow("fault") << dataResponse("GetUserMessage", "data", QByteArray()) << -2
                           << QByteArray();
    QTest::newRow("cut") << dataResponse("GetUserMessage", "data", "cut") << -2 << QByteArray();
}

void TestQueryAnswers::noticeReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, result);
    m_server->setReply(reply);
    TavServerMessage out;
    memset(&out, 0, sizeof out);
    QCOMPARE(m_client->ReadMessage("alice", &out), result);
    QTEST(QByteArray(out.Headline), "headline");
}

void TestQueryAnswers::flowItemsFieldByField_data()
{
    QTest::addColumn<int>("failAt"); // index of the answer that carries code 7; -1 none
    QTest::addColumn<int>("result");
    QTest::newRow("all answered") << -1 << 0;
    QTest::newRow("code on a level count") << 2 << 7;
    QTest::newRow("code on the last note") << 10 << 7;
}

void TestQueryAnswers::flowItemsFieldByField()
{
    QFETCH(int, failAt);
    // Two items: 1 + 5 x 2 queries, all AuditLevel queries first, then all
    // DocLevelID queries, and so on.
    QList<QByteArray> answers{fieldBytes(2, 0, le32(41) + le32(42)),
                              fieldBytes(1, 0, le32(1)),
                              fieldBytes(1, 0, le32(2)),
                              fieldBytes(1, 0, le32(301)),
                              fieldBytes(1, 0, le32(302)),
                              fieldBytes(1, 0, le32(1)),
                              fieldBytes(1, 0, le32(2)),
                              fieldBytes(1, 0, UTF82GBK("公开") + '\0'),
                              fieldBytes(1, 0, UTF82GBK("内部") + '\0'),
                              fieldBytes(1, 0, QByteArray("n1\0", 3)),
                              fieldBytes(1, 0, QByteArray("n2\0", 3))};
    if (failAt >= 0)
        answers[failAt] = fieldBytes(0, 7, QByteArray());
    for (const QByteArray& a : answers)
        m_server->queueReply(fieldResponse(a));

    TavAuditFlowItemList list{0, nullptr};
    QTEST(m_client->GetAuditFlowItems(9, &list), "result");
    const QStringList expected{
        "SELECT FlowItemID FROM AuditFlowItems WHERE FlowID=9",
        "SELECT AuditLevel FROM AuditFlowItems WHERE FlowItemID=41",
        "SELECT AuditLevel FROM AuditFlowItems WHERE FlowItemID=42",
        "SELECT DocLevelID FROM AuditFlowItems WHERE FlowItemID=41",
        "SELECT DocLevelID FROM AuditFlowItems WHERE FlowItemID=42",
        "SELECT SecretLevel FROM SysSettingsAudit WHERE LevelID=301",
        "SELECT SecretLevel FROM SysSettingsAudit WHERE LevelID=302",
        "SELECT SecretLevelName FROM SysSettingsAudit WHERE LevelID=301",
        "SELECT SecretLevelName FROM SysSettingsAudit WHERE LevelID=302",
        "SELECT SecretLevelNote FROM SysSettingsAudit WHERE LevelID=301",
        "SELECT SecretLevelNote FROM SysSettingsAudit WHERE LevelID=302",
    };
    const int sent = failAt < 0 ? expected.size() : failAt + 1;
    QCOMPARE(m_server->requestCount(), sent);
    for (int i = 0; i < sent; ++i)
        QCOMPARE(QString::fromUtf8(child(m_server->request(i).body, "pSQL")), expected.at(i));
    if (failAt >= 0) {
        QCOMPARE(list.Items, nullptr);
        return;
    }
    QCOMPARE(list.Count, 2);
    QCOMPARE(list.Items[1].FlowItemID, 42);
    QCOMPARE(list.Items[1].FlowID, 9);
    QCOMPARE(list.Items[1].AuditLevel, 2);
    QCOMPARE(list.Items[1].DocLevelID, 302);
    QCOMPARE(list.Items[1].SecretLevel, 2);
    QCOMPARE(QByteArray(list.Items[1].SecretLevelName), QByteArray("内部"));
    QCOMPARE(QByteArray(list.Items[1].SecretLevelNote), QByteArray("n2"));
    free(list.Items);
}

void TestQueryAnswers::auditorCodeDropsThatSecretsLists()
{
    // Flow 5 with one item of two approval levels; level 1 loads, level 2
    // answers with code 42: the secret is kept without auditor lists.
    const QList<QByteArray> answers{
        fieldBytes(1, 0, le32(5)),                 // AuditFlowID of the user
        fieldBytes(1, 0, le32(41)),                // FlowItemID
        fieldBytes(1, 0, le32(2)),                 // AuditLevel
        fieldBytes(1, 0, le32(301)),               // DocLevelID
        fieldBytes(1, 0, le32(1)),                 // SecretLevel
        fieldBytes(1, 0, QByteArray("L\0", 2)),    // SecretLevelName
        fieldBytes(1, 0, QByteArray("N\0", 2)),    // SecretLevelNote
        fieldBytes(2, 0, le32(7) + le32(12)),      // level 1: 7 and the user
        fieldBytes(1, 0, UTF82GBK("吴九") + '\0'), // name of 7
        fieldBytes(0, 42, QByteArray()),           // level 2: code 42
    };
    for (const QByteArray& a : answers)
        m_server->queueReply(fieldResponse(a));
    TavAuditFlow flow;
    QCOMPARE(m_client->GetAuditFlow(&flow, m_user), 42);
    QCOMPARE(m_server->requestCount(), answers.size());
    QCOMPARE(flow.FlowID, 5);
    QCOMPARE(flow.Secrets.size(), 1);
    QCOMPARE(flow.Secrets.first().AuditLevel, 2);
    QCOMPARE(flow.Secrets.first().Auditors, nullptr);
    QCOMPARE(flow.MaxAuditLevels, 2);
    QCOMPARE(QByteArray(flow.Secrets.first().SecretLevelName), QByteArray("L"));
}

void TestQueryAnswers::flowIdSteps_data()
{
    QTest::addColumn<QList<QByteArray>>("answers"); // a null entry: the exchange fails
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("flow");

    const QByteArray none = fieldBytes(0, 0, QByteArray());
    QTest::newRow("own flow") << QList<QByteArray>{fieldBytes(1, 0, le32(3))} << 0 << 3;
    QTest::newRow("own query error") << QList<QByteArray>{fieldBytes(1, 5, le32(3))} << 13 << -1;
    QTest::newRow("own query no row") << QList<QByteArray>{none} << 13 << -1;
    QTest::newRow("own query fails") << QList<QByteArray>{QByteArray()} << 13 << 0;
    QTest::newRow("group flow") << QList<QByteArray>{fieldBytes(1, 0, le32(0)),
                                                     fieldBytes(1, 0, le32(8)),
                                                     fieldBytes(1, 0, le32(5))}
                                << 0 << 5;
    QTest::newRow("negative own, group has none")
        << QList<QByteArray>{fieldBytes(1, 0, le32(-2)), fieldBytes(1, 0, le32(8)), none} << 0
        << -2;
    QTest::newRow("no group") << QList<QByteArray>{fieldBytes(1, 0, le32(0)),
                                                   fieldBytes(1, 0, le32(0))}
                              << 0 << 0;
    QTest::newRow("group query fails")
        << QList<QByteArray>{fieldBytes(1, 0, le32(0)), QByteArray()} << 13 << 0;
    QTest::newRow("group flow query fails")
        << QList<QByteArray>{fieldBytes(1, 0, le32(0)), fieldBytes(1, 0, le32(8)), QByteArray()}
        << 13 << 0;
}

void TestQueryAnswers::flowIdSteps()
{
    QFETCH(QList<QByteArray>, answers);
    for (const QByteArray& a : answers)
        m_server->queueReply(a.isNull() ? RawHttpServer::soapFault("down") : fieldResponse(a));
    int flow = 99;
    QTEST(m_client->GetAuditFlowID(m_user, &flow), "result");
    QTEST(flow, "flow");
    QCOMPARE(m_server->requestCount(), answers.size());
    if (answers.size() == 3)
        QCOMPARE(child(m_server->request(2).body, "pSQL"),
                 QByteArray("SELECT AuditFlowID FROM Groups WHERE GroupID=8"));
}

void TestQueryAnswers::quotaRequestText()
{
    TavQuotaRequest request{};
    request.Kind = 'P';
    request.PayerType = 4;
    request.PayerID = 202;
    strcpy(request.PrinterName, "HP \"3F\"");
    request.TotalPages = 12;
    strcpy(request.Color, "C");
    strcpy(request.Duplex, "D");
    memset(request.PaperSize, 'x', sizeof request.PaperSize); // no terminator
    request.PaperWidth = 210;
    request.PaperHeight = 297;
    request.TaskID = 0;

    m_server->setReply(RawHttpServer::soapResponse(
        "<ns:QuotaVerificationResponse><pRet>1</pRet></ns:QuotaVerificationResponse>"));
    QCOMPARE(m_client->QuotaVerification(reinterpret_cast<char*>(&request)), 1);
    QCOMPARE(unescapeXml(child(m_server->request(0).body, "pJsonJobParam")),
             "{\"PayerType\":4,\"PayerID\":202,\"TotalPages\":12,\"PaperWidth\":210,"
             "\"PaperHeight\":297,\"TaskID\":0,\"PrinterName\":\"HP \\\"3F\\\"\","
             "\"Color\":\"C\",\"Duplex\":\"D\",\"PaperSize\":\"" +
                 QByteArray(50, 'x') + "\"}");

    // An answer without pRet, and a fault, let the job go.
    m_server->setReply(RawHttpServer::soapResponse(
        "<ns:QuotaVerificationResponse></ns:QuotaVerificationResponse>"));
    QCOMPARE(m_client->QuotaVerification(reinterpret_cast<char*>(&request)), 0);
    m_server->setReply(RawHttpServer::soapFault("busy"));
    QCOMPARE(m_client->QuotaVerification(reinterpret_cast<char*>(&request)), 0);
}

void TestQueryAnswers::noContext()
{
    SoapCall::SetContextFailureForTesting(true);
    char name[] = "alice";
    char value[256] = "";
    int number = 0;
    QCOMPARE(m_client->GetGroupIDFromUsersByUserName(name, &number), 15);
    QCOMPARE(m_client->GetSettingValueBySettingName(name, value, const_cast<char*>("d")), 15);
    QCOMPARE(QByteArray(value), QByteArray("d"));
    QVERIFY_EXCEPTION_THROWN(m_client->GetWebsiteIP(value, name), int);
    QVERIFY_EXCEPTION_THROWN(m_client->GetUserInfo(name, m_user), unsigned int);
    void* list = nullptr;
    QVERIFY_EXCEPTION_THROWN(m_client->GetPrinterList(name, &list), unsigned int);
    QCOMPARE(m_client->GetSecretLevel(name), 0);
    number = 9;
    QCOMPARE(m_client->GetSpecialAudit(name, &number), 15);
    QCOMPARE(number, 0);
    char* payer = nullptr;
    QCOMPARE(m_client->GetPayerInfo(name, payer), 20);
    QCOMPARE(m_client->ExecSQL(name), 0);
    int flow = 5;
    QCOMPARE(m_client->GetAuditFlowID(m_user, &flow), 13);
    QCOMPARE(flow, 0);
    TavServerMessage out;
    QCOMPARE(m_client->ReadMessage(name, &out), -2);
    QCOMPARE(m_server->requestCount(), 0);
}

QTEST_GUILESS_MAIN(TestQueryAnswers)
#include "tst_queryanswers.moc"
