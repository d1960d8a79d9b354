// The PDF printer's backend: its option text, and jobs printed through a private CUPS server.

#include "CupsPolicy.h"
#include "EnvGuard.h"
#include "JobSpool.h"
#include "LocalUser.h"
#include "PdfPages.h"
#include "PlantedObject.h"
#include "PrivateCupsd.h"
#include "SamplePdf.h"
#include "TestFiles.h"

#include <QtTest>

#include <csignal>
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

// The queue helper of the source tree (the package's /usr/lib/orixclient/tavpdf-queue).
QString queueHelper()
{
    return QFileInfo(ORIX_PRIVATE_CUPSD).path() + "/tavpdf-queue.sh";
}

// "accepting enabled", "rejecting disabled", ... of the queue on the server of CUPS_SERVER;
// "missing" when there is none.
QString queueState()
{
    cupsSetServer(nullptr); // CUPS_SERVER again: the tests start more than one server
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, "TavPDF", nullptr);
    if (!dest)
        return "missing";
    const char* accepting =
        cupsGetOption("printer-is-accepting-jobs", dest->num_options, dest->options);
    const char* state = cupsGetOption("printer-state", dest->num_options, dest->options);
    const QString result =
        QString(accepting && QByteArray(accepting) == "true" ? "accepting" : "rejecting") +
        (state && QByteArray(state) == "5" ? " disabled" : " enabled");
    cupsFreeDests(1, dest);
    return result;
}

// "real effective saved filesystem" uids of process pid.
QString uidsOf(int pid)
{
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return QString();
    const QString text = QString::fromLatin1(status.readAll());
    return QRegularExpression("^Uid:\\s+(.*)$", QRegularExpression::MultilineOption)
        .match(text)
        .captured(1)
        .simplified();
}

