// The development server over HTTPS through the generated proxy, one context per call as the
// client does: database, field queries, notices, uploads in blocks, refused requests. (Uploads
// as the client makes them: tests/uploads.)

#include "DevServerProcess.h"
#include "TavCommon.h"
#include "TestPki.h"
#include "soapOrWSProxy.h"

#include <QtEndian>
#include <QtTest>

#include <memory>
#include <sys/socket.h>

extern SOAP_NMAC struct Namespace namespaces[];

static std::unique_ptr<OrWSProxy> makeProxy()
{
    std::unique_ptr<OrWSProxy> proxy(new OrWSProxy(SOAP_IO_CHUNK | SOAP_C_UTFSTRING));
    soap_set_namespaces(proxy->soap, namespaces);
    proxy->soap->socket_flags = MSG_NOSIGNAL; // a peer that hangs up is an error, not a signal
    proxy->soap->connect_timeout = proxy->soap->recv_timeout = proxy->soap->send_timeout = 30;
    soap_ssl_client_context(proxy->soap, SOAP_SSL_NO_AUTHENTICATION, nullptr, nullptr, nullptr,
                            nullptr, nullptr);
    return proxy;
}

static QByteArray bytesOf(const ns__Data& data)
{
    return QByteArray(reinterpret_cast<const char*>(data.__ptr),
                      data.__ptr ? qMax(data.__size, 0) : 0);
}

static QByteArray gbk(const QVariant& text)
{
    return UTF82GBK(text.toString().toUtf8().constData());
}

// The items as the attachments of one call (they must outlive the call).
static void fill(arrayOfData& array, const QList<QByteArray>& items)
{
    array.resize(items.size());
    for (int i = 0; i < items.size(); ++i) {
        array[i].__ptr = reinterpret_cast<unsigned char*>(const_cast<char*>(items[i].constData()));
        array[i].__size = items[i].size();
        array[i].type = const_cast<char*>("");
    }
}

