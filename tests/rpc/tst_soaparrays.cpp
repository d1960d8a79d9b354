// The SOAP array helpers and TavFopenEx.
#include "DComLayerWS.h"
#include "SoapCall.h"
#include "soapH.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>

// --- fopen interposer ----------------------------------------------------------
// Counts the fopen calls made for one chosen path, and can make the first
// few of them fail.
namespace
{
std::atomic<int> g_fopenCalls{0};
std::atomic<int> g_fopenFailures{0};
QByteArray g_watchedPath;
} // namespace

extern "C" FILE* fopen(const char* __restrict path, const char* __restrict mode)
{
    using Fopen = FILE* (*)(const char*, const char*);
    static const Fopen real = reinterpret_cast<Fopen>(dlsym(RTLD_NEXT, "fopen"));
    if (path && !g_watchedPath.isEmpty() && strcmp(path, g_watchedPath.constData()) == 0) {
        ++g_fopenCalls;
        if (g_fopenFailures > 0) {
            --g_fopenFailures;
            errno = EACCES;
            return nullptr;
        }
    }
    return real(path, mode);
}

// --- index checks in a child process --------------------------------------------------
// Runs in a re-started copy of this executable; each case must stop the
// process with the assertion text.
static int runIndexCase(const char* which)
{
    arrayOfData data(nullptr, 2);
    arrayOfName names(nullptr, 2);
    arrayOfData emptyData;
    arrayOfName emptyNames;
    const QByteArray c(which);
    if (c == "data-negative")
        return data[-1].__size;
    if (c == "data-past-end")
        return data[2].__size;
    if (c == "data-empty")
        return emptyData[0].__size;
    if (c == "data-after-resize0") {
        data.resize(0);
        return data[0].__size;
    }
    if (c == "name-negative")
        return names[-1] != nullptr;
    if (c == "name-past-end")
        return names[2] != nullptr;
    if (c == "name-empty")
        return emptyNames[0] != nullptr;
    if (c == "data-last") // in range: must not stop
        return data[1].__size;
    return 100;
}

class TstSoapArrays : public QObject
{
    Q_OBJECT
private slots:
    void dataResize_data();
    void dataResize();
    void nameResize_data();
    void nameResize();
    void arraysInContextReleasedWithIt();
    void indexOutOfRange_data();
    void indexOutOfRange();
    void fopenAttempts_data();
    void fopenAttempts();
};

void TstSoapArrays::dataResize_data()
{
    QTest::addColumn<bool>("withContext");
    QTest::newRow("heap") << false;
    QTest::newRow("context") << true;
}

void TstSoapArrays::dataResize()
{
    QFETCH(bool, withContext);
    struct soap* soap = withContext ? soap_new() : nullptr;
    {
        arrayOfData a(soap, 3);
        QCOMPARE(a.size(), 3);
        QCOMPARE(a.__size, 3);
        for (int i = 0; i < 3; ++i) {
            QVERIFY(!a[i].__ptr);
            QCOMPARE(a[i].__size, 0);
            QVERIFY(!a[i].id && !a[i].type && !a[i].options);
        }
        a[2].__size = 77;
        a[2].type = const_cast<char*>("");

        a.resize(5); // fresh default elements
        QCOMPARE(a.size(), 5);
        QCOMPARE(a[2].__size, 0);
        QVERIFY(!a[2].type);

        a.resize(0);
        QCOMPARE(a.__size, 0);
        QVERIFY(!a.__ptr);
        a.resize(-4);
        QCOMPARE(a.__size, 0);
        QVERIFY(!a.__ptr);
        a.resize(1);
        QCOMPARE(a.size(), 1);
    }
    arrayOfData none;
    QCOMPARE(none.size(), 0);
    QVERIFY(!none.__ptr && !none.soap);
    if (soap) {
        soap_destroy(soap);
        soap_end(soap);
        soap_free(soap);
    }
}

void TstSoapArrays::nameResize_data()
{
    QTest::addColumn<bool>("withContext");
    QTest::newRow("heap") << false;
    QTest::newRow("context") << true;
}

