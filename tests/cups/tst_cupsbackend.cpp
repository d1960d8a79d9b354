// The PDF printer's backend: its option text, and jobs printed through a private CUPS server.

#include "JobSpool.h"
#include "LocalUser.h"
#include "PdfPages.h"
#include "PlantedObject.h"
#include "PrivateCupsd.h"
#include "SamplePdf.h"
#include "TestFiles.h"

#include <QtTest>

#include <cups/backend.h>
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

    UmaskGuard m_mask{022}; // lp runs as "nobody" and reads the documents
    QTemporaryDir m_root;
    PrivateCupsd m_cups;
    QString m_spool;
    LocalUser m_victim; // whose name another user tries to print under

private slots:
    void initTestCase()
    {
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
        QFETCH(QString, readBack);
        QCOMPARE(parseOptions(JobSpool::FormatOptions(
                     {{"title", value.toStdString()}, {"after", "1"}, {"bad name", "x"}})),
                 (QMap<QString, QString>{{"title", readBack}, {"after", "1"}}));
    }

    // The names that may become a folder of the spool root, whether or not such a user exists.
    void plainUserNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("plain");
        QTest::newRow("letters") << QString("alice") << true;
        QTest::newRow("every allowed character") << QString("A.z_0-9") << true;
        QTest::newRow("dot inside, first") << QString(".profile") << true;
        QTest::newRow("255 characters") << QString(255, 'a') << true;
        QTest::newRow("256 characters") << QString(256, 'a') << false;
        QTest::newRow("empty") << QString("") << false;
        QTest::newRow("dot") << QString(".") << false;
        QTest::newRow("dot dot") << QString("..") << false;
        QTest::newRow("leading dash") << QString("-rf") << false;
        QTest::newRow("slash") << QString("a/b") << false;
        QTest::newRow("path") << QString("../escaped") << false;
        QTest::newRow("blank") << QString("al ice") << false;
        QTest::newRow("line break") << QString("al\nice") << false;
        QTest::newRow("non-ASCII") << QString("张三") << false;
        QTest::newRow("nul inside") << QString::fromLatin1("root\0x", 6) << false;
    }

    void plainUserNames()
    {
        QFETCH(QString, name);
        const QByteArray bytes = name.toUtf8();
        QTEST(JobSpool::IsPlainUserName(std::string(bytes.constData(), size_t(bytes.size()))),
              "plain");
    }

    // Where a person's account starts: UID_MIN of login.defs, else 1000, never 0.
    void firstPersonUid_data()
    {
        QTest::addColumn<QByteArray>("loginDefs"); // "-": no file
        QTest::addColumn<int>("uidMin");
        QTest::newRow("no file") << QByteArray("-") << 1000;
        QTest::newRow("set") << QByteArray("UID_MAX 60000\nUID_MIN\t\t 500\n") << 500;
        QTest::newRow("last one counts") << QByteArray("UID_MIN 500\nUID_MIN 2000 # x\n") << 2000;
        QTest::newRow("commented out") << QByteArray("#UID_MIN 5\n# UID_MIN 6\n") << 1000;
        QTest::newRow("other keys") << QByteArray("SYS_UID_MIN 100\nUID_MINIMUM 7\n") << 1000;
        QTest::newRow("not a number") << QByteArray("UID_MIN -5\nUID_MIN 12x\n") << 1000;
        QTest::newRow("zero") << QByteArray("UID_MIN 0\n") << 1;
    }

    void firstPersonUid()
    {
        QFETCH(QByteArray, loginDefs);
        const QString path = m_root.path() + "/login.defs";
        QFile::remove(path);
        if (loginDefs != "-")
            QVERIFY(writeFile(path, loginDefs));
        QTEST(int(JobSpool::ReadUidMin(QFile::encodeName(path).constData())), "uidMin");
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
    // (What lp's options become: the unit table above and the capture's end-to-end test.)
    void printedJobArrives()
    {
        const QStringList files{"first.pdf", "second.pdf"};
        const QList<int> pages{2, 5};
        QStringList lpArgs;
        if (m_cups.cannotRun())
            QSKIP(qPrintable("no private CUPS server: " + m_cups.errorString()));
        for (int i = 0; i < files.size(); ++i) {
            lpArgs << m_cups.folder() + '/' + files[i];
            QVERIFY(writeFile(lpArgs.last(), SamplePdf(pages[i])));
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
        QCOMPARE(ownerAndMode(m_spool.chopped(1)), "0 711"); // nobody lists who printed
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
            QCOMPARE(GetPdfPageCount(QFile::encodeName(folder + "/job.pdf").constData()), pages[i]);
        }
    }

    // The backend run the way cupsd runs it (root, the job's owner in argv[2]); its exit status.
    int runBackend(const QString& owner, const QString& document)
    {
        QProcess backend;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORIX_ROOT_PREFIX", m_root.path());
        backend.setProcessEnvironment(env);
        backend.start(ORIX_TAVPDF_BACKEND, {"77", owner, "refused.pdf", "1", "", document});
        const bool ended = backend.waitForFinished(30000);
        return ended && backend.exitStatus() == QProcess::NormalExit ? backend.exitCode() : -1;
    }

    // Refused owners and unsafe spool folders: nothing is written, nothing planted followed.
    void refusedJobWritesNothing_data()
    {
        QTest::addColumn<QString>("printedBy"); // "lp as <user>", or "backend" run as cupsd does
        QTest::addColumn<QString>("owner");     // "victim": the throwaway user
        QTest::addColumn<QString>("planted");   // what stands in the owner's or the printer's way
        QTest::addColumn<bool>("written");
        const auto row = [](const char* name, const char* by, const char* owner,
                            const char* planted, bool written = false) {
            QTest::newRow(name) << QString(by) << QString(owner) << QString(planted) << written;
        };
        row("lp -U another user", "lp as nobody", "victim", "");
        row("lp -U root", "lp as nobody", "root", "");
        row("root's own job", "lp as root", "root", "");
        row("control: a user's job", "backend", "victim", "", true);
        row("system account", "backend", "daemon", "");
        row("unknown user", "backend", "tavpdf-no-such-user", "");
        row("link in place of the folder", "backend", "victim", "link");
        row("folder of another user", "backend", "victim", "folder");
        row("spool root of another user", "backend", "victim", "root of nobody");
        row("spool root writable by its group", "backend", "victim", "root mode 775");
        row("spool root writable by everybody", "backend", "victim", "root mode 1777");
        row("link in place of the spool root", "backend", "victim", "root link");
    }

    void refusedJobWritesNothing()
    {
        QFETCH(QString, printedBy);
        QFETCH(QString, owner);
        QFETCH(QString, planted);
        QFETCH(bool, written);
        if (m_cups.cannotRun())
            QSKIP(qPrintable("no private CUPS server: " + m_cups.errorString()));
        if (owner == "victim") {
            if (m_victim.name().isEmpty() && !m_victim.create("v"))
                QFAIL(qPrintable(m_victim.errorString()));
            owner = m_victim.name();
        }
        const QString document = m_cups.folder() + "/refused.pdf";
        QVERIFY(writeFile(document, SamplePdf(1)));

        // The spool root as the installation makes it, then what another user put there.
        const QString spool = m_spool.chopped(1), target = m_root.path() + "/elsewhere";
        const QString place = m_spool + owner;
        const auto reset = [&] {
            QFile::remove(spool);
            QDir(target).removeRecursively();
            QDir(spool).removeRecursively();
            return QDir().mkpath(spool) && chmod(QFile::encodeName(spool).constData(), 0711) == 0;
        };
        const auto restore = qScopeGuard(reset);
        QVERIFY(reset() && QDir().mkpath(target));
        const uid_t nobody = PlantedObject::kOtherUser;
        if (planted == "link") {
            QVERIFY(QFile::link(target, place));
        } else if (planted == "folder") {
            QVERIFY(QDir().mkpath(place)); // root's, not the owner's
        } else if (planted == "root of nobody") {
            QCOMPARE(chown(QFile::encodeName(spool).constData(), nobody, nobody), 0);
        } else if (planted.startsWith("root mode ")) {
            const mode_t mode = mode_t(planted.mid(10).toUInt(nullptr, 8));
            QCOMPARE(chmod(QFile::encodeName(spool).constData(), mode), 0);
        } else if (planted == "root link") {
            QVERIFY(QDir(spool).removeRecursively());
            QCOMPARE(chown(QFile::encodeName(target).constData(), nobody, nobody), 0);
            QVERIFY(QFile::link(target, spool));
        }
        const QString before = PlantedObject::snapshot(m_root.path());

        if (printedBy == "backend") {
            QCOMPARE(runBackend(owner, document) == CUPS_BACKEND_OK, written);
        } else {
            const QString user = printedBy.section(' ', 2);
            const int job =
                m_cups.print({"-U", owner, document}, user == "root" ? QString() : user);
            if (user == "root") {
                // cupsd takes the job; the backend refuses it.
                QVERIFY2(job > 0, qPrintable(m_cups.errorString()));
                const int state = m_cups.waitForJob(job);
                QVERIFY2(state == IPP_JSTATE_ABORTED || state == IPP_JSTATE_CANCELED,
                         qPrintable(QString("job state %1").arg(state)));
            } else {
                // cupsd knows who asks: no job at all.
                QCOMPARE(job, 0);
                QVERIFY2(m_cups.errorString().contains("Unauthorized"),
                         qPrintable(m_cups.errorString()));
            }
        }
        if (written) {
            QCOMPARE(QDir(place).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
            QCOMPARE(ownerAndMode(spool), "0 711");
            return;
        }
        QCOMPARE(PlantedObject::snapshot(m_root.path()), before);
        QCOMPARE(entries(target), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestCupsBackend)
#include "tst_cupsbackend.moc"
