// The request dialogs without a server: the mobile print job's record and file choice, the copy
// request's record and size by audit level, the secret levels of the user's table and the
// controls of the requests under each UIHide mask.

#include "CopyJobParamDlg.h"
#include "FileDialogs.h"
#include "MessageBoxes.h"
#include "MobileJobParamDlg.h"
#include "OrixUser.h"
#include "RequestChoices.h"
#include "RequestEntries.h"
#include "TavCommon.h"
#include "TestRoot.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolBox>
#include <QToolButton>
#include <QtEndian>
#include <QtTest>

#include <cstdlib>
#include <memory>

namespace
{

// Expected record bytes, written field by field at their offsets.
struct Bytes {
    QByteArray data;
    explicit Bytes(int size) : data(size, '\0') {}
    Bytes& text(int offset, const QByteArray& value)
    {
        data.replace(offset, value.size(), value);
        return *this;
    }
    Bytes& gbk(int offset, const char* utf8) { return text(offset, UTF82GBK(utf8)); }
    Bytes& number(int offset, qint32 value)
    {
        qToLittleEndian(value, data.data() + offset);
        return *this;
    }
    Bytes& ids(int offset, const QList<int>& values)
    {
        for (int i = 0; i < values.size(); ++i)
            number(offset + 4 * i, values[i]);
        return *this;
    }
};

const char* auditorName(int id)
{
    switch (id) {
    case 10:
        return "钱审批";
    case 11:
        return "冯主任";
    case 12:
        return "刘经理";
    default:
        return "黄退休";
    }
}

// A secret level of the flow with its auditors per approval level (calloc'ed: the flow frees them).
TavSecret makeSecret(const char* name, int level, const QList<QList<int>>& auditors)
{
    TavSecret secret;
    memset(&secret, 0, sizeof secret);
    CopyText(secret.SecretLevelName, sizeof secret.SecretLevelName, name);
    secret.AuditLevel = level;
    if (auditors.isEmpty())
        return secret;
    secret.Auditors = static_cast<TavAuditorArray*>(calloc(level, sizeof(TavAuditorArray)));
    for (int l = 0; l < auditors.size(); ++l) {
        TavAuditorArray& array = secret.Auditors[l];
        array.Count = auditors[l].size();
        array.Entries = static_cast<TavAuditor*>(calloc(array.Count + 1, sizeof(TavAuditor)));
        for (int i = 0; i < array.Count; ++i) {
            array.Entries[i].AuditorID = auditors[l][i];
            CopyText(array.Entries[i].AuditorName, 64, auditorName(auditors[l][i]));
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

template <typename T> T* child(QWidget* parent, const char* name)
{
    T* widget = parent->findChild<T*>(name);
    if (!widget)
        qFatal("no widget %s", name);
    return widget;
}

QString enabledRows(QWidget* dialog)
{
    QString rows;
    for (const char* name : {"comboBoxAuditor1", "comboBoxAuditor2", "comboBoxAuditor3"})
        rows += child<QComboBox>(dialog, name)->isEnabled() ? '+' : '-';
    return rows;
}

void pickLast(QComboBox* box)
{
    box->setCurrentIndex(box->count() - 1);
}

} // namespace

class TestRequestDialogs : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    std::unique_ptr<OrixUser> m_user;
    QStringList m_boxes;
    QStringList m_fileAnswers; // answers of the next file dialogs
    QStringList m_fileDialogs; // "caption|folder|filter" of each file dialog

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
        // The table: entry 2 has no text and is left out of the list.
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
                               << makeSecret("机密", 5, {{10}, {11}, {12}, {}, {}});
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
        QTest::addColumn<int>("choice"); // index of orientation, colour, duplex; paper: 3 * choice
        QTest::addColumn<QString>("docName"); // typed over the file's name; empty: kept
        QTest::addColumn<QString>("levelItem");
        QTest::addColumn<QString>("rows"); // auditor rows enabled
        QTest::addColumn<QList<int>>("auditors");
        QTest::addColumn<QByteArray>("modes"); // orientation, colour, duplex
        QTest::addColumn<QByteArray>("paper");
        QTest::newRow("defaults") << 0 << "1" << 0 << ""
                                  << "无需审批"
                                  << "---" << QList<int>{} << QByteArray("PMS") << QByteArray("A4");
        QTest::newRow("abc copies, level 1")
            << 1 << "abc" << 1 << "报告.pdf"
            << "一级审批"
            << "+--" << QList<int>{11} << QByteArray("LCD") << QByteArray("B5");
        QTest::newRow("level 2") << 2 << "3" << 0 << ""
                                 << "二级审批"
                                 << "++-" << QList<int>{10, 13} << QByteArray("PMS")
                                 << QByteArray("A4");
        QTest::newRow("level 5 counts as 3")
            << 3 << "2" << 0 << ""
            << "三级审批"
            << "+++" << QList<int>{10, 11, 12} << QByteArray("PMS") << QByteArray("A4");
    }

    void mobileRecord()
    {
        QFETCH(int, secret);
        QFETCH(QString, copies);
        QFETCH(int, choice);
        QFETCH(QString, docName);
        QFETCH(QList<int>, auditors);
        QFETCH(QByteArray, modes);
        QFETCH(QByteArray, paper);
        OrixUser& user = *m_user;
        memset(&user.MobileTaskInfo, 0x55, sizeof user.MobileTaskInfo); // an earlier job's
        MobileJobParamDlg dialog;
        dialog.SetUser(&user);
        m_fileAnswers = QStringList{"/home/zhangsan/文档/季度报告.pdf"};
        child<QPushButton>(&dialog, "btnBrowse")->click();
        QCOMPARE(child<QLineEdit>(&dialog, "lineEditDocName")->text(), QString("季度报告.pdf"));
        if (!docName.isEmpty())
            child<QLineEdit>(&dialog, "lineEditDocName")->setText(docName);
        child<QLineEdit>(&dialog, "lineEditCopies")->setText(copies);
        child<QComboBox>(&dialog, "comboBoxSecretLevel")->setCurrentIndex(secret);
        for (const char* name : {"comboBoxOrientation", "comboBoxColor", "comboBoxDuplex"})
            child<QComboBox>(&dialog, name)->setCurrentIndex(choice);
        child<QComboBox>(&dialog, "comboBoxPaperSize")->setCurrentIndex(3 * choice);
        for (const char* name : {"comboBoxAuditor1", "comboBoxAuditor2", "comboBoxAuditor3"})
            pickLast(child<QComboBox>(&dialog, name));
        QTEST(child<QComboBox>(&dialog, "comboBoxAuditLevel")->currentText(), "levelItem");
        QVERIFY(!child<QComboBox>(&dialog, "comboBoxAuditLevel")->isEnabled());
        QTEST(enabledRows(&dialog), "rows");

        child<QPushButton>(&dialog, "btnOK")->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));
        QCOMPARE(QByteArray(user.DocumentPath), QByteArray("/home/zhangsan/文档/季度报告.pdf"));
        const char* secretNames[] = {"公开", "内部", "秘密", "机密"};
        const Bytes expected =
            Bytes(1112)
                .text(0, "zhangsan")
                .gbk(50, "张三")
                .number(100, 1)
                .number(104, auditors.size())
                .ids(112, auditors)
                .gbk(152, secretNames[secret])
                .gbk(202, "工作资料")
                .gbk(714, docName.isEmpty() ? "季度报告.pdf" : docName.toUtf8().constData())
                .text(764, "host-01")
                .text(794, "00:11:22:33:44:55")
                .text(814, "10.0.0.7")
                .text(864, modes)
                .number(872, 1) // until the submission counts the document
                .number(876, copies.toInt())
                .text(880, paper)
                .text(930, "doc")
                .text(1010, "-1");
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&user.MobileTaskInfo), 1112),
                 expected.data);
    }

    void mobileFileChoice()
    {
        OrixUser& user = *m_user;
        memset(&user.MobileTaskInfo, 0x55, sizeof user.MobileTaskInfo);
        const QByteArray before(reinterpret_cast<const char*>(&user.MobileTaskInfo), 1112);
        MobileJobParamDlg dialog;
        dialog.SetUser(&user);
        QPushButton* ok = child<QPushButton>(&dialog, "btnOK");
        QPushButton* browse = child<QPushButton>(&dialog, "btnBrowse");
        QLineEdit* name = child<QLineEdit>(&dialog, "lineEditDocName");

        ok->click(); // no file yet
        m_fileDialogs.clear();
        m_fileAnswers = QStringList{"/tmp/a/b.pdf"};
        browse->click();
        QCOMPARE(m_fileDialogs, QStringList{"选择打印文件|.|*"});
        QCOMPARE(name->text(), QString("b.pdf"));
        browse->click(); // cancelled: the choice is gone
        QCOMPARE(name->text(), QString());
        QCOMPARE(dialog.chosenPath(), QString());
        ok->click();

        QCOMPARE(m_boxes, QStringList({"错误|打印参数错误，请重新选择！",
                                       "错误|打印参数错误，请重新选择！"}));
        QVERIFY(dialog.result() != QDialog::Accepted);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&user.MobileTaskInfo), 1112), before);
    }

    void copyRecord_data()
    {
        QTest::addColumn<QString>("docName");
        QTest::addColumn<QString>("pages");
        QTest::addColumn<QString>("copies");
        QTest::addColumn<int>("choice");       // colour and orientation index
        QTest::addColumn<int>("secret");       // index in the list
        QTest::addColumn<QList<int>>("useTo"); // purposes chosen one after another
        QTest::addColumn<QString>("other");
        QTest::addColumn<int>("level");
        QTest::addColumn<QList<int>>("auditors");
        QTest::addColumn<QString>("purpose");
        QTest::addColumn<QString>("secretText");
        QTest::newRow("defaults") << "合同"
                                  << "1"
                                  << "1" << 0 << 0 << QList<int>{} << "" << 0 << QList<int>{}
                                  << "工作资料"
                                  << "公开";
        QTest::newRow("colour, landscape, level 1, empty numbers")
            << "合同"
            << ""
            << "abc" << 1 << 1 << QList<int>{1} << "" << 1 << QList<int>{11} << "会议材料"
            << "内部(仅限内部使用)";
        // The table's entry 2 is left out: the third item is entry 3, with three levels.
        QTest::newRow("other purpose kept after another is chosen")
            << "会议记录"
            << "12"
            << "3" << 0 << 2 << QList<int>{2, 0} << "评审" << 3 << QList<int>{10, 11, 12}
            << "工作资料:评审"
            << "机密";
        QTest::newRow("no document name")
            << ""
            << "1"
            << "1" << 0 << 0 << QList<int>{} << "" << 0 << QList<int>{} << ""
            << "";
    }

    void copyRecord()
    {
        QFETCH(QString, docName);
        QFETCH(QString, pages);
        QFETCH(QString, copies);
        QFETCH(int, choice);
        QFETCH(int, secret);
        QFETCH(QList<int>, useTo);
        QFETCH(QString, other);
        QFETCH(int, level);
        QFETCH(QList<int>, auditors);
        QFETCH(QString, purpose);
        QFETCH(QString, secretText);
        CopyTaskInfo record;
        memset(&record, 0, sizeof record);
        CopyJobParamDlg dialog;
        dialog.SetTask(&record);
        dialog.SetUser(m_user.get());
        dialog.show();
        QComboBox* useToBox = child<QComboBox>(&dialog, "cbUseTo");
        QLineEdit* otherPurpose = child<QLineEdit>(&dialog, "lineEditOtherPurpose");
        QCOMPARE(useToBox->count(), 3);
        QCOMPARE(child<QComboBox>(&dialog, "cbSecretLevel")->count(), 3);
        child<QLineEdit>(&dialog, "lineEditDocName")->setText(docName);
        child<QLineEdit>(&dialog, "lineEditPages")->setText(pages);
        child<QLineEdit>(&dialog, "lineEditCopies")->setText(copies);
        child<QComboBox>(&dialog, "cbColor")->setCurrentIndex(choice);
        child<QComboBox>(&dialog, "cbOrient")->setCurrentIndex(choice);
        child<QComboBox>(&dialog, "cbSecretLevel")->setCurrentIndex(secret);
        for (int index : useTo) {
            useToBox->setCurrentIndex(index);
            QCOMPARE(otherPurpose->isVisible(), index == 2);
            if (index == 2)
                otherPurpose->setText(other);
        }
        for (const char* name : {"cbAuditor1", "cbAuditor2", "cbAuditor3"})
            pickLast(child<QComboBox>(&dialog, name));

        // The dialog fits the rows of the level: 35 pixels a row.
        const int missing = (3 - level) * 35;
        QCOMPARE(dialog.size(), QSize(420, 510 - missing));
        QCOMPARE(child<QWidget>(&dialog, "groupAuditSetting")->height(), 170 - missing);
        QCOMPARE(child<QWidget>(&dialog, "btnOK")->y(), 276 + (level + 1) * 35 + 50);
        for (int l = 0; l < 3; ++l)
            QCOMPARE(
                child<QWidget>(&dialog, ("cbAuditor" + std::to_string(l + 1)).c_str())->isVisible(),
                l < level);

        child<QPushButton>(&dialog, "btnOK")->click();
        const QByteArray bytes(reinterpret_cast<const char*>(&record), sizeof record);
        if (docName.isEmpty()) {
            QCOMPARE(m_boxes, QStringList{"警告|请输入文档名称。"});
            QVERIFY(dialog.isVisible());
            QCOMPARE(bytes, QByteArray(932, '\0'));
            return;
        }
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        const Bytes expected = Bytes(932)
                                   .text(0, "zhangsan")
                                   .text(50, "张三")
                                   .number(100, 1)
                                   .number(104, level)
                                   .ids(112, auditors)
                                   .text(152, secretText.toUtf8())
                                   .text(202, purpose.toUtf8())
                                   .text(714, docName.toUtf8())
                                   .text(764, "host-01")
                                   .text(794, "00:11:22:33:44:55")
                                   .text(814, "10.0.0.7")
                                   .text(864, choice ? "LCS" : "PMS")
                                   .number(868, 640)
                                   .number(872, pages.toInt())
                                   .number(876, copies.toInt())
                                   .text(880, "A4");
        QCOMPARE(bytes, expected.data);
    }

    void secretLevels_data()
    {
        QTest::addColumn<int>("secretLevel"); // the user's
        QTest::addColumn<int>("count");       // of the table as the server sent it
        QTest::addColumn<QString>("texts");
        QTest::newRow("level 4") << 4 << 5 << "公开|内部(仅限内部使用)|机密";
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
        QTest::addColumn<QString>("offered"); // page, mobile print, copy, disc
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
        QToolButton mobile(&page), copy(&page), disc(&page);
        mobile.setText("移动打印");
        copy.setText("复印申请");
        disc.setText("刻录申请");
        QMenu menu;
        menu.addAction("显示界面");
        menu.addSeparator();
        QAction* logout = menu.addAction("注销");
        RequestEntries entries(&toolBox, &page, &menu, logout);
        int clicks = 0;
        QObject receiver;
        auto count = [&clicks] { ++clicks; };
        entries.add(RequestEntries::MobilePrint, &mobile, &receiver, count);
        entries.add(RequestEntries::Copy, &copy, &receiver, count);
        entries.add(RequestEntries::Disc, &disc, &receiver, count);
        entries.apply(1); // a mask in force before is undone
        entries.apply(uiHide);
        entries.setOnline(true);

        QString seen = toolBox.indexOf(&page) == 1 ? "P" : " ";
        QToolButton* buttons[] = {&mobile, &copy, &disc};
        for (int r = 0; r < 3; ++r) {
            QAction* entry = entries.entry(RequestEntries::Request(r));
            QCOMPARE(!buttons[r]->isHidden(), entry->isVisible());
            seen += entry->isVisible() ? QString("MCD").at(r) : QChar(' ');
        }
        QCOMPARE(seen, offered);
        QStringList menuTexts;
        for (QAction* action : menu.actions())
            if (action->isVisible())
                menuTexts << (action->isSeparator() ? "-" : action->text());
        QString expected = "显示界面 -";
        for (int r = 0; r < 3; ++r)
            if (offered.at(r + 1) != ' ')
                expected += ' ' + buttons[r]->text();
        expected += offered.trimmed().isEmpty() ? " 注销" : " - 注销";
        QCOMPARE(menuTexts.join(' '), expected);

        // Usable only online and while no request runs.
        QAction* mobileEntry = entries.entry(RequestEntries::MobilePrint);
        mobileEntry->trigger();
        mobile.click();
        QCOMPARE(clicks, 2);
        entries.setBusy(true);
        QVERIFY(!mobileEntry->isEnabled() && !mobile.isEnabledTo(&page));
        entries.setBusy(false);
        // (An entry that is not offered never counts as enabled.)
        QCOMPARE(mobileEntry->isEnabled() && mobile.isEnabledTo(&page), offered.at(1) == 'M');
        entries.setOnline(false);
        QVERIFY(!mobileEntry->isEnabled() && !mobile.isEnabledTo(&page));
    }
};

QTEST_MAIN(TestRequestDialogs)
#include "tst_requestdialogs.moc"
