// Request entries; the disc request's rules, dialog, worker and libraries; each request end to end.

#include "CDTaskDlg.h"
#include "CDTaskRules.h"
#include "DataTable.h"
#include "DevServerProcess.h"
#include "DiscCodec.h"
#include "FileDialogs.h"
#include "RawHttpServer.h"
#include "RecordBytes.h"
#include "RequestEntries.h"
#include "RequestFlows.h"
#include "SamplePdf.h"
#include "SessionTestKit.h"
#include "TavCommon.h"
#include "TestFiles.h"
#include "TestRoot.h"

#include <QtTest>

#include <atomic>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;

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

// Keeps the blocks as "type:size" words and their bytes; answers failCode to failType.
struct BlockLog {
    std::mutex mutex;
    QStringList blocks;
    QByteArray data, record;
    int failType = -1, failCode = 0;

    CDTaskProcessing::BlockSender sender()
    {
        return [this](int type, int size, void* bytes, char* storedName) {
            std::lock_guard<std::mutex> lock(mutex);
            blocks << QStringLiteral("%1:%2").arg(type).arg(size);
            (type == 2 ? record : data) += QByteArray(static_cast<const char*>(bytes), size);
            if (type == 0)
                CopyText(storedName, 1024, "C1.spl");
            return type == failType ? failCode : 0;
        };
    }
    int count()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return blocks.size();
    }
};

// The worker without a dialog: its reports.
struct Processing : CDTaskProcessing {
    QList<int> reports;
    ~Processing() override { StopWorker(); }
    void Report(int value) override { reports << value; }
};

} // namespace

