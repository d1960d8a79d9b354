// What the SOAP client puts on the wire and how it copes with what comes
// back, checked against a raw loopback listener that records the bytes.
#include "DComLayerWS.h"
#include "DimeReader.h"
#include "RawHttpServer.h"
#include "RpcTestClient.h"
#include "SoapCall.h"
#include "TavUserRecord.h"

#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

const QString kEnvNs = QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/");
const QString kEncNs = QStringLiteral("http://schemas.xmlsoap.org/soap/encoding/");
const QString kXsiNs = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");
const QString kXsdNs = QStringLiteral("http://www.w3.org/2001/XMLSchema");

// One parameter element of a request as found on the wire.
struct Param {
    QString name;
    QString text; // text content (empty for elements with children)
    QXmlStreamAttributes attributes;
    QList<QXmlStreamAttributes> items; // attributes of the "item" children of an array
};

// Parses a request envelope and checks the message rules: the namespace
// table in its order, SOAP encoding style declared, no SOAP Header, one
// body element "ns:<operation>" whose children are unqualified and carry
// no xsi:type. Fills params in document order.
bool parseRequest(const QByteArray& xml, const QString& operation, QList<Param>* params,
                  QString* why)
{
    QXmlStreamReader r(xml);
    params->clear();
    auto fail = [&](const QString& text) {
        *why = text + (r.hasError() ? " (" + r.errorString() + ")" : QString());
        return false;
    };
    if (!r.readNextStartElement() || r.namespaceUri() != kEnvNs ||
        r.name() != QLatin1String("Envelope"))
        return fail("no SOAP 1.1 Envelope");
    const QXmlStreamNamespaceDeclarations decls = r.namespaceDeclarations();
    const QStringList expectedPrefixes{"SOAP-ENV", "SOAP-ENC", "xsi", "xsd", "ns"};
    const QStringList expectedUris{kEnvNs, kEncNs, kXsiNs, kXsdNs, "urn:OrWS"};
    if (decls.size() != expectedPrefixes.size())
        return fail(QString("%1 namespace declarations").arg(decls.size()));
    for (int i = 0; i < decls.size(); ++i) {
        if (decls[i].prefix() != expectedPrefixes[i] || decls[i].namespaceUri() != expectedUris[i])
            return fail("namespace " + QString::number(i) + " is " + decls[i].prefix().toString());
    }
    bool encodingStyle = r.attributes().value(kEnvNs, "encodingStyle") == kEncNs;
    if (!r.readNextStartElement())
        return fail("empty envelope");
    if (r.name() == QLatin1String("Header"))
        return fail("a SOAP Header is present");
    if (r.namespaceUri() != kEnvNs || r.name() != QLatin1String("Body"))
        return fail("no Body");
    encodingStyle = encodingStyle || r.attributes().value(kEnvNs, "encodingStyle") == kEncNs;
    if (!encodingStyle)
        return fail("SOAP encoding style not declared");
    if (!r.readNextStartElement())
        return fail("empty Body");
    if (r.qualifiedName() != "ns:" + operation || r.namespaceUri() != QLatin1String("urn:OrWS"))
        return fail("body element " + r.qualifiedName().toString());
    while (r.readNextStartElement()) {
        Param p;
        p.name = r.qualifiedName().toString();
        p.attributes = r.attributes();
        if (!r.namespaceUri().isEmpty() || !r.prefix().isEmpty())
            return fail("parameter " + p.name + " is qualified");
        if (p.attributes.hasAttribute(kXsiNs, "type"))
            return fail("parameter " + p.name + " carries xsi:type");
        // Read the content: text, or "item" children of an array.
        while (!r.atEnd()) {
            const QXmlStreamReader::TokenType t = r.readNext();
            if (t == QXmlStreamReader::Characters) {
                p.text += r.text();
            } else if (t == QXmlStreamReader::StartElement) {
                if (r.name() != QLatin1String("item"))
                    return fail("unexpected " + r.name().toString() + " in " + p.name);
                p.items.append(r.attributes());
                r.skipCurrentElement();
            } else if (t == QXmlStreamReader::EndElement) {
                break;
            }
        }
        params->append(p);
    }
    if (!r.readNextStartElement() && r.tokenType() == QXmlStreamReader::EndElement &&
        r.name() == QLatin1String("Body")) {
        if (r.hasError())
            return fail("malformed XML");
        return true;
    }
    return fail("more than one body element");
}

QStringList names(const QList<Param>& params)
{
    QStringList n;
    for (const Param& p : params)
        n << p.name;
    return n;
}

QByteArray writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return QByteArray();
    return QFile::encodeName(path);
}