void TstSoapArrays::nameResize()
{
    QFETCH(bool, withContext);
    struct soap* soap = withContext ? soap_new() : nullptr;
    {
        arrayOfName a(soap, 4);
        QCOMPARE(a.size(), 4);
        for (int i = 0; i < 4; ++i)
            QVERIFY(!a[i]);
        a[3] = const_cast<char*>("stored.pdf");
        a.resize(2);
        QCOMPARE(a.size(), 2);
        QVERIFY(!a[0] && !a[1]);
        a.resize(0);
        QCOMPARE(a.__size, 0);
        QVERIFY(!a.__ptr);
    }
    if (soap) {
        soap_destroy(soap);
        soap_end(soap);
        soap_free(soap);
    }
}

void TstSoapArrays::arraysInContextReleasedWithIt()
{
    // Arrays that the runtime itself made (as it does for received answers)
    // are released with the context; their destructors run while it ends.
    CDComLayerWS client;
    client.InitDCOM();
    SoapCall call(client);
    QVERIFY(call.ok());
    arrayOfData* data = soap_new_arrayOfData(call.soap());
    QVERIFY(data);
    data->soap = call.soap();
    data->resize(3);
    arrayOfName* names = soap_new_arrayOfName(call.soap());
    QVERIFY(names);
    names->soap = call.soap();
    names->resize(2);
    (*names)[0] = soap_strdup(call.soap(), "a");
    QCOMPARE(data->size(), 3);
    QCOMPARE(names->size(), 2);
}

void TstSoapArrays::indexOutOfRange_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<bool>("stops");
    QTest::newRow("data -1") << "data-negative" << true;
    QTest::newRow("data size") << "data-past-end" << true;
    QTest::newRow("data empty") << "data-empty" << true;
    QTest::newRow("data after resize(0)") << "data-after-resize0" << true;
    QTest::newRow("name -1") << "name-negative" << true;
    QTest::newRow("name size") << "name-past-end" << true;
    QTest::newRow("name empty") << "name-empty" << true;
    QTest::newRow("data last element") << "data-last" << false;
}

void TstSoapArrays::indexOutOfRange()
{
    QFETCH(QString, which);
    QFETCH(bool, stops);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--index-case", which});
    QVERIFY(child.waitForFinished(30000));
    const QByteArray err = child.readAllStandardError();
    if (stops) {
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QVERIFY2(err.contains("__ptr && i >= 0 && i < __size"), err.constData());
    } else {
        QCOMPARE(child.exitStatus(), QProcess::NormalExit);
        QCOMPARE(child.exitCode(), 0);
        QVERIFY(!err.contains("Assertion"));
    }
}

void TstSoapArrays::fopenAttempts_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("failures");
    QTest::addColumn<int>("attempts");
    QTest::addColumn<bool>("opened");
    QTest::newRow("opens at once") << true << 0 << 1 << true;
    QTest::newRow("opens on the 8th try") << true << 7 << 8 << true;
    QTest::newRow("opens on the last try") << true << 1500 << 1501 << true;
    QTest::newRow("never opens") << false << 0 << 1501 << false;
}

void TstSoapArrays::fopenAttempts()
{
    QFETCH(bool, exists);
    QFETCH(int, failures);
    QFETCH(int, attempts);
    QFETCH(bool, opened);
    QTemporaryDir dir;
    QByteArray path = QFile::encodeName(dir.path() + (exists ? "/present.bin" : "/missing/x.bin"));
    if (exists) {
        QFile f(QFile::decodeName(path));
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    CDComLayerWS client;
    g_watchedPath = path;
    g_fopenCalls = 0;
    g_fopenFailures = failures;
    char mode[] = "rb";
    FILE* f = client.TavFopenEx(path.data(), mode);
    const int calls = g_fopenCalls;
    g_watchedPath.clear();
    g_fopenFailures = 0;
    QCOMPARE(calls, attempts);
    QCOMPARE(f != nullptr, opened);
    if (f)
        fclose(f);
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "--index-case") == 0)
        return runIndexCase(argv[2]) == 0 ? 0 : 1;
    QCoreApplication app(argc, argv);
    TstSoapArrays test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_soaparrays.moc"
