// The disc-burning libraries loaded as the client loads them (dlopen from the program folder)
// and the development server's cd-extract: files zipped, encrypted, uploaded and unpacked
// byte-identical; the password; progress; pause, continue and cancel; failures; tampering.

#include "DevServerProcess.h"
#include "DiscPlugins.h"
#include "TavCommon.h"
#include "TestRoot.h"
#include "soapOrWSProxy.h"

#include <QDirIterator>
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <dlfcn.h>
#include <sys/stat.h>
#include <thread>
#include <zlib.h>

extern SOAP_NMAC struct Namespace namespaces[];

namespace
{

struct Library {
    void* dl = nullptr;
    DiscInitLibFn init = nullptr;
    DiscFreeLibFn free = nullptr;
    DiscChangeStateFn changeState = nullptr;
    void* work = nullptr; // ZipFiles or EncryptFile

    bool load(const QByteArray& path, const char* workName)
    {
        dl = dlopen(path.constData(), RTLD_NOW);
        if (!dl)
            return false;
        init = reinterpret_cast<DiscInitLibFn>(dlsym(dl, "InitLib"));
        free = reinterpret_cast<DiscFreeLibFn>(dlsym(dl, "FreeLib"));
        changeState = reinterpret_cast<DiscChangeStateFn>(dlsym(dl, "ChangeState"));
        work = dlsym(dl, workName);
        return init && free && changeState && work;
    }
};

// What one run reported; on its first progress report the callback sends firstState (when not
// 0) to the library from the working thread, so a pause or cancel lands mid-work however fast
// the work is.
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

QByteArray pseudoRandom(int size, quint32 seed)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        data[i] = static_cast<char>(seed >> 23);
    }
    return data;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

// A zip archive of stored entries (name, data, Unix mode), for entries the library never
// writes.
QByteArray storedZip(const QList<std::tuple<QByteArray, QByteArray, quint32>>& entries)
{
    QByteArray zip, directory;
    auto put = [](QByteArray& to, quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            to.append(static_cast<char>(value >> (8 * i)));
    };
    for (const auto& [name, data, mode] : entries) {
        const quint32 crc = crc32(0, reinterpret_cast<const Bytef*>(data.constData()), data.size());
        const int offset = zip.size();
        put(zip, 0x04034b50, 4);
        for (QByteArray* to : {&zip, &directory}) {
            if (to == &directory) {
                put(directory, 0x02014b50, 4);
                put(directory, (3 << 8) | 20, 2);
            }
            for (quint32 v : {20u, 0x800u, 0u, 0u, 0x21u})
                put(*to, v, 2);
            put(*to, crc, 4);
            put(*to, data.size(), 4);
            put(*to, data.size(), 4);
            put(*to, name.size(), 2);
            put(*to, 0, 2);
        }
        put(directory, 0, 6);
        put(directory, mode << 16, 4);
        put(directory, offset, 4);
        directory += name;
        zip += name + data;
    }
    QByteArray end;
    put(end, 0x06054b50, 4);
    put(end, 0, 4);
    put(end, entries.size(), 2);
    put(end, entries.size(), 2);
    put(end, directory.size(), 4);
    put(end, zip.size(), 4);
    put(end, 0, 2);
    return zip + directory + end;
}

} // namespace

