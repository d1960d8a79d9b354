// The fixed-size records that go to the server byte for byte, filled by the client's own
// writers from fixed inputs: their bytes (SHA-256) must be the same on every architecture the
// client is built for (char signedness, alignment, integer sizes). The hashes were taken on
// amd64; the arm64 build runs this test under emulation.

#include "CDTaskInfo.h"
#include "CopyTaskInfo.h"
#include "MobileJobParamDlg.h"
#include "OrixUser.h"
#include "PrintSettingModel.h"
#include "RequestChoices.h"
#include "TaskRecords.h"
#include "TextUtil.h"

#include <QCryptographicHash>
#include <QTextCodec>
#include <QtTest>

#include <cstring>

namespace
{

template <typename Record> QByteArray hashOf(const Record& record)
{
    return QCryptographicHash::hash(
               QByteArray::fromRawData(reinterpret_cast<const char*>(&record), sizeof record),
               QCryptographicHash::Sha256)
        .toHex();
}

// Texts that fill their fields to the last byte and beyond, so that each writer cuts inside a
// multi-byte character (a byte of 0x80 or above: negative where char is signed).
const QString kLongChinese = QString("季度报告财务审计项目").repeated(30);

void fillUser(OrixUser& user)
{
    qstrncpy(user.UserName, "zhangsan", sizeof user.UserName);
    qstrncpy(user.FullName, "张三丰·长名字测试长名字测试长名字测试", sizeof user.FullName);
    user.UserId = -123456; // a negative number shows the integers' width and order
    qstrncpy(user.ComputerName, "工作站-很长的计算机名称-0123456789", sizeof user.ComputerName);
    qstrncpy(user.MacAddress, "52:54:00:12:34:56", sizeof user.MacAddress);
    qstrncpy(user.IPAddress, "192.168.10.20", sizeof user.IPAddress);
}

RequestChoices::CommonChoice commonChoice()
{
    RequestChoices::CommonChoice choice;
    choice.SecretLevel = "机密(内部)";
    choice.Purpose = RequestChoices::ComposedPurpose("其他", kLongChinese);
    choice.DocName = "年度总结报告-最终版本-第二稿-请审阅.pdf";
    choice.AuditorCount = 3;
    choice.AuditorIDs[0] = 7;
    choice.AuditorIDs[1] = 70000;
    choice.AuditorIDs[2] = -1;
    choice.Copies = 12;
    return choice;
}

} // namespace

class TestRecordLayout : public QObject
{
    Q_OBJECT

private slots:
    void records_data()
    {
        QTest::addColumn<QByteArray>("hash");
        QTest::addColumn<QByteArray>("expected");

        OrixUser user;
        fillUser(user);

        CopyTaskInfo copy;
        std::memset(&copy, 0, sizeof copy);
        RequestChoices::FillCommonFields(copy, user, commonChoice());
        copy.Orientation = 'L';
        copy.ColorMode = 'C';
        copy.DuplexMode = 'S';
        copy.JobState = kCopyJobState;
        copy.PageCount = 5;
        CopyText(copy.PaperSize, sizeof copy.PaperSize, "A4");
        QTest::newRow("copy request")
            << hashOf(copy)
            << QByteArray("5db0e99b6d43e4018202a33eb73a850298b26d966fb90f6849b1421212f58fb2");

        CDTaskInfo disc;
        std::memset(&disc, 0, sizeof disc);
        RequestChoices::FillCommonFields(disc, user, commonChoice());
        disc.TotalSize = 0xF0E0D0C0u; // the high bit set: unsigned on every platform
        disc.DiscType = 2;
        QTest::newRow("disc request")
            << hashOf(disc)
            << QByteArray("3e130d1d3e54546025688daecebc89ac0c9d2af28f52dfa9769549eb87bbbebc");

        MobilePrintTaskInfo mobile;
        MobileJobChoice choice;
        choice.DocName = "手机打印的文档名称很长很长很长很长很长很长.docx";
        choice.PageRange = "1-3,5,7-9";
        choice.SecretLevel = "秘密";
        choice.Purpose = kLongChinese;
        choice.PaperSize = "A3";
        choice.Copies = 2;
        choice.Orientation = 'L';
        choice.ColorMode = 'C';
        choice.DuplexMode = 'V';
        choice.AuditorCount = 2;
        choice.AuditorIDs[0] = 11;
        choice.AuditorIDs[1] = 22;
        FillMobileTask(mobile, user, choice);
        QTest::newRow("mobile print job")
            << hashOf(mobile)
            << QByteArray("7a163766041d57ebc22d7d7d904a91edbf09a7b9013cc0553ff472b10c6b0f77");

        // A captured job's names in GB18030, cut by the GBK writer.
        const QByteArray gbk = QTextCodec::codecForName("GB18030")->fromUnicode(kLongChinese);
        CopyGbkText(mobile.Purpose, sizeof mobile.Purpose, gbk.constData());
        CopyGbkText(mobile.DocName, sizeof mobile.DocName, gbk.constData());
        QTest::newRow("captured job, GBK texts")
            << hashOf(mobile)
            << QByteArray("e6b44b8d44ee2cc77720601719431ef3a1bf9b243eb6bf82ad61a46a7c0b9602");

        _TAV_PRINT_TASK_INFO_ task;
        std::memset(&task, 0, sizeof task);
        ChosenAuditors auditors;
        auditors.Count = 2;
        auditors.IDs[0] = 5;
        auditors.IDs[1] = 6;
        QCOMPARE(FillTaskRecord(task, "lisi", auditors, "绝密", kLongChinese), 0);
        QTest::newRow("print settings")
            << hashOf(task)
            << QByteArray("9ca16c2587645802720efb9bab9a481a5af92cea48642b0ddf539f3d2513ec61");
    }

    void records()
    {
        QFETCH(QByteArray, hash);
        QFETCH(QByteArray, expected);
        QCOMPARE(hash, expected);
    }
};

QTEST_MAIN(TestRecordLayout)
#include "tst_recordlayout.moc"
