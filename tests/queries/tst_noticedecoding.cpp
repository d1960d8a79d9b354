#include "LanguageManager.h"
#include "ServerNotice.h"
#include "TavCommon.h"

#include <QtTest>

#include <cstring>

// Decoding of the notices that the server hands out one per poll: the reply
// layout, the field text, the type and audit tables and the headline.
class TestNoticeDecoding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void decode_data();
    void decode();
    void shortReplies_data();
    void shortReplies();
    void fieldTextFillsItsWholeSlot();
    void headlineAndDetailAreCut();
    void texts();
    void textsComeFromTheWorkingDirectory();

private:
    QTemporaryDir m_dir;
    QString m_ini;
};

namespace
{

const char kConfig[] = "[Log Online]\n"
                       "7000=\xE9\x85\x8D\xE7\xBD\xAE\n" // overridden by the built-in text
                       "7104=\xE7\x8A\xB6\xE6\x80\x81\xE6\x9C\xAA\xE7\x9F\xA5\n" // 状态未知
                       "7703=deleted\n"
                       "7768=recycle approval\n"
                       "7520=never shown\n"
                       "8203=copy waits\n"
                       "7101=two, parts\n";

// A reply as the server lays it out: type, 1024 unused bytes, the field
// text in GBK (1024 bytes), 1024 unused bytes.
QByteArray reply(qint32 type, const QString& fields)
{
    QByteArray bytes(ServerNotice::kReplySize, '\0');
    const quint32 u = static_cast<quint32>(type);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
    const QByteArray gbk = UTF82GBK(fields.toUtf8().constData());
    bytes.replace(ServerNotice::kFieldTextOffset, qMin(gbk.size(), ServerNotice::kFieldTextSize),
                  gbk.left(ServerNotice::kFieldTextSize));
    return bytes;
}

int decodeReply(const QByteArray& bytes, const LanguageManager& texts, TavServerMessage* out)
{
    return ServerNotice::Decode(reinterpret_cast<const unsigned char*>(bytes.constData()),
                                bytes.size(), texts, out);
}

} // namespace

void TestNoticeDecoding::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_ini = m_dir.filePath(LanguageManager::kIniFileName);
    QFile f(m_ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(kConfig);
}

