// The request dialogs without a server: the mobile print job's record and file choice, the copy
// request's record and size by audit level, the secret levels of the user's table and the
// controls of the requests under each UIHide mask.

#include "CopyJobParamDlg.h"
#include "FileDialogs.h"
#include "MessageBoxes.h"
#include "MobileJobParamDlg.h"
#include "OrixUser.h"
#include "RecordBytes.h"
#include "RequestEntries.h"
#include "TavCommon.h"
#include "TestRoot.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolBox>
#include <QToolButton>
#include <QtTest>

#include <cstdlib>
#include <memory>

namespace
{

// A secret level with its auditors per approval level (calloc'ed: the flow frees them).
TavSecret makeSecret(const char* name, int level, const QList<QList<int>>& auditors)
{
    TavSecret secret;
    memset(&secret, 0, sizeof secret);
    CopyText(secret.SecretLevelName, sizeof secret.SecretLevelName, name);
    secret.AuditLevel = level;
    if (level > 0)
        secret.Auditors = static_cast<TavAuditorArray*>(calloc(level, sizeof(TavAuditorArray)));
    for (int l = 0; l < auditors.size(); ++l) {
        TavAuditorArray& array = secret.Auditors[l];
        array.Count = auditors[l].size();
        array.Entries = static_cast<TavAuditor*>(calloc(array.Count + 1, sizeof(TavAuditor)));
        for (int i = 0; i < array.Count; ++i) {
            array.Entries[i].AuditorID = auditors[l][i];
            snprintf(array.Entries[i].AuditorName, 64, "审批人%d", auditors[l][i]);
        }
    }
    return secret;
}

void putTableEntry(TavUserRecord& user, int index, const char* name, const char* note)
{
    unsigned char* entry = user.UserInfoEx + 4 + index * TavUserRecord::kUserInfoExEntrySize;
    const QByteArray gbkName = UTF82GBK(name), gbkNote = UTF82GBK(note);
    memcpy(entry, gbkName.constData(), gbkName.size());
    memcpy(entry + 50, gbkNote.constData(), gbkNote.size());
}

template <typename T = QComboBox> T* child(QWidget* parent, const QString& name)
{
    T* widget = parent->findChild<T*>(name);
    if (!widget)
        qFatal("no widget %s", qPrintable(name));
    return widget;
}

QByteArray bytesOf(const void* record, int size)
{
    return QByteArray(static_cast<const char*>(record), size);
}

} // namespace

class TestRequestDialogs : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    std::unique_ptr<OrixUser> m_user;
    QStringList m_boxes;
    QStringList m_fileAnswers; // of the next file dialogs
    QStringList m_fileDialogs; // "caption|folder|filter" of each

    // The session's fields that every record carries.
    RecordBytes sessionFields(int size, const QByteArray& fullName) const
    {
        return RecordBytes(size)
            .text(0, "zhangsan")
            .text(50, fullName)
            .number(100, 1)
            .text(764, "host-01")
            .text(794, "00:11:22:33:44:55")
            .text(814, "10.0.0.7");
    }

