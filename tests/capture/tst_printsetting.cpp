// The print settings dialog: the printer list reply and the secret level
// table as the server sends them, then the dialog itself for a user logged
// on to the development server (zhaoliu: four secret levels with 0 to 3
// approval levels, two printers of the server's five) through a relay that
// can fail the upload: lists, resizing, the card-swipe entry, print way 2,
// project printing, a missing auditor, and the records that reach the
// server.

#include "DevServerProcess.h"
#include "MessageBoxes.h"
#include "OrixUser.h"
#include "PrintSettingDlg.h"
#include "PrintSettingModel.h"
#include "RawHttpServer.h"
#include "TavAuditFlow.h"
#include "TavCommon.h"
#include "TestRoot.h"
#include "TextUtil.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>
#include <vector>

namespace
{

QByteArray gbk(const char* utf8)
{
    return UTF82GBK(utf8);
}

QStringList repeated(const QString& text, int n)
{
    QStringList list;
    while (list.size() < n)
        list << text;
    return list;
}

QStringList items(const QComboBox* box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

// The form's numbers the layout follows: the audit group's top once the
// purpose line is gone, its rows, the project group and the dialog.
constexpr int kAuditTop = 244, kRow = 30, kAuditHeight = 176, kProjectHeight = 56,
              kDialogHeight = 590;

enum Result { NotSubmitted, Submitted, Refused, Failed };

} // namespace

class TestPrintSetting : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    DevServerProcess m_server;
    RawHttpServer m_relay;
    std::unique_ptr<OrixUser> m_user;
    QStringList m_boxes;
    QString m_document, m_options;
    QByteArray m_documentBytes;

    std::unique_ptr<PrintSettingDlg> openDialog(int* shown)
    {
        m_boxes.clear();
        auto dialog = std::make_unique<PrintSettingDlg>();
        dialog->setUser(m_user.get());
        dialog->setJobPaths(m_document, m_options);
        *shown = dialog->displayDialog();
        if (*shown)
            dialog->show();
        return dialog;
    }
    template <typename T> static T* child(QWidget* dialog, const char* name)
    {
        T* w = dialog->findChild<T*>(name);
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    qlonglong uploads() const
    {
        return m_server.scalar("SELECT count(*) FROM Uploads").toLongLong();
    }

private slots:
    void initTestCase()
    {
        MessageBoxes::setInformationHook(
            [this](QWidget*, const QString& title, const QString& text) {
                m_boxes << title + '|' + text;
            });
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_relay.forwardTo(m_server.port());
        m_user.reset(new OrixUser);
        OrixUser& user = *m_user;
        CopyText(user.ServerAddress, sizeof user.ServerAddress, "127.0.0.1");
        CopyText(user.RpcPort, sizeof user.RpcPort, m_relay.portText().constData());
        CopyText(user.UserName, sizeof user.UserName, "zhaoliu");
        CopyText(user.Password, sizeof user.Password, kSeedPasswordDigest);
        QCOMPARE(user.Logon(), 0);
        QCOMPARE(user.AuditFlow.Secrets.size(), 4);

        // A document of two upload blocks and the options the printer writes.
        m_document = m_root.path() + "/job.pdf";
        m_options = m_root.path() + "/options";
        m_documentBytes = QByteArray("%PDF-1.4\n") + QByteArray(150000, 'd');
        QFile document(m_document), options(m_options);
        QVERIFY(document.open(QIODevice::WriteOnly) &&
                document.write(m_documentBytes) == m_documentBytes.size());
        QVERIFY(options.open(QIODevice::WriteOnly));
        options.write("copies=4 job-impressions=12 PageSize=A3 Duplex=DuplexTumble "
                      "ColorModel=RGB title=\"报告 2024.docx\"\n");
    }
    void cleanupTestCase() { MessageBoxes::setInformationHook({}); }

    // The logon's settings, changed by some cases.
    void init()
    {
        m_user->PrintWay = 1;
        m_user->IsSupportCostControl = false;
        m_user->IsSupportProject = false;
        m_user->PayerType = 1;
        m_relay.forwardTo(m_server.port());
    }

    void printerList_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("printWay");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<bool>("enabled");
        const QString swipe = QString::fromUtf8(kCardSwipeEntry);
        QTest::newRow("two of five")
            << QByteArray("5\0A\0B\0\0", 7) << 1 << QStringList{swipe, "A", "B"} << true;
        QTest::newRow("print way 2: no card swipe")
            << QByteArray("5\0A\0B\0\0", 7) << 2 << QStringList{"A", "B"} << true;
        QTest::newRow("every printer: card swipe only")
            << QByteArray("2\0A\0B\0\0", 7) << 1 << QStringList{swipe} << false;
        QTest::newRow("no name") << QByteArray("3\0\0", 3) << 1 << QStringList{swipe} << false;
        QTest::newRow("GBK names")
            << QByteArray("4\0", 2) + gbk("一楼复印机") + QByteArray("\0\0", 2) << 1
            << QStringList{swipe, "一楼复印机"} << true;
        // Odd sizes: the last terminator (or more) is missing.
        QTest::newRow("name up to the end")
            << QByteArray("5\0", 2) + gbk("3楼") << 1 << QStringList{swipe, "3楼"} << true;
        QTest::newRow("one byte left is no name")
            << QByteArray("5\0A\0B", 5) << 1 << QStringList{swipe, "A"} << true;
        QTest::newRow("total not a number")
            << QByteArray("x\0A\0\0", 5) << 1 << QStringList{swipe} << false;
        QTest::newRow("empty reply") << QByteArray() << 1 << QStringList{swipe} << false;
    }

