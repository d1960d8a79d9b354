// What the SOAP client puts on the wire and how it copes with answers, against a raw listener.
#include "DimeReader.h"
#include "EnvGuard.h"
#include "PlantedObject.h"
#include "RpcTestClient.h"
#include "SoapCall.h"
#include "SystemPaths.h"
#include "TestFiles.h"

#include <QtTest>

#include <climits>

using namespace RpcTestClient;

namespace
{

// One DIME record (first/last flags, padding to four bytes).
QByteArray dimeRecord(unsigned char flags, unsigned char typeFormat, const QByteArray& options,
                      const QByteArray& type, const QByteArray& data)
{
    const auto pad = [](QByteArray b) { return b.append(QByteArray((4 - b.size() % 4) % 4, 0)); };
    QByteArray r;
    r += char(0x08 | flags);
    r += char(typeFormat);
    for (int n : {int(options.size()), 0, int(type.size())})
        r += char(n >> 8), r += char(n & 0xff);
    for (int shift : {24, 16, 8, 0})
        r += char(data.size() >> shift);
    return r + pad(options) + pad(type) + pad(data);
}

} // namespace

class TstSoapWire : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void scalarCalls_data()
    {
        QTest::addColumn<QByteArray>("port");
        QTest::addColumn<QByteArray>("user"); // as it arrives
        QTest::addColumn<bool>("kept");       // the server keeps the connection
        // UTF-8 service: the name as it is; Latin-1: each of its bytes one character.
        for (bool kept : {false, true}) {
            const char* how = kept ? ", kept connection" : "";
            QTest::addRow("8085 utf-8%s", how) << QByteArray("8085") << QByteArray("José") << kept;
            QTest::addRow("8086 latin-1%s", how)
                << QByteArray("8086") << QByteArray("JosÃ©") << kept;
        }
    }

    void scalarCalls()
    {
        // The same bytes on a new connection per call and on one kept connection.
        QFETCH(QByteArray, port);
        QFETCH(QByteArray, user);
        QFETCH(bool, kept);
        RawHttpServer server;
        server.setKeepAlive(kept);
        server.setReply(logonAnswer());
        CDComLayerWS client;
        QCOMPARE(logOn(client, at(server.port()), port, "José", "5F4DCC3B", 2), 0);
        QCOMPARE(framing(server.request(0)), QByteArray("POST text/xml chunked"));
        QCOMPARE(server.request(0).body,
                 requestEnvelope("<ns:UserLogon><UserName>" + user +
                                 "</UserName><PassWord>5F4DCC3B</PassWord><UserType>2</UserType>"
                                 "</ns:UserLogon>"));

        server.setReply(RawHttpServer::soapResponse("<ns:GetFieldValuesBySQLResponse/>"));
        SoapCall call(client.NewCallContext());
        ns__GetFieldValuesBySQLResponse answer;
        char sql[] = "select GroupID from Users", field[] = "GroupID";
        QCOMPARE(
            call.proxy().GetFieldValuesBySQL(call.endpoint(), nullptr, sql, field, 1, 4, answer),
            SOAP_OK);
        QCOMPARE(server.request(1).body,
                 requestEnvelope("<ns:GetFieldValuesBySQL><pSQL>select GroupID from Users</pSQL>"
                                 "<pFieldName>GroupID</pFieldName><FieldType>1</FieldType>"
                                 "<FieldSize>4</FieldSize></ns:GetFieldValuesBySQL>"));
        QCOMPARE(server.request(1).connection, kept ? 0 : 1);
    }

    void upload_data()
    {
        QTest::addColumn<QList<int>>("sizes");    // of the files; -1: no such file
        QTest::addColumn<QList<int>>("declared"); // __size of each item; 0: the whole file
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<bool>("kept"); // the server keeps the logon's connection
        QTest::newRow("two files") << QList<int>{1113, 10} << QList<int>{1113, 10} << true << false;
        QTest::newRow("two files, kept connection")
            << QList<int>{1113, 10} << QList<int>{1113, 10} << true << true;
        QTest::newRow("third item never filled")
            << QList<int>{664, 100} << QList<int>{664, 100, 0} << true << false;
        QTest::newRow("file longer than declared")
            << QList<int>{5000} << QList<int>{1200} << true << false;
        QTest::newRow("no size") << QList<int>{300, 0} << QList<int>{0, 0} << true << false;
        QTest::newRow("file shorter than declared")
            << QList<int>{1200} << QList<int>{5000} << false << false;
        QTest::newRow("file cannot be opened")
            << QList<int>{-1} << QList<int>{4096} << false << false;
    }

    void upload()
    {
        QFETCH(QList<int>, sizes);
        QFETCH(QList<int>, declared);
        QFETCH(bool, succeeds);
        QFETCH(bool, kept);
        RawHttpServer server;
        server.setKeepAlive(kept);
        CDComLayerWS client;
        QVERIFY(RpcTestClient::connect(client, server));
        server.setReply(RawHttpServer::soapResponse("<ns:SavePrintJobExResponse/>"));
        QByteArray files[2];
        int status = -1;
        {
            SoapCall call(client.NewCallContext(), true);
            arrayOfData data(call.soap(), declared.size());
            for (int i = 0; i < sizes.size(); ++i) {
                for (int b = 0; b < sizes[i]; ++b)
                    files[i] += static_cast<char>(b * 37 + i); // every byte value
                attach(call.soap(), data[i],
                       m_dir.filePath(QTest::currentDataTag() + QString::number(i)),
                       sizes[i] < 0 ? nullptr : &files[i], declared[i]);
            }
            ns__SavePrintJobExResponse answer;
            status = call.proxy().SavePrintJobEx(call.endpoint(), nullptr, &data, answer);
        }
        QCOMPARE(status == SOAP_OK, succeeds);
        QTRY_COMPARE(server.requestCount(), 1);
        const RawHttpServer::Request req = server.request(0);
        // A failed upload never completes its message, nor sends a path instead.
        QVERIFY(!req.raw.contains(QFile::encodeName(m_dir.path())));
        QCOMPARE(req.complete, succeeds);
        if (!succeeds)
            return;
        QCOMPARE(req.connection, kept ? 0 : 1);
        QCOMPARE(framing(req), QByteArray("POST application/dime chunked"));
        const QList<DimeRecord> records = parseDime(req.body);
        QCOMPARE(records.size(), sizes.size() + 1);
        QByteArray items;
        for (int i = 0; i < declared.size(); ++i) {
            const bool filled = i < sizes.size();
            items += filled ? "<item href=\"cid:" + records[i + 1].id + "\"/>" : "<item></item>";
            if (filled)
                QCOMPARE(records[i + 1].data, declared[i] ? files[i].left(declared[i]) : files[i]);
        }
        QCOMPARE(records[0].data,
                 requestEnvelope("<ns:SavePrintJobEx><data SOAP-ENC:arrayType=\"ns:Data[" +
                                 QByteArray::number(declared.size()) + "]\">" + items +
                                 "</data></ns:SavePrintJobEx>"));
    }

    void arraysCarryTheirType_data()
    {
        // Every array of every request, empty or with one element, carries its arrayType (the
        // whole print job's: the upload test above).
        QTest::addColumn<QByteArray>("operation");
        QTest::addColumn<int>("count");         // of each array; -1: the client's own copy request
        QTest::addColumn<QByteArray>("params"); // <D/>: the data array, <N/>: the names
        const QByteArray file = "<PrintFileName>doc.pdf</PrintFileName>",
                         block = "<BlockType>1</BlockType><SplFileNameIn>M1.spl</SplFileNameIn>";
        for (int count : {0, 1}) {
            const auto row = [count](const char* op, const QByteArray& params) {
                QTest::addRow("%s, %d", op, count) << QByteArray(op) << count << params;
            };
            row("SavePrintJobByBlockForLinuxClient", "<D/>" + block);
            row("SaveMobilePrintJob", "<D/>" + file);
            row("SaveMobilePrintJobByBlock", file + "<D/>" + block);
            row("SaveCDRecordJobByBlock", file + "<D/>" + block);
            row("SaveCopyJobSQL", "<D/><N/>");
        }
        QTest::newRow("the copy request")
            << QByteArray("SaveCopyJobSQL") << -1 << QByteArray("<D/><N/>");
    }

    void arraysCarryTheirType()
    {
        QFETCH(QByteArray, operation);
        QFETCH(int, count);
        QFETCH(QByteArray, params);
        RawHttpServer server;
        CDComLayerWS client;
        QVERIFY(RpcTestClient::connect(client, server));
        server.setReply(RawHttpServer::soapResponse("<ns:" + operation + "Response/>"));
        const QByteArray record(932, 'r');
        if (count < 0) {
            QVERIFY(QDir().mkpath(QFile::decodeName(SystemPaths::varTmp()))); // the record's
            QByteArray copy = record, reserved(256, '\0');
            QCOMPARE(client.SaveCopyJob(copy.data(), reserved.data()), 0);
        } else {
            SoapCall call(client.NewCallContext(), true);
            arrayOfData data(call.soap(), count);
            arrayOfName names(call.soap(), count);
            if (count) {
                attach(call.soap(), data[0], m_dir.filePath("record"), &record, 0);
                names[0] = const_cast<char*>("K1.spl");
            }
            char file[] = "doc.pdf", stored[] = "M1.spl";
            OrWSProxy& p = call.proxy();
            const char* at = call.endpoint();
            ns__structSavePrintJobByBlock block;
            ns__SaveMobilePrintJobResponse mobile;
            if (operation == "SavePrintJobByBlockForLinuxClient")
                p.SavePrintJobByBlockForLinuxClient(at, nullptr, &data, 1, stored, block);
            else if (operation == "SaveMobilePrintJob")
                p.SaveMobilePrintJob(at, nullptr, &data, file, mobile);
            else if (operation == "SaveMobilePrintJobByBlock")
                p.SaveMobilePrintJobByBlock(at, nullptr, file, &data, 1, stored, block);
            else if (operation == "SaveCDRecordJobByBlock")
                p.SaveCDRecordJobByBlock(at, nullptr, file, &data, 1, stored, block);
            else
                p.SaveCopyJobSQL(at, nullptr, &data, &names, nullptr);
        }
        QTRY_COMPARE(server.requestCount(), 1);
        QTRY_VERIFY(server.request(0).complete);
        const RawHttpServer::Request req = server.request(0);
        const QByteArray data = operation == "SaveCopyJobSQL" ? "CopyInfo" : "data";
        const QByteArray n = QByteArray::number(qAbs(count));
        params.replace("<D/>",
                       "<" + data + " SOAP-ENC:arrayType=\"ns:Data[" + n + "]\">@</" + data + ">");
        params.replace("<N/>", "<names SOAP-ENC:arrayType=\"xsd:string[" +
                                   QByteArray::number(qMax(count, 0)) + "]\">" +
                                   (count > 0 ? "<item>K1.spl</item>" : "") + "</names>");
        // The record travels as the one attachment.
        const QList<DimeRecord> records = count ? parseDime(req.body) : QList<DimeRecord>();
        QCOMPARE(records.size(), count ? 2 : 0);
        QCOMPARE(records.value(1).data, count ? record : QByteArray());
        params.replace("@", count ? "<item href=\"cid:" + records.value(1).id + "\"/>" : "");
        QCOMPARE(count ? records.value(0).data : req.body,
                 requestEnvelope("<ns:" + operation + ">" + params + "</ns:" + operation + ">"));
    }

    void badAnswers_data()
    {
        QTest::addColumn<QByteArray>("reply"); // none: closed without a word
        QTest::addColumn<int>("expected");     // INT_MIN + 1: any negative result
        const int anyNegative = INT_MIN + 1;
        const QByteArray accepted = logonAnswer();
        // A code beyond the int range is not cut down to the 0 of an acceptance.
        QTest::newRow("beyond int") << logonAnswer("<LogResult>4294967296</LogResult>") << INT_MAX;
        QTest::newRow("no LogResult") << logonAnswer("") << -SOAP_NO_TAG;
        QTest::newRow("nil LogResult")
            << logonAnswer("<LogResult xsi:nil=\"true\"/>") << -SOAP_NO_TAG;
        QTest::newRow("garbage") << QByteArray("\x7f\x13 no HTTP\r\n\r\n") << anyNegative;
        QTest::newRow("fault") << RawHttpServer::soapFault("no such user") << -SOAP_SVR_FAULT;
        QTest::newRow("http 500") << RawHttpServer::httpResponse("", 500, "Error") << anyNegative;
        QTest::newRow("truncated body") << accepted.left(accepted.size() - 40) << anyNegative;
        QTest::newRow("closed") << QByteArray() << anyNegative;
        QTest::newRow("nothing listens") << accepted << -SOAP_TCP_ERROR;
        // Without a host the runtime would talk through standard input and output.
        QTest::newRow("no server address") << accepted << anyNegative;
    }

    void badAnswers()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, expected);
        RawHttpServer server;
        server.setReply(reply);
        // A listener closed again at once leaves a port where nothing listens.
        const QByteArray port =
            expected == -SOAP_TCP_ERROR ? RawHttpServer().portText() : server.portText();
        CDComLayerWS client;
        const bool noAddress = QTest::currentDataTag() == QLatin1String("no server address");
        int result = 0;
        QCOMPARE(captureStdout([&] { result = logOn(client, noAddress ? "" : "127.0.0.1", port); }),
                 QByteArray()); // nothing may go out on standard output
        QCOMPARE(expected == INT_MIN + 1 && result < 0 ? expected : result, expected);
    }

    void savedAttachments_data()
    {
        QTest::addColumn<QByteArray>("options"); // of the attachment record
        QTest::addColumn<int>("size");           // of its data
        QTest::addColumn<QString>("planted");    // by the name, beforehand
        QTest::addColumn<QString>("saved");      // null: refused, the call fails
        auto option = [](const QByteArray& name, int declared) {
            return QByteArray("\0\0", 2) + char(declared >> 8) + char(declared & 0xff) + name;
        };
        const auto row = [](const char* tag, const QByteArray& options, const QString& saved,
                            int size = 19, const char* planted = "") {
            QTest::newRow(tag) << options << size << QString(planted) << saved;
        };
        row("plain name", option("scan-01_a.pdf", 13), "scan-01_a.pdf");
        row("declared longer than sent", option("saved.bin", 4000), QString());
        row("no options", QByteArray(), QString());
        row("options of 2 bytes", QByteArray("\0\0", 2), QString());
        row("options of 3 bytes", QByteArray("\0\0\0", 3), QString());
        row("empty name", option("", 0), QString());
        row("parent folder", option("../escaped.bin", 14), QString());
        row("plug-in", option("ifclient.so", 11), QString());
        row("versioned library", option("libx.SO.1", 9), QString());
        row("settings", option("Last.ini", 8), QString());
        row("dot file", option(".profile", 8), QString());
        row("blank", option("a b.pdf", 7), QString());
        // Never written over or through what is there: a new file beside it.
        row("name taken", option("scan.pdf", 8), "1-scan.pdf", 19, "file");
        row("a link at the name", option("scan.pdf", 8), "1-scan.pdf", 19, "link");
        // The working folder is never written, whatever another user put there.
        row("another user's link in the working folder", option("scan.pdf", 8), "scan.pdf", 19,
            "foreign link in the working folder");
        const int cap = int(SoapDime::kMaxSavedAttachment);
        row("as large as allowed", option("big.bin", 7), "big.bin", cap);
        row("larger than allowed", option("big.bin", 7), QString(), cap + 1);
    }

    void savedAttachments()
    {
        // A reply's attachment: a new file in the user's folder, if plainly named and not huge.
        QFETCH(QByteArray, options);
        QFETCH(int, size);
        QFETCH(QString, planted);
        QFETCH(QString, saved);
        if (planted.contains("foreign") && geteuid() != 0)
            QSKIP("planting another user's link needs root (chown to nobody)");
        const QString work = m_dir.filePath(QTest::currentDataTag());
        const QString home = work + "/home", folder = home + "/.local/share/OrixClient/attachments";
        const QString elsewhere = work + "/precious";
        QVERIFY(QDir().mkpath(work + "/cwd") && QDir().mkpath(folder));
        QVERIFY(PlantedObject::plant(elsewhere, "file", false, "precious"));
        const QString at =
            (planted.contains("working") ? work + "/cwd/" : folder + '/') + "scan.pdf";
        QVERIFY(planted.isEmpty() ||
                PlantedObject::plant(at, planted.contains("link") ? "link" : "file",
                                     planted.contains("foreign"), "old", elsewhere));
        const QString before = PlantedObject::snapshot(work + "/cwd") + PlantedObject::snapshot(at);
        EnvGuard env;
        env.set("HOME", QFile::encodeName(home));
        CwdGuard cwd;
        QVERIFY(cwd.change(work + "/cwd"));
        RawHttpServer server;
        const QByteArray envelope =
            RawHttpServer::soapEnvelope("<ns:GetSecretLevelResponse><SercretLevel>3</SercretLevel>"
                                        "</ns:GetSecretLevelResponse>");
        const QByteArray data = QByteArray("%PDF-1.4 attachment").leftJustified(size, 'x', true);
        const QByteArray body =
            dimeRecord(0x04, 0x20, {}, "http://schemas.xmlsoap.org/soap/envelope/", envelope) +
            dimeRecord(0x02, 0x10, options, "application/pdf", data);
        server.setReply("HTTP/1.1 200 OK\r\nContent-Type: application/dime\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        CDComLayerWS client;
        QVERIFY(RpcTestClient::connect(client, server));
        const QStringList plantedThere = planted.startsWith("foreign") || planted.isEmpty()
                                             ? QStringList()
                                             : QStringList{"scan.pdf"};
        const auto entries = [&] {
            return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden |
                                          QDir::NoDotAndDotDot);
        };
        {
            SoapCall call(client.NewCallContext(), true);
            char user[] = "alice";
            LONG64 level = 0;
            const int status = call.proxy().GetSecretLevel(call.endpoint(), nullptr, user, &level);
            QCOMPARE(status == SOAP_OK, !saved.isNull());
            QStringList expected = plantedThere;
            if (!saved.isNull())
                expected << saved;
            expected.sort();
            QCOMPARE(entries(), expected);
            QVERIFY(saved.isNull() || (readFile(folder + '/' + saved) == data &&
                                       modeOf(folder + '/' + saved) == 0600));
        }
        // Nothing reads a saved attachment: it goes with the call.
        QCOMPARE(entries(), plantedThere);
        QCOMPARE(PlantedObject::snapshot(work + "/cwd") + PlantedObject::snapshot(at), before);
        QVERIFY(!QFile::exists(folder + "/../escaped.bin"));
    }

    void manyAttachments_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("size"); // of each
        QTest::addColumn<bool>("accepted");
        const int perCall = int(SoapDime::kMaxSavedPerCall);
        const int large = int(SoapDime::kMaxSavedAttachment);
        QTest::newRow("as many as allowed") << perCall << 100 << true;
        QTest::newRow("one more than allowed") << perCall + 1 << 100 << false;
        QTest::newRow("a hostile server's flood") << 500 << 10 << false;
        // Each within its own cap, together beyond the call's.
        const int fitting = int(SoapDime::kMaxSavedBytesPerCall / SoapDime::kMaxSavedAttachment);
        QTest::newRow("bytes as many as allowed") << fitting << large << true;
        QTest::newRow("bytes beyond the call's cap") << fitting + 1 << large << false;
    }

    void manyAttachments()
    {
        // A server's answer with many attachments: bounded per call, and none stays behind.
        QFETCH(int, count);
        QFETCH(int, size);
        QFETCH(bool, accepted);
        const QString home = m_dir.filePath(QTest::currentDataTag());
        const QString folder = home + "/.local/share/OrixClient/attachments";
        EnvGuard env;
        env.set("HOME", QFile::encodeName(home));
        const QByteArray envelope =
            RawHttpServer::soapEnvelope("<ns:GetSecretLevelResponse><SercretLevel>3</SercretLevel>"
                                        "</ns:GetSecretLevelResponse>");
        QByteArray body =
            dimeRecord(0x04, 0x20, {}, "http://schemas.xmlsoap.org/soap/envelope/", envelope);
        for (int i = 0; i < count; ++i) {
            const QByteArray name = "part" + QByteArray::number(i) + ".bin";
            const QByteArray options =
                QByteArray("\0\0", 2) + char(name.size() >> 8) + char(name.size() & 0xff) + name;
            body += dimeRecord(i + 1 == count ? 0x02 : 0x00, 0x10, options, "application/pdf",
                               QByteArray(size, 'x'));
        }
        RawHttpServer server;
        server.setReply("HTTP/1.1 200 OK\r\nContent-Type: application/dime\r\nContent-Length: " +
                        QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        CDComLayerWS client;
        QVERIFY(RpcTestClient::connect(client, server));
        const auto saved = [&] { return QDir(folder).entryList(QDir::Files).size(); };
        {
            SoapCall call(client.NewCallContext(), true);
            char user[] = "alice";
            LONG64 level = 0;
            QCOMPARE(call.proxy().GetSecretLevel(call.endpoint(), nullptr, user, &level) == SOAP_OK,
                     accepted);
            QVERIFY(saved() <= int(SoapDime::kMaxSavedPerCall));
            QCOMPARE(saved() == count, accepted);
        }
        QCOMPARE(saved(), 0);
    }

    void leftoversGoAtStart()
    {
        // What a crashed run left in the folder is removed once, at the next start.
        const QString home = m_dir.filePath("leftovers");
        const QString folder = home + "/.local/share/OrixClient/attachments";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(QDir().mkpath(home + "/.local/share/OrixClient/attachments/sub"));
        for (const char* name : {"a.pdf", "1-a.pdf"})
            QVERIFY(PlantedObject::plant(folder + '/' + name, "file", false, "old"));
        EnvGuard env;
        env.set("HOME", QFile::encodeName(home));
        SoapDime::RemoveLeftovers();
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{"sub"});
    }
};

QTEST_GUILESS_MAIN(TstSoapWire)
#include "tst_soapwire.moc"