// A local port with nothing listening: bound, then closed.
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

const QByteArray kLogonOk = RawHttpServer::soapResponse(
    "<ns:UserLogonResponse><LogResult>0</LogResult></ns:UserLogonResponse>");

} // namespace

Q_DECLARE_METATYPE(RawHttpServer::Reply)

class TstSoapWire : public QObject
{
    Q_OBJECT
private slots:
    void logonRequest();
    void endpointText_data();
    void endpointText();
    void fieldValuesRequest();
    void dimeUpload();
    void dimeUploadEmptyLastItem();
    void dimeUnreadableFile();
    void dimeDeclaredSize_data();
    void dimeDeclaredSize();
    void oneWayCopyJob_data();
    void oneWayCopyJob();
    void stringModeByPort_data();
    void stringModeByPort();
    void logonAnswers_data();
    void logonAnswers();
    void unreachableServer();
    void peerHangUpDuringUpload();
    void noHostNoStdio_data();
    void noHostNoStdio();
    void noContext();
    void contextSettings_data();
    void contextSettings();
    void dimeWriteCallbacks_data();
    void dimeWriteCallbacks();
};

void TstSoapWire::logonRequest()
{
    RawHttpServer server;
    server.setReply(kLogonOk);
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(server.portText().constData());
    TavUserRecord record =
        RpcTestClient::logonRecord("127.0.0.1", "alice", "5F4DCC3B5AA765D61D8327DEB882CF99", 2);
    QCOMPARE(client.LogOn(&record), 0);

    QCOMPARE(server.requestCount(), 1);
    const RawHttpServer::Request req = server.request(0);
    QCOMPARE(req.method, QByteArray("POST"));
    QVERIFY(req.chunked);
    QVERIFY(req.complete);
    QVERIFY(!req.hasHeader("SOAPAction"));
    QVERIFY(req.header("Content-Type").startsWith("text/xml"));

    QList<Param> params;
    QString why;
    QVERIFY2(parseRequest(req.body, "UserLogon", &params, &why), qPrintable(why));
    QCOMPARE(names(params), QStringList({"UserName", "PassWord", "UserType"}));
    QCOMPARE(params[0].text, QString("alice"));
    QCOMPARE(params[1].text, QString("5F4DCC3B5AA765D61D8327DEB882CF99"));
    QCOMPARE(params[2].text, QString("2"));
}

void TstSoapWire::endpointText_data()
{
    QTest::addColumn<int>("useSsl");
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("http") << 0 << QByteArray("8086") << QByteArray("http://127.0.0.1:8086");
    QTest::newRow("https") << 1 << QByteArray("8086") << QByteArray("https://127.0.0.1:8086");
    QTest::newRow("https any flag")
        << 7 << QByteArray("443") << QByteArray("https://127.0.0.1:443");
}

void TstSoapWire::endpointText()
{
    QFETCH(int, useSsl);
    QFETCH(QByteArray, port);
    QFETCH(QByteArray, expected);
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(port.constData());
    TavUserRecord record = RpcTestClient::logonRecord("127.0.0.1", "alice", "pw", 0, useSsl);
    // No context: LogOn builds the endpoint and stops before any traffic.
    SoapCall::SetContextFailureForTesting(true);
    const int result = client.LogOn(&record);
    SoapCall::SetContextFailureForTesting(false);
    QCOMPARE(result, -20);
    QCOMPARE(QByteArray(client.Endpoint()), expected);
    QCOMPARE(client.UseHttps(), useSsl);
}

void TstSoapWire::fieldValuesRequest()
{
    RawHttpServer server;
    CDComLayerWS client;
    QVERIFY(RpcTestClient::connect(client, server));
    // rows = 1, error = 0, one int32 value 42
    const QByteArray ret = QByteArray::fromHex("01000000"
                                               "00000000"
                                               "2a000000");
    server.setReply(RawHttpServer::soapResponse("<ns:GetFieldValuesBySQLResponse><ret>" +
                                                ret.toBase64() +
                                                "</ret></ns:GetFieldValuesBySQLResponse>"));

    QByteArray copied;
    {
        SoapCall call(client);
        QVERIFY(call.ok());
        ns__GetFieldValuesBySQLResponse response;
        char sql[] = "select GroupID from Users where UserName='alice'";
        char field[] = "GroupID";
        QCOMPARE(
            call.proxy().GetFieldValuesBySQL(call.endpoint(), nullptr, sql, field, 1, 4, response),
            SOAP_OK);
        QVERIFY(response.ret.__ptr);
        copied = QByteArray(reinterpret_cast<const char*>(response.ret.__ptr), response.ret.__size);
    }
    QCOMPARE(copied, ret);

    const RawHttpServer::Request req = server.request(0);
    QVERIFY(req.chunked);
    QVERIFY(!req.hasHeader("SOAPAction"));
    QList<Param> params;
    QString why;
    QVERIFY2(parseRequest(req.body, "GetFieldValuesBySQL", &params, &why), qPrintable(why));
    QCOMPARE(names(params), QStringList({"pSQL", "pFieldName", "FieldType", "FieldSize"}));
    QCOMPARE(params[0].text, QString("select GroupID from Users where UserName='alice'"));
    QCOMPARE(params[1].text, QString("GroupID"));
    QCOMPARE(params[2].text, QString("1"));
    QCOMPARE(params[3].text, QString("4"));
}

