// Uploads to the development server (DIME attachments, single calls and
// blocks) and serving over HTTPS.

#include "DevServerCalls.h"
#include "DevServerProcess.h"

#include <QtTest>

#include <QRandomGenerator>

class TestDevServerTransfer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void mobileJobInOneCall();
    void blocks_data();
    void blocks();
    void blockRefusals_data();
    void blockRefusals();
    void printJobWithAppendix();
    void discRequestInBlocks();
    void copyRequest();
    void servesHttps();

private:
    // The items of one upload, sent as DIME attachments like the client does.
    struct Upload {
        QList<QByteArray> items;
    };
    static void fill(arrayOfData& array, const QList<QByteArray>& items);
    static QByteArray mobileRecord(const QByteArray& user, const QString& doc,
                                   const QString& printer);
    static QByteArray randomBytes(int size);
    QByteArray storedFile(const QString& name, const QString& file) const;
    int sendBlock(const QByteArray& operation, const QList<QByteArray>& items, qint64 blockType,
                  const QByteArray& nameIn, QByteArray* nameOut);

    DevServerProcess m_server;
};

void TestDevServerTransfer::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

void TestDevServerTransfer::fill(arrayOfData& array, const QList<QByteArray>& items)
{
    array.resize(items.size());
    for (int i = 0; i < items.size(); ++i) {
        ns__Data& d = array[i];
        d.__ptr = reinterpret_cast<unsigned char*>(const_cast<char*>(items[i].constData()));
        d.__size = items[i].size();
        d.type = const_cast<char*>("");
    }
}

QByteArray TestDevServerTransfer::mobileRecord(const QByteArray& user, const QString& doc,
                                               const QString& printer)
{
    QByteArray r(1112, '\0');
    putText(r, 0, 50, user);
    putText(r, 50, 50, gbk(QStringLiteral("张三")));
    putInt32(r, 100, 1);
    putInt32(r, 104, 2);
    putInt32(r, 112, 10);
    putInt32(r, 116, 12);
    putText(r, 152, 50, gbk(QStringLiteral("秘密")));
    putText(r, 202, 512, gbk(QStringLiteral("不归还")));
    putText(r, 714, 50, gbk(doc));
    r[865] = 'C';
    r[866] = 'V';
    putInt32(r, 868, 20);
    putInt32(r, 872, 3);
    putInt32(r, 876, 2);
    putText(r, 880, 50, "A4");
    putText(r, 930, 30, "pdf");
    putText(r, 960, 50, gbk(printer));
    putText(r, 1010, 100, "-1");
    return r;
}

QByteArray TestDevServerTransfer::randomBytes(int size)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

