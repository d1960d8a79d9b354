// The uploads of the RPC client against the development server (through a
// relay that keeps the requests) and against listeners that fail: block
// arithmetic checked on what the server reassembled, the appendix, the copy
// and disc requests, the failures with their exceptions, two users at once,
// and no temporary file left behind on any path.

#include "DComLayerWS.h"
#include "DevServerProcess.h"
#include "DimeReader.h"
#include "RawHttpServer.h"
#include "RpcTestClient.h"
#include "TavCommon.h"
#include "TestRoot.h"

#include <QRegularExpression>
#include <QtEndian>
#include <QtTest>

#include <climits>
#include <functional>
#include <thread>

namespace
{

QByteArray randomBytes(int size, int seed)
{
    QByteArray bytes(size, '\0');
    quint32 x = 2463534242u + quint32(seed);
    for (char& c : bytes) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        c = char(x);
    }
    return bytes;
}

// Writes text over the bytes of record at offset.
void put(QByteArray& record, int offset, const QByteArray& text)
{
    record.replace(offset, text.size(), text);
}

// A mobile print task (1112 bytes) or print task (664) of user.
QByteArray taskRecord(int size, const QByteArray& user)
{
    QByteArray r(size, '\0');
    put(r, 0, user);
    if (size == 1112)
        put(r, 714, "doc.pdf");
    return r;
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
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

QByteArray blockAnswer(const QByteArray& inner)
{
    return RawHttpServer::soapResponse("<ns:SaveMobilePrintJobByBlockResponse><return>" + inner +
                                       "</return></ns:SaveMobilePrintJobByBlockResponse>");
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

    QString stored(const char* name, const char* file) const
    {
        return m_server.storageDir() + "/" + name + "/" + file;
    }
    // Files in /var/tmp and the working folder, which every upload must
    // leave as it found them.
    QStringList leftovers() const
    {
        return QDir(m_root.varTmp())
                   .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System) +
               QDir(m_work.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
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
        QTest::addColumn<int>("recordSize"); // 1112 mobile, 664 print
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("blocks"); // none: one call
        QTest::newRow("mobile, 102400 in one call") << 1112 << 102400 << QList<int>();
        QTest::newRow("mobile, 102401") << 1112 << 102401 << QList<int>{102400, 1};
        QTest::newRow("mobile, 250000") << 1112 << 250000 << QList<int>{102400, 102400, 45200};
        QTest::newRow("print, empty document") << 664 << 0 << QList<int>();
        QTest::newRow("print, 250000") << 664 << 250000 << QList<int>{102400, 102400, 45200};
    }

    void blocks()
    {
        QFETCH(int, recordSize);
        QFETCH(int, size);
        QFETCH(QList<int>, blocks);
        const bool mobile = recordSize == 1112;
        QByteArray record = taskRecord(recordSize, "zhangsan");
        const QByteArray document = randomBytes(size, size);
        const QString path = m_root.path() + "/job.pdf";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(document) == size);
        f.close();
        QByteArray documentPath = QFile::encodeName(path);
        char appendixText[] = "";
        char name[1024] = {};
        QList<QPair<qulonglong, qulonglong>> progress;
        m_client.SetUploadProgress([&](unsigned long long sent, unsigned long long total) {
            progress << qMakePair(sent, total);
        });
        m_relay.clearRequests();
        if (mobile)
            m_client.SaveMobilePrintJob(record.data(), appendixText, documentPath.data(), name);
        else
            m_client.SavePrintJob(record.data(), appendixText, documentPath.data(), name);
        m_client.SetUploadProgress({});

        // What went out: one request per block with its type, the record,
        // the block and, for a print job, the appendix with the last block.
        const QList<RawHttpServer::Request> requests = m_relay.requests();
        QCOMPARE(requests.size(), qMax(1, blocks.size()));
        QList<QPair<qulonglong, qulonglong>> expectedProgress;
        qulonglong sent = 0;
        for (int i = 0; i < requests.size(); ++i) {
            const QList<DimeRecord> dime = parseDime(requests[i].body);
            const QString body = QString::fromUtf8(dime.value(0).data);
            const bool last = i == requests.size() - 1;
            QCOMPARE(dime.value(1).data, record);
            QCOMPARE(dime.value(2).data.size(), blocks.isEmpty() ? size : blocks[i]);
            QCOMPARE(dime.size(), 3 + (!mobile && last ? 1 : 0));
            if (!blocks.isEmpty()) {
                const int type = i == 0 ? 0 : (last ? 2 : 1);
                QVERIFY(body.contains(QString("<BlockType>%1</BlockType>").arg(type)));
            }
            sent += dime.value(2).data.size();
            expectedProgress << qMakePair(sent, qulonglong(size));
        }
        QCOMPARE(progress, expectedProgress);

        // What the server reassembled under the name it gave.
        QVERIFY(QByteArray(name).endsWith(".spl"));
        QCOMPARE(readFile(stored(name, "document.dat")), document);
        QCOMPARE(readFile(stored(name, "task.bin")), record);
        if (!mobile) {
            // An empty appendix text still has its field of count 1.
            QString ip, mac;
            m_client.GetClientIpMac(ip, mac);
            const QByteArray m = mac.toLatin1(), a = ip.toLatin1();
            const QByteArray appendix = le32(1) + QByteArray(2, 0) + le32(m.size() + 1) + m +
                                        QByteArray(m.size() + 2, 0) + le32(a.size() + 1) + a +
                                        QByteArray(a.size() + 2, 0) + le32(1) + QByteArray(2, 0) +
                                        le32(2) + QByteArray(4, 0);
            QCOMPARE(readFile(stored(name, "appendix.bin")), appendix);
        }
        QCOMPARE(
            m_server.scalar(QString("SELECT Blocks FROM Uploads WHERE StoredName = '%1'").arg(name))
                .toInt(),
            qMax(1, blocks.size()));
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
        const QString path = m_root.path() + "/job.pdf";
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(randomBytes(250000, 7)) == 250000);
        f.close();
        QByteArray documentPath = QFile::encodeName(scenario == 5 ? path + ".gone" : path);
        QByteArray record = taskRecord(1112, "zhangsan");
        char reserved[] = "";
        char name[1024] = {};
        FILE* document = fopen(documentPath.constData(), "rb");
        if (scenario >= 6)
            QVERIFY(QDir(m_root.varTmp()).removeRecursively());
        const qlonglong uploads =
            m_server.scalar("SELECT ifnull(max(UploadID), 0) FROM Uploads").toLongLong();

        const QString thrown = outcome([&] {
            unsigned long sent = 0;
            switch (scenario) {
            case 0:
                raw.queueReply(blockAnswer("<SplFileNameOut>M1.spl</SplFileNameOut>"));
                raw.closeWithoutReply();
                rawClient.SaveMobilePrintJob(record.data(), reserved, documentPath.data(), name);
                break;
            case 1:
                raw.setReply(blockAnswer(""));
                rawClient.SaveMobilePrintJob(record.data(), reserved, documentPath.data(), name);
                break;
            case 2:
                strcpy(name, "M202601010000000001.spl");
                m_client.SendMobilePrintJobOneBlockToServer(document, 1, 102400, record.data(),
                                                            reserved, &sent, name);
                break;
            case 3: {
                m_client.SendMobilePrintJobOneBlockToServer(document, 0, 102400, record.data(),
                                                            reserved, &sent, name);
                QByteArray lisi = taskRecord(1112, "lisi");
                m_client.SendMobilePrintJobOneBlockToServer(document, 2, 102400, lisi.data(),
                                                            reserved, &sent, name);
                break;
            }
            case 4:
                QVERIFY(QFile::resize(path, 1000));
                m_client.SendMobilePrintJobOneBlockToServer(document, 0, 102400, record.data(),
                                                            reserved, &sent, name);
                break;
            case 5:
            case 6:
                m_client.SaveMobilePrintJob(record.data(), reserved, documentPath.data(), name);
                break;
            case 7:
                m_client.SendMobilePrintJobOneBlockToServer(document, 0, 102400, record.data(),
                                                            reserved, &sent, name);
                break;
            }
        });
        if (document)
            fclose(document);
        QTEST(thrown, "thrown");
        QVERIFY(QDir().mkpath(m_root.varTmp()));
        QFile::remove(path);
        QCOMPARE(leftovers(), QStringList());
        // Nothing finished arrived (a refused block leaves at most its job's start).
        QCOMPARE(m_server
                     .scalar("SELECT count(*) FROM Uploads WHERE Finished = 1 AND "
                             "UploadID > " +
                             QString::number(uploads))
                     .toLongLong(),
                 0LL);
    }

    void twoUsersAtOnce()
    {
        // Links planted under the names every upload once shared must not
        // be written through, and two uploads at once must not meet.
        const QString victim = m_root.path() + "/victim";
        QFile v(victim);
        QVERIFY(v.open(QIODevice::WriteOnly) && v.write("keep") == 4);
        v.close();
        const QStringList planted = {"SendOneBlockToServerData.bin", "SendOneBlockToServerInfo.bin",
                                     "taskinfo-alice.bin", "orixcd.bin"};
        for (const QString& name : planted)
            QVERIFY(QFile::link(victim, m_root.varTmp() + "/" + name));

        struct Upload {
            QByteArray user, document, name = QByteArray(1024, '\0');
            CDComLayerWS client;
            QString thrown;
        } uploads[2];
        uploads[0].user = "zhangsan";
        uploads[1].user = "lisi";
        std::thread threads[2];
        for (int i = 0; i < 2; ++i) {
            Upload& u = uploads[i];
            u.document = randomBytes(250000, 100 + i);
            const QString path = m_root.path() + "/" + u.user;
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(u.document) == 250000);
            QCOMPARE(RpcTestClient::logOn(u.client, "127.0.0.1",
                                          QByteArray::number(m_server.port()), u.user.constData(),
                                          kSeedPasswordDigest),
                     0);
            threads[i] = std::thread([&u, path] {
                QByteArray record = taskRecord(1112, u.user), file = QFile::encodeName(path);
                char reserved[] = "";
                u.thrown = outcome([&] {
                    u.client.SaveMobilePrintJob(record.data(), reserved, file.data(),
                                                u.name.data());
                });
            });
        }
        for (std::thread& t : threads)
            t.join();
        for (const Upload& u : uploads) {
            QCOMPARE(u.thrown, QString("none"));
            QCOMPARE(readFile(stored(u.name.constData(), "document.dat")), u.document);
            QFile::remove(m_root.path() + "/" + u.user);
        }
        QCOMPARE(readFile(victim), QByteArray("keep"));
        QStringList left = leftovers();
        left.sort();
        QStringList expected = planted;
        expected.sort();
        QCOMPARE(left, expected);
        for (const QString& name : planted)
            QFile::remove(m_root.varTmp() + "/" + name);
    }

    void copyAndDiscRequests()
    {
        // Copy: 932 bytes (user at 0, document at 714); disc: data blocks,
        // then the 1024-byte record (user at 34, document at 750).
        QByteArray copy = taskRecord(932, "zhangsan");
        put(copy, 714, "合同.pdf");
        QCOMPARE(m_client.SaveCopyJob(copy.data(), nullptr), 0);
        QByteArray disc(1024, '\0');
        put(disc, 34, "zhangsan");
        put(disc, 750, "光盘A");
        const QByteArray data = randomBytes(70000, 3);
        char name[1024] = {};
        QCOMPARE(m_client.SaveCDJobByBlock(0, 65536, const_cast<char*>(data.constData()), name), 0);
        QCOMPARE(
            m_client.SaveCDJobByBlock(1, 4464, const_cast<char*>(data.constData()) + 65536, name),
            0);
        QCOMPARE(m_client.SaveCDJobByBlock(1, 0, nullptr, name), 0); // the read at the end
        QCOMPARE(m_client.SaveCDJobByBlock(2, 1024, disc.data(), name), 0);
        QCOMPARE(readFile(stored(name, "cd.dat")), data);
        QCOMPARE(readFile(stored(name, "task.bin")), disc);
        const QString jobs = m_server.jobs();
        QVERIFY2(jobs.contains("copy ") && jobs.contains("  document: 合同.pdf\n") &&
                     jobs.contains(QString(name) + " cd ") && jobs.contains("  document: 光盘A\n"),
                 qPrintable(jobs));

        // A copy request counts as made once it is sent, whatever the answer.
        RawHttpServer raw;
        CDComLayerWS rawClient;
        QVERIFY(RpcTestClient::connect(rawClient, raw));
        raw.setReply(RawHttpServer::soapFault("refused"));
        QCOMPARE(rawClient.SaveCopyJob(copy.data(), nullptr), 0);
        QTRY_COMPARE(raw.requestCount(), 1); // it does not wait for the listener
        QCOMPARE(parseDime(raw.request(0).body).value(1).data, copy);
        QCOMPARE(leftovers(), QStringList());
    }

    void clampedAnswers_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("result");
        const QByteArray big = "4294967296";
        QTest::newRow("secret level") << "<ns:GetSecretLevelResponse><SercretLevel>" + big +
                                             "</SercretLevel></ns:GetSecretLevelResponse>"
                                      << INT_MAX;
        QTest::newRow("quota") << "<ns:QuotaVerificationResponse><pRet>" + big +
                                      "</pRet></ns:QuotaVerificationResponse>"
                               << INT_MAX;
        QTest::newRow("special audit")
            << "<ns:GetSpecialAuditOfUserResponse><return><pSpecialAudit>-" + big +
                   "</pSpecialAudit><pRet>" + big +
                   "</pRet></return></ns:GetSpecialAuditOfUserResponse>"
            << INT_MAX;
    }

    void clampedAnswers()
    {
        // An answer of 2^32 narrowed to int would read 0: accepted, no audit.
        QFETCH(QByteArray, answer);
        RawHttpServer raw;
        CDComLayerWS client;
        QVERIFY(RpcTestClient::connect(client, raw));
        raw.setReply(RawHttpServer::soapResponse(answer));
        char user[] = "zhangsan";
        char quota[352] = {};
        int special = 0;
        const int result = answer.contains("Secret")  ? client.GetSecretLevel(user)
                           : answer.contains("Quota") ? client.QuotaVerification(quota)
                                                      : client.GetSpecialAudit(user, &special);
        QTEST(result, "result");
        if (answer.contains("Special"))
            QCOMPARE(special, INT_MIN);
    }
};

QTEST_GUILESS_MAIN(TestUploads)
#include "tst_uploads.moc"
