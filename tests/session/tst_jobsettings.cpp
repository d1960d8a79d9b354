// The job settings loaded at logon: payers from the server's JSON, the
// purposes and, when the server has no audit flow, the secret levels of the
// configuration.

#include "FakeRpcClient.h"
#include "OrixUser.h"
#include "TestRoot.h"
#include "TextUtil.h"

#include <QtTest>

#include <cjson/cJSON.h>

Q_DECLARE_METATYPE(QList<QByteArray>)

namespace
{

FakeRpcClient* useFake(OrixUser& user)
{
    FakeRpcClient* fake = new FakeRpcClient;
    user.RpcClient.reset(fake);
    return fake;
}

QList<QByteArray> purposeNames(const OrixUser& user)
{
    QList<QByteArray> names;
    for (const TavPurpose& p : user.AuditFlow.Purposes)
        names << QByteArray(p.Name);
    return names;
}

QList<QByteArray> secretNames(const OrixUser& user)
{
    QList<QByteArray> names;
    for (const TavSecret& s : user.AuditFlow.Secrets)
        names << QByteArray(s.SecretLevelName);
    return names;
}

} // namespace

class TestJobSettings : public QObject
{
    Q_OBJECT

private slots:
    void payers_data();
    void payers();
    void payerQueryFailure();
    void payerReloadReplacesList();
    void payerRequestText_data();
    void payerRequestText();
    void payerNameIsCut();
    void purposes_data();
    void purposes();
    void purposesNotRepeatedByNextLogon();
    void secretLevelsFromConfiguration();
    void serverFlowKeepsConfigurationOut();
};

void TestJobSettings::payers_data()
{
    QTest::addColumn<QByteArray>("reply"); // null: the server sent no text
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("costControl");
    QTest::addColumn<bool>("project");
    QTest::addColumn<int>("payerType");
    QTest::addColumn<QList<QByteArray>>("names");
    QTest::addColumn<QList<int>>("ids");
    QTest::addColumn<QList<int>>("groups");

    const QByteArray two = "\"PayerInfo\":[{\"PayerName\":\"研发部\",\"PayerID\":3,\"IsGroup\":1},"
                           "{\"PayerName\":\"张三\",\"PayerID\":1,\"IsGroup\":0}]";
    QTest::newRow("complete")
        << "{\"IsSupportCostControl\":1,\"IsSupportProject\":0,\"PayerType\":6," + two + "}" << 0
        << true << false << 6 << QList<QByteArray>{"研发部", "张三"} << QList<int>{3, 1}
        << QList<int>{1, 0};
    QTest::newRow("entry without IsGroup")
        << QByteArray("{\"IsSupportCostControl\":0,\"IsSupportProject\":1,\"PayerType\":4,"
                      "\"PayerInfo\":[{\"PayerName\":\"a\",\"PayerID\":7},"
                      "{\"PayerName\":\"b\",\"PayerID\":8,\"IsGroup\":1}]}")
        << 2 << false << true << 4 << QList<QByteArray>{"", "b"} << QList<int>{0, 8}
        << QList<int>{0, 1};
    QTest::newRow("switch missing")
        << "{\"IsSupportCostControl\":1,\"PayerType\":2," + two + "}" << 2 << false << false << 1
        << QList<QByteArray>{"研发部", "张三"} << QList<int>{3, 1} << QList<int>{1, 0};
    QTest::newRow("booleans") << QByteArray("{\"IsSupportCostControl\":true,\"IsSupportProject\":"
                                            "false,\"PayerType\":1,\"PayerInfo\":[]}")
                              << 0 << true << false << 1 << QList<QByteArray>{} << QList<int>{}
                              << QList<int>{};
    QTest::newRow("no payer array")
        << QByteArray("{\"IsSupportCostControl\":0,\"IsSupportProject\":0,\"PayerType\":2}") << 0
        << false << false << 2 << QList<QByteArray>{} << QList<int>{} << QList<int>{};
    QTest::newRow("payer object, not array")
        << QByteArray("{\"IsSupportCostControl\":1,\"IsSupportProject\":1,\"PayerType\":2,"
                      "\"PayerInfo\":{\"PayerName\":\"x\",\"PayerID\":1,\"IsGroup\":0}}")
        << 2 << true << true << 2 << QList<QByteArray>{} << QList<int>{} << QList<int>{};
    QTest::newRow("array of numbers")
        << QByteArray("{\"IsSupportCostControl\":1,\"IsSupportProject\":1,\"PayerType\":2,"
                      "\"PayerInfo\":[1,2,3]}")
        << 2 << true << true << 2 << QList<QByteArray>{"", "", ""} << QList<int>{0, 0, 0}
        << QList<int>{0, 0, 0};
    QTest::newRow("not JSON") << QByteArray("<html>busy</html>") << 2 << false << false << 1
                              << QList<QByteArray>{} << QList<int>{} << QList<int>{};
    QTest::newRow("truncated JSON")
        << QByteArray("{\"PayerType\":6,\"PayerInfo\":[{") << 2 << false << false << 1
        << QList<QByteArray>{} << QList<int>{} << QList<int>{};
    QTest::newRow("no text") << QByteArray() << 2 << false << false << 1 << QList<QByteArray>{}
                             << QList<int>{} << QList<int>{};
}