// The pids whose parent is pid.
QList<int> childrenOf(qint64 pid)
{
    QList<int> result;
    for (const QString& entry : QDir("/proc").entryList({"[0-9]*"}, QDir::Dirs)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == pid)
            result << entry.toInt();
    }
    return result;
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

    // A person's accounts: UID_MIN (else 1000, never 0) to UID_MAX (else 60000) of login.defs.
    void personUidRange_data()
    {
        QTest::addColumn<QByteArray>("loginDefs"); // "-": no file
        QTest::addColumn<int>("uidMin");
        QTest::addColumn<int>("uidMax");
        const auto row = [](const char* name, const char* defs, int min, int max) {
            QTest::newRow(name) << QByteArray(defs) << min << max;
        };
        row("no file", "-", 1000, 60000);
        row("set", "UID_MAX 30000\nUID_MIN\t\t 500\n", 500, 30000);
        row("last one counts", "UID_MIN 500\nUID_MIN 2000 # x\nUID_MAX 9\nUID_MAX 70000\n", 2000,
            70000);
        row("commented out", "#UID_MIN 5\n# UID_MIN 6\n#UID_MAX 7\n", 1000, 60000);
        row("other keys", "SYS_UID_MIN 100\nUID_MINIMUM 7\nSYS_UID_MAX 999\nUID_MAXIMUM 8\n", 1000,
            60000);
        row("not a number", "UID_MIN -5\nUID_MIN 12x\nUID_MAX x\n", 1000, 60000);
        row("zero", "UID_MIN 0\n", 1, 60000);
    }

    void personUidRange()
    {
        QFETCH(QByteArray, loginDefs);
        const QString path = m_root.path() + "/login.defs";
        QFile::remove(path);
        if (loginDefs != "-")
            QVERIFY(writeFile(path, loginDefs));
        QTEST(int(JobSpool::ReadUidMin(QFile::encodeName(path).constData())), "uidMin");
        QTEST(int(JobSpool::ReadUidMax(QFile::encodeName(path).constData())), "uidMax");
    }

    // The writer's time limit: changed only with a relocated spool root (tests, the demo).
    void writerTimeLimit_data()
    {
        QTest::addColumn<QString>("prefix"); // "-": not set
        QTest::addColumn<QString>("value");  // "-": not set
        QTest::addColumn<int>("seconds");
        const int standard = int(JobSpool::kDefaultTimeLimitSeconds);
        QTest::newRow("production root ignores it") << "-"
                                                    << "2" << standard;
        QTest::newRow("prefix / is the production root") << "/"
                                                         << "2" << standard;
        QTest::newRow("relocated") << "/tmp/x"
                                   << "2" << 2;
        QTest::newRow("relocated, not set") << "/tmp/x"
                                            << "-" << standard;
        QTest::newRow("zero") << "/tmp/x"
                              << "0" << standard;
        QTest::newRow("not a number") << "/tmp/x"
                                      << "2s" << standard;
        QTest::newRow("more than a day") << "/tmp/x"
                                         << "86401" << standard;
    }

    void writerTimeLimit()
    {
        QFETCH(QString, prefix);
        QFETCH(QString, value);
        const QByteArray p = prefix.toUtf8(), v = value.toUtf8();
        QTEST(int(JobSpool::TimeLimitSeconds(prefix == "-" ? nullptr : p.constData(),
                                             value == "-" ? nullptr : v.constData())),
              "seconds");
    }

    // cupsd.conf texts: the client's check and the queue helper decide alike.
    void policyAuthenticatesJobs_data()
    {
        QTest::addColumn<QByteArray>("conf");
        QTest::addColumn<int>("verdict"); // CupsPolicy::Verdict
        const QByteArray others = "<Limit All>\n  AuthType Default\n  Require user @SYSTEM\n"
                                  "</Limit>\n";
        const auto policy = [&](const char* limits, const char* name = "authenticated") {
            return QByteArray("<Policy default>\n<Limit Create-Job Print-Job>\n</Limit>\n"
                              "</Policy>\n<Policy ") +
                   name + ">\n" + limits + others + "</Policy>\n";
        };
        const int yes = int(CupsPolicy::Verdict::Authenticates);
        const int open = int(CupsPolicy::Verdict::Open);
        const int missing = int(CupsPolicy::Verdict::Missing);
        QTest::newRow("as Debian ships it")
            << "DefaultAuthType Basic\n" +
                   policy("  <Limit Create-Job Print-Job Print-URI Validate-Job>\n"
                          "    AuthType Default\n    Order deny,allow\n  </Limit>\n")
            << yes;
        QTest::newRow("case and blanks")
            << policy("\t<limit  validate-job\tprint-job CREATE-JOB>\n\tauthtype BASIC\n"
                      "\t</LIMIT>\n",
                      "AUTHENTICATED")
            << yes;
        QTest::newRow("no such policy") << policy("", "other") << missing;
        QTest::newRow("commented out") << QByteArray("#<Policy authenticated>\n") << missing;
        QTest::newRow("AuthType None")
            << policy("<Limit Create-Job Print-Job>\nAuthType None\n</Limit>\n") << open;
        QTest::newRow("no AuthType")
            << policy("<Limit Create-Job Print-Job>\nOrder deny,allow\n</Limit>\n") << open;
        QTest::newRow("AuthType commented out")
            << policy("<Limit Create-Job Print-Job>\n# AuthType Basic\n</Limit>\n") << open;
        QTest::newRow("Default is None")
            << "DefaultAuthType None\n" +
                   policy("<Limit Create-Job Print-Job>\nAuthType Default\n</Limit>\n")
            << open;
        QTest::newRow("Print-Job left open")
            << policy("<Limit Create-Job>\nAuthType Basic\n</Limit>\n<Limit Print-Job>\n"
                      "</Limit>\n")
            << open;
        QTest::newRow("only Limit All, which authenticates") << policy("") << yes;
    }

    void policyAuthenticatesJobs()
    {
        QFETCH(QByteArray, conf);
        QFETCH(int, verdict);
        QCOMPARE(int(CupsPolicy::JobCreation(conf.toStdString(), "authenticated")), verdict);
        const QString path = m_root.path() + "/cupsd.conf";
        QVERIFY(writeFile(path, conf));
        QProcess helper;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORIX_CUPSD_CONF", path);
        helper.setProcessEnvironment(env);
        helper.start("sh", {queueHelper(), "check-policy"});
        QVERIFY(helper.waitForFinished(30000));
        QCOMPARE(helper.exitCode(), verdict == int(CupsPolicy::Verdict::Authenticates) ? 0 : 1);
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
        if (!victim())
            QFAIL(qPrintable(m_victim.errorString()));
        const passwd* person = getpwnam(m_victim.name().toUtf8().constData());
        QVERIFY(person);
        const QString userFolder = m_spool + m_victim.name();

        // Nothing visible is created in the user's folder: a job folder is renamed into place.
        const int events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        const bool watched =
            inotify_add_watch(events, QFile::encodeName(userFolder).constData(), IN_CREATE) >= 0;
        const int job = m_cups.print(lpArgs, m_victim.name());
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

        const QString owner = QString::number(person->pw_uid);
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

    // The throwaway person (created once).
    bool victim() { return !m_victim.name().isEmpty() || m_victim.create("v"); }

    // The backend the way cupsd runs it (root, the job's owner in argv[2]), the document in
    // argv[6] or, without one, on standard input.
    void startBackend(QProcess& backend, const QString& owner, const QString& document,
                      const QString& timeLimit = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ORIX_ROOT_PREFIX", m_root.path());
        if (!timeLimit.isEmpty())
            env.insert(JobSpool::kTimeLimitVariable, timeLimit);
        backend.setProcessEnvironment(env);
        QStringList args{"77", owner, "refused.pdf", "1", ""};
        if (!document.isEmpty())
            args << document;
        backend.start(ORIX_TAVPDF_BACKEND, args);
    }

    // The backend's exit status.
    int runBackend(const QString& owner, const QString& document)
    {
        QProcess backend;
        startBackend(backend, owner, document);
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
        row("special account above UID_MAX", "backend", "nobody", "");
        row("unknown user", "backend", "tavpdf-no-such-user", "");
        row("link in place of the folder", "backend", "victim", "link");
        row("folder of another user", "backend", "victim", "folder");
        row("spool root of another user", "backend", "victim", "root of nobody");
        row("spool root writable by its group", "backend", "victim", "root mode 775");
        row("spool root writable by everybody", "backend", "victim", "root mode 1777");
        row("link in place of the spool root", "backend", "victim", "root link");
        row("folder above the spool root of another user", "backend", "victim", "above of nobody");
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
            if (!victim())
                QFAIL(qPrintable(m_victim.errorString()));
            owner = m_victim.name();
        }
        const QString document = m_cups.folder() + "/refused.pdf";
        QVERIFY(writeFile(document, SamplePdf(1)));

        // The spool root as the installation makes it, then what another user put there.
        const QString spool = m_spool.chopped(1), target = m_root.path() + "/elsewhere";
        const QString place = m_spool + owner;
        const QByteArray above = QFile::encodeName(m_root.path() + "/var");
        const auto reset = [&] {
            chown(above.constData(), 0, 0);
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
        } else if (planted == "above of nobody") {
            QCOMPARE(chown(above.constData(), nobody, nobody), 0);
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

    // The writer runs as the user, who can stop it: the root parent ends it at its time limit.
    void stoppedWriterIsEnded()
    {
        if (geteuid() != 0)
            QSKIP("the backend changes to the job's owner only as root");
        if (!victim())
            QFAIL(qPrintable(m_victim.errorString()));
        const QString userFolder = m_spool + m_victim.name();
        QProcess backend; // the document on standard input, which stays open: the writer waits
        startBackend(backend, m_victim.name(), QString(), "1");
        QVERIFY(backend.waitForStarted());
        QList<int> writers;
        QTRY_VERIFY((writers = childrenOf(backend.processId())).size() == 1);
        const QString uid = QString::number(getpwnam(m_victim.name().toUtf8().constData())->pw_uid);
        QTRY_COMPARE(uidsOf(writers[0]), QString("%1 %1 %1 %1").arg(uid));
        QCOMPARE(kill(writers[0], SIGSTOP), 0);
        QVERIFY(backend.waitForFinished(60000));
        QCOMPARE(backend.exitCode(), int(CUPS_BACKEND_FAILED));
        QVERIFY2(backend.readAllStandardError().contains("did not finish within 1 s"),
                 "no word of the ended writer");
        QVERIFY(!QFileInfo::exists(QString("/proc/%1").arg(writers[0])));
        QCOMPARE(QDir(userFolder)
                     .entryList(QDir::Dirs | QDir::NoDotAndDotDot)
                     .filter(QRegularExpression("^[0-9]")),
                 QStringList());
    }

    // The queue helper reads no translated text: it removes and creates the queue in any
    // locale, and leaves a queue that an administrator disabled as it was.
    void queueHelperInAnyLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("Chinese") << QString("zh_CN.UTF-8");
        QTest::newRow("French") << QString("fr_FR.UTF-8");
    }

    void queueHelperInAnyLocale()
    {
        QFETCH(QString, locale);
        if (m_cups.cannotRun())
            QSKIP(qPrintable("no private CUPS server: " + m_cups.errorString()));
        QProcess probe;
        probe.start("locale", {"-a"});
        QVERIFY(probe.waitForFinished(30000));
        const QString known = QString::fromLocal8Bit(probe.readAllStandardOutput()).toLower();
        if (!known.contains(QString(locale).toLower().replace("utf-8", "utf8")))
            QSKIP(qPrintable(locale + " is not generated (bash scripts/setup.sh)"));
        const auto helper = [&](const QStringList& args) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("LC_ALL");
            env.remove("LANGUAGE");
            env.insert("LANG", locale);
            env.insert("ORIX_PPD", m_cups.folder() + "/share/ppd/tavpdf.ppd");
            env.insert("ORIX_ROOT_PREFIX", m_root.path());
            p.setProcessEnvironment(env);
            p.start("sh", QStringList{queueHelper()} + args);
            const bool ended = p.waitForFinished(60000);
            const QString err = QString::fromLocal8Bit(p.readAllStandardError());
            return ended && p.exitCode() == 0
                       ? QString()
                       : "status " + QString::number(p.exitCode()) + ": " + err;
        };
        const auto restore = qScopeGuard([&] {
            helper({"install"});
            QProcess::execute("cupsenable", {"TavPDF"});
            QProcess::execute("cupsaccept", {"TavPDF"});
        });
        QCOMPARE(helper({"remove"}), QString());
        QCOMPARE(queueState(), "missing");
        QCOMPARE(helper({"install"}), QString());
        QCOMPARE(queueState(), "accepting enabled");
        QCOMPARE(QProcess::execute("cupsdisable", {"TavPDF"}), 0);
        QCOMPARE(QProcess::execute("cupsreject", {"TavPDF"}), 0);
        QCOMPARE(helper({"install", "--quiet"}), QString());
        QCOMPARE(queueState(), "rejecting disabled");
    }

    // Without a policy that authenticates job creation the queue is made, rejecting jobs.
    void queueFailsClosedWithoutPolicy()
    {
        if (m_cups.cannotRun())
            QSKIP(qPrintable("no private CUPS server: " + m_cups.errorString()));
        QTemporaryDir root;
        PrivateCupsd open;
        QVERIFY2(open.start(root.path(), false), qPrintable(open.errorString()));
        QCOMPARE(queueState(), "rejecting disabled");
        QFile log(open.folder() + "/log/install.out");
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray said = log.readAll();
        QVERIFY2(said.contains("<Limit Create-Job Print-Job Print-URI Validate-Job>") &&
                     said.contains("AuthType Default"),
                 said.constData());
        const QString job = open.folder() + "/job.pdf";
        QVERIFY(writeFile(job, SamplePdf(1)));
        QCOMPARE(open.print({job}), 0);
    }
};

QTEST_GUILESS_MAIN(TestCupsBackend)
#include "tst_cupsbackend.moc"
