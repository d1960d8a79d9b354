// The mobile print job and the copy request from the dialog to the development server, through
// a relay that can stop answering: the records as the server stored them, byte for byte, the
// pages of the document, and the failures told to the user with nothing lost.

#include "DevServerProcess.h"
#include "FileDialogs.h"
#include "MessageBoxes.h"
#include "OrixUser.h"
#include "RawHttpServer.h"
#include "RecordBytes.h"
#include "RequestFlows.h"
#include "TavCommon.h"
#include "TestRoot.h"
#include "TextUtil.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

#include <functional>
#include <memory>

namespace
{

// A PDF of the given number of empty pages, without a cross-reference table (the PDF library
// rebuilds it, as it does for many a real file).
QByteArray makePdf(int pages)
{
    QByteArray pdf = "%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n2 0 obj << "
                     "/Type /Pages /Count " +
                     QByteArray::number(pages) + " /Kids [";
    for (int i = 0; i < pages; ++i)
        pdf += QByteArray::number(3 + i) + " 0 R ";
    pdf += "] >> endobj\n";
    for (int i = 0; i < pages; ++i)
        pdf += QByteArray::number(3 + i) + " 0 obj << /Type /Page /Parent 2 0 R >> endobj\n";
    return pdf + "trailer << /Root 1 0 R >>\n%%EOF\n";
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

} // namespace

class TestRequestsServer : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    DevServerProcess m_server;
    std::unique_ptr<RawHttpServer> m_relay; // to m_server, or silent
    std::unique_ptr<OrixUser> m_user;       // zhangsan: secret levels 公开, 内部, 秘密
    RequestFlows m_flows;
    QStringList m_boxes;
    QString m_chosenFile;
    // What the user does in each request dialog that comes up; the dialogs seen.
    std::function<void(QDialog*)> m_userActs;
    QStringList m_dialogs;
    QTimer m_driver;

    void driveDialog()
    {
        QDialog* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialog->property("driven").toBool())
            return;
        dialog->setProperty("driven", true);
        m_dialogs << dialog->metaObject()->className();
        m_userActs(dialog);
    }

    // A new relay to the server, and a logon through it.
    void relay()
    {
        m_relay.reset(new RawHttpServer);
        m_relay->forwardTo(m_server.port());
        CopyText(m_user->RpcPort, sizeof m_user->RpcPort, m_relay->portText().constData());
        QCOMPARE(m_user->Logon(), 0);
    }

    // The record and the document of the last upload of a kind.
    QByteArray lastUpload(const QString& kind, QByteArray* document = nullptr) const
    {
        const QVariantList row =
            m_server
                .query("SELECT RecordPath, DataPath FROM Uploads WHERE Kind='" + kind +
                       "' ORDER BY UploadID DESC LIMIT 1")
                .value(0);
        if (document)
            *document = readFile(row.value(1).toString());
        return readFile(row.value(0).toString());
    }

    int uploads() const { return m_server.scalar("SELECT count(*) FROM Uploads").toInt(); }

    // The fields that every record takes from the session, at their offsets.
    RecordBytes sessionFields(int size, bool gbk) const
    {
        const OrixUser& user = *m_user;
        return RecordBytes(size)
            .text(0, "zhangsan")
            .text(50, gbk ? UTF82GBK("张三") : QByteArray("张三"))
            .number(100, 1)
            .text(764, BoundedText(user.ComputerName, 29))
            .text(794, BoundedText(user.MacAddress, 19))
            .text(814, BoundedText(user.IPAddress, 49));
    }