class TestDevServer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_certDir;
    DevServerProcess m_server;

    qlonglong count(const QString& from) const
    {
        return m_server.scalar("SELECT count(*) FROM " + from).toLongLong();
    }

    // One block of a print job; name becomes the name the server gave the job.
    int saveBlock(const QList<QByteArray>& items, qint64 type, QByteArray& name)
    {
        auto proxy = makeProxy();
        arrayOfData data(proxy->soap, 0);
        fill(data, items);
        ns__structSavePrintJobByBlock result;
        const int status = proxy->SavePrintJobByBlockForLinuxClient(
            m_server.endpoint().constData(), nullptr, &data, type, name.data(), result);
        if (status == SOAP_OK && result.return_ && result.return_->SplFileNameOut)
            name = result.return_->SplFileNameOut;
        return status;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestPki::makeCertificate(m_certDir.path(), "127.0.0.1"));
        soap_ssl_init();
        m_server.setTls(m_certDir.filePath("127.0.0.1.pem"), m_certDir.filePath("127.0.0.1.key"));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    }

    void databaseMadeOnceAndKept()
    {
        // An empty file is filled like a missing one; a foreign file is refused and left alone.
        DevServerProcess server, foreign;
        QFile empty(server.dbPath()), other(foreign.dbPath());
        QVERIFY(empty.open(QIODevice::WriteOnly) && other.open(QIODevice::WriteOnly));
        QCOMPARE(other.write(QByteArray(4096, 'x')), 4096LL);
        empty.close();
        other.close();
        QVERIFY(!foreign.start());
        QCOMPARE(other.size(), 4096LL);
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        const qlonglong users = server.scalar("SELECT count(*) FROM Users").toLongLong();
        QVERIFY(users >= 9);
        server.query("DELETE FROM Users WHERE UserName = 'sunqi'");
        server.stop();
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        QCOMPARE(server.scalar("SELECT count(*) FROM Users").toLongLong(), users - 1);
    }

    void fieldValues_data()
    {
        QTest::addColumn<QByteArray>("sql");
        QTest::addColumn<qint64>("type"); // 1: int32 values; 0: GB18030 texts of size bytes
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QByteArray>("reply");
        // int32 rows, int32 error code, then each value in width bytes.
        const auto row = [](const char* name, const QByteArray& sql, qint64 type, qint64 size,
                            int error, int width, const QVariantList& values) {
            QByteArray reply(8 + width * values.size(), '\0');
            qToLittleEndian<qint32>(values.size(), reply.data());
            qToLittleEndian<qint32>(error, reply.data() + 4);
            for (int i = 0; i < values.size(); ++i)
                if (type == 1)
                    qToLittleEndian<qint32>(values[i].toInt(), reply.data() + 8 + width * i);
                else
                    reply.replace(8 + width * i, gbk(values[i]).size(), gbk(values[i]));
            QTest::newRow(name) << sql << type << size << reply;
        };
        const QByteArray users =
            "SELECT UserName, GroupID FROM Users WHERE UserID < 3 ORDER BY UserID";
        const QByteArray group = "SELECT GroupName FROM Groups WHERE GroupID = 1";
        const QVariantList many = QVector<QVariant>(10000, 1).toList();
        row("integers of the named column", users, 1, 100, 0, 4, {1, 2});
        row("GB18030 text", group, 0, 255, 0, 255, {"研发部"});
        row("text cut at a character", group, 0, 6, 0, 6, {"研发"});
        row("zero rows", "SELECT GroupName FROM Groups WHERE GroupID = -1", 0, 50, 0, 50, {});
        row("oversized FieldSize capped", users, 0, qint64(1) << 40, 0, 8192, {"1", "2"});
        row("rows capped", "SELECT 1 FROM Users a, Users b, Users c, Users d", 1, 4, 0, 4, many);
        row("negative FieldSize", users, 0, -5, 3, 0, {});
        row("bad SQL", "SELEC GroupID FROM Users", 1, 4, 1, 0, {});
        row("write refused", "DELETE FROM Notices", 1, 4, 4, 0, {});
        row("write after a read refused", "SELECT 1; DELETE FROM Notices", 1, 4, 4, 0, {});
    }

    void fieldValues()
    {
        QFETCH(QByteArray, sql);
        QFETCH(qint64, type);
        QFETCH(qint64, size);
        const qlonglong notices = count("Notices");
        char field[] = "GroupID"; // else the first column
        auto proxy = makeProxy(); // owns the reply
        ns__GetFieldValuesBySQLResponse result;
        QCOMPARE(proxy->GetFieldValuesBySQL(m_server.endpoint().constData(), nullptr, sql.data(),
                                            field, type, size, result),
                 SOAP_OK);
        QTEST(bytesOf(result.ret), "reply");
        QCOMPARE(count("Notices"), notices);
    }

    void noticesOldestFirstThenEmpty()
    {
        // Each: int32 type, 1024 unused bytes, 1024 bytes of text, 1024 unused.
        QList<QByteArray> expected;
        const QList<QPair<int, QString>> notices{{512, "月报.pdf|一楼复印机|0|0"},
                                                 {2, "合同.pdf|会议室打印机|0|1"}};
        for (const auto& notice : notices) {
            QString error;
            QVERIFY2(m_server.addNotice("sunqi", notice.first, notice.second, &error),
                     qPrintable(error));
            expected << QByteArray(3 * 1024 + 4, '\0');
            qToLittleEndian<qint32>(notice.first, expected.last().data());
            expected.last().replace(1028, gbk(notice.second).size(), gbk(notice.second));
        }
        QByteArray user("sunqi");
        for (const QByteArray& message : expected + QList<QByteArray>{QByteArray()}) {
            auto proxy = makeProxy();
            ns__GetUserMessageResponse result;
            QCOMPARE(proxy->GetUserMessage(m_server.endpoint().constData(), nullptr, user.data(),
                                           result),
                     SOAP_OK);
            QCOMPARE(bytesOf(result.data), message);
        }
    }

    void uploadInBlocks()
    {
        // A print job is filed only once complete; a finished job takes no more blocks.
        const QByteArray record = QByteArray("wangwu").leftJustified(664, '\0');
        const QByteArray document = QByteArray("0123456").repeated(35715); // blocks differ
        const QByteArray appendix(80, 'a');
        QByteArray name;
        for (int type : {0, 1, 2}) {
            const QByteArray last = type == 2 ? appendix : QByteArray();
            QCOMPARE(saveBlock({record, document.mid(type * 102400, 102400), last}, type, name),
                     SOAP_OK);
            QCOMPARE(
                count("PrintProcTask WHERE UserName = 'wangwu' AND SPLFileName = '" + name + "'"),
                type == 2 ? 1LL : 0LL);
        }
        QByteArray stored;
        for (const char* file : {"task.bin", "document.dat", "appendix.bin"}) {
            QFile f(m_server.storageDir() + "/" + name + "/" + file);
            QVERIFY(f.open(QIODevice::ReadOnly));
            stored += f.readAll() + '|';
        }
        QVERIFY(stored == record + '|' + document + '|' + appendix + '|');
        QCOMPARE(count("Uploads WHERE Finished = 1 AND StoredName = '" + name + "'"), 1LL);
        QVERIFY(saveBlock({record, "x"}, 1, name) != SOAP_OK);
    }

    void uploadRefused_data()
    {
        QTest::addColumn<qint64>("type");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<int>("recordSize");
        QTest::newRow("unknown block type") << qint64(5) << QByteArray() << 664;
        QTest::newRow("negative block type") << qint64(-1) << QByteArray() << 664;
        QTest::newRow("record too short") << qint64(0) << QByteArray() << 100;
        QTest::newRow("name never given out") << qint64(1) << QByteArray("P1.spl") << 664;
        QTest::newRow("path in the name") << qint64(1) << QByteArray("../../etc/passwd") << 664;
        QTest::newRow("quote in the name") << qint64(2) << QByteArray("x' OR '1'='1") << 664;
    }

    void uploadRefused()
    {
        QFETCH(qint64, type);
        QFETCH(QByteArray, name);
        QFETCH(int, recordSize);
        const qlonglong uploads = count("Uploads");
        const QByteArray record = QByteArray("zhangsan").leftJustified(recordSize, '\0');
        QVERIFY(saveBlock({record, QByteArray(10, 'x')}, type, name) != SOAP_OK);
        QCOMPARE(count("Uploads"), uploads);
    }
};

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