void TestJobSettings::payers()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, result);
    QFETCH(bool, costControl);
    QFETCH(bool, project);
    QFETCH(int, payerType);
    QFETCH(QList<QByteArray>, names);
    QFETCH(QList<int>, ids);
    QFETCH(QList<int>, groups);

    TestRoot root;
    OrixUser user;
    FakeRpcClient* fake = useFake(user);
    fake->payerReply = reply;
    fake->payerReplyIsNull = reply.isNull();
    // Values of an earlier logon must not survive.
    user.IsSupportCostControl = true;
    user.IsSupportProject = true;
    user.PayerType = 9;

    QCOMPARE(user.GetUserPayerInfo(), result);
    QCOMPARE(user.IsSupportCostControl, costControl);
    QCOMPARE(user.IsSupportProject, project);
    QCOMPARE(user.PayerType, payerType);
    QCOMPARE(user.PayerCount, names.size());
    QCOMPARE(user.Payers == nullptr, names.isEmpty());
    for (int i = 0; i < names.size(); ++i) {
        QCOMPARE(QByteArray(user.Payers[i].PayerName), names[i]);
        QCOMPARE(user.Payers[i].PayerID, ids[i]);
        QCOMPARE(user.Payers[i].IsGroup, groups[i]);
    }
}

void TestJobSettings::payerQueryFailure()
{
    TestRoot root;
    OrixUser user;
    FakeRpcClient* fake = useFake(user);
    fake->payerResult = 20;
    fake->payerReply = "{\"IsSupportCostControl\":1,\"IsSupportProject\":1,\"PayerType\":6}";
    QCOMPARE(user.GetUserPayerInfo(), 20);
    QVERIFY(!user.IsSupportCostControl);
    QVERIFY(!user.IsSupportProject);
    QCOMPARE(user.PayerType, 1);
    QCOMPARE(user.PayerCount, 0);
}

void TestJobSettings::payerReloadReplacesList()
{
    TestRoot root;
    OrixUser user;
    FakeRpcClient* fake = useFake(user);
    fake->payerReply = "{\"IsSupportCostControl\":1,\"IsSupportProject\":1,\"PayerType\":6,"
                       "\"PayerInfo\":[{\"PayerName\":\"a\",\"PayerID\":1,\"IsGroup\":0},"
                       "{\"PayerName\":\"b\",\"PayerID\":2,\"IsGroup\":0},"
                       "{\"PayerName\":\"c\",\"PayerID\":3,\"IsGroup\":1}]}";
    QCOMPARE(user.GetUserPayerInfo(), 0);
    QCOMPARE(user.PayerCount, 3);
    fake->payerReply = "{\"IsSupportCostControl\":1,\"IsSupportProject\":1,\"PayerType\":6,"
                       "\"PayerInfo\":[{\"PayerName\":\"z\",\"PayerID\":26,\"IsGroup\":1}]}";
    QCOMPARE(user.GetUserPayerInfo(), 0);
    QCOMPARE(user.PayerCount, 1);
    QCOMPARE(QByteArray(user.Payers[0].PayerName), QByteArray("z"));
    fake->payerReply = "nonsense";
    QCOMPARE(user.GetUserPayerInfo(), 2);
    QCOMPARE(user.PayerCount, 0);
    QVERIFY(user.Payers == nullptr);
}

void TestJobSettings::payerRequestText_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("plain") << QByteArray("alice");
    QTest::newRow("Chinese") << QByteArray("张三");
    QTest::newRow("quote") << QByteArray("a\",\"UserName\":\"admin");
    QTest::newRow("backslash") << QByteArray("dom\\user");
}

