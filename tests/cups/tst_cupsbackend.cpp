// The PDF printer: the option text the backend writes, and whole jobs
// printed with lp through a private CUPS server into a private spool root.
// The printing user is "nobody" (present on every Debian system, CI
// included); the server needs root, without it those cases skip.

#include "JobSpool.h"
#include "PdfPages.h"
#include "PrivateCupsd.h"
#include "SystemPaths.h"

#include <QtTest>

#include <cups/cups.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

using Options = QMap<QString, QString>;

Options ParseOptions(const QByteArray& text)
{
    cups_option_t* list = nullptr;
    const int n = cupsParseOptions(text.constData(), 0, &list);
    Options result;
    for (int i = 0; i < n; ++i)
        result.insert(QString::fromUtf8(list[i].name), QString::fromUtf8(list[i].value));
    cupsFreeOptions(n, list);
    return result;
}

Options JobOptions(const char* options, const JobSpool::PpdDefaults& defaults, int pages,
                   const char* copies = "1")
{
    QByteArray text = QByteArray::fromStdString(
        JobSpool::FormatOptions(JobSpool::JobOptions("title", copies, options, defaults, pages)));
    return ParseOptions(text);
}

// A PDF with the given number of pages: objects 1 catalog, 2 page tree,
// 3 font, then each page (4, 6, ...) followed by its content.
QByteArray MakePdf(int pages)
{
    QByteArray kids;
    for (int i = 0; i < pages; ++i)
        kids += QByteArray::number(4 + 2 * i) + " 0 R ";
    QList<QByteArray> objects{"<< /Type /Catalog /Pages 2 0 R >>",
                              "<< /Type /Pages /Kids [" + kids + "] /Count " +
                                  QByteArray::number(pages) + " >>",
                              "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"};
    for (int i = 0; i < pages; ++i) {
        const QByteArray text =
            "BT /F1 24 Tf 72 700 Td (Page " + QByteArray::number(i + 1) + ") Tj ET";
        objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents " +
                       QByteArray::number(5 + 2 * i) +
                       " 0 R /Resources << /Font << /F1 3 0 R >> >> >>"
                << "<< /Length " + QByteArray::number(text.size()) + " >>\nstream\n" + text +
                       "\nendstream";
    }
    QByteArray pdf = "%PDF-1.4\n";
    QByteArray xref =
        "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (int i = 0; i < objects.size(); ++i) {
        xref += QByteArray::number(pdf.size()).rightJustified(10, '0') + " 00000 n \n";
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const QByteArray start = QByteArray::number(pdf.size());
    return pdf + xref + "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + start + "\n%%EOF\n";
}

bool WriteFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
        return false;
    f.close();
    return f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                            QFile::ReadOther);
}

mode_t Mode(const QString& path)
{
    struct stat st;
    return lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode : 0;
}

uid_t Owner(const QString& path)
{
    struct stat st;
    return lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_uid : uid_t(-1);
}

QStringList Entries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestCupsBackend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void spoolRootAsTheClientSeesIt_data();
    void spoolRootAsTheClientSeesIt();
    void optionTextReadsBack_data();
    void optionTextReadsBack();
    void choicesAndDefaults_data();
    void choicesAndDefaults();
    void printedJobArrives_data();
    void printedJobArrives();
    void everyFileOfAJobArrivesInOrder();
    void refusedJobWritesNothing_data();
    void refusedJobWritesNothing();

private:
    QTemporaryDir m_root;
    PrivateCupsd m_cups;
    bool m_running = false;
    QString m_skipReason;
    QString m_spool;
};

void TestCupsBackend::initTestCase()
{
    QVERIFY(m_root.isValid());
    chmod(QFile::encodeName(m_root.path()).constData(), 0755);
    m_spool = m_root.path() + "/var/spool/cups-pdf/";
    m_running = m_cups.start(m_root.path());
    m_skipReason = m_cups.errorString();
    if (!m_running && !m_cups.cannotRun())
        QFAIL(qPrintable(m_skipReason));
}