void TestNoticeDecoding::decode_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("fields");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("headline");

    const QString job = QStringLiteral("report.pdf");
    QTest::newRow("512 printed") << 512 << "report.pdf|HP-3F|0" << 0 << "<report.pdf>打印成功!";
    QTest::newRow("2 audit 0 waits") << 2 << "report.pdf|HP-3F|0|0" << 0 << "<report.pdf>等待审批!";
    QTest::newRow("2 audit 1 approved")
        << 2 << "report.pdf|HP-3F|0|1" << 0 << "<report.pdf>审批通过!";
    QTest::newRow("2 audit 2 refused")
        << 2 << "report.pdf|HP-3F|0|2" << 0 << "<report.pdf>审批被拒绝!";
    QTest::newRow("2 audit 5 -> text 0") << 2 << "report.pdf|HP-3F|0|5" << 0 << "<report.pdf>";
    QTest::newRow("12 audit 1") << 12 << "a|b|0|1" << 0 << "<a>审批通过!";
    QTest::newRow("642 copy table") << 642 << "a|b|0|0" << 0 << "<a>copy waits";
    QTest::newRow("768 recycle table, code 1 unset") << 768 << "a|b|0|1" << 0 << "<a>";
    QTest::newRow("2 without audit code keeps its type's text")
        << 2 << "report.pdf|HP-3F|0" << 0 << "<report.pdf>等待审批!";
    QTest::newRow("768 without audit code") << 768 << "a|b|0" << 0 << "<a>recycle approval";
    QTest::newRow("audit code ignored for 512") << 512 << "a|b|0|1" << 0 << "<a>打印成功!";
    QTest::newRow("520 failure range")
        << 520 << "report.pdf|HP-3F|3" << 0 << "<report.pdf>打印失败";
    QTest::newRow("513 failure range") << 513 << "a|b|0" << 0 << "<a>打印失败";
    QTest::newRow("511 printing failed") << 511 << "a|b|0" << 0 << "<a>打印失败!";
    QTest::newRow("706 deleted range") << 706 << "a|b|0" << 0 << "<a>deleted";
    QTest::newRow("7 not in table -> 7104") << 7 << "a|b|0" << 0 << "<a>状态未知";
    QTest::newRow("2561 -> 7104") << 2561 << "a|b|0" << 0 << "<a>状态未知";
    QTest::newRow("0 built-in wins") << 0 << "a|b|0" << 0 << "<a>已发送到服务器!";
    QTest::newRow("value with a comma") << 2052 << "a|b|0" << 0 << "<a>two, parts";
    QTest::newRow("leading separator: no job name") << 512 << "|HP-3F|0" << 0 << "<>打印成功!";
    QTest::newRow("runs of separators") << 2 << "a||HP-3F|||0||1" << 0 << "<a>审批通过!";
    QTest::newRow("chinese job name")
        << 512 << "财务报表.pdf|三楼|0" << 0 << "<财务报表.pdf>打印成功!";
    QTest::newRow("120-character job name")
        << 512 << QString(120, 'j') + "|p|0" << 0 << "<" + QString(98, 'j') + "**>打印成功!";
    QTest::newRow("98-character job name")
        << 512 << QString(98, 'j') + "|p|0" << 0 << "<" + QString(98, 'j') + "**>打印成功!";
    QTest::newRow("97-character job name")
        << 512 << QString(97, 'j') + "|p|0" << 0 << "<" + QString(97, 'j') + ">打印成功!";
    // 40 three-byte characters: the cut keeps 32 whole ones (96 bytes).
    QTest::newRow("chinese name cut at a character")
        << 512 << QString(40, QChar(0x6587)) + "|p|0" << 0
        << "<" + QString(32, QChar(0x6587)) + "**>打印成功!";
    QTest::newRow("two fields") << 512 << "a|b" << -1 << QString();
    QTest::newRow("one field") << 512 << "a" << -1 << QString();
    QTest::newRow("only separators") << 512 << "|||" << -1 << QString();
    QTest::newRow("leading separator, two fields") << 512 << "|b|0" << 0 << "<>打印成功!";
    QTest::newRow("leading separator, one field") << 512 << "|b" << -1 << QString();
    QTest::newRow("empty field text") << 512 << "" << -1 << QString();
}

void TestNoticeDecoding::decode()
{
    QFETCH(int, type);
    QFETCH(QString, fields);
    QFETCH(int, result);
    QFETCH(QString, headline);

    const LanguageManager texts(m_ini);
    TavServerMessage out;
    memset(&out, 0x5A, sizeof out);
    QCOMPARE(decodeReply(reply(type, fields), texts, &out), result);
    if (result != 0) {
        QCOMPARE(out.Type, 0x5A5A5A5A); // untouched
        return;
    }
    QCOMPARE(out.Type, type);
    QCOMPARE(QString::fromUtf8(out.Headline), headline);
    QCOMPARE(QString::fromUtf8(out.Detail), fields);
}

void TestNoticeDecoding::shortReplies_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("headline");

    // The full reply of type 512 with "job|p|0" cut to size bytes.
    QTest::newRow("nothing") << 0 << -1 << QString();
    QTest::newRow("3 bytes") << 3 << -1 << QString();
    QTest::newRow("type only") << 4 << -1 << QString();
    QTest::newRow("before the field text") << 1028 << -1 << QString();
    QTest::newRow("field text cut after the job") << 1028 + 5 << -1 << QString();
    QTest::newRow("field text without its terminator") << 1028 + 7 << 0 << "<job>打印成功!";
    QTest::newRow("field text and its terminator") << 1028 + 8 << 0 << "<job>打印成功!";
    QTest::newRow("without the last text") << 2052 << 0 << "<job>打印成功!";
}

