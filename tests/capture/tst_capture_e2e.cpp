// End to end: lp as a throwaway user through a private CUPS server (needs root, else skipped) into
// the spool folder, the settings dialog, "确定": document and record on the server, folder gone.

#include "DevServerProcess.h"
#include "LocalUser.h"
#include "OnlineDlg.h"
#include "PdfPages.h"
#include "PrintSettingDlg.h"
#include "PrivateCupsd.h"
#include "QPrintJobMonitor.h"
#include "SamplePdf.h"
#include "SessionTestKit.h"
#include "TavCommon.h"
#include "TestFiles.h"
#include "TestRoot.h"

#include <QtTest>

#include <pwd.h>
#include <sys/stat.h>

class TestCaptureEndToEnd : public QObject
{
    Q_OBJECT

    LocalUser m_person; // prints, and is the desktop user
    TestRoot m_root;
    DevServerProcess m_server;
    PrivateCupsd m_cups;
    QString m_skip;
    BoxRecorder m_boxes;
    std::unique_ptr<OnlineDlg> m_window;

    QString spoolFolder() const
    {
        return QString::fromUtf8(SystemPaths::spoolRoot()) + m_person.name();
    }

private slots:
    void initTestCase()
    {
        chmod(QFile::encodeName(m_root.path()).constData(), 0755);
        if (geteuid() == 0 && !m_person.create("e"))
            QFAIL(qPrintable(m_person.errorString()));
        m_root.setUser(m_person.name());
        if (!m_cups.start(m_root.path())) {
            if (!m_cups.cannotRun())
                QFAIL(qPrintable(m_cups.errorString()));
            m_skip = "cupsd cannot run here: " + m_cups.errorString();
            return;
        }
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_root.writeConfig("[Main%20Window]\n2002=127.0.0.1\n");
        QVERIFY(m_root.writeRememberedLogon("zhangsan", m_server.port(), kSeedPasswordDigest));
        // The user's folder as the printer makes it for its first job.
        const passwd* person = getpwnam(m_person.name().toUtf8().constData());
        QVERIFY(person);
        const QByteArray folder = QFile::encodeName(spoolFolder());
        QVERIFY(QDir().mkpath(spoolFolder()));
        QCOMPARE(chown(folder.constData(), person->pw_uid, person->pw_gid), 0);
        QCOMPARE(chmod(folder.constData(), 0700), 0);

        // One automatic logon for the whole road.
        OnlineDlg::Options options;
        options.pluginPath = m_root.path() + "/no-plugin.so";
        options.onlinePollMs = 3600 * 1000;
        m_window.reset(new OnlineDlg(options));
        QTRY_VERIFY_WITH_TIMEOUT(m_window->isOnline(), 20000);
        QVERIFY(m_window->monitor()->isRunning());
    }

    void cleanupTestCase() { m_window.reset(); }

    void printedDocumentReachesServer()
    {
        if (!m_skip.isEmpty())
            QSKIP(qPrintable(m_skip));
        const QString document = m_cups.folder() + "/report.pdf";
        QVERIFY(writeFile(document, SamplePdf(3)));
        QFile(document).setPermissions(QFile(document).permissions() | QFile::ReadOther);
        const qlonglong before = m_server.scalar("SELECT count(*) FROM Uploads").toLongLong();

        // At the dialog: 秘密 (two approval levels), 一楼复印机, "确定"; the document kept aside.
        QByteArray captured;
        QTimer user;
        connect(&user, &QTimer::timeout, this, [&] {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<PrintSettingDlg*>(w);
                if (!dialog || !dialog->isVisible() || !captured.isEmpty())
                    continue;
                const QStringList jobs =
                    QDir(spoolFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
                captured = readFile(spoolFolder() + '/' + jobs.value(0) + "/job.pdf");
                child<QComboBox>(dialog, "comboBoxSecretLevel")->setCurrentIndex(2);
                child<QComboBox>(dialog, "comboBoxPrintersList")->setCurrentIndex(2);
                QTimer::singleShot(0, child<QPushButton>(dialog, "Btn_OK_Print"),
                                   &QPushButton::click);
            }
        });
        user.start(20);
        const int job = m_cups.print({"-t", "季度报告.pdf", "-n", "2", "-o",
                                      "sides=two-sided-long-edge", "-o", "media=A5", document},
                                     m_person.name());
        QVERIFY2(job > 0, qPrintable(m_cups.errorString()));
        QTRY_VERIFY_WITH_TIMEOUT(
            m_server.scalar("SELECT count(*) FROM Uploads").toLongLong() == before + 1, 30000);
        QTRY_COMPARE(QDir(spoolFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                     QStringList());
        QTRY_COMPARE(m_nMonitorFolderState.load(), 0);
        QCOMPARE(m_boxes.boxes, QStringList());

        const QVariantList upload =
            m_server.query("SELECT RecordPath, DataPath FROM Uploads ORDER BY UploadID DESC")
                .value(0);
        QVERIFY(captured.startsWith("%PDF-"));
        QVERIFY(readFile(upload.value(1).toString()) == captured);
        QCOMPARE(GetPdfPageCount(QFile::encodeName(upload.value(1).toString()).constData()), 3);
        const QByteArray bytes = readFile(upload.value(0).toString());
        QCOMPARE(bytes.size(), int(sizeof(MobilePrintTaskInfo)));
        MobilePrintTaskInfo r;
        memcpy(&r, bytes.constData(), sizeof r);
        QStringList fields;
        fields << r.UserName << QString::number(r.UserID) << GBK2UTF8(r.UserFullName)
               << GBK2UTF8(r.DocName) << GBK2UTF8(r.SecretLevel) << GBK2UTF8(r.Purpose)
               << GBK2UTF8(r.PrinterName) << QString::number(r.AuditorCount)
               << QString("%1,%2,%3").arg(r.AuditorIDs[0]).arg(r.AuditorIDs[1]).arg(r.AuditorIDs[2])
               << QString::number(r.Copies) << QString::number(r.PageCount) << r.PaperSize
               << QString(r.DuplexMode) + r.ColorMode + r.Orientation << QString::number(r.JobState)
               << r.DocType << r.PageRange << QString(r.JobFileName).section('.', 1);
        QCOMPARE(fields.join('|'), QString("zhangsan|1|张三|季度报告.pdf|秘密(秘密级文件)|不归还|"
                                           "一楼复印机|2|10,12,0|2|3|A5|VMP|20|pdf|-1|tavprint"));
    }
};

QTEST_MAIN(TestCaptureEndToEnd)
#include "tst_capture_e2e.moc"
