#include "DComLayerWS.h"
#include "DevServerProcess.h"
#include "TavAuditFlow.h"
#include "TavCommon.h"
#include "TavUserRecord.h"

#include <QtTest>

#include <cstring>

// Loading the audit model from the development server's seed data: own
// flow, group flow, no flow, the secret level count, approval levels from
// zero to three, auditors that are the user himself, inactive or deleted.
class TestServerAuditFlow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void flowId_data();
    void flowId();
    void flowItems();
    void auditors_data();
    void auditors();
    void model_data();
    void model();
    void releaseKeepsPurposes();

private:
    TavUserRecord user(int userId, int secretLevel) const;

    DevServerProcess m_server;
    CDComLayerWS m_client;
};

void TestServerAuditFlow::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    m_client.InitDCOM();
    m_client.SetPort(QByteArray::number(m_server.port()).constData());
    TavUserRecord logon = user(1, 0);
    strcpy(logon.UserName, "zhangsan");
    strcpy(logon.Password, "E10ADC3949BA59ABBE56E057F20F883E");
    QCOMPARE(m_client.LogOn(&logon), 0);
}

TavUserRecord TestServerAuditFlow::user(int userId, int secretLevel) const
{
    TavUserRecord record;
    memset(&record, 0, sizeof record);
    strcpy(record.ServerAddress, "127.0.0.1");
    record.UserId = userId;
    record.SecretLevel = secretLevel;
    return record;
}

void TestServerAuditFlow::flowId_data()
{
    QTest::addColumn<int>("userId");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("flow");

    QTest::newRow("own flow wins over the group's") << 101 << 0 << 103;
    QTest::newRow("group fallback") << 102 << 0 << 105;
    QTest::newRow("neither has one") << 103 << 0 << 0;
    QTest::newRow("no such user") << 999 << 13 << -1;
}

void TestServerAuditFlow::flowId()
{
    QFETCH(int, userId);
    TavUserRecord record = user(userId, 2);
    int flow = 12345;
    QTEST(m_client.GetAuditFlowID(&record, &flow), "result");
    QTEST(flow, "flow");
}

void TestServerAuditFlow::flowItems()
{
    TavAuditFlowItemList list{0, nullptr};
    QCOMPARE(m_client.GetAuditFlowItems(103, &list), 0);
    QCOMPARE(list.Count, 4);
    const int ids[] = {1031, 1032, 1033, 1034};
    const int levels[] = {1, 2, 3, 0};
    const char* names[] = {"非密", "内部资料", "商业秘密", "核心机密"};
    const char* notes[] = {"无需审批", "部门内部", "两级审批", "不需要审批人"};
    for (int i = 0; i < 4; ++i) {
        const TavAuditFlowItem& item = list.Items[i];
        QCOMPARE(item.FlowItemID, ids[i]);
        QCOMPARE(item.FlowID, 103);
        QCOMPARE(item.DocLevelID, 101 + i);
        QCOMPARE(item.AuditLevel, levels[i]);
        QCOMPARE(item.SecretLevel, i + 1);
        QCOMPARE(QByteArray(item.SecretLevelName), QByteArray(names[i]));
        QCOMPARE(QByteArray(item.SecretLevelNote), UTF82GBK(notes[i])); // kept as received
    }
    free(list.Items);

    QCOMPARE(m_client.GetAuditFlowItems(4711, &list), 0);
    QCOMPARE(list.Count, 0);
    QCOMPARE(list.Items, nullptr);
}

void TestServerAuditFlow::auditors_data()
{
    QTest::addColumn<int>("userId");
    QTest::addColumn<int>("flowItem");
    QTest::addColumn<int>("level");
    QTest::addColumn<QList<int>>("ids");
    QTest::addColumn<QStringList>("names");

    // Rows 107, 112, 109: 蒋涛 (112) never audits his own jobs; 蔡军 (109)
    // is deleted and keeps his place without a name.
    QTest::newRow("the user himself left out")
        << 112 << 1031 << 1 << QList<int>{107, 109} << QStringList{"徐明", ""};
    QTest::newRow("somebody else sees all three")
        << 101 << 1031 << 1 << QList<int>{107, 112, 109} << QStringList{"徐明", "蒋涛", ""};
    QTest::newRow("inactive auditor")
        << 101 << 1032 << 2 << QList<int>{111, 108} << QStringList{"彭辉", ""};
    QTest::newRow("no auditors") << 101 << 1034 << 1 << QList<int>{} << QStringList{};
}