void TestCupsBackend::spoolRootAsTheClientSeesIt_data()
{
    QTest::addColumn<QByteArray>("prefix");
    QTest::newRow("production") << QByteArray();
    QTest::newRow("root") << QByteArray("/");
    QTest::newRow("folder") << QByteArray("/tmp/demo");
    QTest::newRow("trailing slashes") << QByteArray("/tmp/demo//");
}

void TestCupsBackend::spoolRootAsTheClientSeesIt()
{
    QFETCH(QByteArray, prefix);
    const QByteArray saved = qgetenv(SystemPaths::kRootPrefixVariable);
    qputenv(SystemPaths::kRootPrefixVariable, prefix);
    const QByteArray client = SystemPaths::spoolRoot();
    qputenv(SystemPaths::kRootPrefixVariable, saved);
    QCOMPARE(QByteArray::fromStdString(JobSpool::SpoolRoot(prefix.constData())), client);
}

void TestCupsBackend::optionTextReadsBack_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("readBack");
    QTest::newRow("plain") << "A4"
                           << "A4";
    QTest::newRow("blanks and chinese") << "季度 报告 v2.pdf"
                                        << "季度 报告 v2.pdf";
    QTest::newRow("quotes") << "say \"hi\" it's"
                            << "say \"hi\" it's";
    QTest::newRow("backslashes") << "C:\\docs\\a.doc\\"
                                 << "C:\\docs\\a.doc\\";
    QTest::newRow("braces and equals") << "{a=1 b=2} x=y"
                                       << "{a=1 b=2} x=y";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("line breaks") << "two\nlines\r\tend"
                                 << "two lines  end";
}

void TestCupsBackend::optionTextReadsBack()
{
    QFETCH(QString, value);
    QFETCH(QString, readBack);
    const std::string v = value.toStdString();
    const Options parsed = ParseOptions(QByteArray::fromStdString(
        JobSpool::FormatOptions({{"title", v}, {"after", "1"}, {"bad name", "x"}})));
    QCOMPARE(parsed.value("title"), readBack);
    QCOMPARE(parsed.value("after"), QString("1"));
    QCOMPARE(parsed.size(), 2);
}

void TestCupsBackend::choicesAndDefaults_data()
{
    QTest::addColumn<QByteArray>("options");
    QTest::addColumn<QByteArray>("ppdDefaults");
    QTest::addColumn<QString>("pageSize");
    QTest::addColumn<QString>("duplex");
    QTest::addColumn<QString>("colorModel");
    QTest::newRow("ipp attributes")
        << QByteArray("media=iso_a5_148x210mm sides=two-sided-short-edge print-color-mode=color")
        << QByteArray() << "A5"
        << "DuplexTumble"
        << "RGB";
    QTest::newRow("queue choices win")
        << QByteArray("PageSize=Letter media=A3 Duplex=None sides=two-sided-long-edge "
                      "ColorModel=CMYK print-color-mode=monochrome")
        << QByteArray() << "Letter"
        << "None"
        << "CMYK";
    QTest::newRow("media list, legacy names")
        << QByteArray("media=na-legal,tray1 sides=one-sided print-color-mode=monochrome")
        << QByteArray() << "Legal"
        << "None"
        << "Gray";
    QTest::newRow("nothing chosen") << QByteArray("number-up=1") << QByteArray() << "A4"
                                    << "None"
                                    << "Gray";
    QTest::newRow("unknown values take the queue's defaults")
        << QByteArray("media=iso_a6_105x148mm sides=sideways print-color-mode=auto")
        << QByteArray("*DefaultPageSize: B5\n*DefaultDuplex: DuplexNoTumble\n"
                      "*DefaultColorModel: RGB\n")
        << "B5"
        << "DuplexNoTumble"
        << "RGB";
}

