// The disc-burning request: capacity edges, the folder walk, deleting a file of 3 GiB, the
// upload's blocks, pause and cancel, a missing library, and the round trip through the
// development server's cd-extract, with the record as sent and no temporary file left behind.

#include "CDTaskDlg.h"
#include "CDTaskRules.h"
#include "DevServerProcess.h"
#include "FileDialogs.h"
#include "MessageBoxes.h"
#include "OrixUser.h"
#include "RecordBytes.h"
#include "RequestFlows.h"
#include "TavCommon.h"
#include "TestRoot.h"
#include "TextUtil.h"

#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QtTest>

#include <memory>
#include <mutex>
#include <sys/stat.h>

namespace
{

using namespace std::chrono_literals;

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

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

template <typename T> T* child(QWidget* parent, const char* name)
{
    T* widget = parent->findChild<T*>(name);
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

int modeOf(const QString& path)
{
    struct stat st;
    return lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

// The blocks a sender was given, as "type:size" words, and their bytes.
struct BlockLog {
    std::mutex mutex;
    QStringList blocks;
    QByteArray data;   // of the file blocks
    QByteArray record; // of the last type-2 block
    int failType = -1; // the block type answered with failCode
    int failCode = 0;

    CDTaskProcessing::BlockSender sender()
    {
        return [this](int type, int size, void* bytes, char* storedName) {
            std::lock_guard<std::mutex> lock(mutex);
            blocks << QStringLiteral("%1:%2").arg(type).arg(size);
            const QByteArray block(static_cast<const char*>(bytes), size);
            (type == 2 ? record : data) += block;
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
class Processing : public CDTaskProcessing
{
public:
    QList<int> reports;
    ~Processing() override { StopWorker(); }

protected:
    void Report(int value) override { reports << value; }
};

} // namespace

class TestCDTask : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    DevServerProcess m_server;
    std::unique_ptr<OrixUser> m_user; // zhangsan: secret levels 公开, 内部, 秘密
    QString m_tmp;                    // the system's temporary folder of the client
    QStringList m_boxes;              // "title|text" of every box
    QString m_chosen;                 // the answer of the file dialogs
    std::function<void(CDTaskDlg*)> m_userActs;
    QTimer m_driver;

    QStringList leftInTmp() const
    {
        return QDir(m_tmp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    void driveDialog()
    {
        CDTaskDlg* dialog = qobject_cast<CDTaskDlg*>(QApplication::activeModalWidget());
        if (!dialog || dialog->property("driven").toBool())
            return;
        dialog->setProperty("driven", true);
        m_userActs(dialog);
    }

    // Runs cd-extract on the newest disc request; its exit code, standard output in *out.
    int extract(const QString& dir, const QString& password, QByteArray* out)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList args{"cd-extract",          "--db",     m_server.dbPath(), "--storage",
                         m_server.storageDir(), "--latest", "--out",           dir};
        if (!password.isEmpty())
            args << "--password" << password;
        p.start(ORWS_DEVSERVER_PATH, args);
        if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit)
            return -1;
        *out = p.readAllStandardOutput();
        return p.exitCode();
    }

    // A shown dialog with the recording sender, one file and a document name.
    std::unique_ptr<CDTaskDlg> readyDialog(BlockLog& log, const QString& file, CDTaskInfo* task)
    {
        std::unique_ptr<CDTaskDlg> dialog(new CDTaskDlg);
        dialog->SetBlockSender(log.sender());
        dialog->SetUser(m_user.get());
        dialog->SetTask(task);
        dialog->show();
        dialog->AddFileIntoTree(file);
        child<QLineEdit>(dialog.get(), "lineEditDocName")->setText("资料");
        return dialog;
    }

private slots:
    void initTestCase()
    {
        m_root.writeConfig("[Main%20Window]\n2015=\"工作资料;会议材料;其他\"\n"
                           "[OPTION]\nCDPassword=1\n");
        const QString folder = m_root.programFolder();
        QVERIFY(QFile::copy(ORIX_DISC_ZIP_PATH, folder + "libminizip.so"));
        QVERIFY(QFile::copy(ORIX_DISC_CODEC_PATH, folder + "revududir.so"));
        m_tmp = m_root.path() + "/tmp";
        QVERIFY(QDir().mkpath(m_tmp));
        qputenv("TMPDIR", QFile::encodeName(m_tmp));

        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_user.reset(new OrixUser);
        CopyText(m_user->ServerAddress, sizeof m_user->ServerAddress, "127.0.0.1");
        CopyText(m_user->UserName, sizeof m_user->UserName, "zhangsan");
        CopyText(m_user->Password, sizeof m_user->Password, kSeedPasswordDigest);
        CopyText(m_user->RpcPort, sizeof m_user->RpcPort,
                 QByteArray::number(m_server.port()).constData());
        QCOMPARE(m_user->Logon(), 0);

        auto record = [this](QWidget*, const QString& title, const QString& text) {
            m_boxes << title + '|' + text;
        };
        MessageBoxes::setInformationHook(record);
        MessageBoxes::setWarningHook(record);
        MessageBoxes::setOkCancelHook([this](QWidget*, const QString& title, const QString& text) {
            m_boxes << title + '|' + text;
            return true;
        });
        FileDialogs::setHook(
            [this](QWidget*, const QString&, const QString&, const QString&) { return m_chosen; });
        connect(&m_driver, &QTimer::timeout, this, &TestCDTask::driveDialog);
        m_driver.start(10);
        CDTaskProcessing::SetInterval(0ms);
    }

    void cleanupTestCase()
    {
        MessageBoxes::setInformationHook({});
        MessageBoxes::setWarningHook({});
        MessageBoxes::setOkCancelHook({});
        FileDialogs::setHook({});
    }

    void init() { m_boxes.clear(); }

    void capacityAndTotal_data()
    {
        QTest::addColumn<int>("discType");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<bool>("exceeds");
        QTest::addColumn<QString>("shown");
        const qint64 mb = 1048576;
        QTest::newRow("CD: 650 MB and 1048575 bytes") << 1 << 650 * mb + mb - 1 << false << "651";
        QTest::newRow("CD: 651 MB") << 1 << 651 * mb << true << "651";
        QTest::newRow("DVD: 4300 MB and a half") << 2 << 4300 * mb + mb / 2 << false << "4300.5";
        QTest::newRow("DVD: 4301 MB") << 2 << 4301 * mb << true << "4301";
        QTest::newRow("BDVD: 27000000 MB and 1048575 bytes")
            << 3 << 27000000 * mb + mb - 1 << false << "2.7e+07";
        QTest::newRow("BDVD: 27000001 MB") << 3 << 27000001 * mb << true << "2.7e+07";
        QTest::newRow("1.5 MB") << 1 << 3 * mb / 2 << false << "1.5";
        QTest::newRow("1234567 MB") << 3 << 1234567 * mb << false << "1.23457e+06";
    }

    void capacityAndTotal()
    {
        QFETCH(int, discType);
        QFETCH(qint64, total);
        QTEST(CDTaskRules::ExceedsCapacity(discType, total), "exceeds");
        QTEST(CDTaskRules::MegabyteText(total), "shown");
    }

    void fileList()
    {
        // A path longer than the free part makes the buffer grow to hold it whole.
        const QStringList paths{"/home/张三/文档/报告.pdf", "/a/" + QString(1500, 'x'), "/b"};
        const QByteArray expected = paths.join(QChar(0)).toUtf8() + QByteArray(2, '\0');
        const std::vector<char> list = CDTaskRules::FileList(paths);
        QCOMPARE(list.size(), size_t(2048));
        QCOMPARE(QByteArray(list.data(), expected.size()), expected);
    }

    void folderWalkAndDelete()
    {
        // Nested, hidden and empty folders, links to a file and a folder, a sparse 3 GiB file.
        const QString in = m_root.path() + "/walk";
        QVERIFY(writeFile(in + "/a/b/one", "one"));
        QVERIFY(writeFile(in + "/.hidden/.h", "hidden"));
        QVERIFY(writeFile(in + "/中文.txt", "中文"));
        QVERIFY(QDir().mkpath(in + "/empty"));
        QFile big(in + "/big.bin");
        const qint64 bigSize = 3LL << 30;
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(bigSize));
        big.close();
        QVERIFY(QFile::link(in + "/a/b/one", in + "/link"));
        QVERIFY(QFile::link(in + "/a", in + "/folderlink"));

        CDTaskInfo record{};
        CDTaskDlg dialog;
        dialog.SetUser(m_user.get());
        dialog.SetTask(&record);
        dialog.show();
        QPushButton* ok = child<QPushButton>(&dialog, "btnOK");
        ok->click(); // no file and no name: the files come first
        m_chosen = in;
        child<QPushButton>(&dialog, "btnAddFolder")->click();
        m_chosen = in + "/a/b/one";
        child<QPushButton>(&dialog, "btnAddFile")->click(); // a second row for the same file
        QTreeView* view = child<QTreeView>(&dialog, "treeViewFiles");
        auto* model = static_cast<QStandardItemModel*>(view->model());
        QStringList rows;
        for (int r = 0; r < model->rowCount(); ++r)
            rows << model->item(r, 0)->text().mid(in.size()) + ' ' + model->item(r, 1)->text();
        rows.sort();
        QCOMPARE(rows, QStringList({"/.hidden/.h 6", "/a/b/one 3", "/a/b/one 3",
                                    "/big.bin " + QString::number(bigSize), "/中文.txt 6"}));
        QLineEdit* shown = child<QLineEdit>(&dialog, "lineEditTotalBytes");
        QCOMPARE(dialog.selectedTotal(), bigSize + 18);
        QCOMPARE(shown->text(), QString("3072"));

        ok->click();
        child<QLineEdit>(&dialog, "lineEditDocName")->setText("光盘");
        ok->click(); // 3 GiB do not fit a CD
        QCOMPARE(m_boxes, QStringList({"警告|请选择要刻录的文件。", "警告|请输入文档名称。",
                                       "警告|文件大小超过光盘类型的容量，请重新选择。"}));
        QCOMPARE(QByteArray(reinterpret_cast<char*>(&record), 1024), QByteArray(1024, '\0'));

        // Each delete takes its row's whole size off; without a current row nothing goes.
        auto removeRow = [&](const QString& suffix) {
            for (int r = 0; r < model->rowCount(); ++r) {
                if (model->item(r, 0)->text().endsWith(suffix)) {
                    view->setCurrentIndex(model->index(r, 0));
                    child<QPushButton>(&dialog, "btnDelete")->click();
                    return;
                }
            }
        };
        removeRow("/big.bin");
        QCOMPARE(dialog.selectedTotal(), qint64(18));
        removeRow("/one");
        QCOMPARE(dialog.selectedTotal(), qint64(15));
        QCOMPARE(shown->text(), CDTaskRules::MegabyteText(15));
        view->setCurrentIndex(QModelIndex());
        child<QPushButton>(&dialog, "btnDelete")->click();
        QCOMPARE(model->rowCount(), 3);
        QCOMPARE(dialog.selectedTotal(), qint64(15));
        dialog.reject();
        QVERIFY(!dialog.isVisible());
    }

    void uploadBlocks_data()
    {
        QTest::addColumn<int>("size"); // of the file to upload; -1: none
        QTest::addColumn<int>("failType");
        QTest::addColumn<int>("failCode");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("blocks");
        QTest::newRow("empty file") << 0 << -1 << 0 << 0 << "0:0 2:1024";
        QTest::newRow("one byte") << 1 << -1 << 0 << 0 << "0:1 2:1024";
        QTest::newRow("65536 bytes: an empty block follows")
            << 65536 << -1 << 0 << 0 << "0:65536 1:0 2:1024";
        QTest::newRow("65537 bytes") << 65537 << -1 << 0 << 0 << "0:65536 1:1 2:1024";
        QTest::newRow("a later block refused") << 65537 << 1 << 12 << -23 << "0:65536 1:1";
        QTest::newRow("the record refused") << 10 << 2 << 28 << -23 << "0:10 2:1024";
        QTest::newRow("no file") << -1 << -1 << 0 << -21 << "";
    }

    void uploadBlocks()
    {
        QFETCH(int, size);
        BlockLog log;
        QFETCH(int, failType);
        QFETCH(int, failCode);
        log.failType = failType;
        log.failCode = failCode;
        Processing processing;
        processing.SetBlockSender(log.sender());
        const QString path = m_root.path() + "/upload.bin";
        QFile::remove(path);
        const QByteArray content = pseudoRandom(std::max(size, 0), 7);
        if (size >= 0)
            QVERIFY(writeFile(path, content));
        QByteArray nativePath = QFile::encodeName(path);

        QTEST(processing.UploadCDTask(nativePath.data()), "result");
        QTEST(log.blocks.join(' '), "blocks");
        if (size < 0) {
            QCOMPARE(processing.LastError(), "open fail:" + nativePath + " ");
            return;
        }
        QCOMPARE(log.data, content.left(log.data.size()));
        if (failType < 0) {
            QCOMPARE(log.record, QByteArray(1024, '\0'));
            // No percentage without a size, never one above 100.
            QCOMPARE(processing.reports.isEmpty(), size == 0);
            QVERIFY(processing.reports.isEmpty() || processing.reports.last() == 100);
        }
    }

    void pauseHoldsEveryBlockAndCancelRejects()
    {
        CDTaskProcessing::SetInterval(50ms);
        const QString file = m_root.path() + "/pause/data.bin";
        QVERIFY(writeFile(file, pseudoRandom(1 << 20, 3))); // about 17 blocks
        BlockLog log;
        CDTaskInfo task{};
        std::unique_ptr<CDTaskDlg> dialog = readyDialog(log, file, &task);
        QPushButton* pause = child<QPushButton>(dialog.get(), "btnPause");
        QVERIFY(!pause->isVisible());
        child<QPushButton>(dialog.get(), "btnOK")->click();
        QVERIFY(pause->isVisible());
        QTRY_VERIFY(log.count() >= 2);

        // The upload's file lives in a private folder of its own.
        const QStringList work = leftInTmp();
        QCOMPARE(work.size(), 1);
        QCOMPARE(modeOf(m_tmp + '/' + work.first()), 0700);
        QCOMPARE(modeOf(m_tmp + '/' + work.first() + "/cd.dat"), 0600);

        pause->click();
        QCOMPARE(pause->text(), QString("继续"));
        QTest::qWait(60); // a block already read when the button was clicked
        const int held = log.count();
        QTest::qWait(400); // eight intervals
        QCOMPARE(log.count(), held);
        QTRY_VERIFY(pause->isEnabled());
        pause->click();
        QCOMPARE(pause->text(), QString("暂停"));
        QTRY_VERIFY(log.count() > held + 1);

        child<QPushButton>(dialog.get(), "btnCancel")->click();
        QTRY_VERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(m_boxes,
                 QStringList({"警告|作业正在处理中，确定取消？", "Error|处理刻录作业错误:-25,"}));
        QVERIFY(!log.blocks.join(' ').contains("2:"));
        QCOMPARE(leftInTmp(), QStringList());
        CDTaskProcessing::SetInterval(0ms);
    }

    void missingLibraryThenRefusedRecord()
    {
        // Without the compression library the box tells the loader's message and the dialog
        // stays open, idle. Once the library is back, OK starts again; a record the server
        // refuses is a failure, and the dialog closes rejected (no "cd-submit").
        const QString library = m_root.programFolder() + "libminizip.so";
        QVERIFY(QFile::rename(library, library + ".away"));
        const QString file = m_root.path() + "/missing/data.txt";
        QVERIFY(writeFile(file, "data"));
        BlockLog log;
        log.failType = 2;
        log.failCode = 28;
        CDTaskInfo task{};
        std::unique_ptr<CDTaskDlg> dialog = readyDialog(log, file, &task);
        QPushButton* ok = child<QPushButton>(dialog.get(), "btnOK");
        ok->click();
        QTRY_VERIFY(ok->isEnabled());
        QCOMPARE(m_boxes.size(), 1);
        QVERIFY2(m_boxes.first().startsWith("Error|处理刻录作业错误:-1,") &&
                     m_boxes.first().contains("libminizip.so: cannot open shared object file"),
                 qPrintable(m_boxes.first()));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->State(), int(CDTaskProcessing::kIdle));
        QCOMPARE(child<QLabel>(dialog.get(), "labelProgress")->text(), QString("压缩文件……………"));
        QCOMPARE(log.count(), 0);
        QCOMPARE(leftInTmp(), QStringList());

        QVERIFY(QFile::rename(library + ".away", library));
        ok->click();
        QTRY_VERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QCOMPARE(m_boxes.value(1), QString("Error|处理刻录作业错误:-23,record: 28"));
        QCOMPARE(log.blocks.last(), QString("2:1024"));
        QCOMPARE(child<QLabel>(dialog.get(), "labelProgress")->text(),
                 QString("压缩文件……………加密文件……………上传作业……………"));
        QCOMPARE(leftInTmp(), QStringList());
    }

    void roundTrip_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("encrypted") << QString();
        QTest::newRow("protected by a password, not encrypted") << QString("密码;pw");
    }

    void roundTrip()
    {
        QFETCH(QString, password);
        const QString in = m_root.path() + (password.isEmpty() ? "/round-dat" : "/round-zip");
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
        m_chosen = in;
        m_userActs = [password](CDTaskDlg* dialog) {
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
        RequestFlows flows;
        QVERIFY(flows.runDiscRequest(m_user.get()));
        QCOMPARE(m_boxes, QStringList{"cd-submit|task"});
        QCOMPARE(leftInTmp(), QStringList());

        const QVariantList row =
            m_server
                .query("SELECT RecordPath, Finished FROM Uploads WHERE Kind='cd' ORDER BY "
                       "UploadID DESC LIMIT 1")
                .value(0);
        QCOMPARE(row.value(1).toInt(), 1);
        const OrixUser& user = *m_user;
        const RecordBytes expected = RecordBytes(1024)
                                         .number(0, static_cast<int>(total))
                                         .text(34, "zhangsan")
                                         .text(84, "张三")
                                         .numbers(136, {1, 2, 0, 10, 12})
                                         .text(188, "秘密(秘密级文件)")
                                         .text(238, "其他:评审")
                                         .text(750, "光盘资料")
                                         .text(800, BoundedText(user.ComputerName, 29))
                                         .text(830, BoundedText(user.MacAddress, 19))
                                         .text(850, BoundedText(user.IPAddress, 49))
                                         .number(912, 0) // copies "abc"
                                         .number(968, 2);
        QCOMPARE(readFile(row.value(0).toString()), expected.data);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&flows.discTask()), 1024), expected.data);

        const QString out = in + "-out";
        QByteArray listing;
        if (!password.isEmpty()) { // the archive opens with its password only
            QCOMPARE(extract(out, QString(), &listing), 1);
            QCOMPARE(extract(out, "wrong", &listing), 1);
            QVERIFY(!QDirIterator(out, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories)
                         .hasNext());
        }
        QCOMPARE(extract(out, password, &listing), 0);
        for (const auto& [path, data] : files) {
            QCOMPARE(readFile(out + path), data); // entries keep the path without its "/"
            QVERIFY(listing.contains(QByteArray::number(data.size()) + "\t" + path.mid(1).toUtf8() +
                                     "\n"));
        }
        QCOMPARE(listing.count('\n'), files.size());
    }
};

QTEST_MAIN(TestCDTask)
#include "tst_cdtask.moc"
