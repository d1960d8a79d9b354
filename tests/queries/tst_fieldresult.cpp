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
