// The PDF printer: the option text the backend writes, and whole jobs printed with lp as
// "nobody" through a private CUPS server (needs root, else those cases skip).

#include "JobSpool.h"
#include "PdfPages.h"
#include "PrivateCupsd.h"
#include "SamplePdf.h"
#include "TestFiles.h"

#include <QtTest>

#include <cups/cups.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QMap<QString, QString> parseOptions(const std::string& text)
{
    cups_option_t* list = nullptr;
    const int n = cupsParseOptions(text.c_str(), 0, &list);
    QMap<QString, QString> result;
    for (int i = 0; i < n; ++i)
        result.insert(QString::fromUtf8(list[i].name), QString::fromUtf8(list[i].value));
    cupsFreeOptions(n, list);
    return result;
}

// "owner mode" of what stands at path.
QString ownerAndMode(const QString& path)
{
    struct stat st;
    if (lstat(QFile::encodeName(path).constData(), &st) != 0)
        return "missing";
    return QString::asprintf("%d %o", int(st.st_uid), st.st_mode & 07777);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

} // namespace

class TestCupsBackend : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    PrivateCupsd m_cups;
    QString m_spool;

private slots:
    void initTestCase()
    {
        umask(022); // lp runs as "nobody" and reads the documents
        chmod(QFile::encodeName(m_root.path()).constData(), 0755);
        m_spool = m_root.path() + "/var/spool/cups-pdf/";
        if (!m_cups.start(m_root.path()) && !m_cups.cannotRun())
            QFAIL(qPrintable(m_cups.errorString()));
    }

    void optionTextReadsBack_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("readBack");
        const auto row = [](const char* name, const char* value, const char* readBack) {
            QTest::newRow(name) << QString(value) << QString(readBack);
        };
        row("blanks and chinese", "季度 报告 v2.pdf", "季度 报告 v2.pdf");
        row("quotes", "say \"hi\" it's", "say \"hi\" it's");
        row("backslashes", "C:\\docs\\a.doc\\", "C:\\docs\\a.doc\\");
        row("braces and equals", "{a=1 b=2} x=y", "{a=1 b=2} x=y");
        row("empty", "", "");
        row("line breaks", "two\nlines\r\tend", "two lines  end");
    }

    void optionTextReadsBack()
    {
        QFETCH(QString, value);
        const auto parsed = parseOptions(JobSpool::FormatOptions(
            {{"title", value.toStdString()}, {"after", "1"}, {"bad name", "x"}}));
        QTEST(parsed.value("title"), "readBack");
        QCOMPARE(parsed.value("after"), QString("1"));
        QCOMPARE(parsed.size(), 2);
    }

    // PageSize, Duplex and ColorModel from the job's choices, else the queue's defaults.
    void choicesAndDefaults_data()
    {
        QTest::addColumn<QByteArray>("options");
        QTest::addColumn<QByteArray>("ppdDefaults");
        QTest::addColumn<QString>("chosen");
        const auto row = [](const char* name, const char* options, const char* ppd,
                            const char* chosen) {
            QTest::newRow(name) << QByteArray(options) << QByteArray(ppd) << QString(chosen);
        };
        row("ipp attributes",
            "media=iso_a5_148x210mm sides=two-sided-short-edge print-color-mode=color", "",
            "A5 DuplexTumble RGB");
        row("queue choices win",
            "PageSize=Letter media=A3 Duplex=None sides=two-sided-long-edge ColorModel=CMYK "
            "print-color-mode=monochrome",
            "", "Letter None CMYK");
        row("media list, legacy names",
            "media=na-legal,tray1 sides=one-sided print-color-mode=monochrome", "",
            "Legal None Gray");
        row("nothing chosen", "number-up=1", "", "A4 None Gray");
        row("unknown values take the queue's defaults",
            "media=iso_a6_105x148mm sides=sideways print-color-mode=auto",
            "*DefaultPageSize: B5\n*DefaultDuplex: DuplexNoTumble\n*DefaultColorModel: RGB\n",
            "B5 DuplexNoTumble RGB");
    }

    void choicesAndDefaults()
    {
        QFETCH(QByteArray, options);
        QFETCH(QByteArray, ppdDefaults);
        const QString ppd = m_root.path() + "/test.ppd";
        QVERIFY(writeFile(ppd, "*PPD-Adobe: \"4.3\"\n" + ppdDefaults));
        const auto o = parseOptions(JobSpool::FormatOptions(
            JobSpool::JobOptions("title", "3", options.constData(),
                                 JobSpool::ReadPpdDefaults(QFile::encodeName(ppd)), 4)));
        QTEST(QStringList({o["PageSize"], o["Duplex"], o["ColorModel"]}).join(' '), "chosen");
        QCOMPARE(o.value("copies") + ' ' + o.value("job-impressions"), QString("3 12"));
    }

    // Each document of a job in a folder of its own, complete when it appears, the user's only.
    void printedJobArrives_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("lpArgs");
        QTest::addColumn<QList<int>>("pages");     // of each job folder
        QTest::addColumn<QStringList>("expected"); // name=value, read back from "options"
        const QString title = "季度报告 \"终稿\".pdf";
        QTest::newRow("pdf, copies and choices")
            << QStringList{"report.pdf"}
            << QStringList{"-n", "3",        "-o", "sides=two-sided-long-edge",
                           "-o", "media=A3", "-o", "print-color-mode=color",
                           "-t", title}
            << QList<int>{3}
            << QStringList{"title=" + title,
                           "copies=3",
                           "job-impressions=9",
                           "PageSize=A3",
                           "Duplex=DuplexNoTumble",
                           "ColorModel=RGB",
                           "document-name-supplied=report.pdf"};
        QTest::newRow("chinese text") << QStringList{"说明.txt"} << QStringList() << QList<int>{1}
                                      << QStringList{"title=说明.txt",
                                                     "copies=1",
                                                     "job-impressions=1",
                                                     "PageSize=A4",
                                                     "Duplex=None",
                                                     "ColorModel=Gray",
                                                     "document-name-supplied=说明.txt"};
        QTest::newRow("two documents, in order")
            << QStringList{"first.pdf", "second.pdf"} << QStringList() << QList<int>{2, 5}
            << QStringList();
    }

    void printedJobArrives()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, lpArgs);
        QFETCH(QList<int>, pages);
        if (m_cups.cannotRun())
            QSKIP(qPrintable("no private CUPS server: " + m_cups.errorString()));
        for (int i = 0; i < files.size(); ++i) {
            const QByteArray content =
                files[i].endsWith(".txt") ? "打印测试：中文文本\n" : SamplePdf(pages[i]);
            lpArgs << m_cups.folder() + '/' + files[i];
            QVERIFY(writeFile(lpArgs.last(), content));
        }
        const passwd* nobody = getpwnam("nobody");
        QVERIFY(nobody);
        const QString userFolder = m_spool + "nobody";

        // Nothing visible is created in the user's folder: a job folder is renamed into place.
        const int events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        const bool watched =
            inotify_add_watch(events, QFile::encodeName(userFolder).constData(), IN_CREATE) >= 0;
        const int job = m_cups.print(lpArgs, "nobody");
        QVERIFY2(job > 0, qPrintable(m_cups.errorString()));
        QCOMPARE(m_cups.waitForJob(job), int(IPP_JSTATE_COMPLETED));
        alignas(inotify_event) char buffer[16384];
        const ssize_t n = read(events, buffer, sizeof buffer);
        for (ssize_t at = 0; watched && at < n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(buffer + at);
            QVERIFY2(e->len == 0 || e->name[0] == '.', e->name);
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
        close(events);

        const QString owner = QString::number(nobody->pw_uid);
        QCOMPARE(ownerAndMode(userFolder), owner + " 700");
        QVERIFY(entries(userFolder).filter(QRegularExpression("^\\.")).isEmpty());
        const QStringList folders = QDir(userFolder)
                                        .entryList({QString("*-%1*").arg(job, 10, 10, QChar('0'))},
                                                   QDir::Dirs, QDir::Name | QDir::IgnoreCase);
        QCOMPARE(folders.size(), pages.size());
        for (int i = 0; i < folders.size(); ++i) {
            const QString folder = userFolder + '/' + folders[i];
            QCOMPARE(entries(folder), QStringList({"job.pdf", "options"}));
            QCOMPARE(ownerAndMode(folder) + ownerAndMode(folder + "/job.pdf") +
                         ownerAndMode(folder + "/options"),
                     owner + " 700" + owner + " 600" + owner + " 600");
            QVERIFY(readFile(folder + "/job.pdf").startsWith("%PDF-"));
            QCOMPARE(GetPdfPageCount(QFile::encodeName(folder + "/job.pdf").constData()), pages[i]);
        }
        const auto options =
            parseOptions(readFile(userFolder + '/' + folders[0] + "/options").toStdString());
        QFETCH(QStringList, expected);
        for (const QString& pair : expected) {
            const QString name = pair.section('=', 0, 0);
            QCOMPARE(name + "=" + options.value(name), pair);
        }
    }

    void refusedJobWritesNothing_data()
    {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QString>("planted"); // what stands in the owner's place
        QTest::newRow("unknown user") << "tavpdf-no-such-user"
                                      << "";
        QTest::newRow("path as user") << "../escaped"
                                      << "";
        QTest::newRow("link in place of the folder") << "daemon"
                                                     << "link";
        QTest::newRow("folder of another user") << "bin"
                                                << "folder";
    }

    void refusedJobWritesNothing()
    {
        QFETCH(QString, owner);
        QFETCH(QString, planted);
        if (m_cups.cannotRun())
            QSKIP(qPrintable("no private CUPS server: " + m_cups.errorString()));
        const QString document = m_cups.folder() + "/refused.pdf";
        QVERIFY(writeFile(document, SamplePdf(1)));
        QVERIFY(QDir().mkpath(m_spool));
        const QString target = m_root.path() + "/elsewhere-" + owner.right(3);
        const QString place = m_spool + owner;
        QVERIFY(QDir().mkpath(target));
        if (planted == "link")
            QVERIFY(QFile::link(target, place));
        else if (planted == "folder")
            QVERIFY(QDir().mkpath(place)); // root's, not the user's
        const QStringList before = entries(m_root.path()) + entries(m_spool);

        const int job = m_cups.print({"-U", owner, document});
        QVERIFY2(job > 0, qPrintable(m_cups.errorString()));
        const int state = m_cups.waitForJob(job);
        QVERIFY2(state == IPP_JSTATE_ABORTED || state == IPP_JSTATE_CANCELED,
                 qPrintable(QString("job state %1").arg(state)));
        QCOMPARE(entries(m_root.path()) + entries(m_spool), before);
        QCOMPARE(entries(target), QStringList());
        QVERIFY(planted != "link" || QFileInfo(place).isSymLink());
        QVERIFY(planted != "folder" || entries(place).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCupsBackend)
#include "tst_cupsbackend.moc"
