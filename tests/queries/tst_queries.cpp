// RPC logon and queries: the development server, broken answers, nobody; audit flows; notices.
#include "DataTable.h"
#include "DevServerProcess.h"
#include "EnvGuard.h"
#include "FieldQuery.h"
#include "LanguageManager.h"
#include "RecordBytes.h"
#include "RpcTestClient.h"
#include "ServerNotice.h"
#include "SoapCall.h"
#include "TavAuditFlow.h"
#include "TavCommon.h"
#include "TavQuotaRequest.h"
#include "TestPki.h"

#include <QtTest>

#include <climits>
#include <csignal>
#include <cstring>

namespace
{

enum Op { GroupId, Setting, Website, Items, Auditors, UserInfo, UserEx, Printers, Quota, Audit };
enum Client { Server, Raw, Offline }; // Raw answers with the row's bytes

// A field query result buffer: row count, error code, values.
QByteArray field(qint32 rows, qint32 error, const QByteArray& values)
{
    return le32(rows) + le32(error) + values;
}

// op's answer carrying bytes (for Quota and Audit: the answer's XML); a Fault for null bytes.
QByteArray answer(const QByteArray& bytes, int op = GroupId)
{
    if (bytes.isNull())
        return RawHttpServer::soapFault("no such thing");
    if (op >= Quota)
        return RawHttpServer::soapResponse(bytes);
    const QByteArray name = op == UserInfo ? "GetUserInfo"
                            : op == UserEx ? "GetUserInfoEx"
                                           : "GetFieldValuesBySQL";
    const QByteArray element = op >= UserInfo ? "image" : "ret";
    return RawHttpServer::soapResponse("<ns:" + name + "Response><" + element + ">" +
                                       bytes.toBase64() + "</" + element + "></ns:" + name +
                                       "Response>");
}

// The logon builds the endpoint that every later call uses.
void pointAt(CDComLayerWS& client, quint16 port)
{
    RpcTestClient::logOn(client, "127.0.0.1", QByteArray::number(port), "zhangsan",
                         kSeedPasswordDigest);
}

// The secrets as "level name note:auditors of level 1,of level 2..." separated by "|".
QString describe(const TavAuditFlow& flow)
{
    QStringList secrets;
    for (const TavSecret& s : flow.Secrets) {
        QStringList levels;
        for (int level = 0; level < s.AuditLevel; ++level) {
            QStringList auditors;
            for (int i = 0; s.Auditors && i < s.Auditors[level].Count; ++i) {
                const TavAuditor& a = s.Auditors[level].Entries[i];
                auditors << QString::number(a.AuditorID) + QString::fromUtf8(a.AuditorName);
            }
            levels << auditors.join(' ');
        }
        secrets << QString("%1 %2 %3:%4")
                       .arg(s.SecretLevel)
                       .arg(QString::fromUtf8(s.SecretLevelName), GBK2UTF8(s.SecretLevelNote),
                            levels.join(','));
    }
    return secrets.join('|');
}

// A notice as the server lays it out: type, 1024 bytes, field text in GBK (1024), 1024 bytes.
QByteArray notice(qint32 type, const QString& fields)
{
    QByteArray bytes(ServerNotice::kReplySize, '\0');
    qToLittleEndian(type, bytes.data());
    const QByteArray gbk = UTF82GBK(fields.toUtf8().constData());
    return bytes.replace(ServerNotice::kFieldTextOffset, gbk.size(), gbk);
}

void noticeRow(const char* name, qint32 type, const QString& fields, const QString& headline)
{
    QTest::newRow(name) << notice(type, fields) << (headline.isNull() ? -1 : 0) << headline
                        << fields.toUtf8();
}

} // namespace

class TestQueries : public QObject
{
    Q_OBJECT

    DevServerProcess m_server;
    RawHttpServer m_raw;
    CDComLayerWS m_clients[3]; // by Client
    TavUserRecord m_user{};
    char m_past[1024] = {}; // what is written past the end of m_user lands here
    QTemporaryDir m_dir;
    CwdGuard m_cwd;