void TestJobSettings::payerRequestText()
{
    QFETCH(QByteArray, name);
    TestRoot root;
    OrixUser user;
    FakeRpcClient* fake = useFake(user);
    fake->payerReply = "{}";
    CopyText(user.UserName, sizeof user.UserName, name.constData());
    user.GetUserPayerInfo();

    if (name == "alice")
        QCOMPARE(fake->payerRequest, QByteArray("{\"UserName\":\"alice\"}"));
    // Whatever the name holds, the server receives one member with the name.
    cJSON* parsed = cJSON_Parse(fake->payerRequest.constData());
    QVERIFY(parsed);
    QCOMPARE(cJSON_GetArraySize(parsed), 1);
    const cJSON* member = cJSON_GetObjectItemCaseSensitive(parsed, "UserName");
    QVERIFY(cJSON_IsString(member));
    QCOMPARE(QByteArray(member->valuestring), name);
    cJSON_Delete(parsed);
}

void TestJobSettings::payerNameIsCut()
{
    TestRoot root;
    OrixUser user;
    FakeRpcClient* fake = useFake(user);
    const QByteArray longName(400, 'n');
    fake->payerReply = "{\"IsSupportCostControl\":1,\"IsSupportProject\":1,\"PayerType\":6,"
                       "\"PayerInfo\":[{\"PayerName\":\"" +
                       longName + "\",\"PayerID\":1,\"IsGroup\":0}]}";
    QCOMPARE(user.GetUserPayerInfo(), 0);
    QCOMPARE(QByteArray(user.Payers[0].PayerName), longName.left(255));
}

void TestJobSettings::purposes_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::newRow("two") << QByteArray("\"会议材料;合同\"")
                         << QList<QByteArray>{"会议材料", "合同"};
    QTest::newRow("empty middle") << QByteArray("\"a;;b\"") << QList<QByteArray>{"a", "", "b"};
    QTest::newRow("leading and trailing")
        << QByteArray("\";a;\"") << QList<QByteArray>{"", "a", ""};
    QTest::newRow("one") << QByteArray("single") << QList<QByteArray>{"single"};
    QTest::newRow("none") << QByteArray() << QList<QByteArray>{""};
}

void TestJobSettings::purposes()
{
    QFETCH(QByteArray, value);
    QFETCH(QList<QByteArray>, expected);
    TestRoot root;
    if (!value.isNull())
        root.writeConfig("[Main%20Window]\n2015=" + value + "\n");
    OrixUser user;
    user.GetDocPurpose();
    QCOMPARE(purposeNames(user), expected);
    for (const TavPurpose& p : user.AuditFlow.Purposes)
        QCOMPARE(int(p.Reserved), 0);
}

void TestJobSettings::purposesNotRepeatedByNextLogon()
{
    TestRoot root;
    root.writeConfig("[Main%20Window]\n2015=\"a;b\"\n");
    OrixUser user;
    user.GetDocPurpose();
    user.GetDocPurpose();
    QCOMPARE(purposeNames(user), (QList<QByteArray>{"a", "b"}));
}

void TestJobSettings::secretLevelsFromConfiguration()
{
    TestRoot root;
    const QByteArray longName = QByteArray("机密").repeated(10); // 60 bytes
    root.writeConfig("[Main%20Window]\n2014=\"公开;;" + longName + "\"\n");
    OrixUser user;
    FakeRpcClient* fake = useFake(user);
    fake->flowId = -1;
    user.GetAuditInfo();
    QCOMPARE(fake->auditFlowCalls, 1);
    // 49 bytes at most, cut between characters: 48 bytes of 3-byte characters.
    QCOMPARE(secretNames(user), (QList<QByteArray>{"公开", "", longName.left(48)}));
    for (const TavSecret& s : user.AuditFlow.Secrets) {
        QCOMPARE(s.AuditLevel, 0);
        QCOMPARE(s.FlowItemID, 0);
        QVERIFY(s.Auditors == nullptr);
    }
}

void TestJobSettings::serverFlowKeepsConfigurationOut()
{
    TestRoot root;
    root.writeConfig("[Main%20Window]\n2014=\"公开;秘密\"\n");
    OrixUser user;
    FakeRpcClient* fake = useFake(user);
    fake->flowId = 1;
    user.GetAuditInfo();
    QCOMPARE(user.AuditFlow.FlowID, 1);
    QVERIFY(user.AuditFlow.Secrets.isEmpty());
}

QTEST_GUILESS_MAIN(TestJobSettings)
#include "tst_jobsettings.moc"
