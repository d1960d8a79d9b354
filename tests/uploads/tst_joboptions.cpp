// GetJobInfo on options files as the PDF printer's backend writes them: one
// line of name=value pairs, values with blanks quoted.

#include "JobOptions.h"
#include "TaskRecords.h"
#include "TavCommon.h"

#include <QtTest>

#include <cstring>

class TestJobOptions : public QObject
{
    Q_OBJECT

private slots:
    void fields_data()
    {
        QTest::addColumn<QByteArray>("options"); // null: no options file
        QTest::addColumn<QString>("doc");        // DocName, stored in GBK
        QTest::addColumn<QByteArray>("codes");   // DuplexMode, ColorMode
        QTest::addColumn<int>("copies");
        QTest::addColumn<int>("pages");
        QTest::addColumn<QByteArray>("paper");
        const auto row = [](const char* name, const QByteArray& options, const QString& doc,
                            const char* codes, int copies, int pages, const char* paper) {
            QTest::newRow(name) << options << doc << QByteArray(codes) << copies << pages
                                << QByteArray(paper);
        };
        row("only copies, impressions, size", "copies=3 job-impressions=12 PageSize=A3\n",
            "TEST.pdf", "SM", 3, 4, "A3");
        row("no options file", QByteArray(), "TEST.pdf", "SM", 1, 1, "A4");
        row("a full job line",
            "job-uuid=urn:uuid:0c1f-77 job-originating-host-name=localhost number-up=1 "
            "PageSize=A4 Duplex=DuplexNoTumble ColorModel=RGB job-impressions=6 copies=2 "
            "title='Microsoft Word - 季度 报告.docx'\n",
            "季度 报告.docx", "VC", 2, 3, "A4");
        row("short edge, CMYK", "Duplex=DuplexTumble ColorModel=CMYK", "TEST.pdf", "HC", 1, 1,
            "A4");
        row("Duplex None, Gray", "Duplex=None ColorModel=Gray", "TEST.pdf", "SM", 1, 1, "A4");
        row("colour is exact", "ColorModel=rgb", "TEST.pdf", "SM", 1, 1, "A4");
        row("RGBW is no colour", "ColorModel=RGBW", "TEST.pdf", "SM", 1, 1, "A4");
        row("quoted with escapes", "title=\"say \\\"hi\\\".pdf\"", "say \"hi\".pdf", "SM", 1, 1,
            "A4");
        row("title that is a path", "title=/home/u/a/b.txt", "b.txt", "SM", 1, 1, "A4");
        row("prefixes anywhere", "title=\"Microsoft Excel - a - Microsoft PowerPoint - b\"",
            "a - b", "SM", 1, 1, "A4");
        row("empty after the last slash",
            "title=/tmp/dir/ document-name-supplied='Microsoft PowerPoint - 方案/终稿.pptx'",
            "方案/终稿.pptx", "SM", 1, 1, "A4");
        row("copies 0 never divides", "copies=0 job-impressions=7", "TEST.pdf", "SM", 0, 7, "A4");
        row("not a number", "copies=abc job-impressions=5", "TEST.pdf", "SM", 0, 5, "A4");
        // 30 characters, 60 GBK bytes: cut after 24 characters, NUL in byte 48.
        row("over-long title", "title=" + QByteArray("文").repeated(30), QString(24, u'文'), "SM",
            1, 1, "A4");
    }

    void fields()
    {
        QFETCH(QByteArray, options);
        QFETCH(QByteArray, codes);
        QTemporaryDir dir;
        const QString path = dir.filePath("options");
        if (!options.isNull()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(options) == options.size());
        }
        MobilePrintTaskInfo info;
        memset(&info, 0x55, sizeof info); // what GetJobInfo does not fill stays
        memset(info.DocName, 0, sizeof info.DocName);
        strcpy(info.DocName, "TEST.pdf");
        GetJobInfo(&info, path);

        QFETCH(QString, doc);
        QByteArray expected = UTF82GBK(doc.toUtf8().constData());
        expected.append(QByteArray(int(sizeof info.DocName) - expected.size(), '\0'));
        QCOMPARE(QByteArray(info.DocName, sizeof info.DocName), expected);
        QCOMPARE(QByteArray() + info.DuplexMode + info.ColorMode, codes);
        QTEST(int(info.Copies), "copies");
        QTEST(int(info.PageCount), "pages");
        QTEST(QByteArray(info.PaperSize), "paper");
        QCOMPARE(info.PaperSize[sizeof info.PaperSize - 1], '\0');
        QCOMPARE(info.JobState, 0x55555555);
        QCOMPARE(info.Orientation, '\x55');
    }
};

QTEST_GUILESS_MAIN(TestJobOptions)
#include "tst_joboptions.moc"