void TstSoapWire::dimeUpload()
{
    QTemporaryDir dir;
    QByteArray first;
    for (int i = 0; i < 1113; ++i)
        first += static_cast<char>((i * 37) & 0xff); // every byte value, size not a multiple of 4
    const QByteArray second("ab\0\r\n0\r\ncd", 10);  // bytes that look like chunk framing
    QByteArray path1 = writeFile(dir.path() + "/taskinfo.bin", first);
    QByteArray path2 = writeFile(dir.path() + "/job.pdf", second);
    QVERIFY(!path1.isEmpty() && !path2.isEmpty());

    RawHttpServer server;
    CDComLayerWS client;
    QVERIFY(RpcTestClient::connect(client, server));
    server.setReply(RawHttpServer::soapResponse(
        "<ns:SavePrintJobExResponse><names SOAP-ENC:arrayType=\"xsd:string[1]\">"
        "<item>stored-0001.pdf</item></names></ns:SavePrintJobExResponse>"));

    QByteArray stored;
    {
        SoapCall call(client, true);
        QVERIFY(call.ok());
        arrayOfData data(call.soap(), 2);
        data[0].__ptr = reinterpret_cast<unsigned char*>(path1.data());
        data[0].__size = first.size();
        data[0].type = const_cast<char*>("");
        data[1].__ptr = reinterpret_cast<unsigned char*>(path2.data());
        data[1].__size = second.size();
        data[1].type = const_cast<char*>("");
        ns__SavePrintJobExResponse response;
        QCOMPARE(call.proxy().SavePrintJobEx(call.endpoint(), nullptr, &data, response), SOAP_OK);
        QCOMPARE(response.names.size(), 1);
        stored = response.names[0];
    }
    QCOMPARE(stored, QByteArray("stored-0001.pdf"));

    const RawHttpServer::Request req = server.request(0);
    QVERIFY(req.chunked);
    QVERIFY(req.complete);
    QVERIFY(!req.hasHeader("SOAPAction"));
    QVERIFY(req.header("Content-Type").startsWith("application/dime"));
    bool ok = false;
    const QList<DimeRecord> records = DimeReader::parse(req.body, &ok);
    QVERIFY(ok);
    QCOMPARE(records.size(), 3);
    QVERIFY(records[0].messageBegin);
    QCOMPARE(records[0].typeFormat, 2);
    QCOMPARE(records[0].type, kEnvNs.toUtf8());
    QCOMPARE(records[1].data, first);
    QCOMPARE(records[2].data, second);
    QVERIFY(records[2].messageEnd);

    QList<Param> params;
    QString why;
    QVERIFY2(parseRequest(records[0].data, "SavePrintJobEx", &params, &why), qPrintable(why));
    QCOMPARE(names(params), QStringList({"data"}));
    QCOMPARE(params[0].attributes.value(kEncNs, "arrayType").toString(), QString("ns:Data[2]"));
    QCOMPARE(params[0].items.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QString href = params[0].items[i].value("href").toString();
        QVERIFY2(QRegularExpression("^cid:id\\d+$").match(href).hasMatch(), qPrintable(href));
        QCOMPARE(href, "cid:" + QString::fromLatin1(records[i + 1].id));
    }
}