void TestCupsBackend::choicesAndDefaults()
{
    QFETCH(QByteArray, options);
    QFETCH(QByteArray, ppdDefaults);
    QFETCH(QString, pageSize);
    QFETCH(QString, duplex);
    QFETCH(QString, colorModel);
    const QString ppd = m_root.path() + "/test.ppd";
    QVERIFY(WriteFile(ppd, "*PPD-Adobe: \"4.3\"\n" + ppdDefaults));
    const Options o =
        JobOptions(options.constData(), JobSpool::ReadPpdDefaults(QFile::encodeName(ppd)), 4, "3");
    QCOMPARE(o.value("PageSize"), pageSize);
    QCOMPARE(o.value("Duplex"), duplex);
    QCOMPARE(o.value("ColorModel"), colorModel);
    QCOMPARE(o.value("copies"), QString("3"));
    QCOMPARE(o.value("job-impressions"), QString("12"));
}

void TestCupsBackend::printedJobArrives_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("lpArgs");
    QTest::addColumn<int>("pages");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("expected"); // name=value, read back from "options"

    const QString title = QString::fromUtf8("季度报告 \"终稿\".pdf");
    QTest::newRow("pdf, copies and choices")
        << "report.pdf" << MakePdf(3)
        << QStringList{"-n", "3",        "-o", "sides=two-sided-long-edge",
                       "-o", "media=A3", "-o", "print-color-mode=color",
                       "-t", title}
        << 3 << title << QStringList{"copies=3",       "job-impressions=9",
                                     "PageSize=A3",    "Duplex=DuplexNoTumble",
                                     "ColorModel=RGB", "document-name-supplied=report.pdf"};
    QTest::newRow("chinese text")
        << QString::fromUtf8("说明.txt")
        << QString::fromUtf8("打印测试：中文文本\nsecond line\n").toUtf8() << QStringList() << 1
        << QString::fromUtf8("说明.txt")
        << QStringList{"copies=1",        "job-impressions=1",
                       "PageSize=A4",     "Duplex=None",
                       "ColorModel=Gray", QString::fromUtf8("document-name-supplied=说明.txt")};
    QTest::newRow("postscript")
        << "two.ps"
        << QByteArray("%!PS-Adobe-3.0\n%%Pages: 2\n%%EndComments\n"
                      "%%Page: 1 1\n/Helvetica findfont 24 scalefont setfont 72 700 moveto "
                      "(one) show showpage\n"
                      "%%Page: 2 2\n/Helvetica findfont 24 scalefont setfont 72 700 moveto "
                      "(two) show showpage\n%%EOF\n")
        << QStringList{"-n", "2", "-o", "media=na_letter_8.5x11in"} << 2 << "two.ps"
        << QStringList{"copies=2", "job-impressions=4", "PageSize=Letter"};
}

void TestCupsBackend::printedJobArrives()
{
    if (!m_running)
        QSKIP(qPrintable("no private CUPS server: " + m_skipReason));
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, lpArgs);
    QFETCH(int, pages);
    QFETCH(QString, title);
    QFETCH(QStringList, expected);

    const QString document = m_cups.folder() + "/" + fileName;
    QVERIFY(WriteFile(document, content));
    const passwd* nobody = getpwnam("nobody");
    QVERIFY(nobody);
    const uid_t uid = nobody->pw_uid;
    const QString userFolder = m_spool + "nobody";

    // A job folder only ever appears complete, renamed into place: nothing
    // visible is created in the user's folder (watched once it exists).
    const int events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(events >= 0);
    const bool watched =
        inotify_add_watch(events, QFile::encodeName(userFolder).constData(), IN_CREATE) >= 0;
    const int job = m_cups.print(lpArgs << document, "nobody");
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

    const QString suffix = QString("-%1").arg(job, 10, 10, QChar('0'));
    const QStringList folders = QDir(userFolder).entryList({"*" + suffix}, QDir::Dirs);
    QCOMPARE(folders.size(), 1);
    const QString jobFolder = userFolder + "/" + folders.first();
    QCOMPARE(Entries(jobFolder), QStringList({"job.pdf", "options"}));
    QVERIFY(Entries(userFolder).filter(QRegularExpression("^\\.")).isEmpty());

    QCOMPARE(Owner(userFolder), uid);
    QCOMPARE(Mode(userFolder) & 07777, mode_t(0700));
    for (const QString& path : {jobFolder, jobFolder + "/job.pdf", jobFolder + "/options"}) {
        QCOMPARE(Owner(path), uid);
        QCOMPARE(Mode(path) & 07777, mode_t(path == jobFolder ? 0700 : 0600));
    }

    // One copy of the document, as PDF, whatever was printed.
    QFile pdf(jobFolder + "/job.pdf");
    QVERIFY(pdf.open(QIODevice::ReadOnly));
    QVERIFY(pdf.read(5) == "%PDF-");
    QCOMPARE(GetPdfPageCount(QFile::encodeName(pdf.fileName()).constData()), pages);

    QFile optionsFile(jobFolder + "/options");
    QVERIFY(optionsFile.open(QIODevice::ReadOnly));
    const Options options = ParseOptions(optionsFile.readAll());
    QCOMPARE(options.value("title"), title);
    for (const QString& pair : expected) {
        const QString name = pair.section('=', 0, 0);
        QCOMPARE(name + "=" + options.value(name), pair);
    }
}