    QByteArray pki(const QString& name) const { return QFile::encodeName(m_dir.filePath(name)); }

    // Runs op with input (a name, a flow's number, pages); what it left in its out-value or threw.
    QByteArray call(CDComLayerWS& client, int op, QByteArray input, int* result)
    {
        int number = -3;
        char text[256 + 8];
        memset(text, '#', sizeof text);
        strcpy(text, "old");
        TavAuditFlowItemList items{99, reinterpret_cast<TavAuditFlowItem*>(this)};
        TavSecret secret{};
        TavAuditorArray auditors{99, reinterpret_cast<TavAuditor*>(this)};
        void* list = nullptr;
        const auto freeList = qScopeGuard([&list] { SysFreeString(list); });
        TavQuotaRequest quota{};
        try {
            switch (op) {
            case GroupId:
                *result = client.GetGroupIDFromUsersByUserName(input.data(), &number);
                return QByteArray::number(number);
            case Setting:
                *result = client.GetSettingValueBySettingName(input.data(), text,
                                                              const_cast<char*>("dflt"));
                return text[256] == '#' ? text : "written past the 256-byte buffer";
            case Website:
                *result = client.GetWebsiteIP(text, input.data());
                return text;
            case Items: // no row succeeds: nothing to free
                *result = client.GetAuditFlowItems(input.toInt(), &items);
                return QByteArray::number(items.Count) + (items.Items ? " items" : "");
            case Auditors:
                *result = client.GetAuditorsInAuditFlow(&m_user, 1, &secret, &auditors);
                return QByteArray::number(auditors.Count) + (auditors.Entries ? " entries" : "");
            case UserInfo:
                *result = client.GetUserInfo(input.data(), &m_user);
                return QByteArray::number(m_user.UserId) + " " + QByteArray(m_user.FullName);
            case UserEx:
                *result = client.GetUserInfoEx(input.data(), &m_user);
                return QByteArray(reinterpret_cast<char*>(m_user.UserInfoEx),
                                  sizeof m_user.UserInfoEx);
            case Printers:
                *result = client.GetPrinterList(input.data(), &list);
                return QByteArray::number(SysStringLen(list)) + " " +
                       QByteArray(static_cast<const char*>(list),
                                  list ? 2 * SysStringLen(list) + 2 : 0);
            case Quota:
                *result = client.QuotaVerification(reinterpret_cast<char*>(&quota));
                return QByteArray();
            case Audit:
                *result = client.GetSpecialAudit(input.data(), &number);
                return QByteArray::number(number);
            }
        } catch (const RpcFailure& e) {
            return "thrown " + QByteArray::number(qlonglong(e.code()), 16);
        }
        return QByteArray();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        pointAt(m_clients[Server], m_server.port());
        m_raw.queueReply(RpcTestClient::logonAnswer());
        pointAt(m_clients[Raw], m_raw.port());
        pointAt(m_clients[Offline], RawHttpServer().port()); // nobody listens there any more
        // The test authority and two server certificates from it.
        QVERIFY(TestPki::makeCertificate(m_dir.path(), "ca"));
        QVERIFY(TestPki::makeCertificate(m_dir.path(), "loopback", "IP:127.0.0.1"));
        QVERIFY(TestPki::makeCertificate(m_dir.path(), "elsewhere", "DNS:print.example.invalid"));

        // Notice texts: 7000's built-in text wins, 7101 is longer than a headline.
        QFile ini(m_dir.filePath(LanguageManager::kIniFileName));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Log Online]\n7000=configured\n7104=状态未知\n7101=x, " +
                  QString(200, QChar(0x6587)).toUtf8() + "\n");
        ini.close();
        QVERIFY(m_cwd.change(m_dir.path()));
    }

    void logOn_data()
    {
        // server: a certificate's name for HTTPS, "!" after it: not trusted; expected -1: negative
        Table<QString, QString, QString, int> row("server", "user", "password", "expected");
        const char* seed = kSeedPasswordDigest;
        row("wrong password", "", "zhouba", "00000000000000000000000000000000", 2);
        row("host name, looked up", "localhost", "zhangsan", seed, 0);
        row("https, then a hang-up", "loopback", "zhangsan", seed, 0);
        row("https, authority not trusted", "loopback!", "zhangsan", seed, -1);
        row("https, certificate for another host", "elsewhere", "zhangsan", seed, -1);
    }

    void logOn()
    {
        QFETCH(QString, server);
        QFETCH(QString, user);
        QFETCH(QString, password);
        const bool tls = !server.isEmpty() && server != "localhost";
        DevServerProcess tlsServer;
        const QString certificate = server.chopped(server.endsWith('!'));
        tlsServer.setTls(pki(certificate + ".pem"), pki(certificate + ".key"));
        QVERIFY2(!tls || tlsServer.start(), qPrintable(tlsServer.errorString()));
        // OpenSSL trusts one more authority from this variable.
        EnvGuard env;
        env.set("SSL_CERT_FILE", pki("ca.pem"));
        if (server.endsWith('!'))
            env.unset("SSL_CERT_FILE");
        CDComLayerWS client;
        const QByteArray address = (server == "localhost" ? "localhost:" : "127.0.0.1:") +
                                   QByteArray::number(tls ? tlsServer.port() : m_server.port());
        const int result = RpcTestClient::logOn(client, address + "/", "8086", qPrintable(user),
                                                qPrintable(password), 0, tls);
        QTEST(qMax(result, -1), "expected");
        if (!tls || result != 0)
            return;
        // A hang-up mid-request (the server reads at most 64 MiB) fails the call, no SIGPIPE.
        QByteArray item(65 << 20, 'x');
        char* payer = nullptr;
        QVERIFY(client.GetPayerInfo(item.data(), payer) != 0);
        sigset_t set;
        pthread_sigmask(SIG_BLOCK, nullptr, &set);
        QVERIFY(!sigismember(&set, SIGPIPE));
        sigpending(&set);
        QVERIFY(!sigismember(&set, SIGPIPE));
    }

    void queries_data()
    {
        // data: the input, for Raw the answer's buffer (null: a Fault)
        Table<int, int, QByteArray, int, QByteArray> row("client", "op", "data", "result", "out");

        // (lisi's print way, group name and website: the main window's logon test.)
        row("group, quote in the name", Server, GroupId, "o'neil", 0, "102");
        row("setting, quotes", Server, Setting, "Owner's Note", 0, UTF82GBK("由'行政部'维护"));
        row("no such setting", Server, Setting, "NoSuchSetting", 0, "dflt");
        row("setting too long to ask", Server, Setting, QByteArray(600, '\''), 15, "dflt");
        row("website, not monitored", Server, Website, "192.168.10.20", 0, "192.168.10.20");
        row("website, deleted", Server, Website, "192.168.10.30", 0, "192.168.10.30");
        row("website, unknown", Server, Website, "a'b", 0, "a'b");
        // "N\0" "3楼\0" "\0": N printers, one of them his, 7 bytes in a block of 3 units.
        row("printer list of 7 bytes", Server, Printers, "xiaoyin", 0,
            "3 " + QByteArray("5\0", 2) + UTF82GBK("3楼") + QByteArray(3, '\0'));

        // What the logon's callers rely on when nobody answers.
        row("unreachable: setting default", Offline, Setting, "LinuxPrintStateNew", 15, "dflt");
        row("unreachable: the quota lets it go", Offline, Quota, "11", 0, "");
        row("unreachable: user", Offline, UserInfo, "zhangsan", -1, "thrown 80000000");
        row("unreachable: user block", Offline, UserEx, "zhangsan", -1, "thrown 80000000");
        row("unreachable: printers", Offline, Printers, "zhangsan", -1, "thrown 80000000");
        row("unreachable: website", Offline, Website, "zhangsan", -1, "thrown 80000000");

        const QByteArray huge = field(1000000, 0, le32(5)); // a million rows in 12 bytes
        const QByteArray three("\x01\x00\x00", 3), block = le32(2) + "ab";
        const int size = TavUserRecord::kUserInfoExSize;
        row("int, huge row count", Raw, GroupId, huge, 0, "5");
        row("int, value cut", Raw, GroupId, field(1, 0, "\x05\x05"), 0, "-3");
        row("int, 3 bytes", Raw, GroupId, three, 15, "-3");
        row("int, fault", Raw, GroupId, QByteArray(), 15, "-3");
        row("unterminated text", Raw, Setting, field(1, 0, QByteArray(600, 'B')), 0,
            QByteArray(255, 'B'));
        row("list, huge row count", Raw, Items, huge, 13, "0");
        row("list, two rows, one arrived", Raw, Items, field(2, 0, le32(7)), 13, "0");
        row("list, fault", Raw, Items, QByteArray(), 13, "0");
        row("auditors, huge row count", Raw, Auditors, huge, 13, "0");
        row("user, name without terminator", Raw, UserInfo, le32(17) + UTF82GBK("张三"), 0,
            "17 张三");
        row("user, 3 bytes", Raw, UserInfo, three, 15, "12 old");
        row("user block, 6 bytes", Raw, UserEx, block, 0, block + QByteArray(size - 6, 'u'));
        row("user block, 5000 bytes", Raw, UserEx, QByteArray(5000, 'x'), 0, QByteArray(size, 'x'));
        // 2^32 narrowed to int would read 0: a refusal taken for acceptance.
        row("quota beyond int", Raw, Quota,
            "<ns:QuotaVerificationResponse><pRet>4294967296</pRet></ns:QuotaVerificationResponse>",
            INT_MAX, "");
        row("special audit below int", Raw, Audit,
            "<ns:GetSpecialAuditOfUserResponse><return><pSpecialAudit>-4294967296</pSpecialAudit>"
            "<pRet>0</pRet></return></ns:GetSpecialAuditOfUserResponse>",
            0, QByteArray::number(INT_MIN));
    }

    void queries()
    {
        QFETCH(int, client);
        QFETCH(int, op);
        QFETCH(QByteArray, data);
        if (client == Raw)
            m_raw.setReply(answer(data, op));
        m_user.UserId = 12;
        strcpy(m_user.FullName, "old");
        memset(m_user.UserInfoEx, 'u', sizeof m_user.UserInfoEx);
        int result = -1;
        QTEST(call(m_clients[client], op, client == Raw ? "alice" : data, &result), "out");
        QTEST(result, "result");
        QCOMPARE(m_past[0], '\0');
    }

    // Any local user's SQL reaches no file outside the database, nor the record of the uploads.
    void clientSqlStaysInTheDataTables_data()
    {
        // fieldQuery, else ExcuteSQL; result: rows changed (ExcuteSQL) or the error code
        Table<QByteArray, bool, int> row("sql", "fieldQuery", "result");
        row("attach a file", "ATTACH DATABASE '@' AS p; CREATE TABLE p.t (x)", false, -1);
        row("attach in a field query", "ATTACH '@' AS p", true, 1); // a read-only statement
        row("vacuum into a file", "VACUUM INTO '@'", false, -1);
        row("pragma", "PRAGMA writable_schema = 1", false, -1);
        row("pragma in a field query", "PRAGMA table_info(Users)", true, 1);
        row("rewrite where a job is stored", "UPDATE Uploads SET DataPath = '@'", false, -1);
        row("forge an upload", "INSERT INTO Uploads (StoredName, Kind) VALUES ('x', 'cd')", false,
            -1);
        row("counters", "DELETE FROM sqlite_sequence", false, -1);
        row("commit the server's savepoint", "UPDATE Users SET PrintWay = PrintWay; COMMIT", false,
            -1);
        row("new table", "CREATE TABLE Planted (x)", false, -1);
        row("load a library", "SELECT load_extension('@')", true, 1);
        // What the client sends stays possible.
        row("data tables", "UPDATE PrintProcTask SET ProjectID = 0 WHERE SPLFileName = 'none'",
            false, 0);
        row("reading the record of uploads", "SELECT count(*) FROM Uploads", true, 0);
    }

    void clientSqlStaysInTheDataTables()
    {
        QFETCH(QByteArray, sql);
        QFETCH(bool, fieldQuery);
        const QString planted = m_dir.filePath("planted.db");
        sql.replace('@', QFile::encodeName(planted));
        int result = -2;
        {
            SoapCall call(m_clients[Server].NewCallContext());
            FieldResult answer;
            if (fieldQuery && RunFieldQuery(call, sql.constData(), "x", kFieldInt, 4, &answer))
                result = answer.errorCode();
            else if (!fieldQuery)
                call.proxy().ExcuteSQL(call.endpoint(), nullptr, sql.data(), &result);
        }
        QTEST(result, "result");
        QVERIFY(!QFile::exists(planted));
        const char* forged = "SELECT count(*) FROM Uploads WHERE DataPath LIKE '%planted%' OR "
                             "StoredName = 'x'";
        QCOMPARE(m_server.scalar(forged).toInt(), 0);
    }

    void auditFlow_data()
    {
        // answers none: the development server answers
        Table<QByteArrayList, int, int, int, int, int, QString> row(
            "answers", "userId", "secretLevel", "result", "flow", "maxLevels", "secrets");
        // Flow 103: items of 1, 2, 3, 0 levels; 112 audits level 1, 108 is inactive, 109 deleted.
        const QString first = "1 非密 无需审批:107徐明 112蒋涛 109";
        const QString second = "2 内部资料 部门内部:110邓丽,111彭辉 108";
        row("own flow, secret level 2: two of four items", {}, 101, 2, 0, 103, 2,
            first + "|" + second);
        row("approval level 0 does not raise the maximum", {}, 105, 4, 0, 103, 3,
            first + "|" + second +
                "|3 商业秘密 两级审批:107徐明,110邓丽,111彭辉|4 核心机密 不需要审批人:");
        row("the user is not his own auditor", {}, 112, 2, 0, 103, 2,
            "1 非密 无需审批:107徐明 109|" + second);
        row("group fallback", {}, 102, 4, 0, 105, 1,
            "1 非密 无需审批:110邓丽|2 内部资料 部门内部:111彭辉");
        row("negative approval levels skipped", {}, 113, 2, 0, 104, 1,
            "2 内部资料 部门内部:107徐明");
        row("no flow anywhere", {}, 103, 2, 0, 0, 0, QString());
        row("no such user: flow -1", {}, 999, 2, 13, -1, 0, QString());

        // User 12 of level 1: flow, item, five fields, auditors and names per level; then Faults.
        const QByteArrayList item = {field(1, 0, le32(9)), field(1, 0, le32(41)),
                                     field(1, 0, le32(3)), field(1, 0, le32(301)),
                                     field(1, 0, le32(1)), field(1, 0, UTF82GBK("机密") + '\0'),
                                     field(1, 0, "n\0")};
        const QByteArrayList level = {field(1, 0, le32(7)), field(1, 0, UTF82GBK("徐明") + '\0')};
        const QByteArrayList refused = {field(0, 6, {})};
        row("all three levels", item + level + level + level, 12, 1, 0, 9, 3,
            "1 机密 n:7徐明,7徐明,7徐明");
        // A level whose auditors fail leaves the secret level without auditor lists.
        row("auditors refused at level 2", item + level + refused, 12, 1, 6, 9, 3, "1 机密 n:,,");
        row("auditors refused at level 3", item + level + level + refused, 12, 1, 6, 9, 3,
            "1 机密 n:,,");
        QByteArrayList huge = item; // cut to 16 levels
        huge[2] = field(1, 0, le32(1000000000));
        row("approval levels beyond any flow", huge, 12, 1, 13, 9, 16,
            "1 机密 n:" + QString(15, ','));
        row("error code in a later item step", item.mid(0, 4) + QByteArrayList{field(0, 7, {})}, 12,
            1, 7, 9, 0, "");
        // Own flow 0: the group decides; an error answer keeps 0, a failed query ends with 13.
        row("group lookup refused", {field(1, 0, le32(0)), field(0, 4, {}), field(0, 0, {})}, 12, 1,
            0, 0, 0, "");
        row("group lookup fails", {field(1, 0, le32(0))}, 12, 1, 13, 0, 0, "");
    }

    void auditFlow()
    {
        QFETCH(QByteArrayList, answers);
        QFETCH(int, userId);
        QFETCH(int, secretLevel);
        for (const QByteArray& bytes : answers)
            m_raw.queueReply(answer(bytes));
        m_raw.setReply(answer(QByteArray()));
        TavUserRecord record{};
        record.UserId = userId;
        record.SecretLevel = secretLevel;
        TavAuditFlow flow;
        flow.Purposes.append(TavPurpose{"投标文件", 0});
        QTEST(m_clients[answers.isEmpty() ? Server : Raw].GetAuditFlow(&flow, &record), "result");
        QTEST(flow.FlowID, "flow");
        QTEST(describe(flow), "secrets");
        QTEST(flow.MaxAuditLevels, "maxLevels");
        // Release keeps the maximum and the purposes.
        const int max = flow.MaxAuditLevels;
        flow.Release();
        QCOMPARE(describe(flow) + QString(" %1 %2").arg(flow.FlowID).arg(flow.MaxAuditLevels),
                 QString(" 0 %1").arg(max));
        QCOMPARE(QByteArray(flow.Purposes.value(0).Name), QByteArray("投标文件"));
    }

    void notices_data()
    {
        Table<QByteArray, int, QString, QByteArray> row("bytes", "result", "headline", "detail");

        noticeRow("512 printed", 512, "report.pdf|HP-3F|0", "<report.pdf>打印成功!");
        noticeRow("2, audit 0: waits", 2, "report.pdf|HP-3F|0|0", "<report.pdf>等待审批!");
        noticeRow("2, audit 1: approved", 2, "report.pdf|HP-3F|0|1", "<report.pdf>审批通过!");
        noticeRow("2, audit 5: text 0", 2, "report.pdf|HP-3F|0|5", "<report.pdf>");
        noticeRow("2 without audit code", 2, "report.pdf|HP-3F|0", "<report.pdf>等待审批!");
        noticeRow("520: failure range", 520, "a|p|3", "<a>打印失败");
        noticeRow("7 not in the table: text 7104", 7, "a|p|0", "<a>状态未知");
        noticeRow("0: the built-in text wins", 0, "a|p|0", "<a>已发送到服务器!");
        noticeRow("leading separator: no job name", 512, "|HP-3F|0", "<>打印成功!");
        noticeRow("120-character job name", 512, QString(120, 'j') + "|p|0",
                  "<" + QString(98, 'j') + "**>打印成功!");
        noticeRow("long text with a comma, cut at a character", 2052, "a|p|0",
                  "<a>x, " + QString(82, QChar(0x6587)));
        noticeRow("no result code", 512, "a|p", QString());

        const QByteArray full = notice(512, "job|p|0");
        row("3 bytes", full.left(3), -1, {}, {});
        row("before the field text", full.left(1028), -1, {}, {});
        row("ends in the field text", full.left(1035), 0, "<job>打印成功!", "job|p|0");
        // 1024 bytes of field text without a terminator: the code after them is not part of it.
        QByteArray filled = full;
        filled.replace(1028, 1024, "job|p" + QByteArray(1019, '|')).replace(2052, 6, "0|tail");
        row("field text fills its slot", filled, -1, {}, {});
    }

    void notices()
    {
        QFETCH(QByteArray, bytes);
        // An exact-size copy, so that a read past the reply is caught by the tools.
        std::vector<unsigned char> copy(bytes.begin(), bytes.end());
        const LanguageManager texts;
        TavServerMessage out;
        memset(&out, 0x5A, sizeof out);
        QTEST(ServerNotice::Decode(copy.data(), bytes.size(), texts, &out), "result");
        QFETCH(int, result);
        if (result == 0) {
            QTEST(QString::fromUtf8(out.Headline), "headline");
            QTEST(QByteArray(out.Detail), "detail");
        }
    }
};

QTEST_GUILESS_MAIN(TestQueries)
#include "tst_queries.moc"