void TstSoapWire::dimeUploadEmptyLastItem()
{
    QTemporaryDir dir;
    QByteArray path1 = writeFile(dir.path() + "/info.bin", QByteArray(664, 'i'));
    QByteArray path2 = writeFile(dir.path() + "/data.bin", QByteArray(100, 'd'));

    RawHttpServer server;
    CDComLayerWS client;
    QVERIFY(RpcTestClient::connect(client, server));
    server.setReply(
        RawHttpServer::soapResponse("<ns:SavePrintJobByBlockForLinuxClientResponse><return>"
                                    "<SplFileNameOut>job-7</SplFileNameOut></return>"
                                    "</ns:SavePrintJobByBlockForLinuxClientResponse>"));
    {
        SoapCall call(client, true);
        arrayOfData data(call.soap(), 3); // item 2 is never filled
        data[0].__ptr = reinterpret_cast<unsigned char*>(path1.data());
        data[0].__size = 664;
        data[0].type = const_cast<char*>("");
        data[1].__ptr = reinterpret_cast<unsigned char*>(path2.data());
        data[1].__size = 100;
        data[1].type = const_cast<char*>("");
        ns__structSavePrintJobByBlock response;
        char name[] = "";
        QCOMPARE(call.proxy().SavePrintJobByBlockForLinuxClient(call.endpoint(), nullptr, &data, 0,
                                                                name, response),
                 SOAP_OK);
        QVERIFY(response.return_ && response.return_->SplFileNameOut);
        QCOMPARE(QByteArray(response.return_->SplFileNameOut), QByteArray("job-7"));
    }
    const QList<DimeRecord> records = DimeReader::parse(server.request(0).body);
    QCOMPARE(records.size(), 3); // the envelope and two attachments
    QList<Param> params;
    QString why;
    QVERIFY2(parseRequest(records[0].data, "SavePrintJobByBlockForLinuxClient", &params, &why),
             qPrintable(why));
    QCOMPARE(names(params), QStringList({"data", "BlockType", "SplFileNameIn"}));
    QCOMPARE(params[0].attributes.value(kEncNs, "arrayType").toString(), QString("ns:Data[3]"));
    QCOMPARE(params[0].items.size(), 3);
    QVERIFY(params[0].items[0].hasAttribute("href"));
    QVERIFY(params[0].items[1].hasAttribute("href"));
    QVERIFY(!params[0].items[2].hasAttribute("href"));
    QCOMPARE(params[1].text, QString("0"));
}

void TstSoapWire::dimeUnreadableFile()
{
    // An attachment whose file cannot be opened fails the call; the path
    // text (and the memory after it) is never sent in place of the file.
    QTemporaryDir dir;
    QByteArray missing = QFile::encodeName(dir.path() + "/no-such-file.bin");
    RawHttpServer server;
    CDComLayerWS client;
    QVERIFY(RpcTestClient::connect(client, server));
    server.setReply(RawHttpServer::soapResponse("<ns:SavePrintJobExResponse/>"));
    {
        SoapCall call(client, true);
        arrayOfData data(call.soap(), 1);
        data[0].__ptr = reinterpret_cast<unsigned char*>(missing.data());
        data[0].__size = 4096;
        data[0].type = const_cast<char*>("");
        ns__SavePrintJobExResponse response;
        QVERIFY(call.proxy().SavePrintJobEx(call.endpoint(), nullptr, &data, response) != SOAP_OK);
    }
    server.waitForRequests(1, 2000);
    for (const RawHttpServer::Request& req : server.requests()) {
        QVERIFY(!req.complete);
        QVERIFY(!req.raw.contains("no-such-file.bin"));
    }
}

void TstSoapWire::dimeDeclaredSize_data()
{
    QTest::addColumn<int>("fileSize");
    QTest::addColumn<int>("declared");
    QTest::addColumn<bool>("succeeds");
    QTest::newRow("file as declared") << 5000 << 5000 << true;
    QTest::newRow("file longer: only the declared bytes") << 5000 << 1200 << true;
    QTest::newRow("file shorter than declared") << 1200 << 5000 << false;
    // Without a size the runtime streams the whole file (an empty block
    // file of the disc upload is such a case).
    QTest::newRow("empty file, no size") << 0 << 0 << true;
    QTest::newRow("file, no size") << 300 << 0 << true;
}

void TstSoapWire::dimeDeclaredSize()
{
    QFETCH(int, fileSize);
    QFETCH(int, declared);
    QFETCH(bool, succeeds);
    QTemporaryDir dir;
    QByteArray content;
    for (int i = 0; i < fileSize; ++i)
        content += static_cast<char>(i % 251);
    QByteArray path = writeFile(dir.path() + "/doc.bin", content);
    RawHttpServer server;
    CDComLayerWS client;
    QVERIFY(RpcTestClient::connect(client, server));
    server.setReply(RawHttpServer::soapResponse("<ns:SavePrintJobExResponse/>"));
    int status = SOAP_OK;
    {
        SoapCall call(client, true);
        arrayOfData data(call.soap(), 1);
        data[0].__ptr = reinterpret_cast<unsigned char*>(path.data());
        data[0].__size = declared;
        data[0].type = const_cast<char*>("");
        ns__SavePrintJobExResponse response;
        status = call.proxy().SavePrintJobEx(call.endpoint(), nullptr, &data, response);
    }
    QCOMPARE(status == SOAP_OK, succeeds);
    if (succeeds) {
        const QList<DimeRecord> records = DimeReader::parse(server.request(0).body);
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[1].data, declared ? content.left(declared) : content);
    }
}