void TestCupsBackend::everyFileOfAJobArrivesInOrder()
{
    if (!m_running)
        QSKIP(qPrintable("no private CUPS server: " + m_skipReason));
    const QString first = m_cups.folder() + "/first.pdf";
    const QString second = m_cups.folder() + "/second.pdf";
    QVERIFY(WriteFile(first, MakePdf(2)));
    QVERIFY(WriteFile(second, MakePdf(5)));
    const int job = m_cups.print({first, second}, "nobody");
    QVERIFY2(job > 0, qPrintable(m_cups.errorString()));
    QCOMPARE(m_cups.waitForJob(job), int(IPP_JSTATE_COMPLETED));

    const QString userFolder = m_spool + "nobody/";
    QStringList folders = QDir(userFolder)
                              .entryList({QString("*-%1*").arg(job, 10, 10, QChar('0'))},
                                         QDir::Dirs, QDir::Name | QDir::IgnoreCase);
    QList<int> pages;
    for (const QString& f : folders)
        pages << GetPdfPageCount(QFile::encodeName(userFolder + f + "/job.pdf").constData());
    QCOMPARE(pages, QList<int>({2, 5}));
}

void TestCupsBackend::refusedJobWritesNothing_data()
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

void TestCupsBackend::refusedJobWritesNothing()
{
    if (!m_running)
        QSKIP(qPrintable("no private CUPS server: " + m_skipReason));
    QFETCH(QString, owner);
    QFETCH(QString, planted);

    const QString document = m_cups.folder() + "/refused.pdf";
    QVERIFY(WriteFile(document, MakePdf(1)));
    QVERIFY(QDir().mkpath(m_spool));
    const QString target = m_root.path() + "/elsewhere-" + owner.right(3);
    QVERIFY(QDir().mkpath(target));
    const QString place = m_spool + owner;
    if (planted == "link")
        QVERIFY(QFile::link(target, place));
    else if (planted == "folder")
        QVERIFY(QDir().mkpath(place)); // root's, not the user's
    const QStringList before = Entries(m_root.path()) + Entries(m_spool);

    const int job = m_cups.print({"-U", owner, document});
    QVERIFY2(job > 0, qPrintable(m_cups.errorString()));
    const int state = m_cups.waitForJob(job);
    QVERIFY2(state == IPP_JSTATE_ABORTED || state == IPP_JSTATE_CANCELED,
             qPrintable(QString("job state %1").arg(state)));

    QCOMPARE(Entries(m_root.path()) + Entries(m_spool), before);
    QCOMPARE(Entries(target), QStringList());
    if (planted == "link")
        QVERIFY(QFileInfo(place).isSymLink());
    else if (planted == "folder")
        QCOMPARE(Entries(place), QStringList());
}

QTEST_GUILESS_MAIN(TestCupsBackend)
#include "tst_cupsbackend.moc"