class TestDiscPlugins : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestRoot> m_root;
    DevServerProcess m_server;
    Library m_zip, m_codec;
    QStringList m_files; // absolute paths of the input files
    qint64 m_total = 0;
    QString m_big; // a file large enough for several progress reports

    QString tmp(const QString& name) const { return m_root->varTmp() + "/" + name; }

    static QByteArray fileList(const QStringList& paths)
    {
        QByteArray list;
        for (const QString& p : paths)
            list += p.toUtf8() + '\0';
        return list + '\0';
    }

    int zip(const QStringList& paths, const QByteArray& options, const QString& zipPath, Run* run)
    {
        run->library = &m_zip;
        run->handle = m_zip.init(0, &Run::callback, run);
        QByteArray list = fileList(paths), opts = options, target = QFile::encodeName(zipPath);
        const int result = reinterpret_cast<DiscZipFilesFn>(m_zip.work)(run->handle, list.data(),
                                                                        opts.data(), target.data());
        m_zip.free(run->handle);
        return result;
    }

    int encrypt(const QString& source, const QString& target, Run* run)
    {
        run->library = &m_codec;
        run->handle = m_codec.init(0, &Run::callback, run);
        QByteArray key(DiscCodecFormat::kBuiltInKey), from = QFile::encodeName(source),
                                                      to = QFile::encodeName(target);
        const int result = reinterpret_cast<DiscEncryptFileFn>(m_codec.work)(
            key.data(), from.data(), to.data(), run->handle);
        m_codec.free(run->handle);
        return result;
    }

    // Uploads a file as a disc request the way the client does (65536-byte blocks, then the
    // 1024-byte record) and returns the stored name.
    QByteArray upload(const QByteArray& data)
    {
        QByteArray name(1024, '\0');
        QByteArray record(1024, '\0');
        record.replace(34, 8, "zhangsan");
        for (int offset = 0, type = 0;; offset += 65536, type = 1) {
            const bool done = offset >= data.size();
            const QByteArray block = done ? record : data.mid(offset, 65536);
            OrWSProxy proxy(SOAP_IO_CHUNK | SOAP_C_UTFSTRING);
            soap_set_namespaces(proxy.soap, namespaces);
            arrayOfData items(proxy.soap, 0);
            items.resize(1);
            items[0].__ptr = reinterpret_cast<unsigned char*>(const_cast<char*>(block.data()));
            items[0].__size = block.size();
            items[0].type = const_cast<char*>("");
            ns__structSavePrintJobByBlock result;
            char document[] = "";
            if (proxy.SaveCDRecordJobByBlock(m_server.endpoint().constData(), nullptr, document,
                                             &items, done ? 2 : type, name.data(),
                                             result) != SOAP_OK ||
                !result.return_ || !result.return_->SplFileNameOut)
                return QByteArray();
            name = QByteArray(result.return_->SplFileNameOut).leftJustified(1024, '\0');
            if (done)
                return name.left(name.indexOf('\0'));
        }
    }

    // Runs cd-extract on the latest disc request; the exit code, with standard output in *out.
    int extract(const QString& dir, const QStringList& extra = {}, QByteArray* out = nullptr)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(ORWS_DEVSERVER_PATH,
                QStringList{"cd-extract", "--db", m_server.dbPath(), "--storage",
                            m_server.storageDir(), "--latest", "--out", dir} +
                    extra);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            return -1;
        if (out)
            *out = p.readAllStandardOutput();
        return p.exitCode();
    }

    static int modeOf(const QString& path)
    {
        struct stat st;
        return stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
    }

    static int filesIn(const QString& dir)
    {
        int n = 0;
        for (QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System,
                             QDirIterator::Subdirectories);
             it.hasNext(); it.next())
            ++n;
        return n;
    }

