// The disc-burning libraries loaded as the client loads them (dlopen from the program folder):
// pause, continue and cancel, failures, and tampering found by the server's decryption.

#include "DiscCodec.h"
#include "DiscPlugins.h"
#include "TavCommon.h"
#include "TestFiles.h"
#include "TestRoot.h"

#include <QtTest>

#include <atomic>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

struct Library {
    DiscInitLibFn init = nullptr;
    DiscFreeLibFn free = nullptr;
    DiscChangeStateFn changeState = nullptr;
    void* work = nullptr; // ZipFiles or EncryptFile

    bool load(const QByteArray& path, const char* workName)
    {
        void* dl = dlopen(path.constData(), RTLD_NOW);
        init = reinterpret_cast<DiscInitLibFn>(dl ? dlsym(dl, "InitLib") : nullptr);
        free = reinterpret_cast<DiscFreeLibFn>(dl ? dlsym(dl, "FreeLib") : nullptr);
        changeState = reinterpret_cast<DiscChangeStateFn>(dl ? dlsym(dl, "ChangeState") : nullptr);
        work = dl ? dlsym(dl, workName) : nullptr;
        return init && free && changeState && work;
    }
};

// What one run reported; firstState is sent at the first report, from the working thread.
struct Run {
    std::atomic<qint64> bytes{0};
    std::atomic<int> reports{0};
    int firstState = 0;
    Library* library = nullptr;
    void* handle = nullptr;

    static int callback(void* user, int type, int data, const char*)
    {
        Run* run = static_cast<Run*>(user);
        if (type == kDiscProgress) {
            run->bytes += data;
            if (run->reports++ == 0 && run->firstState)
                run->library->changeState(run->handle, run->firstState);
        }
        return 0;
    }
};

int modeOf(const QString& path)
{
    struct stat st;
    return stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

} // namespace

class TestDiscPlugins : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    Library m_zip, m_codec;
    QString m_big; // large enough for several progress reports and codec segments

    QString tmp(const QString& name) const { return m_root.varTmp() + "/" + name; }

    // Runs the zip (source: a list of paths) or the codec library on run.
    int work(bool zipping, const QStringList& sources, const QString& target, Run* run)
    {
        run->library = zipping ? &m_zip : &m_codec;
        run->handle = run->library->init(0, &Run::callback, run);
        QByteArray list, to = QFile::encodeName(target), none, key(DiscCodecFormat::kBuiltInKey);
        for (const QString& p : sources)
            list += p.toUtf8() + '\0';
        list += '\0';
        const int result = zipping ? reinterpret_cast<DiscZipFilesFn>(m_zip.work)(
                                         run->handle, list.data(), none.data(), to.data())
                                   : reinterpret_cast<DiscEncryptFileFn>(m_codec.work)(
                                         key.data(), list.data(), to.data(), run->handle);
        run->library->free(run->handle);
        return result;
    }

