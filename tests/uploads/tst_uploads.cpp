// The uploads of the RPC client against the development server (through a
// relay that keeps the requests) and against listeners that fail: block
// arithmetic checked on what the server reassembled, the appendix, copy and
// disc requests, failures with their exceptions, two uploads at once, and no
// temporary file left behind on any path.

#include "DComLayerWS.h"
#include "DevServerProcess.h"
#include "DimeReader.h"
#include "RawHttpServer.h"
#include "RpcTestClient.h"
#include "TestRoot.h"

#include <QtEndian>
#include <QtTest>

#include <climits>
#include <functional>
#include <thread>

namespace
{

QByteArray pattern(int size, int seed) // differs from block to block
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * 7919 + seed) >> 3);
    return bytes;
}

// A record of size bytes: text put at its offsets.
QByteArray record(int size, const QList<QPair<int, QByteArray>>& fields)
{
    QByteArray r(size, '\0');
    for (const auto& f : fields)
        r.replace(f.first, f.second.size(), f.second);
    return r;
}

QByteArray mobile(const QByteArray& user)
{
    return record(1112, {{0, user}, {714, "doc.pdf"}});
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray le32(qint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

// What an upload throws, as "type value"; "none" when it returns.
QString outcome(const std::function<void()>& upload)
{
    try {
        upload();
        return "none";
    } catch (unsigned int e) {
        return "unsigned " + QString::number(e, 16);
    } catch (long e) {
        return "long " + QString::number(e);
    } catch (int e) {
        return "int " + QString::number(e);
    }
}

} // namespace

class TestUploads : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    QTemporaryDir m_work; // the working folder: the print job's files
    DevServerProcess m_server;
    RawHttpServer m_relay; // to the development server, keeping the requests
    CDComLayerWS m_client; // through the relay
    char m_reserved[1] = {};

    QByteArray stored(const char* name, const char* file) const
    {
        return readFile(m_server.storageDir() + "/" + name + "/" + file);
    }
    // What /var/tmp and the working folder hold: every upload must leave
    // them as it found them.
    QStringList leftovers() const
    {
        const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System;
        return QDir(m_root.varTmp()).entryList(all) + QDir(m_work.path()).entryList(all);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(QDir::setCurrent(m_work.path()));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_relay.forwardTo(m_server.port());
        QCOMPARE(RpcTestClient::logOn(m_client, "127.0.0.1", m_relay.portText(), "zhangsan",
                                      kSeedPasswordDigest),
                 0);
    }

    void blocks_data()
    {
        QTest::addColumn<bool>("print"); // the print job (664 bytes, appendix); else mobile
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("blocks"); // none: one call
        QTest::newRow("mobile, 102400 in one call") << false << 102400 << QList<int>();
        QTest::newRow("mobile, 102401") << false << 102401 << QList<int>{102400, 1};
        QTest::newRow("mobile, 250000") << false << 250000 << QList<int>{102400, 102400, 45200};
        QTest::newRow("print, empty document") << true << 0 << QList<int>();
        QTest::newRow("print, 250000") << true << 250000 << QList<int>{102400, 102400, 45200};
    }

    void blocks()
    {
        QFETCH(bool, print);
        QFETCH(int, size);
        QFETCH(QList<int>, blocks);
        QByteArray task = print ? record(664, {{0, "zhangsan"}}) : mobile("zhangsan");
        const QByteArray document = pattern(size, size);
        const QString path = m_root.path() + "/job.pdf";
        QVERIFY(writeFile(path, document));
        QByteArray file = QFile::encodeName(path);
        char name[1024] = {};
        QList<qulonglong> progress;
        m_client.SetUploadProgress(
            [&](unsigned long long sent, unsigned long long total) { progress << sent << total; });
        m_relay.clearRequests();
        if (print)
            m_client.SavePrintJob(task.data(), m_reserved, file.data(), name);
        else
            m_client.SaveMobilePrintJob(task.data(), m_reserved, file.data(), name);
        m_client.SetUploadProgress({});

        // One request per block with its type: the record, the block and,
        // for a print job, the appendix with the last block only.
        const QList<RawHttpServer::Request> requests = m_relay.requests();
        QCOMPARE(requests.size(), qMax(1, blocks.size()));
        QList<qulonglong> expectedProgress;
        qulonglong sent = 0;
        for (int i = 0; i < requests.size(); ++i) {
            const QList<DimeRecord> dime = parseDime(requests[i].body);
            const bool last = i == requests.size() - 1;
            QCOMPARE(dime.value(1).data, task);
            QCOMPARE(dime.value(2).data.size(), blocks.isEmpty() ? size : blocks[i]);
            QCOMPARE(dime.size(), print && last ? 4 : 3);
            if (!blocks.isEmpty())
                QVERIFY(dime[0].data.contains("<BlockType>" +
                                              QByteArray::number(i == 0 ? 0
                                                                 : last ? 2
                                                                        : 1) +
                                              "<"));
            expectedProgress << (sent += dime.value(2).data.size()) << qulonglong(size);
        }
        QCOMPARE(progress, expectedProgress);

        // What the server reassembled under the name it gave.
        QCOMPARE(stored(name, "document.dat"), document);
        QCOMPARE(stored(name, "task.bin"), task);
        if (print) { // an empty appendix text still has its field of count 1
            QString ip, mac;
            m_client.GetClientIpMac(ip, mac);
            const QByteArray m = mac.toLatin1(), a = ip.toLatin1();
            QCOMPARE(stored(name, "appendix.bin"),
                     le32(1) + QByteArray(2, 0) + le32(m.size() + 1) + m +
                         QByteArray(m.size() + 2, 0) + le32(a.size() + 1) + a +
                         QByteArray(a.size() + 2, 0) + le32(1) + QByteArray(2, 0) + le32(2) +
                         QByteArray(4, 0));
        }
        QFile::remove(path);
        QCOMPARE(leftovers(), QStringList());
    }

    void failures_data()
    {
        QTest::addColumn<int>("scenario");
        QTest::addColumn<QString>("thrown");
        QTest::newRow("server gone after the first block") << 0 << "unsigned 80000000";
        QTest::newRow("first block without a stored name") << 1 << "unsigned 80000000";
        QTest::newRow("block of an unknown job refused") << 2 << "unsigned 80000000";
        QTest::newRow("block of another user's job refused") << 3 << "unsigned 80000000";
        QTest::newRow("document shrank within a block") << 4 << "long 12";
        QTest::newRow("no document") << 5 << "long -1";
        QTest::newRow("no temporary folder") << 6 << "long 12";
        QTest::newRow("no temporary folder for a block") << 7 << "int 2";
    }

    void failures()
    {
        QFETCH(int, scenario);
        RawHttpServer raw;
        CDComLayerWS rawClient;
        QVERIFY(RpcTestClient::connect(rawClient, raw));
        const QByteArray answer = "<ns:SaveMobilePrintJobByBlockResponse><return>%1</return>"
                                  "</ns:SaveMobilePrintJobByBlockResponse>";
        const QString path = m_root.path() + "/job.pdf";
        QVERIFY(writeFile(path, pattern(250000, 7)));
        QByteArray file = QFile::encodeName(scenario == 5 ? path + ".gone" : path);
        QByteArray task = mobile("zhangsan"), lisi = mobile("lisi");
        char name[1024] = {};
        unsigned long sent = 0;
        FILE* document = fopen(file.constData(), "rb");
        const auto block = [&](long type, QByteArray& r) {
            m_client.SendMobilePrintJobOneBlockToServer(document, type, 102400, r.data(),
                                                        m_reserved, &sent, name);
        };
        if (scenario >= 6)
            QVERIFY(QDir(m_root.varTmp()).removeRecursively());
        const QString last =
            "UploadID > " +
            m_server.scalar("SELECT ifnull(max(UploadID), 0) FROM Uploads").toString();

        const QString thrown = outcome([&] {
            if (scenario == 0) {
                raw.queueReply(RawHttpServer::soapResponse(
                    QByteArray(answer).replace("%1", "<SplFileNameOut>M1.spl</SplFileNameOut>")));
                raw.closeWithoutReply();
            } else if (scenario == 1) {
                raw.setReply(RawHttpServer::soapResponse(QByteArray(answer).replace("%1", "")));
            } else if (scenario == 2) {
                strcpy(name, "M202601010000000001.spl");
                return block(1, task);
            } else if (scenario == 3) {
                block(0, task);
                return block(2, lisi);
            } else if (scenario == 4) {
                QFile::resize(path, 1000);
                return block(0, task);
            } else if (scenario == 7) {
                return block(0, task);
            }
            (scenario < 2 ? rawClient : m_client)
                .SaveMobilePrintJob(task.data(), m_reserved, file.data(), name);
        });
        if (document)
            fclose(document);
        QTEST(thrown, "thrown");
        QVERIFY(QDir().mkpath(m_root.varTmp()));
        QFile::remove(path);
        QCOMPARE(leftovers(), QStringList());
        // Nothing arrived whole (a refused block leaves at most a job's start).
        QCOMPARE(m_server.scalar("SELECT count(*) FROM Uploads WHERE Finished = 1 AND " + last),
                 QVariant(0LL));
    }

    void twoUsersAtOnce()
    {
        // Two users upload at the same time, past links planted under the
        // names that every upload once shared: nothing meets, nothing is
        // written through a link.
        const QString victim = m_root.path() + "/victim";
        QVERIFY(writeFile(victim, "keep"));
        QStringList planted = {"SendOneBlockToServerData.bin", "SendOneBlockToServerInfo.bin",
                               "orixcd.bin", "taskinfo-alice.bin"};
        for (const QString& name : planted)
            QVERIFY(QFile::link(victim, m_root.varTmp() + "/" + name));
        struct Upload {
            QByteArray user, document, name = QByteArray(1024, '\0');
            CDComLayerWS client;
            QString thrown;
        } uploads[2];
        std::thread threads[2];
        for (int i = 0; i < 2; ++i) {
            Upload& u = uploads[i];
            u.user = i ? "lisi" : "zhangsan";
            u.document = pattern(250000, 100 + i);
            QVERIFY(writeFile(m_root.path() + "/" + u.user, u.document));
            QCOMPARE(RpcTestClient::logOn(u.client, "127.0.0.1",
                                          QByteArray::number(m_server.port()), u.user.constData(),
                                          kSeedPasswordDigest),
                     0);
            threads[i] = std::thread([&u, this] {
                QByteArray task = mobile(u.user),
                           file = QFile::encodeName(m_root.path() + "/" + u.user);
                u.thrown = outcome([&] {
                    u.client.SaveMobilePrintJob(task.data(), m_reserved, file.data(),
                                                u.name.data());
                });
            });
        }
        for (std::thread& t : threads)
            t.join();
        for (const Upload& u : uploads) {
            QCOMPARE(u.thrown, QString("none"));
            QCOMPARE(stored(u.name.constData(), "document.dat"), u.document);
            QFile::remove(m_root.path() + "/" + u.user);
        }
        QCOMPARE(readFile(victim), QByteArray("keep"));
        QStringList left = leftovers();
        left.sort();
        planted.sort();
        QCOMPARE(left, planted);
        for (const QString& name : planted)
            QFile::remove(m_root.varTmp() + "/" + name);
    }

    void copyAndDiscRequests()
    {
        // Copy: 932 bytes, user at 0, document at 714. Disc: the data in
        // blocks (an empty one too), then the 1024-byte record, user at 34,
        // document at 750.
        QByteArray copy = record(932, {{0, "zhangsan"}, {714, "合同.pdf"}});
        QByteArray disc = record(1024, {{34, "zhangsan"}, {750, "光盘A"}});
        QCOMPARE(m_client.SaveCopyJob(copy.data(), nullptr), 0);
        QByteArray data = pattern(70000, 3);
        char name[1024] = {};
        QCOMPARE(m_client.SaveCDJobByBlock(0, 65536, data.data(), name), 0);
        QCOMPARE(m_client.SaveCDJobByBlock(1, 4464, data.data() + 65536, name), 0);
        QCOMPARE(m_client.SaveCDJobByBlock(1, 0, nullptr, name), 0);
        QCOMPARE(m_client.SaveCDJobByBlock(2, 1024, disc.data(), name), 0);
        QCOMPARE(stored(name, "cd.dat"), data);
        QCOMPARE(stored(name, "task.bin"), disc);
        const QString jobs = m_server.jobs();
        QVERIFY2(jobs.contains(" copy ") && jobs.contains("  document: 合同.pdf\n") &&
                     jobs.contains(QString(name) + " cd ") && jobs.contains("  document: 光盘A\n"),
                 qPrintable(jobs));

        // A copy request counts as made once it is sent, whatever the answer.
        RawHttpServer raw;
        CDComLayerWS rawClient;
        QVERIFY(RpcTestClient::connect(rawClient, raw));
        raw.setReply(RawHttpServer::soapFault("refused"));
        QCOMPARE(rawClient.SaveCopyJob(copy.data(), nullptr), 0);
        QTRY_COMPARE(raw.requestCount(), 1); // sent without waiting for the listener
        QCOMPARE(parseDime(raw.request(0).body).value(1).data, copy);
        QCOMPARE(leftovers(), QStringList());
    }

    void clampedAnswers()
    {
        // 2^32 narrowed to int would read 0: a refusal taken for acceptance.
        RawHttpServer raw;
        CDComLayerWS client;
        QVERIFY(RpcTestClient::connect(client, raw));
        const auto reply = [&](const QByteArray& op, const QByteArray& content) {
            raw.setReply(RawHttpServer::soapResponse("<ns:" + op + "Response>" + content +
                                                     "</ns:" + op + "Response>"));
        };
        char user[] = "zhangsan", quota[352] = {};
        reply("GetSecretLevel", "<SercretLevel>4294967296</SercretLevel>");
        QCOMPARE(client.GetSecretLevel(user), INT_MAX);
        reply("QuotaVerification", "<pRet>4294967296</pRet>");
        QCOMPARE(client.QuotaVerification(quota), INT_MAX);
        reply("GetSpecialAuditOfUser", "<return><pSpecialAudit>-4294967296</pSpecialAudit><pRet>"
                                       "4294967296</pRet></return>");
        int special = 0;
        QCOMPARE(client.GetSpecialAudit(user, &special), INT_MAX);
        QCOMPARE(special, INT_MIN);
    }
};

QTEST_GUILESS_MAIN(TestUploads)
#include "tst_uploads.moc"