    void printerList()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, printWay);
        // Exactly the reply's bytes on the heap: a read past them is caught
        // by the sanitizer build.
        std::vector<char> bytes(reply.begin(), reply.end());
        const PrinterChoices choices =
            BuildPrinterChoices(ParsePrinterList(bytes.data(), bytes.size()), printWay);
        QTEST(choices.Items, "items");
        QTEST(choices.Enabled, "enabled");
    }

    void secretLevels_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QStringList>("entries"); // name|second
        QTest::addColumn<int>("secretLevel");
        QTest::addColumn<QStringList>("items");
        const QStringList four{"公开|", "内部|项目内部", "秘密|", "机密|"};
        QTest::newRow("cut at the user's level")
            << 4 << four << 2 << QStringList{"公开", "内部(项目内部)"};
        QTest::newRow("all") << 4 << four << 9
                             << QStringList{"公开", "内部(项目内部)", "秘密", "机密"};
        QTest::newRow("level 0") << 4 << four << 0 << QStringList();
        QTest::newRow("empty name left out")
            << 3 << QStringList{"公开|", "|", "秘密|"} << 3 << QStringList{"公开", "秘密"};
        QTest::newRow("count beyond the block")
            << 1000 << repeated("x|", 12) << 1000 << repeated("x", 11);
        QTest::newRow("negative count") << -1 << four << 4 << QStringList();
    }

    void secretLevels()
    {
        QFETCH(int, count);
        QFETCH(QStringList, entries);
        QFETCH(int, secretLevel);
        std::vector<unsigned char> block(TavUserRecord::kUserInfoExSize, 0);
        memcpy(block.data(), &count, 4);
        for (int i = 0; i < entries.size() && 4 + (i + 1) * 364 <= int(block.size()); ++i) {
            char* entry = reinterpret_cast<char*>(block.data()) + 4 + i * 364;
            CopyText(entry, 50, gbk(entries[i].section('|', 0, 0).toUtf8()).constData());
            CopyText(entry + 50, 50, gbk(entries[i].section('|', 1).toUtf8()).constData());
        }
        QTEST(SecretLevelItems(block.data(), block.size(), secretLevel), "items");
    }

    // Secret levels with 0 to 3 approval levels: the audit rows shown and
    // the dialog shrunk by the rows not needed (project group hidden).
    void levels_data()
    {
        // 黄退休 is inactive: the server answers no name, the entry stays.
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("levelText");
        QTest::addColumn<QStringList>("auditors"); // one "a,b" per visible list
        QTest::newRow("公开: none") << 0 << "无需审批" << QStringList();
        QTest::newRow("内部: one") << 1 << "一级审批" << QStringList{"钱审批,冯主任"};
        // zhaoliu himself is not offered; zhangsan (1) is.
        QTest::newRow("秘密: two") << 2 << "二级审批" << QStringList{"钱审批,张三", "刘经理"};
        QTest::newRow("机密: three")
            << 3 << "三级审批" << QStringList{"钱审批", "冯主任", "刘经理,"};
    }

    void levels()
    {
        QFETCH(int, index);
        QFETCH(QStringList, auditors);
        int shown = 0;
        auto dialog = openDialog(&shown);
        QVERIFY(shown);
        QCOMPARE(items(child<QComboBox>(dialog.get(), "comboBoxSecretLevel")),
                 (QStringList{"公开(可对外公开)", "内部(仅限内部使用)", "秘密(秘密级文件)",
                              "机密(机密级文件)"}));
        QCOMPARE(items(child<QComboBox>(dialog.get(), "comboBoxUseTo")),
                 (QStringList{"不归还", "归还"}));
        QVERIFY(child<QLineEdit>(dialog.get(), "lineEditOtherPurpose")->isHidden());
        QCOMPARE(items(child<QComboBox>(dialog.get(), "comboBoxAuditPath")),
                 QStringList{"行政审批"});
        child<QComboBox>(dialog.get(), "comboBoxSecretLevel")->setCurrentIndex(index);

        QTEST(child<QComboBox>(dialog.get(), "comboBoxAuditLevel")->currentText(), "levelText");
        QStringList visible;
        for (const char* name : {"comboBoxAuditor1", "comboBoxAuditor2", "comboBoxAuditor3"}) {
            QComboBox* list = child<QComboBox>(dialog.get(), name);
            if (list->isVisible())
                visible << items(list).join(',');
        }
        QCOMPARE(visible, auditors);
        const int levels = auditors.size();
        QCOMPARE(child<QGroupBox>(dialog.get(), "groupBoxAuditSetting")->geometry(),
                 QRect(25, kAuditTop, 510, kAuditHeight - kRow * (3 - levels)));
        QCOMPARE(child<QPushButton>(dialog.get(), "Btn_OK_Print")->y(),
                 (levels + 2) * kRow + kAuditTop + 60);
        QCOMPARE(dialog->height(), kDialogHeight - kRow * (3 - levels) - kProjectHeight);
        QVERIFY(child<QGroupBox>(dialog.get(), "groupBoxProjectSetting")->isHidden());
        QVERIFY(child<QCheckBox>(dialog.get(), "CheckProjectPrint")->isHidden());
    }

    void printers_data()
    {
        QTest::addColumn<int>("printWay");
        QTest::addColumn<QString>("sql"); // run before, undone after
        QTest::addColumn<QString>("undo");
        QTest::addColumn<QStringList>("items"); // empty: the dialog is not shown
        QTest::addColumn<bool>("enabled");
        const QString swipe = QString::fromUtf8(kCardSwipeEntry);
        QTest::newRow("his two printers after card swipe")
            << 1 << ""
            << "" << QStringList{swipe, "研发部彩色打印机", "一楼复印机"} << true;
        QTest::newRow("print way 2") << 2 << ""
                                     << "" << QStringList{"研发部彩色打印机", "一楼复印机"} << true;
        QTest::newRow("every printer: card swipe only")
            << 1
            << "INSERT INTO UserPrinters (UserID, PrinterID, Position) "
               "SELECT 4, PrinterID, 9 FROM Printers WHERE PrinterID NOT IN (1, 3)"
            << "DELETE FROM UserPrinters WHERE UserID = 4 AND Position = 9" << QStringList{swipe}
            << false;
        QTest::newRow("no printer: not shown")
            << 1 << "UPDATE UserPrinters SET UserID = -4 WHERE UserID = 4"
            << "UPDATE UserPrinters SET UserID = 4 WHERE UserID = -4" << QStringList() << false;
    }

    void printers()
    {
        QFETCH(int, printWay);
        QFETCH(QString, sql);
        QFETCH(QString, undo);
        QFETCH(QStringList, items);
        m_user->PrintWay = printWay;
        QString error;
        if (!sql.isEmpty())
            m_server.query(sql, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        int shown = 0;
        auto dialog = openDialog(&shown);
        if (!undo.isEmpty())
            m_server.query(undo);
        if (items.isEmpty()) {
            QCOMPARE(shown, 0);
            QCOMPARE(m_boxes, QStringList{"错误|用户没有可以使用的打印机"});
            return;
        }
        QVERIFY(shown);
        QComboBox* printers = child<QComboBox>(dialog.get(), "comboBoxPrintersList");
        QCOMPARE(::items(printers), items);
        QTEST(printers->isEnabled(), "enabled");
    }

    // Project billing: the check box shows and hides the project group and
    // decides who pays; project billing without a project is refused.
    void projectPrinting()
    {
        m_user->IsSupportProject = true;
        m_user->PayerType = 4;
        int shown = 0;
        auto dialog = openDialog(&shown);
        QVERIFY(shown);
        QGroupBox* project = child<QGroupBox>(dialog.get(), "groupBoxProjectSetting");
        QCheckBox* check = child<QCheckBox>(dialog.get(), "CheckProjectPrint");
        QCOMPARE(items(child<QComboBox>(dialog.get(), "comboBoxProjectName")),
                 (QStringList{"研发部公用", "赵六个人账户"}));
        QVERIFY(project->isVisible() && check->isVisible() && check->isChecked());
        // The first secret level needs no approval: three rows fewer.
        QCOMPARE(dialog->height(), kDialogHeight - 3 * kRow);
        QCOMPARE(project->y(), 2 * kRow + kAuditTop + 40);

        check->click();
        QVERIFY(!project->isVisible());
        QVERIFY(!m_user->IsSupportProject);
        QCOMPARE(dialog->height(), kDialogHeight - 3 * kRow - kProjectHeight);
        check->click();
        QVERIFY(project->isVisible() && m_user->IsSupportProject);
        QCOMPARE(dialog->height(), kDialogHeight - 3 * kRow);
        QVERIFY(check->y() > project->y() + project->height());

        // Cost control lists the projects without the check box.
        m_user->IsSupportCostControl = true;
        dialog = openDialog(&shown);
        QVERIFY(shown);
        QVERIFY(child<QGroupBox>(dialog.get(), "groupBoxProjectSetting")->isVisible());
        QVERIFY(child<QCheckBox>(dialog.get(), "CheckProjectPrint")->isHidden());
        QVERIFY(child<QPushButton>(dialog.get(), "Btn_OK_Print")->y() >
                child<QGroupBox>(dialog.get(), "groupBoxProjectSetting")->geometry().bottom());

        const int payers = m_user->PayerCount;
        m_user->PayerCount = 0;
        dialog = openDialog(&shown);
        m_user->PayerCount = payers;
        QCOMPARE(shown, 0);
        QCOMPARE(m_boxes, QStringList{"错误|用户未配置项目名称,请配置好再提交作业"});
    }

    // "确定" with the choices of a row; what reaches the server.
    void submit_data()
    {
        QTest::addColumn<int>("secret");
        QTest::addColumn<int>("printer");
        QTest::addColumn<QList<int>>("picks"); // index chosen in each auditor list
        QTest::addColumn<int>("printWay");
        QTest::addColumn<int>("project");    // chosen project under cost control; -1 none
        QTest::addColumn<int>("emptyLevel"); // the secret's level whose list is emptied; -1
        QTest::addColumn<bool>("uploadFails");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("box");      // prefix of the one box shown
        QTest::addColumn<QString>("auditors"); // as stored
        QTest::addColumn<QString>("printerName");
        QTest::newRow("no approval, card swipe")
            << 0 << 0 << QList<int>() << 1 << -1 << -1 << false << int(Submitted) << ""
            << ""
            << "";
        QTest::newRow("three levels, a printer")
            << 3 << 2 << QList<int>{0, 0, 1} << 1 << -1 << -1 << false << int(Submitted) << ""
            << "10,11,13"
            << "一楼复印机";
        QTest::newRow("print way 2: the first printer names none")
            << 1 << 0 << QList<int>{1} << 2 << -1 << -1 << false << int(Submitted) << ""
            << "11"
            << "";
        QTest::newRow("missing auditor: the dialog stays")
            << 2 << 0 << QList<int>{0} << 1 << -1 << 1 << false << int(NotSubmitted)
            << "错误|审批人不能为空！"
            << ""
            << "";
        QTest::newRow("quota refused: 12 pages on 1 yuan")
            << 0 << 0 << QList<int>() << 1 << 1 << -1 << false << int(Refused)
            << "错误|余额不足，无法提交作业！请联系管理员进行充值！"
            << ""
            << "";
        QTest::newRow("upload fails") << 0 << 0 << QList<int>() << 1 << -1 << -1 << true
                                      << int(Failed) << "错误|提交作业失败\n"
                                      << ""
                                      << "";
    }

    void submit()
    {
        QFETCH(int, secret);
        QFETCH(int, printer);
        QFETCH(QList<int>, picks);
        QFETCH(int, project);
        QFETCH(int, emptyLevel);
        QFETCH(int, result);
        QFETCH(QString, box);
        QFETCH(int, printWay);
        QFETCH(QString, printerName);
        QFETCH(QString, auditors);
        m_user->PrintWay = printWay;
        if (project >= 0) {
            m_user->IsSupportCostControl = true;
            m_user->IsSupportProject = true;
            m_user->PayerType = 4;
        }
        TavAuditorArray* emptied = nullptr;
        int emptiedCount = 0;
        if (emptyLevel >= 0) {
            emptied = &m_user->AuditFlow.Secrets[secret].Auditors[emptyLevel];
            emptiedCount = emptied->Count;
            emptied->Count = 0;
        }
        int shown = 0;
        auto dialog = openDialog(&shown);
        QVERIFY(shown);
        QFETCH(bool, uploadFails);
        if (uploadFails)
            m_relay.forwardTo(0); // connections closed without an answer
        child<QComboBox>(dialog.get(), "comboBoxSecretLevel")->setCurrentIndex(secret);
        child<QComboBox>(dialog.get(), "comboBoxPrintersList")->setCurrentIndex(printer);
        if (project >= 0)
            child<QComboBox>(dialog.get(), "comboBoxProjectName")->setCurrentIndex(project);
        const char* lists[] = {"comboBoxAuditor1", "comboBoxAuditor2", "comboBoxAuditor3"};
        for (int i = 0; i < picks.size(); ++i)
            child<QComboBox>(dialog.get(), lists[i])->setCurrentIndex(picks[i]);
        const qlonglong before = uploads();
        child<QPushButton>(dialog.get(), "Btn_OK_Print")->click();
        if (emptied)
            emptied->Count = emptiedCount;

        QCOMPARE(int(dialog->submitResult()), result);
        QCOMPARE(dialog->isVisible(), result == NotSubmitted);
        if (box.isEmpty()) {
            QCOMPARE(m_boxes, QStringList());
        } else {
            QCOMPARE(m_boxes.size(), 1);
            QVERIFY2(m_boxes.first().startsWith(box), qPrintable(m_boxes.first()));
        }
        if (result != Submitted) {
            QCOMPARE(uploads(), before);
            return;
        }

        // The record and the document exactly as the server stored them.
        const QVariantList upload =
            m_server
                .query("SELECT RecordPath, DataPath, StoredName FROM Uploads "
                       "ORDER BY UploadID DESC LIMIT 1")
                .value(0);
        QCOMPARE(uploads(), before + 1);
        QFile recordFile(upload.value(0).toString()), data(upload.value(1).toString());
        QVERIFY(recordFile.open(QIODevice::ReadOnly) && data.open(QIODevice::ReadOnly));
        const QByteArray bytes = recordFile.readAll();
        QCOMPARE(bytes.size(), int(sizeof(MobilePrintTaskInfo)));
        QVERIFY(data.readAll() == m_documentBytes);
        MobilePrintTaskInfo r;
        memcpy(&r, bytes.constData(), sizeof r);
        QCOMPARE(QByteArray(r.UserName), QByteArray("zhaoliu"));
        QCOMPARE(r.UserID, 4);
        QCOMPARE(GBK2UTF8(r.UserFullName), QString("赵六"));
        const QString secretText =
            child<QComboBox>(dialog.get(), "comboBoxSecretLevel")->itemText(secret);
        QCOMPARE(GBK2UTF8(r.SecretLevel), secretText);
        QCOMPARE(GBK2UTF8(r.Purpose), QString("不归还"));
        QCOMPARE(GBK2UTF8(r.DocName), QString("报告 2024.docx"));
        QCOMPARE(GBK2UTF8(r.PrinterName), printerName);
        QCOMPARE(r.Copies, 4);
        QCOMPARE(r.PageCount, 3);
        QCOMPARE(QByteArray(r.PaperSize), QByteArray("A3"));
        QCOMPARE(r.DuplexMode, 'H');
        QCOMPARE(r.ColorMode, 'C');
        QCOMPARE(r.Orientation, 'P');
        QCOMPARE(r.JobState, 20);
        QCOMPARE(QByteArray(r.DocType), QByteArray("pdf"));
        QCOMPARE(QByteArray(r.PageRange), QByteArray("-1"));
        QVERIFY(QByteArray(r.JobFileName).endsWith(".tavprint"));
        QCOMPARE(m_server
                     .scalar("SELECT AuditorIDs FROM PrintProcTask WHERE SPLFileName = '" +
                             upload.value(2).toString() + "'")
                     .toString(),
                 auditors);
    }
};

QTEST_MAIN(TestPrintSetting)
#include "tst_printsetting.moc"