private slots:
    void initTestCase()
    {
        m_root.writeConfig("[Main%20Window]\n2015=\"工作资料;会议材料;其他\"\n");
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_user.reset(new OrixUser);
        CopyText(m_user->ServerAddress, sizeof m_user->ServerAddress, "127.0.0.1");
        CopyText(m_user->UserName, sizeof m_user->UserName, "zhangsan");
        CopyText(m_user->Password, sizeof m_user->Password, kSeedPasswordDigest);
        relay();
        QCOMPARE(m_user->AuditFlow.Secrets.size(), 3);

        MessageBoxes::setInformationHook(
            [this](QWidget*, const QString& title, const QString& text) {
                m_boxes << title + '|' + text;
            });
        FileDialogs::setHook([this](QWidget*, const QString&, const QString&, const QString&) {
            return m_chosenFile;
        });
        connect(&m_driver, &QTimer::timeout, this, &TestRequestsServer::driveDialog);
        m_driver.start(10);
    }

    void cleanupTestCase()
    {
        MessageBoxes::setInformationHook({});
        FileDialogs::setHook({});
    }

    void init()
    {
        m_boxes.clear();
        m_dialogs.clear();
    }

    void mobilePrintJob_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("secret");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QList<int>>("auditors");
        QTest::newRow("PDF of 3 pages, two approval levels")
            << "季度报告.pdf" << makePdf(3) << 2 << 3 << QList<int>{10, 12};
        QTest::newRow("text: one page")
            << "notes.txt" << QByteArray("plain text\n") << 0 << 1 << QList<int>{};
    }

    void mobilePrintJob()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QFETCH(int, secret);
        QFETCH(QList<int>, auditors);
        m_chosenFile = m_root.path() + '/' + file;
        QFile f(m_chosenFile);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
        f.close();
        m_userActs = [secret](QDialog* dialog) {
            child<QPushButton>(dialog, "btnBrowse")->click();
            child<QComboBox>(dialog, "comboBoxSecretLevel")->setCurrentIndex(secret);
            child<QComboBox>(dialog, "comboBoxColor")->setCurrentIndex(1);
            child<QComboBox>(dialog, "comboBoxAuditor1")
                ->setCurrentIndex(child<QComboBox>(dialog, "comboBoxAuditor1")->count() - 1);
            child<QPushButton>(dialog, "btnOK")->click();
        };

        QVERIFY(m_flows.runMobilePrintJob(m_user.get()));
        QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join('\n')));
        QCOMPARE(m_dialogs, QStringList{"MobileJobParamDlg"});
        QByteArray document;
        const QByteArray record = lastUpload("mobile", &document);
        QCOMPARE(document, content);
        const char* names[] = {"公开", "内部", "秘密"};
        QFETCH(int, pages);
        const RecordBytes expected = sessionFields(1112, true)
                                         .number(104, auditors.size())
                                         .numbers(112, auditors)
                                         .text(152, UTF82GBK(names[secret]))
                                         .text(202, UTF82GBK("工作资料"))
                                         .text(714, UTF82GBK(file.toUtf8()))
                                         .text(864, "PCS")
                                         .numbers(868, {20, pages, 1}) // the server's job state
                                         .text(880, "A4")
                                         .text(930, "doc")
                                         .text(1010, "-1");
        QCOMPARE(record, expected.data);
        QCOMPARE(readFile(m_chosenFile), content); // the file is only read
    }

    void mobilePrintJobFails_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<QString>("box");
        QTest::newRow("server does not answer") << true << "错误|提交作业失败";
        QTest::newRow("file gone") << false << "错误|提交作业失败：无法读取文件“gone.pdf”。";
    }

    void mobilePrintJobFails()
    {
        QFETCH(bool, fileExists);
        m_chosenFile = m_root.path() + (fileExists ? "/kept.pdf" : "/gone.pdf");
        const QByteArray content = makePdf(1);
        if (fileExists) {
            QFile f(m_chosenFile);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(content) == content.size());
        }
        m_userActs = [](QDialog* dialog) {
            child<QPushButton>(dialog, "btnBrowse")->click();
            child<QPushButton>(dialog, "btnOK")->click();
        };
        relay();
        m_relay->forwardTo(0); // the logon went through; now every connection is closed
        const int before = uploads();

        QVERIFY(!m_flows.runMobilePrintJob(m_user.get()));
        QTEST(m_boxes.join('\n'), "box");
        QCOMPARE(uploads(), before);
        if (fileExists)
            QCOMPARE(readFile(m_chosenFile), content);
        relay();
    }

    void copyRequest()
    {
        // The server is gone when the request is sent: the user is told, and the dialog comes up
        // again with what was entered, also after it was closed; once the server is back the
        // request goes out as entered.
        int attempt = 0;
        m_userActs = [&attempt](QDialog* dialog) {
            QLineEdit* docName = child<QLineEdit>(dialog, "lineEditDocName");
            if (attempt++ == 0) {
                docName->setText("合同草案");
                child<QLineEdit>(dialog, "lineEditPages")->setText("12");
                child<QLineEdit>(dialog, "lineEditCopies")->setText("3");
                child<QComboBox>(dialog, "cbColor")->setCurrentIndex(1);
                child<QComboBox>(dialog, "cbOrient")->setCurrentIndex(1);
                child<QComboBox>(dialog, "cbSecretLevel")->setCurrentIndex(2);
                child<QComboBox>(dialog, "cbUseTo")->setCurrentIndex(2);
                child<QLineEdit>(dialog, "lineEditOtherPurpose")->setText("评审");
            } else if (docName->text() != "合同草案") {
                dialog->reject(); // not as entered: the test fails below
                return;
            }
            child<QPushButton>(dialog, attempt == 2 ? "btnCancel" : "btnOK")->click();
        };
        m_relay.reset(); // nothing listens at the session's port any more
        const int before = uploads();
        QVERIFY(!m_flows.runCopyRequest(m_user.get()));
        QCOMPARE(m_boxes, QStringList{"错误|复印申请提交失败，请重新提交。"});
        QCOMPARE(m_dialogs, QStringList({"CopyJobParamDlg", "CopyJobParamDlg"}));
        QCOMPARE(uploads(), before);

        relay();
        QVERIFY(m_flows.runCopyRequest(m_user.get()));
        QCOMPARE(m_dialogs.size(), 3);
        QCOMPARE(m_boxes.size(), 1);
        const RecordBytes expected = sessionFields(932, false)
                                         .numbers(104, {2, 0, 10, 12})
                                         .text(152, "秘密(秘密级文件)")
                                         .text(202, "其他:评审")
                                         .text(714, "合同草案")
                                         .text(864, "LCS")
                                         .numbers(868, {640, 12, 3})
                                         .text(880, "A4");
        // The request is sent without waiting for the server's answer.
        QTRY_COMPARE(lastUpload("copy"), expected.data);
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&m_flows.copyTask()), 932),
                 expected.data);
    }
};

QTEST_MAIN(TestRequestsServer)
#include "tst_requests_server.moc"