QByteArray TestDevServerTransfer::storedFile(const QString& name, const QString& file) const
{
    QFile f(m_server.storageDir() + "/" + name + "/" + file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

int TestDevServerTransfer::sendBlock(const QByteArray& operation, const QList<QByteArray>& items,
                                     qint64 blockType, const QByteArray& nameIn,
                                     QByteArray* nameOut)
{
    auto proxy = makeProxy();
    arrayOfData data(proxy->soap, 0);
    fill(data, items);
    QByteArray name = nameIn;
    QByteArray docName("cd.dat");
    ns__structSavePrintJobByBlock result;
    const char* endpoint = m_server.endpoint().constData();
    const QByteArray keep = m_server.endpoint();
    endpoint = keep.constData();
    int status = -1;
    if (operation == "mobile")
        status = proxy->SaveMobilePrintJobByBlock(endpoint, nullptr, docName.data(), &data,
                                                  blockType, name.data(), result);
    else if (operation == "print")
        status = proxy->SavePrintJobByBlockForLinuxClient(endpoint, nullptr, &data, blockType,
                                                          name.data(), result);
    else
        status = proxy->SaveCDRecordJobByBlock(endpoint, nullptr, docName.data(), &data, blockType,
                                               name.data(), result);
    if (status == SOAP_OK && nameOut)
        *nameOut = result.return_ && result.return_->SplFileNameOut
                       ? QByteArray(result.return_->SplFileNameOut)
                       : QByteArray();
    return status;
}

void TestDevServerTransfer::mobileJobInOneCall()
{
    const QByteArray record =
        mobileRecord("zhangsan", QStringLiteral("季度报告.pdf"), QStringLiteral("一楼复印机"));
    const QByteArray document = randomBytes(5000);
    auto proxy = makeProxy();
    arrayOfData data(proxy->soap, 0);
    fill(data, {record, document});
    QByteArray docName = gbk(QStringLiteral("季度报告.pdf"));
    ns__SaveMobilePrintJobResponse result;
    QCOMPARE(proxy->SaveMobilePrintJob(m_server.endpoint().constData(), nullptr, &data,
                                       docName.data(), result),
             SOAP_OK);
    QCOMPARE(result.names.__size, 1);
    const QString name = QString::fromLatin1(result.names.__ptr[0]);
    QVERIFY(name.endsWith(".spl"));

    QCOMPARE(storedFile(name, "document.dat"), document);
    QCOMPARE(storedFile(name, "task.bin"), record);
    const QList<QVariantList> upload = m_server.query(
        "SELECT Kind, UserName, DocName, Bytes, Finished FROM Uploads WHERE StoredName = '" + name +
        "'");
    QCOMPARE(upload.size(), 1);
    QCOMPARE(upload[0],
             (QVariantList{"mobile", "zhangsan", QStringLiteral("季度报告.pdf"), 5000LL, 1LL}));
    const QList<QVariantList> task =
        m_server.query("SELECT UserName, UserID, DocName, PrinterName, SecretLevel, "
                       "AuditorIDs, PageCount, Copies, ColorMode, JobState FROM PrintProcTask "
                       "WHERE SPLFileName = '" +
                       name + "'");
    QCOMPARE(task.size(), 1);
    QCOMPARE(task[0], (QVariantList{"zhangsan", 1LL, QStringLiteral("季度报告.pdf"),
                                    QStringLiteral("一楼复印机"), QStringLiteral("秘密"), "10,12",
                                    3LL, 2LL, "C", 20LL}));
    QCOMPARE(m_server
                 .scalar("SELECT FieldText FROM Notices WHERE UserName = 'zhangsan' AND "
                         "Type = 0 ORDER BY NoticeID DESC LIMIT 1")
                 .toString(),
             QStringLiteral("季度报告.pdf|一楼复印机|0|0"));

    // The client's payer update finds the stored job by its name.
    auto second = makeProxy();
    QByteArray update = "UPDATE PrintProcTask SET PayerID=17,PayerType=4,ProjectID = 17 WHERE "
                        "SPLFileName='" +
                        name.toLatin1() + "'";
    int changed = -5;
    QCOMPARE(second->ExcuteSQL(m_server.endpoint().constData(), nullptr, update.data(), &changed),
             SOAP_OK);
    QCOMPARE(changed, 1);
}

void TestDevServerTransfer::blocks_data()
{
    QTest::addColumn<QByteArray>("operation");
    QTest::addColumn<int>("size");
    QTest::newRow("mobile, two blocks") << QByteArray("mobile") << 102401;
    QTest::newRow("mobile, three blocks") << QByteArray("mobile") << 250000;
    QTest::newRow("print, three blocks") << QByteArray("print") << 250000;
}

void TestDevServerTransfer::blocks()
{
    QFETCH(QByteArray, operation);
    QFETCH(int, size);
    const bool mobile = operation == "mobile";
    QByteArray record;
    if (mobile) {
        record = mobileRecord("lisi", QStringLiteral("报销单.pdf"), QString());
    } else {
        record = QByteArray(664, '\0');
        putText(record, 0, 50, "lisi");
        putText(record, 100, 50, QStringLiteral("内部").toUtf8());
    }
    const QByteArray appendix = mobile ? QByteArray() : randomBytes(64);
    const QByteArray document = randomBytes(size);
    const int blockSize = 102400;
    const int count = (size + blockSize - 1) / blockSize;
    QByteArray name;
    for (int i = 0; i < count; ++i) {
        const qint64 type = i == 0 ? 0 : (i == count - 1 ? 2 : 1);
        QList<QByteArray> items{record, document.mid(i * blockSize, blockSize)};
        if (!mobile)
            items << (type == 2 ? appendix : QByteArray());
        QByteArray answered;
        QCOMPARE(sendBlock(operation, items, type, type == 0 ? QByteArray() : name, &answered),
                 SOAP_OK);
        if (type == 0)
            name = answered;
        QVERIFY(!name.isEmpty());
        const qlonglong tasks =
            m_server.scalar("SELECT count(*) FROM PrintProcTask WHERE SPLFileName = '" + name + "'")
                .toLongLong();
        QCOMPARE(tasks, type == 2 ? 1LL : 0LL); // a job is filed only when complete
    }
    QCOMPARE(storedFile(name, "document.dat"), document);
    if (!mobile)
        QCOMPARE(storedFile(name, "appendix.bin"), appendix);
    QCOMPARE(
        m_server
            .query("SELECT Blocks, Bytes, Finished FROM Uploads WHERE StoredName = '" + name + "'")
            .value(0),
        (QVariantList{qlonglong(count), qlonglong(size), 1LL}));
    QCOMPARE(m_server
                 .scalar("SELECT FieldText FROM Notices WHERE UserName = 'lisi' ORDER BY "
                         "NoticeID DESC LIMIT 1")
                 .toString(),
             (mobile ? QStringLiteral("报销单.pdf") : QString::fromLatin1(name)) +
                 QStringLiteral("|刷卡打印|0|0"));

    // A finished job takes no more blocks.
    QCOMPARE(sendBlock(operation, {record, QByteArray("x")}, 1, name, nullptr) != SOAP_OK, true);
}

void TestDevServerTransfer::blockRefusals_data()
{
    QTest::addColumn<qint64>("blockType");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("recordSize");
    QTest::newRow("unknown block type") << qint64(5) << QByteArray() << 1112;
    QTest::newRow("negative block type") << qint64(-1) << QByteArray() << 1112;
    QTest::newRow("short record") << qint64(0) << QByteArray() << 100;
    QTest::newRow("unknown name") << qint64(1) << QByteArray("M202601010000009999.spl") << 1112;
    QTest::newRow("path in the name") << qint64(1) << QByteArray("../../etc/passwd") << 1112;
    QTest::newRow("quote in the name") << qint64(2) << QByteArray("x' OR '1'='1") << 1112;
    QTest::newRow("no name") << qint64(2) << QByteArray() << 1112;
}

void TestDevServerTransfer::blockRefusals()
{
    QFETCH(qint64, blockType);
    QFETCH(QByteArray, name);
    QFETCH(int, recordSize);
    const qlonglong uploads = m_server.scalar("SELECT count(*) FROM Uploads").toLongLong();
    const QByteArray record = mobileRecord("zhangsan", "a.pdf", QString()).left(recordSize);
    QVERIFY(sendBlock("mobile", {record, QByteArray(10, 'x')}, blockType, name, nullptr) !=
            SOAP_OK);
    QCOMPARE(m_server.scalar("SELECT count(*) FROM Uploads").toLongLong(), uploads);
    QVERIFY(!QFile::exists(m_server.storageDir() + "/../../etc/passwd/document.dat"));
}

void TestDevServerTransfer::printJobWithAppendix()
{
    QByteArray record(664, '\0');
    putText(record, 0, 50, "wangwu");
    putInt32(record, 52, 1);
    putInt32(record, 60, 11);
    putText(record, 100, 50, QStringLiteral("内部").toUtf8());
    putText(record, 150, 512, QStringLiteral("归还").toUtf8());
    const QByteArray document = randomBytes(102400);
    const QByteArray appendix = randomBytes(80);
    auto proxy = makeProxy();
    arrayOfData data(proxy->soap, 0);
    fill(data, {record, document, appendix});
    ns__SavePrintJobExResponse result;
    QCOMPARE(proxy->SavePrintJobEx(m_server.endpoint().constData(), nullptr, &data, result),
             SOAP_OK);
    QCOMPARE(result.names.__size, 1);
    const QString name = QString::fromLatin1(result.names.__ptr[0]);
    QCOMPARE(storedFile(name, "document.dat"), document);
    QCOMPARE(storedFile(name, "appendix.bin"), appendix);
    QCOMPARE(m_server
                 .query("SELECT UserName, SecretLevel, Purpose, AuditorCount, AuditorIDs "
                        "FROM PrintProcTask WHERE SPLFileName = '" +
                        name + "'")
                 .value(0),
             (QVariantList{"wangwu", QStringLiteral("内部"), QStringLiteral("归还"), 1LL, "11"}));
}

void TestDevServerTransfer::discRequestInBlocks()
{
    // Data blocks (the last one may be empty), then the record as type 2.
    const QList<QByteArray> blocks{randomBytes(65536), randomBytes(1000), QByteArray()};
    QByteArray record(1024, '\0');
    putText(record, 34, 50, "zhaoliu");
    putText(record, 750, 50, QStringLiteral("设计图纸").toUtf8());
    putInt32(record, 968, 2);
    QByteArray name;
    for (int i = 0; i < blocks.size(); ++i) {
        QByteArray answered;
        QCOMPARE(sendBlock("cd", {blocks[i]}, i == 0 ? 0 : 1, name, &answered), SOAP_OK);
        if (i == 0)
            name = answered;
    }
    QCOMPARE(sendBlock("cd", {record}, 2, name, nullptr), SOAP_OK);
    QCOMPARE(storedFile(name, "cd.dat"), blocks[0] + blocks[1]);
    QCOMPARE(storedFile(name, "task.bin"), record);
    QCOMPARE(m_server
                 .query("SELECT Kind, UserName, DocName, Finished FROM Uploads "
                        "WHERE StoredName = '" +
                        name + "'")
                 .value(0),
             (QVariantList{"cd", "zhaoliu", QStringLiteral("设计图纸"), 1LL}));
    QCOMPARE(
        m_server.scalar("SELECT count(*) FROM PrintProcTask WHERE SPLFileName = '" + name + "'")
            .toLongLong(),
        0LL);
    QCOMPARE(m_server
                 .scalar("SELECT Type FROM Notices WHERE UserName = 'zhaoliu' "
                         "ORDER BY NoticeID DESC LIMIT 1")
                 .toLongLong(),
             2048LL);
}

void TestDevServerTransfer::copyRequest()
{
    QByteArray record(932, '\0');
    putText(record, 0, 50, "sunqi");
    putText(record, 714, 50, QStringLiteral("证书复印").toUtf8());
    putInt32(record, 868, 640);
    auto proxy = makeProxy();
    arrayOfData data(proxy->soap, 0);
    fill(data, {record});
    arrayOfName names(proxy->soap, 0);
    char* taskIds = nullptr;
    QCOMPARE(
        proxy->SaveCopyJobSQL(m_server.endpoint().constData(), nullptr, &data, &names, &taskIds),
        SOAP_OK);
    QVERIFY(taskIds);
    const QList<QVariantList> rows = m_server.query(
        QString("SELECT Kind, UserName, DocName FROM Uploads WHERE UploadID = %1").arg(taskIds));
    QCOMPARE(rows.value(0), (QVariantList{"copy", "sunqi", QStringLiteral("证书复印")}));
}

void TestDevServerTransfer::servesHttps()
{
    QTemporaryDir certDir;
    QString cert, key, error;
    QVERIFY2(DevServerProcess::makeCertificate(certDir.path(), &cert, &key, &error),
             qPrintable(error));
    DevServerProcess server;
    server.setTls(cert, key);
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QVERIFY(server.endpoint().startsWith("https://127.0.0.1:"));

    soap_ssl_init();
    auto proxy = makeProxy();
    QCOMPARE(soap_ssl_client_context(proxy->soap, SOAP_SSL_NO_AUTHENTICATION, nullptr, nullptr,
                                     nullptr, nullptr, nullptr),
             SOAP_OK);
    QByteArray user("zhangsan"), password("E10ADC3949BA59ABBE56E057F20F883E");
    LONG64 result = -1;
    QCOMPARE(proxy->UserLogon(server.endpoint().constData(), nullptr, user.data(), password.data(),
                              0, &result),
             SOAP_OK);
    QCOMPARE(result, LONG64(0));

    // Plain HTTP to the HTTPS port gets no answer; the server keeps serving.
    const QByteArray plain = "http://127.0.0.1:" + QByteArray::number(server.port());
    auto plainProxy = makeProxy();
    plainProxy->soap->recv_timeout = 5;
    QVERIFY(plainProxy->UserLogon(plain.constData(), nullptr, user.data(), password.data(), 0,
                                  &result) != SOAP_OK);
    auto again = makeProxy();
    soap_ssl_client_context(again->soap, SOAP_SSL_NO_AUTHENTICATION, nullptr, nullptr, nullptr,
                            nullptr, nullptr);
    result = -1;
    QCOMPARE(again->UserLogon(server.endpoint().constData(), nullptr, user.data(), password.data(),
                              0, &result),
             SOAP_OK);
    QCOMPARE(result, LONG64(0));
}

QTEST_GUILESS_MAIN(TestDevServerTransfer)
#include "tst_devserver_transfer.moc"
