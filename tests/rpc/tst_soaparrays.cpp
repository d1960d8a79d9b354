// The SOAP array helpers and TavFopenEx.
#include "DComLayerWS.h"
#include "soapH.h"

#include <QProcess>
#include <QtTest>

#include <atomic>
#include <dlfcn.h>

// Counts the fopen calls for one path.
static std::atomic<int> g_fopenCalls{0};
static QByteArray g_watchedPath;

extern "C" FILE* fopen(const char* __restrict path, const char* __restrict mode)
{
    using Fopen = FILE* (*)(const char*, const char*);
    static const Fopen real = reinterpret_cast<Fopen>(dlsym(RTLD_NEXT, "fopen"));
    g_fopenCalls += path && g_watchedPath == path;
    return real(path, mode);
}

class TstSoapArrays : public QObject
{
    Q_OBJECT
private slots:
    void resize();
    void indexOutOfRange_data();
    void indexOutOfRange();
    void fopenAttempts();
};

void TstSoapArrays::resize()
{
    // Every resize makes fresh elements; 0 leaves the arrays empty.
    arrayOfData data(nullptr, 3);
    arrayOfName names(nullptr, 4);
    data[2].__size = 77;
    names[3] = const_cast<char*>("stored.pdf");
    data.resize(5);
    names.resize(2);
    QCOMPARE(data.size(), 5);
    QCOMPARE(names.size(), 2);
    QVERIFY(!data[2].__ptr && !data[2].__size && !data[2].type && !names[0] && !names[1]);
    data.resize(0);
    names.resize(0);
    QVERIFY(!data.__size && !data.__ptr && !names.__size && !names.__ptr);
}

void TstSoapArrays::indexOutOfRange_data()
{
    // "<array> <index> [<size>]" for a child process; the arrays have 2 elements.
    QTest::addColumn<QString>("use");
    QTest::addColumn<bool>("stops");
    QTest::newRow("data -1") << "data -1" << true;
    QTest::newRow("data size") << "data 2" << true;
    QTest::newRow("data empty") << "data 0 0" << true;
    QTest::newRow("name size") << "name 2" << true;
    QTest::newRow("names empty") << "name 0 0" << true;
    QTest::newRow("last element") << "data 1" << false;
}

void TstSoapArrays::indexOutOfRange()
{
    QFETCH(QString, use);
    QFETCH(bool, stops);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), QStringList{"--index"} + use.split(' '));
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitStatus() == QProcess::CrashExit, stops);
    QCOMPARE(child.readAllStandardError().contains("__ptr && i >= 0 && i < __size"), stops);
}

void TstSoapArrays::fopenAttempts()
{
    // A path that never opens is tried exactly 1501 times.
    CDComLayerWS client;
    g_watchedPath = QFile::encodeName(QCoreApplication::applicationDirPath() + "/missing/x");
    char mode[] = "rb";
    QVERIFY(!client.TavFopenEx(g_watchedPath.data(), mode));
    QCOMPARE(g_fopenCalls.load(), 1501);
}

int main(int argc, char** argv)
{
    if (argc >= 4 && strcmp(argv[1], "--index") == 0) {
        arrayOfData data(nullptr, argc == 5 ? atoi(argv[4]) : 2);
        arrayOfName names(nullptr, argc == 5 ? atoi(argv[4]) : 2);
        const int i = atoi(argv[3]);
        return strcmp(argv[2], "data") == 0 ? data[i].__size : names[i] != nullptr;
    }
    QCoreApplication app(argc, argv);
    TstSoapArrays test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_soaparrays.moc"
