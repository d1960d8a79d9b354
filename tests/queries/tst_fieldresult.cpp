#include "FieldResult.h"
#include "SqlText.h"

#include <QtTest>

#include <cstring>

// Reading of field query answers whatever the server put in them, and the
// quoting of texts inserted into query texts.
class TestFieldResult : public QObject
{
    Q_OBJECT

private slots:
    void reading_data();
    void reading();
    void intRows_data();
    void intRows();
    void quoting_data();
    void quoting();
    void formatRefusesWhatDoesNotFit();
};

namespace
{

QByteArray le32(qint32 v)
{
    QByteArray b(4, '\0');
    const quint32 u = static_cast<quint32>(v);
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
    return b;
}

QByteArray answer(qint32 rows, qint32 error, const QByteArray& values)
{
    return le32(rows) + le32(error) + values;
}

FieldResult make(const QByteArray& bytes, long fieldSize)
{
    return FieldResult(reinterpret_cast<const unsigned char*>(bytes.constData()), bytes.size(),
                       fieldSize);
}

} // namespace

void TestFieldResult::reading_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("fieldSize");
    QTest::addColumn<bool>("usable");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("hasFirstInt");
    QTest::addColumn<int>("firstInt");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("empty") << QByteArray() << 4 << false << 0 << 0 << false << 0 << QByteArray();
    QTest::newRow("3 bytes") << QByteArray("\x01\x00\x00", 3) << 4 << false << 0 << 0 << false << 0
                             << QByteArray();
    QTest::newRow("header only") << answer(0, 0, QByteArray()) << 255 << true << 0 << 0 << false
                                 << 0 << QByteArray();
    QTest::newRow("one integer") << answer(1, 0, le32(-7)) << 4 << true << 1 << 0 << true << -7
                                 << QByteArray("\xF9\xFF\xFF\xFF");
    QTest::newRow("error code") << answer(0, 208, QByteArray()) << 4 << true << 0 << 208 << false
                                << 0 << QByteArray();
    QTest::newRow("lying count") << answer(1000000, 0, le32(5)) << 4 << true << 1000000 << 0 << true
                                 << 5 << QByteArray("\x05");
    QTest::newRow("text") << answer(1, 0, QByteArray("abc\0zzz", 7)) << 50 << true << 1 << 0 << true
                          << 0x00636261 << QByteArray("abc");
    QTest::newRow("text without terminator, buffer ends")
        << answer(1, 0, QByteArray("abcdef")) << 255 << true << 1 << 0 << true << 0x64636261
        << QByteArray("abcdef");
    QTest::newRow("text without terminator, slot ends")
        << answer(1, 0, QByteArray(60, 'x')) << 50 << true << 1 << 0 << true << 0x78787878
        << QByteArray(50, 'x');
}

void TestFieldResult::reading()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, fieldSize);
    const FieldResult r = make(bytes, fieldSize);
    QTEST(r.isUsable(), "usable");
    QTEST(static_cast<int>(r.rowCount()), "rows");
    QTEST(static_cast<int>(r.errorCode()), "error");
    int32_t value = 12345;
    QTEST(r.firstInt(&value), "hasFirstInt");
    QFETCH(bool, hasFirstInt);
    if (hasFirstInt)
        QTEST(static_cast<int>(value), "firstInt");
    else
        QCOMPARE(value, 12345);
    QTEST(r.firstText(), "text");
    QCOMPARE(r.isEmpty(), bytes.isEmpty());
}

void TestFieldResult::intRows_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QVector<int>>("values");

    QTest::newRow("three") << answer(3, 0, le32(7) + le32(12) + le32(9)) << true
                           << QVector<int>{7, 12, 9};
    QTest::newRow("none") << answer(0, 0, QByteArray()) << true << QVector<int>{};
    QTest::newRow("extra bytes ignored")
        << answer(1, 0, le32(4) + "xyz") << true << QVector<int>{4};
    QTest::newRow("million rows in 12 bytes")
        << answer(1000000, 0, le32(1)) << false << QVector<int>{};
    QTest::newRow("one row short") << answer(2, 0, le32(1) + "\x02\x00") << false << QVector<int>{};
    QTest::newRow("negative count") << answer(-1, 0, le32(1)) << false << QVector<int>{};
    QTest::newRow("no header") << QByteArray("\x01\x00\x00\x00", 4) << false << QVector<int>{};
}

void TestFieldResult::intRows()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QVector<int>, values);
    QVector<int32_t> rows{99};
    QTEST(make(bytes, 4).intRows(&rows), "ok");
    QVector<int> got;
    for (int32_t v : rows)
        got << v;
    QCOMPARE(got, values);
}

void TestFieldResult::quoting_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("quoted");
    QTest::newRow("plain") << QByteArray("alice") << QByteArray("alice");
    QTest::newRow("one quote") << QByteArray("o'brien") << QByteArray("o''brien");
    QTest::newRow("injection") << QByteArray("x' OR '1'='1") << QByteArray("x'' OR ''1''=''1");
    QTest::newRow("only quotes") << QByteArray("''") << QByteArray("''''");
    QTest::newRow("chinese utf-8") << QByteArray("张'三") << QByteArray("张''三");
    QTest::newRow("gbk bytes") << QByteArray("\xD5\xC5'\xC8\xFD")
                               << QByteArray("\xD5\xC5''\xC8\xFD");
}

void TestFieldResult::quoting()
{
    QFETCH(QByteArray, text);
    QTEST(SqlQuoted(text.constData()), "quoted");
}

void TestFieldResult::formatRefusesWhatDoesNotFit()
{
    QCOMPARE(SqlQuoted(nullptr), QByteArray());

    char sql[kSqlBufferSize];
    QVERIFY(FormatSql(sql, sizeof sql, "SELECT GroupName FROM Groups WHERE GroupID = %d", 42));
    QCOMPARE(QByteArray(sql), QByteArray("SELECT GroupName FROM Groups WHERE GroupID = 42"));

    // A 1000-byte name doubles to 2000 bytes: never sent, never overflowing.
    const QByteArray name(1000, '\'');
    char guarded[kSqlBufferSize + 16];
    memset(guarded, '#', sizeof guarded);
    QVERIFY(!FormatSql(guarded, kSqlBufferSize,
                       "SELECT SettingValue FROM SysSettings WHERE SettingName = '%s'",
                       SqlQuoted(name.constData()).constData()));
    QCOMPARE(guarded[0], '\0');
    for (size_t i = kSqlBufferSize; i < sizeof guarded; ++i)
        QCOMPARE(guarded[i], '#');

    // Exactly 1023 bytes still fit.
    const QByteArray fits(1023 - 2, 'a');
    QVERIFY(FormatSql(sql, sizeof sql, "'%s'", fits.constData()));
    QCOMPARE(strlen(sql), size_t(1023));
    const QByteArray tooLong(1022, 'a');
    QVERIFY(!FormatSql(sql, sizeof sql, "'%s'", tooLong.constData()));
}

QTEST_GUILESS_MAIN(TestFieldResult)
#include "tst_fieldresult.moc"