void TestNoticeDecoding::shortReplies()
{
    QFETCH(int, size);
    const LanguageManager texts(m_ini);
    const QByteArray full = reply(512, QStringLiteral("job|p|0"));
    // A copy of exactly size bytes, so a read past it is caught by the tools.
    QScopedArrayPointer<unsigned char> bytes(new unsigned char[size > 0 ? size : 1]);
    memcpy(bytes.data(), full.constData(), static_cast<size_t>(size));
    TavServerMessage out;
    QTEST(ServerNotice::Decode(size > 0 ? bytes.data() : nullptr, size, texts, &out), "result");
    QFETCH(int, result);
    if (result == 0)
        QTEST(QString::fromUtf8(out.Headline), "headline");
}

void TestNoticeDecoding::fieldTextFillsItsWholeSlot()
{
    // 1024 bytes of field text without a terminator, followed by a text that
    // must not become part of it.
    QByteArray bytes = reply(512, QString());
    const QByteArray fields = "job|p|0|" + QByteArray(1024 - 8, '9');
    bytes.replace(ServerNotice::kFieldTextOffset, 1024, fields);
    bytes.replace(2052, 5, "|tail");
    const LanguageManager texts(m_ini);
    TavServerMessage out;
    QCOMPARE(decodeReply(bytes, texts, &out), 0);
    QCOMPARE(QByteArray(out.Headline), QByteArray("<job>打印成功!"));
    QCOMPARE(strlen(out.Detail), size_t(255));
    QVERIFY(!QByteArray(out.Detail).contains("tail"));
}

void TestNoticeDecoding::headlineAndDetailAreCut()
{
    // A very long configured text: the headline stops at 254 bytes, on a
    // character boundary.
    QTemporaryDir dir;
    const QString ini = dir.filePath("long.ini");
    QFile f(ini);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("[Log Online]\n7104=" + QString(200, QChar(0x6587)).toUtf8() + "\n");
    f.close();
    const LanguageManager texts(ini);
    TavServerMessage out;
    const QString longFields = QString(150, QChar(0x6587)) + "|p|0";
    QCOMPARE(decodeReply(reply(7, longFields), texts, &out), 0);
    const QByteArray headline(out.Headline);
    QVERIFY(headline.size() <= 254 && headline.size() > 250);
    QCOMPARE(QString::fromUtf8(headline).toUtf8(), headline); // no split character
    QVERIFY(headline.startsWith("<" + QString(32, QChar(0x6587)).toUtf8() + "**>"));
    const QByteArray detail(out.Detail);
    QCOMPARE(detail.size(), 255);
    QCOMPARE(QString::fromUtf8(detail).toUtf8(), detail);
}

void TestNoticeDecoding::texts()
{
    const LanguageManager texts(m_ini);
    QCOMPARE(texts.GetString(7000), QString::fromUtf8("已发送到服务器!"));
    QCOMPARE(texts.GetString(7515), QString::fromUtf8("审批被拒绝！!"));
    QCOMPARE(texts.GetString(7104), QString::fromUtf8("状态未知"));
    QCOMPARE(texts.GetString(7999), QString());
    const LanguageManager missing(m_dir.filePath("absent.ini"));
    QCOMPARE(missing.GetString(7104), QString());
    QCOMPARE(missing.GetString(8101), QString::fromUtf8("审批通过!"));
}

void TestNoticeDecoding::textsComeFromTheWorkingDirectory()
{
    const QString before = QDir::currentPath();
    QTemporaryDir elsewhere;
    QVERIFY(QDir::setCurrent(elsewhere.path()));
    {
        const LanguageManager none;
        QCOMPARE(none.GetString(7104), QString());
    }
    QVERIFY(QDir::setCurrent(m_dir.path()));
    {
        const LanguageManager here;
        QCOMPARE(here.GetString(7104), QString::fromUtf8("状态未知"));
    }
    QVERIFY(QDir::setCurrent(before));
}

QTEST_GUILESS_MAIN(TestNoticeDecoding)
#include "tst_noticedecoding.moc"
