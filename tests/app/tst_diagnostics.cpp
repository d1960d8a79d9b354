// What a user hands to support: the report the about box copies, and --debug's run level.

#include "DiagnosticsReport.h"
#include "EventLog.h"
#include "TestRoot.h"
#include "aboutdlg.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPushButton>
#include <QtTest>

class tst_Diagnostics : public QObject
{
    Q_OBJECT

    TestRoot m_root;

private slots:
    // The password and its digest never appear, in whatever case or line they stand.
    void reportWithoutSecrets()
    {
        DiagnosticsReport report;
        report.Version = "2.0.2";
        report.Server = "10.1.2.3:8085";
        report.LogPath = "/home/alice/.local/state/OrixClient/AppLog.txt";
        report.Items.append({ReadinessCheck::Verdict::Ok, "server", "10.1.2.3:8085 (http)"});
        report.Items.append({ReadinessCheck::Verdict::Info, "remembered logon",
                             "Password=e10adc3949ba59abbe56e057f20f883e in Last.ini"});
        const QString text = report.text({"E10ADC3949BA59ABBE56E057F20F883E", "pw"});
        QVERIFY(!text.contains("e10adc3949ba59abbe56e057f20f883e", Qt::CaseInsensitive));
        QVERIFY(text.contains("Password=*** in Last.ini"));
        QVERIFY(text.contains("version  2.0.2"));
        QVERIFY(text.contains("server   10.1.2.3:8085"));
        QVERIFY(text.contains("log      /home/alice/.local/state/OrixClient/AppLog.txt"));
        QVERIFY(text.contains("ok    server"));
    }

    // "复制诊断信息" shows only with a report to give, and puts it on the clipboard.
    void aboutBoxCopies()
    {
        aboutdlg plain;
        QVERIFY(plain.diagnosticsButton()->isHidden());
        aboutdlg about;
        int asked = 0;
        about.setDiagnostics([&asked] {
            ++asked;
            return QStringLiteral("诊断 report");
        });
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QVERIFY(about.diagnosticsButton()->isVisible());
        QCOMPARE(about.diagnosticsButton()->text(), QString("复制诊断信息"));
        about.diagnosticsButton()->click();
        QCOMPARE(asked, 1);
        QCOMPARE(QGuiApplication::clipboard()->text(), QString("诊断 report"));
    }

    // The run level logs events the configuration's level leaves out, for this process only.
    void runLevel()
    {
        m_root.writeConfig("[Debug]\nLevel=0\n");
        const QString log = QFile::decodeName(EventLogFile());
        QFile::remove(log);
        LogEvent(kLogTrace, "before %d", 1);
        QVERIFY(!QFile::exists(log) || !QFile(log).size());
        SetEventLogRunLevel(kLogTrace);
        LogEvent(kLogTrace, "during %d", 2);
        SetEventLogRunLevel(0);
        LogEvent(kLogTrace, "after %d", 3);
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("during 2\r\n"));
    }

};

QTEST_MAIN(tst_Diagnostics)
#include "tst_diagnostics.moc"