private slots:
    void initTestCase()
    {
        m_root.writeConfig("[Main%20Window]\n2015=\"工作资料;;会议材料;其他\"\n");
        m_user.reset(new OrixUser);
        OrixUser& user = *m_user;
        CopyText(user.UserName, sizeof user.UserName, "zhangsan");
        CopyText(user.FullName, sizeof user.FullName, "张三");
        user.UserId = 1;
        CopyText(user.ComputerName, sizeof user.ComputerName, "host-01");
        CopyText(user.IPAddress, sizeof user.IPAddress, "10.0.0.7");
        CopyText(user.MacAddress, sizeof user.MacAddress, "00:11:22:33:44:55");
        // The table (GB18030): entry 2 has no text and is left out of the copy dialog's list.
        memset(user.UserInfoEx, 0, sizeof user.UserInfoEx);
        qToLittleEndian<qint32>(5, user.UserInfoEx);
        putTableEntry(user, 0, "公开", "");
        putTableEntry(user, 1, "内部", "仅限内部使用");
        putTableEntry(user, 3, "机密", "");
        putTableEntry(user, 4, "绝密", "");
        user.SecretLevel = 4;
        user.AuditFlow.FlowID = 1;
        user.AuditFlow.Secrets << makeSecret("公开", 0, {}) << makeSecret("内部", 1, {{10, 11}})
                               << makeSecret("秘密", 2, {{10}, {12, 13}})
                               << makeSecret("机密", 5, {{10}, {11}, {12}});
        user.GetDocPurpose();

        MessageBoxes::setInformationHook(
            [this](QWidget*, const QString& title, const QString& text) {
                m_boxes << title + '|' + text;
            });
        FileDialogs::setHook(
            [this](QWidget*, const QString& caption, const QString& folder, const QString& filter) {
                m_fileDialogs << caption + '|' + folder + '|' + filter;
                return m_fileAnswers.isEmpty() ? QString() : m_fileAnswers.takeFirst();
            });
    }

    void cleanupTestCase()
    {
        MessageBoxes::setInformationHook({});
        FileDialogs::setHook({});
    }

    void init() { m_boxes.clear(); }

    void mobileRecord_data()
    {
        QTest::addColumn<int>("secret");
        QTest::addColumn<QString>("copies");
        QTest::addColumn<int>("choice");      // orientation, colour, duplex; paper B5 for 1
        QTest::addColumn<QString>("docName"); // typed over the file's name
        QTest::addColumn<QString>("levelItem");
        QTest::addColumn<QString>("rows"); // auditor rows enabled
        QTest::addColumn<QList<int>>("auditors");
        QTest::newRow("defaults") << 0 << "1" << 0 << ""
                                  << "无需审批"
                                  << "---" << QList<int>{};
        QTest::newRow("abc copies, level 1") << 1 << "abc" << 1 << "报告.pdf"
                                             << "一级审批"
                                             << "+--" << QList<int>{11};
        QTest::newRow("level 2") << 2 << "3" << 0 << ""
                                 << "二级审批"
                                 << "++-" << QList<int>{10, 13};
        QTest::newRow("level 5 counts as 3") << 3 << "2" << 0 << ""
                                             << "三级审批"
                                             << "+++" << QList<int>{10, 11, 12};
    }

    void mobileRecord()
    {
        QFETCH(int, secret);
        QFETCH(QString, copies);
        QFETCH(int, choice);
        QFETCH(QString, docName);
        QFETCH(QList<int>, auditors);
        OrixUser& user = *m_user;
        memset(&user.MobileTaskInfo, 0x55, sizeof user.MobileTaskInfo); // an earlier job's
        MobileJobParamDlg dialog;
        dialog.SetUser(&user);
        m_fileAnswers = QStringList{"/home/zhangsan/文档/季度报告.pdf"};
        child<QPushButton>(&dialog, "btnBrowse")->click();
        QLineEdit* name = child<QLineEdit>(&dialog, "lineEditDocName");
        QCOMPARE(name->text(), QString("季度报告.pdf"));
        if (!docName.isEmpty())
            name->setText(docName);
        child<QLineEdit>(&dialog, "lineEditCopies")->setText(copies);
        child(&dialog, "comboBoxSecretLevel")->setCurrentIndex(secret);
        for (const char* box : {"comboBoxOrientation", "comboBoxColor", "comboBoxDuplex"})
            child(&dialog, box)->setCurrentIndex(choice);
        child(&dialog, "comboBoxPaperSize")->setCurrentIndex(3 * choice);
        QString rows;
        for (int level = 1; level <= 3; ++level) {
            QComboBox* box = child(&dialog, QString("comboBoxAuditor%1").arg(level));
            box->setCurrentIndex(box->count() - 1);
            rows += box->isEnabled() ? '+' : '-';
        }
        QTEST(rows, "rows");
        QTEST(child(&dialog, "comboBoxAuditLevel")->currentText(), "levelItem");
        QVERIFY(!child(&dialog, "comboBoxAuditLevel")->isEnabled());

        child<QPushButton>(&dialog, "btnOK")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));
        QCOMPARE(QByteArray(user.DocumentPath), QByteArray("/home/zhangsan/文档/季度报告.pdf"));
        const char* secretNames[] = {"公开", "内部", "秘密", "机密"};
        const RecordBytes expected =
            sessionFields(1112, UTF82GBK("张三"))
                .number(104, auditors.size())
                .numbers(112, auditors)
                .text(152, UTF82GBK(secretNames[secret]))
                .text(202, UTF82GBK("工作资料"))
                .text(714, UTF82GBK(name->text().toUtf8()))
                .text(864, choice ? "LCD" : "PMS")
                .numbers(872, {1, copies.toInt()}) // one page until the submission counts them
                .text(880, choice ? "B5" : "A4")
                .text(930, "doc")
                .text(1010, "-1");
        QCOMPARE(bytesOf(&user.MobileTaskInfo, 1112), expected.data);
    }

    void mobileFileChoice()
    {
        OrixUser& user = *m_user;
        memset(&user.MobileTaskInfo, 0x55, sizeof user.MobileTaskInfo);
        MobileJobParamDlg dialog;
        dialog.SetUser(&user);
        QPushButton* ok = child<QPushButton>(&dialog, "btnOK");
        QPushButton* browse = child<QPushButton>(&dialog, "btnBrowse");
        ok->click(); // no file yet
        m_fileDialogs.clear();
        m_fileAnswers = QStringList{"/tmp/a/b.pdf"};
        browse->click();
        QCOMPARE(child<QLineEdit>(&dialog, "lineEditDocName")->text(), QString("b.pdf"));
        browse->click(); // cancelled: the choice is gone
        QCOMPARE(child<QLineEdit>(&dialog, "lineEditDocName")->text(), QString());
        ok->click();

        QCOMPARE(m_fileDialogs, QStringList({"选择打印文件|.|*", "选择打印文件|.|*"}));
        QCOMPARE(m_boxes, QStringList({"错误|打印参数错误，请重新选择！",
                                       "错误|打印参数错误，请重新选择！"}));
        QVERIFY(dialog.result() != QDialog::Accepted);
        QCOMPARE(bytesOf(&user.MobileTaskInfo, 1112), QByteArray(1112, 0x55));
    }

    void copyRecord_data()
    {
        QTest::addColumn<QString>("docName");
        QTest::addColumn<QStringList>("numbers"); // pages, copies
        QTest::addColumn<int>("choice");          // colour and orientation
        QTest::addColumn<int>("secret");          // index in the list
        QTest::addColumn<QList<int>>("useTo");    // purposes chosen one after another
        QTest::addColumn<int>("level");
        QTest::addColumn<QList<int>>("auditors");
        QTest::addColumn<QString>("purpose");
        QTest::addColumn<QString>("secretText");
        QTest::newRow("defaults") << "合同" << QStringList{"1", "1"} << 0 << 0 << QList<int>{} << 0
                                  << QList<int>{} << "工作资料"
                                  << "公开";
        QTest::newRow("colour, landscape, level 1, no numbers")
            << "合同" << QStringList{"", "abc"} << 1 << 1 << QList<int>{1} << 1 << QList<int>{11}
            << "会议材料"
            << "内部(仅限内部使用)";
        // The table's entry 2 is left out: the third item is entry 3, with three levels.
        QTest::newRow("other purpose kept after another is chosen")
            << "会议记录" << QStringList{"12", "3"} << 0 << 2 << QList<int>{2, 0} << 3
            << QList<int>{10, 11, 12} << "工作资料:评审"
            << "机密";
        QTest::newRow("no document name")
            << "" << QStringList{"1", "1"} << 0 << 0 << QList<int>{} << 0 << QList<int>{} << ""
            << "";
    }

    void copyRecord()
    {
        QFETCH(QString, docName);
        QFETCH(QStringList, numbers);
        QFETCH(int, choice);
        QFETCH(int, level);
        QFETCH(int, secret);
        QFETCH(QList<int>, useTo);
        QFETCH(QList<int>, auditors);
        CopyTaskInfo record;
        memset(&record, 0, sizeof record);
        CopyJobParamDlg dialog;
        dialog.SetTask(&record);
        dialog.SetUser(m_user.get());
        dialog.show();
        QCOMPARE(child(&dialog, "cbUseTo")->count(), 3);
        child<QLineEdit>(&dialog, "lineEditDocName")->setText(docName);
        child<QLineEdit>(&dialog, "lineEditPages")->setText(numbers[0]);
        child<QLineEdit>(&dialog, "lineEditCopies")->setText(numbers[1]);
        child(&dialog, "cbColor")->setCurrentIndex(choice);
        child(&dialog, "cbOrient")->setCurrentIndex(choice);
        child(&dialog, "cbSecretLevel")->setCurrentIndex(secret);
        QLineEdit* other = child<QLineEdit>(&dialog, "lineEditOtherPurpose");
        for (int index : useTo) {
            child(&dialog, "cbUseTo")->setCurrentIndex(index);
            QCOMPARE(other->isVisible(), index == 2);
            if (index == 2)
                other->setText("评审");
        }
        for (int l = 1; l <= 3; ++l) {
            QComboBox* box = child(&dialog, QString("cbAuditor%1").arg(l));
            box->setCurrentIndex(box->count() - 1);
            QCOMPARE(box->isVisible(), l <= level);
        }
        // The dialog fits the rows of the level: 35 pixels a row.
        const int missing = (3 - level) * 35;
        QCOMPARE(dialog.size(), QSize(420, 510 - missing));
        QCOMPARE(child<QWidget>(&dialog, "groupAuditSetting")->height(), 170 - missing);
        QCOMPARE(child<QWidget>(&dialog, "btnOK")->y(), 276 + (level + 1) * 35 + 50);

        child<QPushButton>(&dialog, "btnOK")->click();
        QCOMPARE(dialog.isVisible(), docName.isEmpty());
        if (docName.isEmpty()) {
            QCOMPARE(m_boxes, QStringList{"警告|请输入文档名称。"});
            QCOMPARE(bytesOf(&record, 932), QByteArray(932, '\0'));
            return;
        }
        QFETCH(QString, purpose);
        QFETCH(QString, secretText);
        const RecordBytes expected =
            sessionFields(932, "张三")
                .numbers(104, {level, 0})
                .numbers(112, auditors)
                .text(152, secretText.toUtf8())
                .text(202, purpose.toUtf8())
                .text(714, docName.toUtf8())
                .text(864, choice ? "LCS" : "PMS")
                .numbers(868, {640, numbers[0].toInt(), numbers[1].toInt()})
                .text(880, "A4");
        QCOMPARE(bytesOf(&record, 932), expected.data);
    }

    void secretLevels_data()
    {
        QTest::addColumn<int>("secretLevel"); // the user's
        QTest::addColumn<int>("count");       // of the table, as the server sent it
        QTest::addColumn<QString>("texts");
        QTest::newRow("level 2 of five") << 2 << 5 << "公开|内部(仅限内部使用)";
        QTest::newRow("level 0") << 0 << 5 << "";
        QTest::newRow("count beyond the block")
            << 1000 << 1000 << "公开|内部(仅限内部使用)|机密|绝密";
    }

    void secretLevels()
    {
        QFETCH(int, secretLevel);
        QFETCH(int, count);
        TavUserRecord user;
        memcpy(&user, static_cast<TavUserRecord*>(m_user.get()), sizeof user);
        user.SecretLevel = secretLevel;
        qToLittleEndian<qint32>(count, user.UserInfoEx);
        QStringList texts;
        for (const RequestChoices::SecretLevelOption& option :
             RequestChoices::SecretLevelOptions(user))
            texts << option.Text;
        QTEST(texts.join('|'), "texts");
    }

    void entries_data()
    {
        QTest::addColumn<int>("uiHide");
        QTest::addColumn<QString>("offered"); // the page, mobile print, copy, disc
        QTest::newRow("0") << 0 << "PMCD";
        QTest::newRow("1: the page and every request") << 1 << "    ";
        QTest::newRow("2: copy") << 2 << "PM D";
        QTest::newRow("4: disc") << 4 << "PMC ";
        QTest::newRow("6") << 6 << "PM  ";
        QTest::newRow("7") << 7 << "    ";
    }

    void entries()
    {
        QFETCH(int, uiHide);
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
            buttons[r].setText(QString("request %1").arg(r));
            entries.add(RequestEntries::Request(r), &buttons[r], &toolBox, [&clicks] { ++clicks; });
        }
        entries.apply(1); // a mask in force before is undone
        entries.apply(uiHide);
        entries.setOnline(true);

        QCOMPARE(page.isHidden(), toolBox.indexOf(&page) < 0);
        QString seen = toolBox.indexOf(&page) == 1 ? "P" : " ";
        for (int r = 0; r < 3; ++r) {
            QAction* entry = entries.entry(RequestEntries::Request(r));
            QCOMPARE(entry->text(), buttons[r].text());
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
};

QTEST_MAIN(TestRequestDialogs)
#include "tst_requestdialogs.moc"
