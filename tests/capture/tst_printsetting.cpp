// The print settings dialog: the server's printer list and secret level table, then the dialog
// for zhaoliu logged on to the development server through a relay that can fail the upload.

#include "DevServerProcess.h"
#include "PrintSettingDlg.h"
#include "RawHttpServer.h"
#include "SessionTestKit.h"
#include "TavAuditFlow.h"
#include "TavCommon.h"
#include "TestRoot.h"

#include <QtTest>

#include <memory>
#include <vector>

namespace
{

QStringList items(const QComboBox* box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

// The audit group's top without the purpose line, a row, the project group, the dialog.
constexpr int kAuditTop = 244, kRow = 30, kProject = 56, kDialog = 590;

enum Result { NotSubmitted, Submitted, Refused, Failed };

} // namespace

class TestPrintSetting : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    DevServerProcess m_server;
    RawHttpServer m_relay;
    std::unique_ptr<OrixUser> m_user;
    std::unique_ptr<PrintSettingDlg> m_dialog;
    BoxRecorder m_boxes;

    // A prepared dialog (shown when displayDialog allowed it); its result.
    int open()
    {
        m_boxes.boxes.clear();
        m_dialog.reset(new PrintSettingDlg);
        m_dialog->setUser(m_user.get());
        m_dialog->setJobPaths(m_root.path() + "/job.pdf", m_root.path() + "/options");
        const int shown = m_dialog->displayDialog();
        if (shown)
            m_dialog->show();
        return shown;
    }
    template <typename T = QComboBox> T* w(const char* name) const
    {
        return child<T>(m_dialog.get(), name);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_user.reset(new OrixUser);
        seedUser(*m_user, "zhaoliu", m_relay.portText());
        m_relay.forwardTo(m_server.port());
        QCOMPARE(m_user->Logon(), 0);
        // A document of two upload blocks and the options the printer writes.
        QFile document(m_root.path() + "/job.pdf"), options(m_root.path() + "/options");
        QVERIFY(document.open(QIODevice::WriteOnly) && options.open(QIODevice::WriteOnly));
        document.write("%PDF-1.4\n" + QByteArray(150000, 'd'));
        options.write("copies=4 job-impressions=12 PageSize=A3 Duplex=DuplexTumble "
                      "ColorModel=RGB title=\"报告 2024.docx\"\n");
    }
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
        QTest::addColumn<QStringList>("items"); // enabled unless card swipe is all
        const auto row = [](const char* name, const QByteArray& reply, int way,
                            const QStringList& items) {
            QTest::newRow(name) << reply << way << items;
        };
        row("two of five", QByteArray("5\0A\0B\0\0", 7), 1, {"刷卡打印", "A", "B"});
        row("print way 2", QByteArray("5\0A\0B\0\0", 7), 2, {"A", "B"});
        row("every printer", QByteArray("2\0A\0B\0\0", 7), 1, {"刷卡打印"});
        row("no name", QByteArray("3\0\0", 3), 1, {"刷卡打印"});
        row("GBK name up to the end", QByteArray("5\0", 2) + UTF82GBK("3楼"), 1,
            {"刷卡打印", "3楼"});
        row("one byte left is no name", QByteArray("5\0A\0B", 5), 1, {"刷卡打印", "A"});
        row("total not a number", QByteArray("x\0A\0\0", 5), 1, {"刷卡打印"});
    }

    void printerList()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, items);
        // Exactly the reply's bytes on the heap: the sanitizer build catches a read past them.
        std::vector<char> bytes(reply.begin(), reply.end());
        const PrinterChoices choices = BuildPrinterChoices(
            ParsePrinterList(bytes.data(), bytes.size()), fetch<int>("printWay"));
        QCOMPARE(choices.Items, items);
        QCOMPARE(choices.Enabled, items != QStringList{"刷卡打印"});
    }

    void secretLevels()
    {
        // 公开, 内部 with a note, empty names, a count beyond the block; cut at the user's level.
        std::vector<unsigned char> block(TavUserRecord::kUserInfoExSize, 0);
        qToLittleEndian<qint32>(1000, block.data());
        char* entries = reinterpret_cast<char*>(block.data()) + 4;
        CopyText(entries, 50, UTF82GBK("公开").constData());
        CopyText(entries + 364, 50, UTF82GBK("内部").constData());
        CopyText(entries + 364 + 50, 50, UTF82GBK("项目").constData());
        QCOMPARE(SecretLevelItems(block.data(), block.size(), 99),
                 QStringList({"公开", "内部(项目)"}));
        QCOMPARE(SecretLevelItems(block.data(), block.size(), 1), QStringList{"公开"});
    }

    // Without a printer, or project billing without a project, only a box comes up.
    void notShown_data()
    {
        QTest::addColumn<QString>("table"); // zhaoliu's rows taken away while the dialog opens
        QTest::addColumn<int>("payerType");
        QTest::addColumn<QString>("box");
        QTest::newRow("no printer") << "UserPrinters" << 1 << "错误|用户没有可以使用的打印机";
        QTest::newRow("project billing without a project")
            << "UserPayers" << 4 << "错误|用户未配置项目名称,请配置好再提交作业";
    }

    void notShown()
    {
        QFETCH(QString, table);
        const QString move = "UPDATE " + table + " SET UserID = %1 WHERE UserID = %2";
        m_server.query(move.arg(-4).arg(4));
        const int payers = m_user->PayerCount;
        m_user->PayerType = fetch<int>("payerType");
        if (m_user->PayerType == 4)
            m_user->PayerCount = 0; // what the logon loads without payers
        const int shown = open();
        m_user->PayerCount = payers;
        m_server.query(move.arg(4).arg(-4));
        QCOMPARE(shown, 0);
        QCOMPARE(m_boxes.boxes, QStringList{fetch<QString>("box")});
    }

    void projectPrinting()
    {
        m_user->IsSupportProject = true;
        m_user->PayerType = 4;
        QVERIFY(open());
        QGroupBox* project = w<QGroupBox>("groupBoxProjectSetting");
        QCheckBox* check = w<QCheckBox>("CheckProjectPrint");
        QCOMPARE(items(w("comboBoxProjectName")), (QStringList{"研发部公用", "赵六个人账户"}));
        QVERIFY(project->isVisible() && check->isChecked());
        QCOMPARE(m_dialog->height(), kDialog - 3 * kRow); // no approval: three rows fewer
        check->click();
        QVERIFY(!project->isVisible() && !m_user->IsSupportProject);
        QCOMPARE(m_dialog->height(), kDialog - 3 * kRow - kProject);
        check->click();
        QVERIFY(project->isVisible() && m_user->IsSupportProject);
        QCOMPARE(m_dialog->height(), kDialog - 3 * kRow);
        // Under cost control: no check box, the buttons below the projects.
        m_user->IsSupportCostControl = true;
        QVERIFY(open());
        QVERIFY(w<QCheckBox>("CheckProjectPrint")->isHidden());
        QVERIFY(w<QPushButton>("Btn_OK_Print")->y() >
                w<QGroupBox>("groupBoxProjectSetting")->geometry().bottom());
    }

    // The auditor lists of a level (the dialog shrunk by the rows not needed), then "确定".
    void submit_data()
    {
        QTest::addColumn<QList<int>>("choices");   // secret level, printer, print way, project
        QTest::addColumn<QStringList>("auditors"); // one "a,b" per list shown
        QTest::addColumn<QList<int>>("picks");     // index chosen in each auditor list
        QTest::addColumn<QString>("fault");        // "no auditor" (second list) or "no answer"
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("box"); // start of the one box shown
        QTest::addColumn<QString>("stored");
        const auto row = [](const char* name, const QList<int>& choices,
                            const QStringList& auditors, const QList<int>& picks, const char* fault,
                            int result, const char* box, const QString& stored) {
            QTest::newRow(name) << choices << auditors << picks << QString(fault) << result
                                << QString(box) << stored;
        };
        // Projects under cost control: 1 yuan for 202, -1: none. zhaoliu is no auditor of his
        // own, zhangsan is; 黄退休 is inactive: no name.
        const QString rest = "|报告 2024.docx|4|3|A3|C|H|20";
        row("no approval, card swipe", {0, 0, 1, -1}, {}, {}, "", Submitted, "",
            "|公开(可对外公开)|0|" + rest);
        row("three levels, a printer", {3, 2, 1, -1}, {"钱审批", "冯主任", "刘经理,"}, {0, 0, 1},
            "", Submitted, "", "一楼复印机|机密(机密级文件)|3|10,11,13" + rest);
        row("print way 2: the first printer names none", {1, 0, 2, -1}, {"钱审批,冯主任"}, {1}, "",
            Submitted, "", "|内部(仅限内部使用)|1|11" + rest);
        row("missing auditor: the dialog stays", {2, 0, 1, -1}, {"钱审批,张三", ""}, {},
            "no auditor", NotSubmitted, "错误|审批人不能为空！", "");
        row("quota refused: 12 pages on 1 yuan", {0, 0, 1, 1}, {}, {}, "", Refused,
            "错误|余额不足，无法提交作业！请联系管理员进行充值！", "");
        row("upload fails", {0, 0, 1, -1}, {}, {}, "no answer", Failed, "错误|提交作业失败\n", "");
    }

    void submit()
    {
        QFETCH(QList<int>, choices);
        QFETCH(QStringList, auditors);
        QFETCH(QList<int>, picks);
        QFETCH(QString, fault);
        QFETCH(int, result);
        QFETCH(QString, box);
        const int project = choices[3];
        m_user->PrintWay = choices[2];
        m_user->IsSupportCostControl = m_user->IsSupportProject = project >= 0;
        m_user->PayerType = project >= 0 ? 4 : 1;
        TavAuditorArray& second = m_user->AuditFlow.Secrets[2].Auditors[1];
        const int secondCount = second.Count;
        if (fault == "no auditor")
            second.Count = 0;
        QVERIFY(open());
        w("comboBoxSecretLevel")->setCurrentIndex(choices[0]);
        w("comboBoxPrintersList")->setCurrentIndex(choices[1]);
        if (project >= 0)
            w("comboBoxProjectName")->setCurrentIndex(project);
        QCOMPARE(items(w("comboBoxSecretLevel")).size(), 4);
        QCOMPARE(items(w("comboBoxUseTo")), (QStringList{"不归还", "归还"}));
        const char* levels[] = {"无需审批", "一级审批", "二级审批", "三级审批"};
        QCOMPARE(w("comboBoxAuditLevel")->currentText(), QString(levels[auditors.size()]));
        const char* lists[] = {"comboBoxAuditor1", "comboBoxAuditor2", "comboBoxAuditor3"};
        QStringList shown;
        for (int l = 0; l < 3; ++l) {
            if (w(lists[l])->isVisible())
                shown << items(w(lists[l])).join(',');
            if (l < picks.size())
                w(lists[l])->setCurrentIndex(picks[l]);
        }
        QCOMPARE(shown, auditors);
        if (project < 0) {
            QCOMPARE(w<QPushButton>("Btn_OK_Print")->y(),
                     (shown.size() + 2) * kRow + kAuditTop + 60);
            QCOMPARE(m_dialog->height(), kDialog - kRow * (3 - int(shown.size())) - kProject);
            QVERIFY(w<QGroupBox>("groupBoxProjectSetting")->isHidden());
        }
        if (fault == "no answer")
            m_relay.forwardTo(0); // connections closed without an answer
        const QString last = "SELECT PrinterName || '|' || SecretLevel || '|' || AuditorCount "
                             "|| '|' || AuditorIDs || '|' || DocName || '|' || Copies || '|' || "
                             "PageCount || '|' || PaperSize || '|' || ColorMode || '|' || "
                             "DuplexMode || '|' || JobState FROM PrintProcTask "
                             "ORDER BY TaskID DESC LIMIT 1";
        const QString before = m_server.scalar(last).toString();
        w<QPushButton>("Btn_OK_Print")->click();
        second.Count = secondCount;

        QCOMPARE(int(m_dialog->submitResult()), result);
        QCOMPARE(m_dialog->isVisible(), result == NotSubmitted);
        QCOMPARE(m_boxes.boxes.size(), box.isEmpty() ? 0 : 1);
        QVERIFY2(m_boxes.boxes.value(0, "").startsWith(box), qPrintable(m_boxes.boxes.value(0)));
        const QString after = m_server.scalar(last).toString();
        QCOMPARE(after == before ? QString() : after, fetch<QString>("stored"));
    }
};

QTEST_MAIN(TestPrintSetting)
#include "tst_printsetting.moc"