void TstSoapWire::oneWayCopyJob_data()
{
    QTest::addColumn<RawHttpServer::Reply>("reply");
    RawHttpServer::Reply r;
    r.bytes = "\x01\x02garbage that is not HTTP\r\n\r\n";
    QTest::newRow("garbage") << r;
    r = RawHttpServer::Reply();
    r.bytes = RawHttpServer::soapFault("refused");
    QTest::newRow("fault") << r;
    r = RawHttpServer::Reply();
    r.action = RawHttpServer::Action::Close;
    QTest::newRow("closes without answer") << r;
    r = RawHttpServer::Reply();
    r.action = RawHttpServer::Action::Hold; // silent until the test ends
    QTest::newRow("never answers") << r;
}

void TstSoapWire::oneWayCopyJob()
{
    QFETCH(RawHttpServer::Reply, reply);
    QTemporaryDir dir;
    const QByteArray record(932, 'c');
    QByteArray path = writeFile(dir.path() + "/orixjob", record);

    RawHttpServer server;
    CDComLayerWS client;
    QVERIFY(RpcTestClient::connect(client, server));
    server.setReply(reply);
    {
        SoapCall call(client);
        arrayOfData copy(call.soap(), 1);
        copy[0].__ptr = reinterpret_cast<unsigned char*>(path.data());
        copy[0].__size = record.size();
        copy[0].type = const_cast<char*>("");
        arrayOfName names(call.soap(), 0);
        // No result wanted: sent, then the connection is closed unread. A
        // wait for the silent peer would end in the receive time-out and an
        // error, not in 0.
        QCOMPARE(call.proxy().SaveCopyJobSQL(call.endpoint(), nullptr, &copy, &names, nullptr),
                 SOAP_OK);
    }
    QVERIFY(server.waitForRequests(1));
    const RawHttpServer::Request req = server.request(0);
    QVERIFY(req.complete);
    const QList<DimeRecord> records = DimeReader::parse(req.body);
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[1].data, record);
    QList<Param> params;
    QString why;
    QVERIFY2(parseRequest(records[0].data, "SaveCopyJobSQL", &params, &why), qPrintable(why));
    QCOMPARE(::names(params), QStringList({"CopyInfo", "names"}));
}

void TstSoapWire::stringModeByPort_data()
{
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<QString>("sentAs");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("storedAs");
    const QByteArray name = QString::fromUtf8("张三").toUtf8();
    // UTF-8 service: the name's characters arrive as they are, and received
    // characters are kept as UTF-8 bytes.
    QTest::newRow("8085 utf-8") << QByteArray("8085") << QString::fromUtf8("张三")
                                << QString::fromUtf8("é张").toUtf8()
                                << QString::fromUtf8("é张").toUtf8();
    // Latin-1 service: every byte of the name is one character, and a
    // received Latin-1 character is kept as one byte.
    QTest::newRow("8086 latin-1") << QByteArray("8086") << QString::fromLatin1(name)
                                  << QString::fromUtf8("é").toUtf8() << QByteArray("\xe9");
}

void TstSoapWire::stringModeByPort()
{
    QFETCH(QByteArray, port);
    QFETCH(QString, sentAs);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, storedAs);

    RawHttpServer server;
    server.setReply(kLogonOk);
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(port.constData());
    // The listener's real port goes into the address; the port text only
    // decides the string mode (see RpcTestClient).
    const QByteArray address = "127.0.0.1:" + server.portText() + "/";
    TavUserRecord record = RpcTestClient::logonRecord(address.constData(), "张三");
    QCOMPARE(client.LogOn(&record), 0);
    QList<Param> params;
    QString why;
    QVERIFY2(parseRequest(server.request(0).body, "UserLogon", &params, &why), qPrintable(why));
    QCOMPARE(params[0].text, sentAs);

    server.setReply(RawHttpServer::soapResponse("<ns:GetPayerInfoResponse><pPayerParam>" + answer +
                                                "</pPayerParam></ns:GetPayerInfoResponse>"));
    QByteArray received;
    {
        SoapCall call(client);
        char* payer = nullptr;
        char item[] = "PayerSetting";
        QCOMPARE(call.proxy().GetPayerInfo(call.endpoint(), nullptr, item, &payer), SOAP_OK);
        QVERIFY(payer);
        received = payer;
    }
    QCOMPARE(received, storedAs);
}