void TestServerAuditFlow::auditors()
{
    QFETCH(int, userId);
    QFETCH(int, flowItem);
    QFETCH(int, level);
    QFETCH(QList<int>, ids);
    QFETCH(QStringList, names);
    TavUserRecord record = user(userId, 4);
    TavSecret secret{};
    secret.FlowItemID = flowItem;
    TavAuditorArray auditors{-1, nullptr};
    QCOMPARE(m_client.GetAuditorsInAuditFlow(&record, level, &secret, &auditors), 0);
    QCOMPARE(auditors.Count, ids.size());
    for (int i = 0; i < ids.size(); ++i) {
        QCOMPARE(auditors.Entries[i].AuditorID, ids.at(i));
        QCOMPARE(QString::fromUtf8(auditors.Entries[i].AuditorName), names.at(i));
    }
    free(auditors.Entries);
}

void TestServerAuditFlow::model_data()
{
    QTest::addColumn<int>("userId");
    QTest::addColumn<int>("secretLevel");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("flow");
    QTest::addColumn<int>("maxLevels");
    // Per secret: "FlowItemID:auditors of level 1,auditors of level 2/..."
    QTest::addColumn<QStringList>("secrets");

    QTest::newRow("level 2: the first two rows")
        << 101 << 2 << 0 << 103 << 2 << QStringList{"1031:3", "1032:1,2"};
    QTest::newRow("level 4: approval levels 1, 2, 3 and 0")
        << 105 << 4 << 0 << 103 << 3 << QStringList{"1031:3", "1032:1,2", "1033:1,1,1", "1034:"};
    QTest::newRow("more levels than items")
        << 105 << 9 << 0 << 103 << 3 << QStringList{"1031:3", "1032:1,2", "1033:1,1,1", "1034:"};
    QTest::newRow("auditor of his own flow")
        << 112 << 2 << 0 << 103 << 2 << QStringList{"1031:2", "1032:1,2"};
    QTest::newRow("group flow") << 102 << 4 << 0 << 105 << 1 << QStringList{"1051:1", "1052:1"};
    QTest::newRow("level 0 offers nothing") << 106 << 0 << 0 << 103 << 0 << QStringList{};
    QTest::newRow("negative approval levels skipped")
        << 113 << 2 << 0 << 104 << 1 << QStringList{"1042:1"};
    QTest::newRow("no flow anywhere") << 103 << 2 << 0 << 0 << 0 << QStringList{};
    QTest::newRow("unknown user") << 999 << 2 << 13 << -1 << 0 << QStringList{};
}

void TestServerAuditFlow::model()
{
    QFETCH(int, userId);
    QFETCH(int, secretLevel);
    QFETCH(QStringList, secrets);
    TavUserRecord record = user(userId, secretLevel);
    TavAuditFlow flow;
    QTEST(m_client.GetAuditFlow(&flow, &record), "result");
    QTEST(flow.FlowID, "flow");
    QTEST(flow.MaxAuditLevels, "maxLevels");
    QCOMPARE(flow.Secrets.size(), secrets.size());
    for (int i = 0; i < secrets.size(); ++i) {
        const TavSecret& secret = flow.Secrets.at(i);
        const QStringList parts = secrets.at(i).split(':');
        QCOMPARE(secret.FlowItemID, parts.at(0).toInt());
        const QStringList counts = parts.at(1).split(',', Qt::SkipEmptyParts);
        QCOMPARE(secret.AuditLevel, counts.size());
        if (counts.isEmpty()) {
            QCOMPARE(secret.Auditors, nullptr);
            continue;
        }
        QVERIFY(secret.Auditors);
        for (int level = 0; level < counts.size(); ++level) {
            QCOMPARE(secret.Auditors[level].Count, counts.at(level).toInt());
            for (int a = 0; a < secret.Auditors[level].Count; ++a)
                QVERIFY(secret.Auditors[level].Entries[a].AuditorID != userId);
        }
    }
}

void TestServerAuditFlow::releaseKeepsPurposes()
{
    TavUserRecord record = user(105, 4);
    TavAuditFlow flow;
    TavPurpose purpose{};
    strcpy(purpose.Name, "投标文件");
    flow.Purposes.append(purpose);
    QCOMPARE(m_client.GetAuditFlow(&flow, &record), 0);
    QCOMPARE(flow.Secrets.size(), 4);
    QCOMPARE(QByteArray(flow.Secrets.at(2).Auditors[0].Entries[0].AuditorName), QByteArray("徐明"));

    flow.Release();
    QVERIFY(flow.Secrets.isEmpty());
    QCOMPARE(flow.FlowID, 0);
    QCOMPARE(flow.MaxAuditLevels, 3);
    QCOMPARE(flow.Purposes.size(), 1);
    QCOMPARE(QByteArray(flow.Purposes.first().Name), QByteArray("投标文件"));

    // Loading again releases what was there first.
    QCOMPARE(m_client.GetAuditFlow(&flow, &record), 0);
    QCOMPARE(m_client.GetAuditFlow(&flow, &record), 0);
    QCOMPARE(flow.Secrets.size(), 4);
}

QTEST_GUILESS_MAIN(TestServerAuditFlow)
#include "tst_serverauditflow.moc"