private slots:
    void initTestCase()
    {
        // The program folder as deployed: the libraries under their production names.
        QVERIFY(QFile::copy(ORIX_DISC_ZIP_PATH, m_root.programFolder() + "libminizip.so"));
        QVERIFY(QFile::copy(ORIX_DISC_CODEC_PATH, m_root.programFolder() + "revududir.so"));
        char folder[512];
        GetCurrentFolder(folder, sizeof folder);
        QVERIFY2(m_zip.load(QByteArray(folder) + "/libminizip.so", "ZipFiles"), dlerror());
        QVERIFY2(m_codec.load(QByteArray(folder) + "/revududir.so", "EncryptFile"), dlerror());
        m_big = m_root.path() + "/in/大文件.bin";
        QVERIFY(writeFile(m_big, pseudoRandom(1 << 20, 1)));
    }

    void pauseHoldsUntilContinue_data()
    {
        QTest::addColumn<bool>("zipping");
        QTest::newRow("zip") << true;
        QTest::newRow("encrypt") << false;
    }

    void pauseHoldsUntilContinue()
    {
        QFETCH(bool, zipping);
        const QString target = tmp(QString("paused-") + QTest::currentDataTag());
        Run run;
        run.firstState = kDiscPause;
        std::atomic<int> result{1};
        std::thread worker([&] { result = work(zipping, {m_big}, target, &run); });
        QTRY_VERIFY(run.reports > 0);
        const qint64 before = run.bytes;
        QTest::qWait(400);
        const bool held = run.bytes == before && result == 1;
        run.library->changeState(run.handle, kDiscContinue);
        worker.join();
        QVERIFY(held);
        QCOMPARE(result.load(), 0);
        QCOMPARE(run.bytes.load(), QFileInfo(m_big).size()); // every input byte reported
        QCOMPARE(modeOf(target), 0600);
    }

    void cancelRemovesOutput_data()
    {
        QTest::addColumn<bool>("zipping");
        QTest::addColumn<int>("code");
        QTest::newRow("zip") << true << int(kZipCancelled);
        QTest::newRow("encrypt") << false << int(kCodecCancelled);
    }

    void cancelRemovesOutput()
    {
        QFETCH(bool, zipping);
        const QString target = tmp(QString("cancelled-") + QTest::currentDataTag());
        Run run;
        run.firstState = kDiscCancel;
        QTEST(work(zipping, {m_big}, target, &run), "code");
        QVERIFY(!QFile::exists(target));
    }

    void failures_data()
    {
        QTest::addColumn<bool>("zipping");
        QTest::addColumn<QString>("input"); // "": the big file
        QTest::addColumn<bool>("targetExists");
        QTest::addColumn<int>("code");
        QTest::newRow("missing file") << true << "missing" << false << int(kZipUnreadableFile);
        QTest::newRow("FIFO in the list") << true << "fifo" << false << int(kZipUnreadableFile);
        QTest::newRow("archive exists") << true << "" << true << int(kZipCannotCreate);
        QTest::newRow("source missing") << false << "missing" << false << int(kCodecUnreadableFile);
        QTest::newRow("target exists") << false << "" << true << int(kCodecCannotCreate);
    }

    void failures()
    {
        QFETCH(bool, zipping);
        QFETCH(QString, input);
        QFETCH(bool, targetExists);
        const QString source = input.isEmpty() ? m_big : tmp(input);
        QVERIFY(input != "fifo" || mkfifo(QFile::encodeName(source).constData(), 0600) == 0);
        const QString target = tmp(QString("failed-") + QTest::currentDataTag());
        QVERIFY(!targetExists || writeFile(target, "keep"));
        Run run;
        QTEST(
            work(zipping, zipping ? QStringList{m_big, source} : QStringList{source}, target, &run),
            "code");
        QCOMPARE(readFile(target), QByteArray(targetExists ? "keep" : "(missing)"));
    }

    // The encrypted file as uploaded, changed on its way: decryption refuses it.
    void tamperingFound_data()
    {
        QTest::addColumn<int>("offset"); // of a flipped bit; negative: from the end
        QTest::addColumn<bool>("dropLast");
        QTest::addColumn<QByteArray>("appended");
        QTest::addColumn<int>("code");
        QTest::newRow("untouched") << 0 << false << QByteArray() << int(kDiscOk);
        QTest::newRow("header") << 20 << false << QByteArray() << int(kCodecAuthFailed);
        QTest::newRow("flipped byte") << 70000 << false << QByteArray() << int(kCodecAuthFailed);
        QTest::newRow("tag") << -1 << false << QByteArray() << int(kCodecAuthFailed);
        QTest::newRow("last segment dropped") << 0 << true << QByteArray() << int(kCodecAuthFailed);
        QTest::newRow("byte appended") << 0 << false << QByteArray("x") << int(kCodecAuthFailed);
    }

    void tamperingFound()
    {
        QFETCH(int, offset);
        QFETCH(bool, dropLast);
        QFETCH(QByteArray, appended);
        QFETCH(int, code);
        const QString encrypted = tmp(QString("t-") + QTest::currentDataTag());
        Run run;
        QCOMPARE(work(false, {m_big}, encrypted, &run), 0);
        QByteArray data = readFile(encrypted);
        if (offset)
            data.data()[offset < 0 ? data.size() + offset : offset] ^= 1;
        if (dropLast) // the segments before it still authenticate
            data.chop(int(QFileInfo(m_big).size() % DiscCodecFormat::kSegmentSize +
                          DiscCodecFormat::kTagSize));
        QVERIFY(writeFile(encrypted, data + appended));

        std::vector<unsigned char> key;
        QVERIFY(DiscCodec::decodeKey(DiscCodecFormat::kBuiltInKey, &key));
        const int in = open(QFile::encodeName(encrypted).constData(), O_RDONLY | O_CLOEXEC);
        const int out = open(QFile::encodeName(encrypted + ".out").constData(),
                             O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        std::string error;
        QCOMPARE(DiscCodec::decrypt(key, in, out, nullptr, &error), code);
        close(in);
        close(out);
        QVERIFY(code != kDiscOk || readFile(encrypted + ".out") == readFile(m_big));
    }
};

QTEST_GUILESS_MAIN(TestDiscPlugins)
#include "tst_discplugins.moc"