private slots:
    void initTestCase()
    {
        m_root.reset(new TestRoot);
        // The program folder as deployed: the libraries under their production names.
        const QString folder = m_root->programFolder();
        QVERIFY(QFile::copy(ORIX_DISC_ZIP_PATH, folder + "libminizip.so"));
        QVERIFY(QFile::copy(ORIX_DISC_CODEC_PATH, folder + "revududir.so"));
        char programFolder[512];
        GetCurrentFolder(programFolder, sizeof programFolder);
        QVERIFY2(m_zip.load(QByteArray(programFolder) + "/libminizip.so", "ZipFiles"), dlerror());
        QVERIFY2(m_codec.load(QByteArray(programFolder) + "/revududir.so", "EncryptFile"),
                 dlerror());

        // Nested folders, hidden entries, a Chinese name, an empty file and one base name in
        // two folders.
        const QString in = m_root->path() + "/in";
        m_big = in + "/a/b/大文件.bin";
        const QList<QPair<QString, QByteArray>> files{
            {m_big, pseudoRandom(1 << 20, 1)},     {in + "/.hidden/.h", "hidden\n"},
            {in + "/中文 名称.txt", "中文内容\n"}, {in + "/empty", ""},
            {in + "/a/same.txt", "one"},           {in + "/b/same.txt", "two"},
        };
        for (const auto& [path, data] : files) {
            QVERIFY(writeFile(path, data));
            m_files << path;
            m_total += data.size();
        }
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    }

    void roundTrip_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::newRow("encrypted") << QByteArray();
        QTest::newRow("password, no encryption") << QByteArray("密码;pw");
    }

    void roundTrip()
    {
        QFETCH(QByteArray, password);
        const QString zipPath = tmp(QTest::currentDataTag() + QString(".zip"));
        const QString datPath = tmp(QTest::currentDataTag() + QString(".dat"));
        Run zipped, encrypted;
        QCOMPARE(
            zip(m_files, password.isEmpty() ? "" : "password=" + password + ";", zipPath, &zipped),
            0);
        QCOMPARE(zipped.bytes.load(), m_total);
        QCOMPARE(modeOf(zipPath), 0600);
        QString uploaded = zipPath;
        if (password.isEmpty()) {
            QCOMPARE(encrypt(zipPath, datPath, &encrypted), 0);
            QCOMPARE(encrypted.bytes.load(), QFileInfo(zipPath).size());
            QCOMPARE(modeOf(datPath), 0600);
            uploaded = datPath;
        }
        QFile file(uploaded);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(!upload(file.readAll()).isEmpty());

        const QString out = m_root->path() + "/out-" + QTest::currentDataTag();
        if (!password.isEmpty()) {
            QCOMPARE(extract(out + "-none"), 1);
            QCOMPARE(extract(out + "-wrong", {"--password", "wrong"}), 1);
            QCOMPARE(filesIn(out + "-none") + filesIn(out + "-wrong"), 0);
        }
        QByteArray listing;
        QCOMPARE(extract(out, {"--password", QString::fromUtf8(password)}, &listing), 0);
        QCOMPARE(filesIn(out), m_files.size());
        for (const QString& path : m_files) {
            QFile original(path), copy(out + path); // entries keep the path without its "/"
            QVERIFY2(copy.open(QIODevice::ReadOnly), qPrintable(copy.fileName()));
            QVERIFY(original.open(QIODevice::ReadOnly));
            QVERIFY(copy.readAll() == original.readAll());
            QVERIFY(listing.contains(QByteArray::number(original.size()) + "\t" +
                                     path.mid(1).toUtf8() + "\n"));
        }
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
        std::thread worker([&] {
            result = zipping ? zip({m_big}, "", target, &run) : encrypt(m_big, target, &run);
        });
        QTRY_VERIFY(run.reports > 0);
        const qint64 before = run.bytes;
        QTest::qWait(400);
        const bool held = run.bytes == before && result == 1;
        run.library->changeState(run.handle, kDiscContinue);
        worker.join();
        QVERIFY(held);
        QCOMPARE(result.load(), 0);
        QCOMPARE(run.bytes.load(), QFileInfo(m_big).size());
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
        QFETCH(int, code);
        const QString target = tmp(QString("cancelled-") + QTest::currentDataTag());
        Run run;
        run.firstState = kDiscCancel;
        QCOMPARE(zipping ? zip({m_big}, "", target, &run) : encrypt(m_big, target, &run), code);
        QVERIFY(!QFile::exists(target));
    }

    void failures_data()
    {
        QTest::addColumn<bool>("zipping");
        QTest::addColumn<QString>("input");
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
        QFETCH(int, code);
        QString source = m_big;
        if (!input.isEmpty()) {
            source = tmp(input);
            if (input == "fifo")
                QCOMPARE(mkfifo(QFile::encodeName(source).constData(), 0600), 0);
        }
        const QString target = tmp(QString("failed-") + QTest::currentDataTag());
        if (targetExists)
            QVERIFY(writeFile(target, "keep"));
        Run run;
        QCOMPARE(zipping ? zip({m_files.first(), source}, "", target, &run)
                         : encrypt(source, target, &run),
                 code);
        QFile left(target);
        QCOMPARE(left.exists(), targetExists);
        QVERIFY(!targetExists || (left.open(QIODevice::ReadOnly) && left.readAll() == "keep"));
    }

    void tamperedUploadRefused_data()
    {
        QTest::addColumn<int>("offset"); // of a flipped bit; negative: from the end
        QTest::addColumn<bool>("dropLast");
        QTest::addColumn<QByteArray>("appended");
        QTest::newRow("header") << 20 << false << QByteArray();
        QTest::newRow("flipped byte") << 70000 << false << QByteArray();
        QTest::newRow("tag") << -1 << false << QByteArray();
        QTest::newRow("last segment dropped") << 0 << true << QByteArray();
        QTest::newRow("byte appended") << 0 << false << QByteArray("x");
    }

    void tamperedUploadRefused()
    {
        QFETCH(int, offset);
        QFETCH(bool, dropLast);
        QFETCH(QByteArray, appended);
        const QString zipPath = tmp(QString("t-") + QTest::currentDataTag() + ".zip");
        const QString datPath = tmp(QString("t-") + QTest::currentDataTag() + ".dat");
        Run run;
        QCOMPARE(zip({m_big, m_files.last()}, "", zipPath, &run), 0);
        QCOMPARE(encrypt(zipPath, datPath, &run), 0);
        QFile file(datPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray data = file.readAll();
        if (offset)
            data.data()[offset < 0 ? data.size() + offset : offset] ^= 1;
        if (dropLast) // the segments before it still authenticate
            data.chop(int(QFileInfo(zipPath).size() % DiscCodecFormat::kSegmentSize +
                          DiscCodecFormat::kTagSize));
        QVERIFY(!upload(data + appended).isEmpty());
        const QString out = m_root->path() + "/tampered-" + QTest::currentDataTag();
        QCOMPARE(extract(out), 1);
        QCOMPARE(filesIn(out), 0);
    }

    void unsafeEntriesRefused()
    {
        // Entries that would leave the output folder or plant a link are refused; the rest is
        // unpacked.
        const QByteArray zip = storedZip({{"../escaped.txt", "x", 0100644},
                                          {"/absolute.txt", "x", 0100644},
                                          {"a/../../up.txt", "x", 0100644},
                                          {"link", "/etc/passwd", 0120777},
                                          {"ok/fine.txt", "fine", 0100644}});
        QVERIFY(!upload(zip).isEmpty());
        const QString base = m_root->path() + "/unsafe";
        QByteArray listing;
        QCOMPARE(extract(base + "/out", {}, &listing), 1);
        QCOMPARE(listing, QByteArray("4\tok/fine.txt\n"));
        QCOMPARE(filesIn(base), 1);
        QVERIFY(!QFile::exists(m_root->path() + "/up.txt"));
    }
};

QTEST_GUILESS_MAIN(TestDiscPlugins)
#include "tst_discplugins.moc"