void TstSoapWire::logonAnswers_data()
{
    QTest::addColumn<RawHttpServer::Reply>("reply");
    QTest::addColumn<int>("expected"); // exact result, or INT_MIN + 1 for "any negative"
    const int anyNegative = INT_MIN + 1;
    auto answer = [](const QByteArray& bytes, int delayMs = 0) {
        RawHttpServer::Reply r;
        r.bytes = bytes;
        r.delayMs = delayMs;
        return r;
    };
    auto logon = [&](const QByteArray& inner) {
        return answer(RawHttpServer::soapResponse("<ns:UserLogonResponse>" + inner +
                                                  "</ns:UserLogonResponse>"));
    };
    RawHttpServer::Reply action;

    QTest::newRow("accepted") << logon("<LogResult>0</LogResult>") << 0;
    QTest::newRow("refused 2") << logon("<LogResult>2</LogResult>") << 2;
    QTest::newRow("refused 19") << logon("<LogResult>19</LogResult>") << 19;
    QTest::newRow("any wrapper name")
        << answer(RawHttpServer::soapResponse("<ns:Other><LogResult>3</LogResult></ns:Other>"))
        << 3;
    QTest::newRow("late answer") << answer(kLogonOk, 300) << 0;
    // A negative code is a refusal as well, never an acceptance.
    QTest::newRow("negative code") << logon("<LogResult>-5</LogResult>") << -5;
    QTest::newRow("code beyond int") << logon("<LogResult>4294967296</LogResult>") << INT_MAX;
    QTest::newRow("negative beyond int") << logon("<LogResult>-4294967296</LogResult>") << INT_MIN;
    // Without a LogResult there is no acceptance to read.
    QTest::newRow("no LogResult") << logon("") << -SOAP_NO_TAG;
    QTest::newRow("nil LogResult") << logon("<LogResult xsi:nil=\"true\"/>") << -SOAP_NO_TAG;
    QTest::newRow("mistyped LogResult") << logon("<LogResult>yes</LogResult>") << anyNegative;
    QTest::newRow("garbage") << answer("\x7f\x00\x13 this is no HTTP\r\n\r\n") << anyNegative;
    QTest::newRow("not xml") << answer(RawHttpServer::httpResponse("<<<<&&&")) << anyNegative;
    QTest::newRow("fault") << answer(RawHttpServer::soapFault("no such user")) << -SOAP_SVR_FAULT;
    QTest::newRow("fault with 200") << answer(RawHttpServer::soapResponse(
                                           "<SOAP-ENV:Fault><faultcode>SOAP-ENV:Server</faultcode>"
                                           "<faultstring>x</faultstring></SOAP-ENV:Fault>"))
                                    << -SOAP_SVR_FAULT;
    QTest::newRow("http 500") << answer(RawHttpServer::httpResponse(
                                     "internal error", 500, "Internal Server Error", "text/plain"))
                              << anyNegative;
    QTest::newRow("http 404") << answer(RawHttpServer::httpResponse("", 404, "Not Found",
                                                                    "text/plain"))
                              << anyNegative;
    QTest::newRow("empty 200") << answer(RawHttpServer::httpResponse("")) << anyNegative;
    QByteArray full = RawHttpServer::soapEnvelope(
        "<ns:UserLogonResponse><LogResult>0</LogResult></ns:UserLogonResponse>");
    QTest::newRow("truncated body")
        << answer("HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                  QByteArray::number(full.size()) + "\r\n\r\n" + full.left(full.size() / 2))
        << anyNegative;
    QTest::newRow("truncated chunk")
        << answer(
               "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n\r\n" +
               QByteArray::number(full.size(), 16) + "\r\n" + full.left(100))
        << anyNegative;
    action = RawHttpServer::Reply();
    action.action = RawHttpServer::Action::Close;
    QTest::newRow("closed after request") << action << anyNegative;
    action.action = RawHttpServer::Action::Drop;
    QTest::newRow("closed at once") << action << anyNegative;
}

void TstSoapWire::logonAnswers()
{
    QFETCH(RawHttpServer::Reply, reply);
    QFETCH(int, expected);
    RawHttpServer server;
    server.setReply(reply);
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(server.portText().constData());
    TavUserRecord record = RpcTestClient::logonRecord("127.0.0.1");
    const int result = client.LogOn(&record);
    if (expected == INT_MIN + 1)
        QVERIFY2(result < 0, qPrintable(QString::number(result)));
    else
        QCOMPARE(result, expected);
}

void TstSoapWire::unreachableServer()
{
    // Nothing listens: the loopback interface refuses the connection at once.
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(QByteArray::number(closedPort()).constData());
    TavUserRecord record = RpcTestClient::logonRecord("127.0.0.1");
    QCOMPARE(client.LogOn(&record), -SOAP_TCP_ERROR);
    record.UseSsl = 1;
    QCOMPARE(client.LogOn(&record), -SOAP_TCP_ERROR);
}

void TstSoapWire::peerHangUpDuringUpload()
{
    // The listener closes every connection as soon as it accepts it; the
    // upload's writes then meet a closed socket. The call fails and the
    // process lives on (no SIGPIPE).
    QTemporaryDir dir;
    QByteArray big(8 * 1024 * 1024, 'x');
    QByteArray path = writeFile(dir.path() + "/big.pdf", big);
    RawHttpServer server;
    CDComLayerWS client;
    QVERIFY(RpcTestClient::connect(client, server));
    server.setAction(RawHttpServer::Action::Drop);
    for (int attempt = 0; attempt < 3; ++attempt) {
        SoapCall call(client, true);
        arrayOfData data(call.soap(), 1);
        data[0].__ptr = reinterpret_cast<unsigned char*>(path.data());
        data[0].__size = big.size();
        data[0].type = const_cast<char*>("");
        ns__SavePrintJobExResponse response;
        QVERIFY(call.proxy().SavePrintJobEx(call.endpoint(), nullptr, &data, response) != SOAP_OK);
    }
}

void TstSoapWire::noHostNoStdio_data()
{
    QTest::addColumn<bool>("logOnFirst");
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<int>("useSsl");
    QTest::newRow("never logged on") << false << QByteArray() << 0;
    QTest::newRow("empty server address") << true << QByteArray() << 0;
    QTest::newRow("empty server address, https") << true << QByteArray() << 1;
}

void TstSoapWire::noHostNoStdio()
{
    // An endpoint without a host must fail the call. The runtime's fallback
    // for a missing host is standard output and input: here stdin holds a
    // ready answer and stdout is captured, and neither may be used.
    QFETCH(bool, logOnFirst);
    QFETCH(QByteArray, address);
    QFETCH(int, useSsl);
    QTemporaryDir dir;
    const QString inPath = dir.path() + "/stdin";
    const QString outPath = dir.path() + "/stdout";
    writeFile(inPath, "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\n\r\n" +
                          RawHttpServer::soapEnvelope("<ns:UserLogonResponse><LogResult>0"
                                                      "</LogResult></ns:UserLogonResponse>"));
    fflush(stdout);
    const int savedIn = ::dup(0);
    const int savedOut = ::dup(1);
    const int in = ::open(QFile::encodeName(inPath).constData(), O_RDONLY);
    const int out = ::open(QFile::encodeName(outPath).constData(), O_WRONLY | O_CREAT, 0600);
    QVERIFY(savedIn >= 0 && savedOut >= 0 && in >= 0 && out >= 0);
    ::dup2(in, 0);
    ::dup2(out, 1);

    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort("8086");
    int result = 0;
    if (logOnFirst) {
        TavUserRecord record =
            RpcTestClient::logonRecord(address.constData(), "alice", "pw", 0, useSsl);
        result = client.LogOn(&record);
    } else {
        SoapCall call(client);
        LONG64 level = 0;
        char user[] = "alice";
        result = call.proxy().GetSecretLevel(call.endpoint(), nullptr, user, &level);
    }

    fflush(stdout);
    ::dup2(savedIn, 0);
    ::dup2(savedOut, 1);
    ::close(savedIn);
    ::close(savedOut);
    ::close(in);
    ::close(out);
    QVERIFY2(result != 0, qPrintable(QString::number(result)));
    if (logOnFirst)
        QVERIFY(result < 0);
    QCOMPARE(QFileInfo(outPath).size(), qint64(0));
}

void TstSoapWire::noContext()
{
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort("8086");
    TavUserRecord record = RpcTestClient::logonRecord("127.0.0.1", "alice", "pw", 0, 1);
    SoapCall::SetContextFailureForTesting(true);
    const int result = client.LogOn(&record);
    SoapCall probe(client);
    const bool probeOk = probe.ok();
    SoapCall::SetContextFailureForTesting(false);
    QCOMPARE(result, -20);
    QVERIFY(!probeOk);
    // The endpoint is built all the same.
    QCOMPARE(QByteArray(client.Endpoint()), QByteArray("https://127.0.0.1:8086"));
}

void TstSoapWire::contextSettings_data()
{
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<bool>("upload");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<int>("connectTimeout");
    QTest::newRow("query, 8085") << QByteArray("8085") << false << true << 30;
    QTest::newRow("query, 8086") << QByteArray("8086") << false << false << 30;
    QTest::newRow("query, 80850") << QByteArray("80850") << false << false << 30;
    QTest::newRow("upload, 8085") << QByteArray("8085") << true << true << 10;
    QTest::newRow("upload, 8086") << QByteArray("8086") << true << false << 10;
}

void TstSoapWire::contextSettings()
{
    QFETCH(QByteArray, port);
    QFETCH(bool, upload);
    QFETCH(bool, utf8);
    QFETCH(int, connectTimeout);
    CDComLayerWS client;
    client.InitDCOM();
    client.SetPort(port.constData());
    SoapCall call(client, upload);
    QVERIFY(call.ok());
    struct soap* soap = call.soap();
    QCOMPARE(call.proxy().soap_endpoint, client.Endpoint());
    QCOMPARE(call.endpoint(), client.Endpoint());
    QVERIFY(soap->namespaces);
    QCOMPARE(QByteArray(soap->namespaces[4].id), QByteArray("ns"));
    QCOMPARE(QByteArray(soap->namespaces[4].ns), QByteArray("urn:OrWS"));
    QCOMPARE(soap->omode & SOAP_IO, SOAP_IO_CHUNK);
    QCOMPARE((soap->omode & SOAP_C_UTFSTRING) != 0, utf8);
    QCOMPARE((soap->imode & SOAP_C_UTFSTRING) != 0, utf8);
    QCOMPARE(soap->recv_timeout, 30);
    QCOMPARE(soap->send_timeout, 30);
    QCOMPARE(soap->connect_timeout, connectTimeout);
    QCOMPARE(soap->socket_flags, int(MSG_NOSIGNAL));
    QVERIFY(soap->fdimereadopen && soap->fdimeread && soap->fdimereadclose);
    QCOMPARE(soap->fdimewriteopen != nullptr, upload);
    QCOMPARE(soap->fdimewrite != nullptr, upload);
    QCOMPARE(soap->fdimewriteclose != nullptr, upload);
}

void TstSoapWire::dimeWriteCallbacks_data()
{
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<bool>("accepted");
    auto opt = [](const QByteArray& name, int declared = -1) {
        const int n = declared < 0 ? name.size() : declared;
        QByteArray o;
        o += '\0';
        o += '\0';
        o += static_cast<char>((n >> 8) & 0xff);
        o += static_cast<char>(n & 0xff);
        return o + name;
    };
    QTest::newRow("plain name") << opt("saved.bin") << true;
    QTest::newRow("declared longer than sent") << opt("saved.bin", 4000) << true;
    QTest::newRow("no options") << QByteArray() << false;
    QTest::newRow("empty name") << opt("") << false;
    QTest::newRow("path outside") << opt("../escaped.bin") << false;
    QTest::newRow("absolute path") << opt("/tmp/escaped.bin") << false;
    QTest::newRow("dot dot") << opt("..") << false;
}

void TstSoapWire::dimeWriteCallbacks()
{
    QFETCH(QByteArray, options);
    QFETCH(bool, accepted);
    QTemporaryDir dir;
    QDir().mkpath(dir.path() + "/work");
    const QString oldCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir.path() + "/work"));

    CDComLayerWS client;
    client.InitDCOM();
    SoapCall call(client, true);
    struct soap* soap = call.soap();
    // The runtime hands the callback a terminated options block.
    QByteArray terminated = options + '\0';
    void* handle =
        SoapDime::WriteOpen(soap, "id1", "", options.isNull() ? nullptr : terminated.constData());
    QDir::setCurrent(oldCwd);
    QCOMPARE(handle != nullptr, accepted);
    if (!accepted) {
        QVERIFY(soap->error != SOAP_OK);
        if (options.isNull())
            QCOMPARE(QByteArray(soap_fault_string(soap)),
                     QByteArray("Cannot save to file, because no file name was present in "
                                "attachment"));
        QVERIFY(!QFile::exists(dir.path() + "/escaped.bin"));
        return;
    }
    const QByteArray bytes("attachment\0bytes", 16);
    QCOMPARE(SoapDime::Write(soap, handle, bytes.constData(), bytes.size()), SOAP_OK);
    SoapDime::WriteClose(soap, handle);
    QFile saved(dir.path() + "/work/saved.bin");
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), bytes);
}

QTEST_GUILESS_MAIN(TstSoapWire)
#include "tst_soapwire.moc"