class TestRequests : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    DevServerProcess m_server;
    std::unique_ptr<RawHttpServer> m_relay; // to m_server, or silent
    std::unique_ptr<OrixUser> m_user;       // zhangsan: secret levels 公开, 内部, 秘密
    RequestFlows m_flows;
    BoxRecorder m_boxes;
    ModalDriver m_driver;
    QStringList m_fileAnswers; // of the next file dialogs
    QString m_tmp;             // the client's temporary folder
    Library m_zip, m_codec;    // loaded here as the client loads them
    QString m_big;             // large enough for several progress reports and codec segments

    QString tmpPath(const QString& name) const { return m_root.varTmp() + "/" + name; }
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

    // A new relay to the server, and a logon through it.
    void relay()
    {
        m_relay.reset(new RawHttpServer);
        m_relay->forwardTo(m_server.port());
        CopyText(m_user->RpcPort, sizeof m_user->RpcPort, m_relay->portText().constData());
        QCOMPARE(m_user->Logon(), 0);
    }
    // The record (and document) of the newest upload of a kind.
    QByteArray lastUpload(const QString& kind, QByteArray* document = nullptr) const
    {
        const QString sql = "SELECT RecordPath, DataPath FROM Uploads WHERE Kind='" + kind +
                            "' ORDER BY UploadID DESC LIMIT 1";
        const QVariantList row = m_server.query(sql).value(0);
        if (document)
            *document = readFile(row.value(1).toString());
        return readFile(row.value(0).toString());
    }
    int uploads() const { return m_server.scalar("SELECT count(*) FROM Uploads").toInt(); }
    // The fields that every record takes from the session, at their offsets.
    RecordBytes sessionFields(int size) const
    {
        const OrixUser& user = *m_user;
        return RecordBytes(size).number(100, 1).text(
            0, "zhangsan", 50, "张三", 764, BoundedText(user.ComputerName, 29), 794,
            BoundedText(user.MacAddress, 19), 814, BoundedText(user.IPAddress, 49));
    }
    QStringList leftInTmp() const
    {
        return QDir(m_tmp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    QStringList rows(const QTreeView* view) const
    {
        auto* model = static_cast<QStandardItemModel*>(view->model());
        QStringList rows;
        for (int r = 0; r < model->rowCount(); ++r)
            rows << QFileInfo(model->item(r, 0)->text()).fileName() + ' ' +
                        model->item(r, 1)->text();
        return rows;
    }

private slots:
    void initTestCase()
    {
        m_root.writeConfig("[Main%20Window]\n2015=\"工作资料;;会议材料;其他\"\n"
                           "[OPTION]\nCDPassword=1\n");
        QVERIFY(QFile::copy(ORIX_DISC_ZIP_PATH, m_root.programFolder() + "libminizip.so"));
        QVERIFY(QFile::copy(ORIX_DISC_CODEC_PATH, m_root.programFolder() + "revududir.so"));
        m_tmp = m_root.path() + "/tmp";
        QVERIFY(QDir().mkpath(m_tmp));
        m_root.env.set("TMPDIR", QFile::encodeName(m_tmp));
        CDTaskProcessing::SetInterval(0ms);
        // From the build folder: loaded by the program folder's name, the dialog could not miss it.
        QVERIFY2(m_zip.load(ORIX_DISC_ZIP_PATH, "ZipFiles"), dlerror());
        QVERIFY2(m_codec.load(ORIX_DISC_CODEC_PATH, "EncryptFile"), dlerror());
        m_big = m_root.path() + "/in/大文件.bin";
        QVERIFY(writeFile(m_big, pseudoRandom(1 << 20, 1)));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_user.reset(new OrixUser);
        seedUser(*m_user, "zhangsan", QByteArray());
        relay();

        FileDialogs::setHook([this](QWidget*, const QString&, const QString&, const QString&) {
            return m_fileAnswers.isEmpty() ? QString() : m_fileAnswers.takeFirst();
        });
    }

    void cleanupTestCase() { FileDialogs::setHook({}); }

    void init()
    {
        m_boxes.boxes.clear();
        m_driver.seen.clear();
    }

    void choicesFromUntrustedTables()
    {
        // A table's count beyond its block; five approval levels: kept to the block, to three.
        TavUserRecord user{};
        qToLittleEndian<qint32>(1000, user.UserInfoEx);
        user.SecretLevel = 1000;
        memcpy(user.UserInfoEx + 4 + 2 * TavUserRecord::kUserInfoExEntrySize, "x", 1);
        QCOMPARE(RequestChoices::SecretLevelOptions(user).size(), 1);
        TavAuditFlow flow;
        flow.FlowID = 1;
        flow.Secrets << TavSecret{};
        flow.Secrets[0].AuditLevel = 5;
        QCOMPARE(RequestChoices::AuditOptionsFor(flow, 0).Level, 3);
    }

    void entries_data()
    {
        Table<int, QString> row("uiHide", "offered"); // the page, mobile print, copy, disc
        row("0", 0, "PMCD");
        row("1: the page and every request", 1, "    ");
        row("2: copy", 2, "PM D");
        row("4: disc", 4, "PMC ");
        row("6", 6, "PM  ");
    }

    void entries()
    {
        QFETCH(QString, offered);
        QToolBox toolBox;
        QWidget info, page;
        toolBox.addItem(&info, "用户信息");
        toolBox.addItem(&page, "提交任务");
        QToolButton buttons[3];
        QMenu menu;
        menu.addAction("显示界面");
        QAction* logout = menu.addAction("注销");
        RequestEntries entries(&toolBox, &page, &menu, logout);
        int clicks = 0;
        for (int r = 0; r < 3; ++r) {
            buttons[r].setParent(&page);
            entries.add(RequestEntries::Request(r), &buttons[r], &toolBox, [&clicks] { ++clicks; });
        }
        entries.apply(1); // a mask in force before is undone
        entries.apply(fetch<int>("uiHide"));
        entries.setOnline(true);

        QCOMPARE(page.isHidden(), toolBox.indexOf(&page) < 0);
        QString seen = toolBox.indexOf(&page) == 1 ? "P" : " ";
        for (int r = 0; r < 3; ++r) {
            QAction* entry = entries.entry(RequestEntries::Request(r));
            QCOMPARE(entry->isVisible(), !buttons[r].isHidden());
            seen += entry->isVisible() ? QString("MCD").at(r) : QChar(' ');
        }
        QCOMPARE(seen, offered);
        // The entries' own separator, in front of the logout entry.
        QAction* separator = menu.actions().at(menu.actions().indexOf(logout) - 1);
        QVERIFY(separator->isSeparator());
        QCOMPARE(separator->isVisible(), !offered.trimmed().isEmpty());

        // Usable only online and while no request runs (an entry not offered never is).
        QAction* mobile = entries.entry(RequestEntries::MobilePrint);
        mobile->trigger();
        buttons[0].click();
        QCOMPARE(clicks, 2);
        entries.setBusy(true);
        QVERIFY(!mobile->isEnabled() && !buttons[0].isEnabledTo(&page));
        entries.setBusy(false);
        QCOMPARE(mobile->isEnabled() && buttons[0].isEnabledTo(&page), offered.at(1) == 'M');
        entries.setOnline(false);
        QVERIFY(!mobile->isEnabled() && !buttons[0].isEnabledTo(&page));
    }

    void discCapacity_data()
    {
        Table<int, qint64, bool, QString> row("discType", "total", "exceeds", "shown");
        const qint64 mb = 1048576;
        row("CD: 650 MB and 1048575 bytes", 1, 650 * mb + mb - 1, false, "651");
        row("CD: 651 MB", 1, 651 * mb, true, "651");
        row("DVD: 4300 MB and a half", 2, 4300 * mb + mb / 2, false, "4300.5");
        row("DVD: 4301 MB", 2, 4301 * mb, true, "4301");
        row("BDVD: 27000000 MB and 1048575 bytes", 3, 27000000 * mb + mb - 1, false, "2.7e+07");
        row("BDVD: 27000001 MB", 3, 27000001 * mb, true, "2.7e+07");
        row("1234567 MB", 3, 1234567 * mb, false, "1.23457e+06");
    }

    void discCapacity()
    {
        QFETCH(qint64, total);
        QTEST(CDTaskRules::ExceedsCapacity(fetch<int>("discType"), total), "exceeds");
        QTEST(CDTaskRules::MegabyteText(total), "shown");
    }

    void discFileList()
    {
        // A path longer than the free part makes the buffer grow to hold it whole.
        const QStringList paths{"/home/张三/文档/报告.pdf", "/a/" + QString(1500, 'x'), "/b"};
        const QByteArray expected = paths.join(QChar(0)).toUtf8() + QByteArray(2, '\0');
        const std::vector<char> list = CDTaskRules::FileList(paths);
        QCOMPARE(list.size(), size_t(2048));
        QCOMPARE(QByteArray(list.data(), expected.size()), expected);
    }

    void discFolderWalk()
    {
        // Links and empty folders are left out; a sparse 3 GiB file counts whole and fits no CD.
        const QString in = m_root.path() + "/walk";
        QVERIFY(writeFile(in + "/a/one", "one") && QDir().mkpath(in + "/empty"));
        QVERIFY(QFile::link(in + "/a/one", in + "/link") && QFile::link(in + "/a", in + "/dir"));
        QVERIFY(writeFile(in + "/big.bin", {}) && QFile::resize(in + "/big.bin", 3LL << 30));
        CDTaskInfo record{};
        CDTaskDlg dialog;
        dialog.SetUser(m_user.get());
        dialog.SetTask(&record);
        dialog.show();
        m_fileAnswers = QStringList{in};
        child<QPushButton>(&dialog, "btnAddFolder")->click();
        QTreeView* view = child<QTreeView>(&dialog, "treeViewFiles");
        QStringList found = rows(view);
        found.sort();
        QCOMPARE(found, QStringList({"big.bin " + QString::number(3LL << 30), "one 3"}));
        QCOMPARE(child<QLineEdit>(&dialog, "lineEditTotalBytes")->text(), QString("3072"));
        child<QLineEdit>(&dialog, "lineEditDocName")->setText("光盘");
        child<QPushButton>(&dialog, "btnOK")->click();
        QCOMPARE(m_boxes.boxes, QStringList{"警告|文件大小超过光盘类型的容量，请重新选择。"});
        QCOMPARE(QByteArray(reinterpret_cast<char*>(&record), 1024), QByteArray(1024, '\0'));

        // A delete takes its row's whole size off; without a current row nothing goes.
        view->setCurrentIndex(
            view->model()->index(rows(view).indexOf(QRegularExpression("big.*")), 0));
        child<QPushButton>(&dialog, "btnDelete")->click();
        view->setCurrentIndex(QModelIndex());
        child<QPushButton>(&dialog, "btnDelete")->click();
        QCOMPARE(rows(view), QStringList{"one 3"});
        QCOMPARE(dialog.selectedTotal(), qint64(3));
    }

    void discUploadBlocks_data()
    {
        Table<int, int, int, int, QString> row("size", "failType", "failCode", "result", "sent");
        row("empty file", 0, -1, 0, 0, "0:0 2:1024");
        row("65536 bytes: an empty block follows", 65536, -1, 0, 0, "0:65536 1:0 2:1024");
        row("65537 bytes", 65537, -1, 0, 0, "0:65536 1:1 2:1024");
        row("a later block refused", 65537, 1, 12, -23, "0:65536 1:1");
        row("the record refused", 10, 2, 28, -23, "0:10 2:1024");
        row("no file", -1, -1, 0, -21, "");
    }

    void discUploadBlocks()
    {
        QFETCH(int, size);
        BlockLog log;
        log.failType = fetch<int>("failType");
        log.failCode = fetch<int>("failCode");
        Processing processing;
        processing.SetBlockSender(log.sender());
        const QString path = m_root.path() + "/upload-" + QTest::currentDataTag();
        const QByteArray content = pseudoRandom(std::max(size, 0), 7);
        QVERIFY(size < 0 || writeFile(path, content));
        QByteArray nativePath = QFile::encodeName(path);

        QTEST(processing.UploadCDTask(nativePath.data()), "result");
        QTEST(log.blocks.join(' '), "sent");
        if (size < 0)
            QCOMPARE(processing.LastError(), "open fail:" + nativePath + " ");
        QCOMPARE(log.data, content.left(log.data.size()));
        if (size >= 0 && log.failType < 0) {
            QCOMPARE(log.record, QByteArray(1024, '\0'));
            // No percentage without a size, never one above 100.
            QCOMPARE(processing.reports.isEmpty(), size == 0);
            QVERIFY(processing.reports.isEmpty() || processing.reports.last() == 100);
        }
    }

    void discDialogRun()
    {
        // Without the compression library: the loader's message, the dialog open and idle.
        const QString library = m_root.programFolder() + "libminizip.so";
        QVERIFY(QFile::rename(library, library + ".away"));
        const QString file = m_root.path() + "/pause/data.bin";
        QVERIFY(writeFile(file, pseudoRandom(1 << 20, 3))); // about 17 blocks
        BlockLog log;
        CDTaskInfo task{};
        CDTaskDlg dialog;
        dialog.SetBlockSender(log.sender());
        dialog.SetUser(m_user.get());
        dialog.SetTask(&task);
        dialog.show();
        dialog.AddFileIntoTree(file);
        child<QLineEdit>(&dialog, "lineEditDocName")->setText("资料");
        QPushButton* ok = child<QPushButton>(&dialog, "btnOK");
        QPushButton* pause = child<QPushButton>(&dialog, "btnPause");
        QLabel* progress = child<QLabel>(&dialog, "labelProgress");
        QVERIFY(!pause->isVisible());
        ok->click();
        QTRY_VERIFY(ok->isEnabled());
        const QString box = m_boxes.boxes.value(0);
        QVERIFY2(m_boxes.boxes.size() == 1 && box.startsWith("Error|处理刻录作业错误:-1,") &&
                     box.contains("libminizip.so: cannot open shared object file"),
                 qPrintable(box));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.State(), int(CDTaskProcessing::kIdle));
        QCOMPARE(progress->text(), QString("压缩文件……………"));
        QCOMPARE(log.count(), 0);
        QCOMPARE(leftInTmp(), QStringList());

        // With it: a private work folder, every block held while paused, cancel gives -25.
        QVERIFY(QFile::rename(library + ".away", library));
        CDTaskProcessing::SetInterval(50ms);
        ok->click();
        QVERIFY(pause->isVisible());
        QTRY_VERIFY(log.count() >= 2);
        const QStringList work = leftInTmp();
        QCOMPARE(work.size(), 1);
        QCOMPARE(modeOf(m_tmp + '/' + work.first()), 0700);
        QCOMPARE(modeOf(m_tmp + '/' + work.first() + "/cd.dat"), 0600);
        QCOMPARE(progress->text(), QString("压缩文件……………加密文件……………上传作业……………"));
        pause->click();
        QCOMPARE(pause->text(), QString("继续"));
        // Held from the click on: at most the block already read then is sent.
        const int held = log.count();
        QTest::qWait(400); // eight intervals
        QVERIFY2(log.count() <= held + 1, qPrintable(QString::number(log.count() - held)));
        QTRY_VERIFY(pause->isEnabled());
        pause->click();
        QCOMPARE(pause->text(), QString("暂停"));
        QTRY_VERIFY(log.count() > held + 1);
        child<QPushButton>(&dialog, "btnCancel")->click();
        QTRY_VERIFY(!dialog.isVisible());
        CDTaskProcessing::SetInterval(0ms);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(m_boxes.boxes.mid(1),
                 QStringList({"警告|作业正在处理中，确定取消？", "Error|处理刻录作业错误:-25,"}));
        QVERIFY(!log.blocks.join(' ').contains("2:"));
        QCOMPARE(leftInTmp(), QStringList());
    }
    void discLibrariesOfOtherUsers()
    {
        // A disc library that another user could have written is not loaded.
        for (const bool zipping : {true, false}) {
            const QString name = zipping ? "libminizip.so" : "revududir.so";
            const QByteArray installed = QFile::encodeName(m_root.programFolder() + name);
            QCOMPARE(chmod(installed.constData(), 0775), 0);
            Processing work;
            QByteArray list = QFile::encodeName(m_big) + '\0' + '\0', none,
                       target = QFile::encodeName(tmpPath("refused.out"));
            const int result = zipping ? work.CompressFiles(list.data(), none.data(), target.data())
                                       : work.EncryptFile(list.data(), nullptr, target.data());
            QCOMPARE(chmod(installed.constData(), 0755), 0);
            QCOMPARE(result, int(zipping ? CDTaskProcessing::kZipNotLoaded
                                         : CDTaskProcessing::kCodecNotLoaded));
            QVERIFY2(work.LastError().contains(name.toUtf8() + ": not loaded: "), work.LastError());
            QVERIFY(!QFile::exists(tmpPath("refused.out")));
        }
    }

    // Held while paused, every byte reported; no output when cancelled; refusals keep the target.
    void libraryRuns_data()
    {
        // state: sent at the first report; input "": the big file
        Table<bool, int, QString, bool, int> row("zipping", "state", "input", "exists", "code");
        row("zip paused", true, kDiscPause, "", false, kDiscOk);
        row("encryption paused", false, kDiscPause, "", false, kDiscOk);
        row("zip cancelled", true, kDiscCancel, "", false, kZipCancelled);
        row("encryption cancelled", false, kDiscCancel, "", false, kCodecCancelled);
        row("missing file", true, 0, "missing", false, kZipUnreadableFile);
        row("FIFO in the list", true, 0, "fifo", false, kZipUnreadableFile);
        row("archive exists", true, 0, "", true, kZipCannotCreate);
        row("source missing", false, 0, "missing", false, kCodecUnreadableFile);
        row("target exists", false, 0, "", true, kCodecCannotCreate);
    }

    void libraryRuns()
    {
        QFETCH(bool, zipping);
        QFETCH(int, state);
        QFETCH(QString, input);
        const bool targetExists = fetch<bool>("exists");
        const QString source = input.isEmpty() ? m_big : tmpPath(input);
        QVERIFY(input != "fifo" || mkfifo(QFile::encodeName(source).constData(), 0600) == 0);
        const QString target = tmpPath(QTest::currentDataTag());
        QVERIFY(!targetExists || writeFile(target, "keep"));
        const QStringList sources =
            zipping && !input.isEmpty() ? QStringList{m_big, source} : QStringList{source};
        Run run;
        run.firstState = state;
        std::atomic<int> result{1};
        std::thread worker([&] { result = work(zipping, sources, target, &run); });
        bool held = true;
        if (state == kDiscPause) {
            QTRY_VERIFY(run.reports > 0);
            const qint64 before = run.bytes;
            QTest::qWait(400);
            held = run.bytes == before && result == 1;
            run.library->changeState(run.handle, kDiscContinue);
        }
        worker.join();
        QVERIFY(held);
        QTEST(result.load(), "code");
        if (state == kDiscPause) {
            QCOMPARE(run.bytes.load(), QFileInfo(m_big).size());
            QCOMPARE(modeOf(target), 0600);
        } else {
            QCOMPARE(readFile(target), QByteArray(targetExists ? "keep" : "(missing)"));
        }
    }

    // The encrypted file as uploaded, changed on its way: decryption refuses it.
    void tamperingFound_data()
    {
        // offset: of a flipped bit, negative from the end
        Table<int, bool, QByteArray, int> row("offset", "dropLast", "appended", "code");
        row("untouched", 0, false, {}, kDiscOk);
        row("header", 20, false, {}, kCodecAuthFailed);
        row("flipped byte", 70000, false, {}, kCodecAuthFailed);
        row("tag", -1, false, {}, kCodecAuthFailed);
        row("last segment dropped", 0, true, {}, kCodecAuthFailed);
        row("byte appended", 0, false, "x", kCodecAuthFailed);
    }

    void tamperingFound()
    {
        QFETCH(int, offset);
        QFETCH(int, code);
        const QString encrypted = tmpPath(QString("t-") + QTest::currentDataTag());
        Run run;
        QCOMPARE(work(false, {m_big}, encrypted, &run), 0);
        QByteArray data = readFile(encrypted);
        if (offset)
            data.data()[offset < 0 ? data.size() + offset : offset] ^= 1;
        if (fetch<bool>("dropLast")) // the segments before it still authenticate
            data.chop(int(QFileInfo(m_big).size() % DiscCodecFormat::kSegmentSize +
                          DiscCodecFormat::kTagSize));
        QVERIFY(writeFile(encrypted, data + fetch<QByteArray>("appended")));

        std::vector<unsigned char> key;
        QVERIFY(DiscCodec::decodeKey(DiscCodecFormat::kBuiltInKey, &key));
        QFile in(encrypted), out(encrypted + ".out");
        QVERIFY(in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly));
        std::string error;
        QCOMPARE(DiscCodec::decrypt(key, in.handle(), out.handle(), nullptr, &error), code);
        QVERIFY(code != kDiscOk || readFile(encrypted + ".out") == readFile(m_big));
    }
    // Refused without a file, a cancelled browse drops the file; a failure leaves no upload.
    void mobilePrintJob_data()
    {
        // content null: no file; choices: secret level, then orientation, colour, duplex; typed:
        // copies, name ("": the file's); audit: level shown, auditors enabled; box: of a failure
        Table<QString, QByteArray, QList<int>, QStringList, QString, QList<int>, QString> row(
            "file", "content", "choices", "typed", "audit", "stored", "box");
        row("defaults: a text of one page", "notes.txt", "plain text\n", {0, 0}, {"1", ""},
            "无需审批 ---", {1, 1}, "");
        row("PDF of 3 pages, two levels, abc copies, B5 long edge in colour", "季度报告.pdf",
            SamplePdf(3), {2, 1}, {"abc", "报告.pdf"}, "二级审批 ++-", {3, 0, 10, 12}, "");
        row("server does not answer", "kept.pdf", SamplePdf(1), {0, 0}, {"1", ""}, "无需审批 ---",
            {}, "错误|提交作业失败");
        row("file gone", "gone.pdf", QByteArray(), {0, 0}, {"1", ""}, "无需审批 ---", {},
            "错误|提交作业失败：无法读取文件“gone.pdf”。");
    }

    void mobilePrintJob()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(QList<int>, choices);
        QFETCH(QStringList, typed);
        QFETCH(QList<int>, stored);
        QFETCH(QString, box);
        const QString path = m_root.path() + '/' + file;
        QVERIFY(content.isNull() || writeFile(path, content));
        m_fileAnswers = QStringList{path, "", path};
        QString audit, names;
        m_driver.act = [&](QDialog* dialog) {
            QPushButton* ok = child<QPushButton>(dialog, "btnOK");
            QPushButton* browse = child<QPushButton>(dialog, "btnBrowse");
            QLineEdit* name = child<QLineEdit>(dialog, "lineEditDocName");
            ok->click();
            for (int i = 0; i < 2; ++i, names += name->text() + '|')
                browse->click();
            ok->click();
            browse->click();
            names += name->text();
            if (!typed[1].isEmpty())
                name->setText(typed[1]);
            child<QLineEdit>(dialog, "lineEditCopies")->setText(typed[0]);
            child<QComboBox>(dialog, "comboBoxSecretLevel")->setCurrentIndex(choices[0]);
            for (const char* box : {"comboBoxOrientation", "comboBoxColor", "comboBoxDuplex"})
                child<QComboBox>(dialog, box)->setCurrentIndex(choices[1]);
            child<QComboBox>(dialog, "comboBoxPaperSize")->setCurrentIndex(3 * choices[1]);
            audit = child<QComboBox>(dialog, "comboBoxAuditLevel")->currentText() + ' ';
            for (int l = 1; l <= 3; ++l) {
                auto* list = child<QComboBox>(dialog, QString("comboBoxAuditor%1").arg(l));
                list->setCurrentIndex(list->count() - 1);
                audit += list->isEnabled() ? '+' : '-';
            }
            ok->click();
        };
        if (box == "错误|提交作业失败")
            m_relay->forwardTo(0); // the logon went through; now every connection is closed
        const int before = uploads();
        QCOMPARE(m_flows.runMobilePrintJob(m_user.get()), box.isEmpty());
        m_relay->forwardTo(m_server.port());
        QCOMPARE(names, file + "||" + file);
        QTEST(audit, "audit");
        QCOMPARE(m_boxes.boxes.mid(0, 2), QStringList({"错误|打印参数错误，请重新选择！",
                                                       "错误|打印参数错误，请重新选择！"}));
        QCOMPARE(m_boxes.boxes.mid(2).join('\n'), box);
        QCOMPARE(m_driver.seen, QStringList{"MobileJobParamDlg"});
        QCOMPARE(uploads(), before + box.isEmpty());
        QVERIFY(content.isNull() || readFile(path) == content); // the file is only read
        if (!box.isEmpty())
            return;
        QByteArray document;
        const QByteArray record = lastUpload("mobile", &document);
        QCOMPARE(document, content);
        // The dialog's texts in UTF-8 (only a captured job's are GB18030).
        const char* levels[] = {"公开", "内部", "秘密"};
        const QString docName = typed[1].isEmpty() ? file : typed[1];
        RecordBytes expected = sessionFields(1112);
        expected.text(152, levels[choices[0]], 202, "工作资料", 714, docName.toUtf8(), 864,
                      choices[1] ? "LCD" : "PMS", 880, choices[1] ? "B5" : "A4", 930, "doc", 1010,
                      "-1");
        expected.numbers(104, {int(stored.size()) - 2}).numbers(112, stored.mid(2));
        QCOMPARE(record, expected.numbers(868, {20, stored[0], stored[1]}).data);
    }

    void copyRequest()
    {
        // Server gone: the dialog comes back as entered, also after it was closed, until it goes.
        int attempt = 0;
        QStringList layout;
        m_driver.act = [&](QDialog* dialog) {
            QLineEdit* docName = child<QLineEdit>(dialog, "lineEditDocName");
            QComboBox* useTo = child<QComboBox>(dialog, "cbUseTo");
            if (attempt++ == 0) {
                layout << QString::number(useTo->count());
                child<QPushButton>(dialog, "btnOK")->click();
                layout << QString::number(dialog->isVisible());
                for (int secret = 0; secret < 3; ++secret) {
                    child<QComboBox>(dialog, "cbSecretLevel")->setCurrentIndex(secret);
                    QString rows;
                    for (int l = 1; l <= 3; ++l) {
                        auto* box = child<QComboBox>(dialog, QString("cbAuditor%1").arg(l));
                        box->setCurrentIndex(box->count() - 1);
                        rows += box->isVisible() ? '+' : '-';
                    }
                    layout << QString("%1 %2 %3 %4")
                                  .arg(rows)
                                  .arg(dialog->height())
                                  .arg(child(dialog, "groupAuditSetting")->height())
                                  .arg(child(dialog, "btnOK")->y());
                }
                docName->setText("合同草案");
                child<QLineEdit>(dialog, "lineEditPages")->setText("12");
                child<QLineEdit>(dialog, "lineEditCopies")->setText("abc");
                child<QComboBox>(dialog, "cbColor")->setCurrentIndex(1);
                child<QComboBox>(dialog, "cbOrient")->setCurrentIndex(1);
                useTo->setCurrentIndex(2);
                child<QLineEdit>(dialog, "lineEditOtherPurpose")->setText("评审");
                useTo->setCurrentIndex(0);
                layout << QString::number(child(dialog, "lineEditOtherPurpose")->isVisible());
            } else if (docName->text() != "合同草案") {
                dialog->reject(); // not as entered: the test fails below
                return;
            }
            child<QPushButton>(dialog, attempt == 2 ? "btnCancel" : "btnOK")->click();
        };
        m_relay.reset(); // nothing listens at the session's port any more
        const int before = uploads();
        QVERIFY(!m_flows.runCopyRequest(m_user.get()));
        QCOMPARE(layout, QStringList({"3", "1", "--- 405 65 361", "+-- 440 100 396",
                                      "++- 475 135 431", "0"}));
        QCOMPARE(m_boxes.boxes,
                 QStringList({"警告|请输入文档名称。", "错误|复印申请提交失败，请重新提交。"}));
        QCOMPARE(m_driver.seen, QStringList({"CopyJobParamDlg", "CopyJobParamDlg"}));
        QCOMPARE(uploads(), before);

        relay();
        QVERIFY(m_flows.runCopyRequest(m_user.get()));
        QCOMPARE(m_driver.seen.size(), 3);
        QCOMPARE(m_boxes.boxes.size(), 2);
        RecordBytes expected = sessionFields(932);
        expected.text(152, "秘密(秘密级文件)", 202, "工作资料:评审", 714, "合同草案", 864, "LCS",
                      880, "A4");
        expected.numbers(104, {2, 0, 10, 12}).numbers(868, {640, 12, 0}); // copies "abc"
        // The request is sent without waiting for the server's answer.
        QTRY_COMPARE(lastUpload("copy"), expected.data);
    }

    void discRequest_data()
    {
        Table<QString> row("password");
        row("encrypted", "");
        row("protected by a password, not encrypted", "密码;pw");
    }

    void discRequest()
    {
        QFETCH(QString, password);
        const QString in = m_root.path() + "/disc-" + QTest::currentDataTag();
        const QList<QPair<QString, QByteArray>> files{
            {in + "/a/b/大文件.bin", pseudoRandom(200000, 1)},
            {in + "/.hidden/.h", "hidden\n"},
            {in + "/中文 名称.txt", "中文内容\n"},
            {in + "/empty", ""}};
        qint64 total = 0;
        for (const auto& [path, data] : files) {
            QVERIFY(writeFile(path, data));
            total += data.size();
        }
        m_fileAnswers = QStringList{in};
        m_driver.act = [password](QDialog* dialog) {
            child<QPushButton>(dialog, "btnAddFolder")->click();
            child<QLineEdit>(dialog, "lineEditDocName")->setText("光盘资料");
            child<QLineEdit>(dialog, "lineEditCopies")->setText("abc");
            child<QLineEdit>(dialog, "lineEditPassword")->setText(password);
            child<QComboBox>(dialog, "cbCDType")->setCurrentIndex(1);
            child<QComboBox>(dialog, "cbSecretLevel")->setCurrentIndex(2);
            child<QComboBox>(dialog, "cbUseTo")->setCurrentIndex(2);
            child<QLineEdit>(dialog, "lineEditOtherPurpose")->setText("评审");
            child<QPushButton>(dialog, "btnOK")->click();
        };
        QVERIFY(m_flows.runDiscRequest(m_user.get()));
        QCOMPARE(m_boxes.boxes, QStringList{"cd-submit|task"});
        QCOMPARE(leftInTmp(), QStringList());
        QCOMPARE(m_server.scalar("SELECT min(Finished) FROM Uploads WHERE Kind='cd'"),
                 QVariant(1LL));
        RecordBytes expected(1024);
        expected.text(34, "zhangsan", 84, "张三", 188, "秘密(秘密级文件)", 238, "其他:评审", 750,
                      "光盘资料", 800, BoundedText(m_user->ComputerName, 29), 830,
                      BoundedText(m_user->MacAddress, 19), 850, BoundedText(m_user->IPAddress, 49));
        expected.numbers(0, {int(total)}).numbers(136, {1, 2, 0, 10, 12}).numbers(968, {2});
        expected.number(912, 0); // copies "abc"
        QCOMPARE(lastUpload("cd"), expected.data);

        const QString out = in + "-out";
        QByteArray listing;
        if (!password.isEmpty()) { // the archive opens with its password only
            QCOMPARE(m_server.cdExtract(out), 1);
            QCOMPARE(m_server.cdExtract(out, {"--password", "wrong"}), 1);
            QVERIFY(!QDirIterator(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories)
                         .hasNext());
        }
        const QStringList given =
            password.isEmpty() ? QStringList() : QStringList{"--password", password};
        QCOMPARE(m_server.cdExtract(out, given, &listing), 0);
        for (const auto& [path, data] : files) {
            QCOMPARE(readFile(out + path), data); // entries keep the path without its "/"
            QVERIFY(listing.contains(QByteArray::number(data.size()) + "\t" + path.mid(1).toUtf8() +
                                     "\n"));
        }
        QCOMPARE(listing.count('\n'), files.size());
    }
};

QTEST_MAIN(TestRequests)
#include "tst_requests.moc"
