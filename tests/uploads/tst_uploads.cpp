// Uploads, submissions and the print settings dialog, through a relay to the development server.

#include "ChoiceMemory.h"
#include "DevServerProcess.h"
#include "DimeReader.h"
#include "PlantedObject.h"
#include "PrintSettingDlg.h"
#include "QPrintJobMonitor.h"
#include "RecordBytes.h"
#include "RpcTestClient.h"
#include "SessionTestKit.h"
#include "TavCommon.h"
#include "TestFiles.h"
#include "TestRoot.h"

#include <QtTest>

#include <functional>
#include <thread>
#include <vector>

namespace
{

QByteArray mobile(const QByteArray& user)
{
    return RecordBytes(1112).text(0, user, 714, "doc.pdf").data;
}

// The code of the RpcFailure an upload throws; "none" when it returns.
QString outcome(const std::function<void()>& upload)
{
    try {
        upload();
        return "none";
    } catch (const RpcFailure& e) {
        return QString::number(e.code());
    }
}

QStringList items(const QComboBox* box)
{
    QStringList list;
    for (int i = 0; i < box->count(); ++i)
        list << box->itemText(i);
    return list;
}

// The audit group's top without the purpose line, a row, the project group, the dialog.
constexpr int kAuditTop = 244, kRow = 30, kProject = 56, kDialog = 590;

enum Result { NotSubmitted, Submitted, Refused, Failed };

} // namespace

class TestUploads : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    QTemporaryDir m_work; // the working folder: the print job's files
    CwdGuard m_cwd;
    BoxRecorder m_boxes;
    DevServerProcess m_server;
    RawHttpServer m_relay;               // to the development server, keeping the requests
    CDComLayerWS m_client;               // zhangsan, through the relay
    std::unique_ptr<OrixUser> m_zhaoliu; // payers 201 (a group's) and 202 (his own)
    std::unique_ptr<PrintSettingDlg> m_dialog;
    char m_reserved[1] = {};

    QByteArray stored(const char* name, const char* file) const
    {
        return readFile(m_server.storageDir() + "/" + name + "/" + file);
    }
    // What /var/tmp (but zhaoliu's logon files) and the working folder hold.
    QStringList leftovers() const
    {
        const auto all = QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System;
        return QDir(m_root.varTmp())
                   .entryList(all)
                   .filter(QRegularExpression("^(?!Last.ini$|zhaoliu$)")) +
               QDir(m_work.path()).entryList(all);
    }
    // A job of pages x copies with a small document, ready to submit.
    void prepareJob(OrixUser& user, int pages, int copies)
    {
        const QByteArray job = RecordBytes(sizeof user.MobileTaskInfo)
                                   .text(0, user.UserName, 714, "job.pdf", 865, "MS", 880, "A3")
                                   .numbers(872, {pages, copies})
                                   .data;
        memcpy(&user.MobileTaskInfo, job.constData(), sizeof user.MobileTaskInfo);
        QVERIFY(writeFile(m_root.path() + "/job.pdf", QByteArray(1000, 'j')));
        strcpy(user.DocumentPath, QFile::encodeName(m_root.path() + "/job.pdf").constData());
    }

    // A prepared settings dialog (shown when displayDialog allowed it); its result.
    int open()
    {
        m_boxes.boxes.clear();
        m_dialog.reset(new PrintSettingDlg);
        m_dialog->setUser(m_zhaoliu.get());
        m_dialog->setJob({{}, m_root.path() + "/dialog.pdf", m_root.path() + "/options"});
        const int shown = m_dialog->displayDialog();
        if (shown)
            m_dialog->show();
        return shown;
    }
    // Cost control, project, payer type, payer chosen, a group's; then a job of pages x copies.
    // The job's payer.
    JobPayer choose(OrixUser& user, const QList<int>& job)
    {
        user.IsSupportCostControl = job[0];
        user.IsSupportProject = true; // the job's own flag decides
        user.PayerType = job[2];
        JobPayer payer;
        payer.Project = job[1];
        payer.Payer.PayerID = job[3];
        payer.Payer.IsGroup = job[4];
        prepareJob(user, job[5], job[6]);
        return payer;
    }
    int submit(OrixUser& user, const JobPayer& payer)
    {
        return user.SaveMobileJob(user.MobileTaskInfo, user.DocumentPath, payer);
    }
    template <typename T = QComboBox> T* w(const char* name) const
    {
        return child<T>(m_dialog.get(), name);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_cwd.change(m_work.path()));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_relay.forwardTo(m_server.port());
        QCOMPARE(RpcTestClient::logOn(m_client, "127.0.0.1", m_relay.portText(), "zhangsan",
                                      kSeedPasswordDigest),
                 0);
        m_zhaoliu.reset(new OrixUser);
        seedUser(*m_zhaoliu, "zhaoliu", m_relay.portText());
        QCOMPARE(m_zhaoliu->Logon(), 0);
        // The dialog's job: a document of two upload blocks and the options the printer writes.
        QVERIFY(writeFile(m_root.path() + "/dialog.pdf", "%PDF-1.4\n" + QByteArray(150000, 'd')));
        QVERIFY(writeFile(m_root.path() + "/options",
                          "copies=4 job-impressions=12 PageSize=A3 Duplex=DuplexTumble "
                          "ColorModel=RGB title=\"报告 2024.docx\"\n"));
    }

    void init()
    {
        m_zhaoliu->PrintWay = m_zhaoliu->PayerType = 1;
        m_zhaoliu->IsSupportCostControl = m_zhaoliu->IsSupportProject = false;
        m_relay.forwardTo(m_server.port());
        // Each case starts with nothing remembered.
        QFile::remove(m_root.home() + "/.config/OrixClient/choices.json");
    }

    void blocks_data()
    {
        QTest::addColumn<bool>("print"); // the print job (664 bytes, appendix); else mobile
        QTest::addColumn<int>("size");
        QTest::addColumn<QList<int>>("blocks"); // none: one call
        QTest::newRow("mobile, 102400 in one call") << false << 102400 << QList<int>();
        QTest::newRow("mobile, 102401") << false << 102401 << QList<int>{102400, 1};
        QTest::newRow("mobile, 250000") << false << 250000 << QList<int>{102400, 102400, 45200};
        QTest::newRow("print, empty document") << true << 0 << QList<int>();
        QTest::newRow("print, 250000") << true << 250000 << QList<int>{102400, 102400, 45200};
    }

    void blocks()
    {
        QFETCH(bool, print);
        QFETCH(int, size);
        QFETCH(QList<int>, blocks);
        QByteArray task = print ? RecordBytes(664).text(0, "zhangsan").data : mobile("zhangsan");
        const QByteArray document = pseudoRandom(size, size);
        const QString path = m_root.path() + "/job.pdf";
        QVERIFY(writeFile(path, document));
        QByteArray file = QFile::encodeName(path);
        char name[1024] = {};
        QList<qulonglong> progress;
        m_client.SetUploadProgress(
            [&](unsigned long long sent, unsigned long long total) { progress << sent << total; });
        m_relay.clearRequests();
        if (print)
            m_client.SavePrintJob(task.data(), m_reserved, file.data(), name);
        else
            m_client.SaveMobilePrintJob(task.data(), m_reserved, file.data(), name);
        m_client.SetUploadProgress({});

        // Per block: the record, the block, for a print job's last the appendix.
        const QList<RawHttpServer::Request> requests = m_relay.requests();
        QCOMPARE(requests.size(), qMax(1, blocks.size()));
        QList<qulonglong> expectedProgress;
        qulonglong sent = 0;
        for (int i = 0; i < requests.size(); ++i) {
            const QList<DimeRecord> dime = parseDime(requests[i].body);
            const bool last = i == requests.size() - 1;
            QCOMPARE(dime.value(1).data, task);
            QCOMPARE(dime.value(2).data.size(), blocks.isEmpty() ? size : blocks[i]);
            QCOMPARE(dime.size(), print && last ? 4 : 3);
            const QByteArray type = i == 0 ? "0" : last ? "2" : "1";
            QVERIFY(blocks.isEmpty() || dime[0].data.contains("<BlockType>" + type + "<"));
            expectedProgress << (sent += dime.value(2).data.size()) << qulonglong(size);
        }
        QCOMPARE(progress, expectedProgress);

        // What the server reassembled under the name it gave.
        QCOMPARE(stored(name, "document.dat"), document);
        QCOMPARE(stored(name, "task.bin"), task);
        if (print) { // an empty appendix text still has its field of count 1
            QString ip, mac;
            m_client.GetClientIpMac(ip, mac);
            const QByteArray m = mac.toLatin1(), a = ip.toLatin1();
            QCOMPARE(stored(name, "appendix.bin"),
                     le32(1) + QByteArray(2, 0) + le32(m.size() + 1) + m +
                         QByteArray(m.size() + 2, 0) + le32(a.size() + 1) + a +
                         QByteArray(a.size() + 2, 0) + le32(1) + QByteArray(2, 0) + le32(2) +
                         QByteArray(4, 0));
        }
        QFile::remove(path);
        QCOMPARE(leftovers(), QStringList());
    }

    void failures_data()
    {
        QTest::addColumn<int>("scenario");
        QTest::addColumn<QString>("thrown");
        const QString exchangeFailed = QString::number(0x80000000L);
        QTest::newRow("server gone after the first block") << 0 << exchangeFailed;
        QTest::newRow("first block without a stored name") << 1 << exchangeFailed;
        QTest::newRow("block of an unknown job refused") << 2 << exchangeFailed;
        QTest::newRow("block of another user's job refused") << 3 << exchangeFailed;
        QTest::newRow("document shrank within a block") << 4 << "12";
        QTest::newRow("no document") << 5 << "-1";
        QTest::newRow("no temporary folder") << 6 << "12";
        QTest::newRow("no temporary folder for a block") << 7 << "2";
    }

    void failures()
    {
        QFETCH(int, scenario);
        RawHttpServer raw;
        CDComLayerWS rawClient;
        QVERIFY(RpcTestClient::connect(rawClient, raw));
        const QByteArray answer = "<ns:SaveMobilePrintJobByBlockResponse><return>%1</return>"
                                  "</ns:SaveMobilePrintJobByBlockResponse>";
        const QString path = m_root.path() + "/job.pdf";
        QVERIFY(writeFile(path, pseudoRandom(250000, 7)));
        QByteArray file = QFile::encodeName(scenario == 5 ? path + ".gone" : path);
        QByteArray task = mobile("zhangsan"), lisi = mobile("lisi");
        char name[1024] = {};
        unsigned long sent = 0;
        FILE* document = fopen(file.constData(), "rb");
        const auto block = [&](long type, QByteArray& r) {
            m_client.SendMobilePrintJobOneBlockToServer(document, type, 102400, r.data(),
                                                        m_reserved, &sent, name);
        };
        if (scenario >= 6)
            QVERIFY(QDir(m_root.varTmp()).removeRecursively());
        const QString last =
            "UploadID > " +
            m_server.scalar("SELECT ifnull(max(UploadID), 0) FROM Uploads").toString();

        const QString thrown = outcome([&] {
            if (scenario == 0) {
                raw.queueReply(RawHttpServer::soapResponse(
                    QByteArray(answer).replace("%1", "<SplFileNameOut>M1.spl</SplFileNameOut>")));
                raw.closeWithoutReply();
            } else if (scenario == 1) {
                raw.setReply(RawHttpServer::soapResponse(QByteArray(answer).replace("%1", "")));
            } else if (scenario == 2) {
                strcpy(name, "M202601010000000001.spl");
                return block(1, task);
            } else if (scenario == 3) {
                block(0, task);
                return block(2, lisi);
            } else if (scenario == 4) {
                QFile::resize(path, 1000);
                return block(0, task);
            } else if (scenario == 7) {
                return block(0, task);
            }
            (scenario < 2 ? rawClient : m_client)
                .SaveMobilePrintJob(task.data(), m_reserved, file.data(), name);
        });
        if (document)
            fclose(document);
        QTEST(thrown, "thrown");
        QVERIFY(QDir().mkpath(m_root.varTmp()));
        QFile::remove(path);
        QCOMPARE(leftovers(), QStringList());
        // Nothing arrived whole (a refused block leaves at most a job's start).
        QCOMPARE(m_server.scalar("SELECT count(*) FROM Uploads WHERE Finished = 1 AND " + last),
                 QVariant(0LL));
    }

    void storagePathFromTheStoredNameOnly()
    {
        // Taken up after a restart, a job continues in its stored name's file, not its row's path.
        char stored[1024] = {};
        QByteArray block(100, 'a');
        QCOMPARE(m_client.SaveCDJobByBlock(0, block.size(), block.data(), stored), 0);
        const QString planted = m_root.path() + "/planted";
        QVERIFY(PlantedObject::plant(planted, "file", geteuid() == 0, "precious"));
        m_server.query(QString("UPDATE Uploads SET DataPath = '%1' WHERE StoredName = '%2'")
                           .arg(planted, stored));
        QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
        m_relay.forwardTo(m_server.port());
        QCOMPARE(m_client.SaveCDJobByBlock(1, block.size(), block.data(), stored), 0);
        QCOMPARE(readFile(planted), QByteArray("precious"));
        QCOMPARE(readFile(m_server.storageDir() + '/' + stored + "/cd.dat"), block + block);
    }

    void twoUsersAtOnce()
    {
        // Two users at once, past links planted under names uploads once shared.
        const QString victim = m_root.path() + "/victim";
        QVERIFY(writeFile(victim, "keep"));
        const QStringList planted = {"orixcd.bin", "SendOneBlockToServerData.bin",
                                     "SendOneBlockToServerInfo.bin", "taskinfo-alice.bin"};
        for (const QString& name : planted)
            QVERIFY(QFile::link(victim, m_root.varTmp() + "/" + name));
        struct Upload {
            QByteArray user, document, name = QByteArray(1024, '\0');
            CDComLayerWS client;
            QString thrown;
        } uploads[2];
        std::thread threads[2];
        for (int i = 0; i < 2; ++i) {
            Upload& u = uploads[i];
            u.user = i ? "lisi" : "zhangsan";
            u.document = pseudoRandom(250000, 100 + i);
            QVERIFY(writeFile(m_root.path() + "/" + u.user, u.document));
            QCOMPARE(RpcTestClient::logOn(u.client, "127.0.0.1",
                                          QByteArray::number(m_server.port()), u.user.constData(),
                                          kSeedPasswordDigest),
                     0);
            threads[i] = std::thread([&u, this] {
                QByteArray task = mobile(u.user),
                           file = QFile::encodeName(m_root.path() + "/" + u.user);
                u.thrown = outcome([&] {
                    u.client.SaveMobilePrintJob(task.data(), m_reserved, file.data(),
                                                u.name.data());
                });
            });
        }
        for (std::thread& t : threads)
            t.join();
        for (const Upload& u : uploads) {
            QCOMPARE(u.thrown, QString("none"));
            QCOMPARE(stored(u.name.constData(), "document.dat"), u.document);
            QFile::remove(m_root.path() + "/" + u.user);
        }
        QCOMPARE(readFile(victim), QByteArray("keep"));
        QCOMPARE(leftovers(), planted); // in name order, ignoring case
        for (const QString& name : planted)
            QFile::remove(m_root.varTmp() + "/" + name);
    }

    void payers_data()
    {
        QTest::addColumn<QList<int>>("job"); // as choose() takes it
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QString>("stored"); // PayerID PayerType ProjectID
        const QString quota =
            "QuotaVerification {\"PayerType\":%1,\"PayerID\":%2,\"TotalPages\":%3,"
            "\"PaperWidth\":210,\"PaperHeight\":297,\"TaskID\":0,\"PrinterName\":"
            "\"\",\"Color\":\"M\",\"Duplex\":\"S\",\"PaperSize\":\"A3\"}";
        const QString save = "SaveMobilePrintJob";
        const QString update = "ExcuteSQL UPDATE PrintProcTask SET PayerID=%1,PayerType=%2,"
                               "ProjectID = %3 WHERE SPLFileName='";
        const auto row = [](const char* name, const QList<int>& job, const QStringList& calls,
                            const char* stored) {
            QTest::newRow(name) << job << calls << QString(stored);
        };
        row("type 6, group payer", {1, 0, 6, 201, 1, 4, 3},
            {quota.arg(2).arg(201).arg(12), save, update.arg(201).arg(2).arg(0)}, "201 2 0");
        row("type 6, own payer: 10 pages of 1 yuan", {1, 0, 6, 202, 0, 5, 2},
            {quota.arg(4).arg(202).arg(10), save, update.arg(202).arg(4).arg(202)}, "202 4 202");
        row("type 2: the first payer of the list, check box cleared", {1, 0, 2, 202, 0, 1, 1},
            {quota.arg(2).arg(201).arg(1), save, update.arg(201).arg(2).arg(0)}, "201 2 0");
        row("project payer, no cost control", {0, 1, 4, 102, 0, 1, 1},
            {save, update.arg(102).arg(4).arg(102)}, "102 4 102");
        row("check box cleared, no cost control: no project update", {0, 0, 4, 102, 0, 1, 1},
            {save}, "0 0 0");
    }

    void payers()
    {
        QFETCH(QList<int>, job);
        OrixUser& user = *m_zhaoliu;
        const JobPayer payer = choose(user, job);
        m_relay.clearRequests();
        m_boxes.boxes.clear();

        QFETCH(QString, stored);
        QCOMPARE(submit(user, payer), 1);
        QStringList made = m_relay.operations();
        if (made.last().startsWith("ExcuteSQL"))
            made.last() = made.last().section('\'', 0, 0) + '\''; // without the stored name
        QTEST(made, "calls");
        QVERIFY(m_boxes.boxes.isEmpty());
        const QVariantList row =
            m_server
                .query("SELECT PayerID || ' ' || PayerType || ' ' || ProjectID, "
                       "UserName, JobState, PageCount * Copies FROM "
                       "PrintProcTask ORDER BY TaskID DESC LIMIT 1")
                .value(0);
        QCOMPARE(row, (QVariantList{stored, "zhaoliu", 20LL, qlonglong(job[5] * job[6])}));
    }

    void logonWaitsForTheJobUnderWay()
    {
        // A logon rewrites the payer list a submission reads: it waits for the job.
        OrixUser& user = *m_zhaoliu;
        const JobPayer payer = choose(user, {0, 1, 4, 102, 0, 1, 1});
        m_relay.clearRequests();
        m_relay.delayNext("<ns:SaveMobilePrintJob", 800);
        int submitted = -1, logon = -1;
        std::thread job([&] { submitted = submit(user, payer); });
        // The job is being uploaded (it holds the session from its start to its end).
        QTRY_VERIFY(m_relay.operations().contains("SaveMobilePrintJob"));
        std::thread relogon([&] { logon = user.Logon(); });
        job.join();
        relogon.join();
        QCOMPARE(submitted, 1);
        QCOMPARE(logon, 0);
        const QStringList made = m_relay.operations();
        QVERIFY2(made.indexOf("UserLogon") > made.indexOf(QRegularExpression("ExcuteSQL UPDATE.*")),
                 qPrintable(made.join('\n')));
    }

    void chineseUser_data()
    {
        QTest::addColumn<QString>("strings");
        QTest::newRow("Latin-1 strings (any port but 8085)") << "latin1";
        QTest::newRow("UTF-8 strings (port 8085)") << "utf8";
    }

    void chineseUser()
    {
        // Logon name, SQL texts and payer query carry Chinese in the client's string mode.
        QFETCH(QString, strings);
        DevServerProcess server;
        server.setStrings(strings);
        QVERIFY2(server.start(), qPrintable(server.errorString()));
        const bool utf8 = strings == "utf8";
        OrixUser user;
        const QByteArray port = QByteArray::number(server.port()),
                         address = "127.0.0.1:" + port + "/";
        seedUser(user, "陈小明", utf8 ? "8085" : port);
        if (utf8) // port text "8085" in the endpoint's path; the real port is the server's
            CopyText(user.ServerAddress, sizeof user.ServerAddress, address.constData());
        QCOMPARE(user.Logon(), 0);
        QCOMPARE(QString::fromUtf8(user.FullName), QString("陈小明"));
        // Payer names: GB18030 bytes with Latin-1 strings, UTF-8 with UTF-8 strings.
        const QString own = "陈小明个人账户";
        QCOMPARE(QByteArray(user.Payers[1].PayerName),
                 utf8 ? own.toUtf8() : UTF82GBK(own.toUtf8().constData()));

        prepareJob(user, 2, 1);
        QCOMPARE(submit(user, JobPayer{user.IsSupportProject, user.Payers[1]}), 1);
        QCOMPARE(server
                     .query("SELECT UserName, PayerID, ProjectID FROM PrintProcTask "
                            "WHERE UserID = 201")
                     .value(0),
                 (QVariantList{"陈小明", 302LL, 302LL}));
    }
    // No printer or no project: a box, the job dropped; no answer at all: the job kept.
    void notShown_data()
    {
        QTest::addColumn<QString>("table"); // zhaoliu's rows taken away; "": no answer
        QTest::addColumn<int>("payerType");
        QTest::addColumn<QString>("box");
        QTest::newRow("no printer") << "UserPrinters" << 1 << "错误|用户没有可以使用的打印机";
        QTest::newRow("project billing without a project")
            << "UserPayers" << 4 << "错误|用户未配置项目名称,请配置好再提交作业";
        QTest::newRow("server unreachable")
            << "" << 1 << "错误|无法连接服务器！\n作业已保留，稍后将再次弹出打印设置。";
    }

    void notShown()
    {
        QFETCH(QString, table);
        const QString move = "UPDATE " + table + " SET UserID = %1 WHERE UserID = %2";
        if (table.isEmpty())
            m_relay.forwardTo(0); // connections closed without an answer
        else
            m_server.query(move.arg(-4).arg(4));
        const int payers = m_zhaoliu->PayerCount;
        m_zhaoliu->PayerType = fetch<int>("payerType");
        if (m_zhaoliu->PayerType == 4)
            m_zhaoliu->PayerCount = 0; // what the logon loads without payers
        m_boxes.boxes.clear();
        const auto outcome = QPrintJobMonitor::RunSettingsDialog(m_zhaoliu.get(), {});
        m_zhaoliu->PayerCount = payers;
        if (!table.isEmpty())
            m_server.query(move.arg(4).arg(-4));
        QCOMPARE(outcome, table.isEmpty() ? QPrintJobMonitor::JobOutcome::Failed
                                          : QPrintJobMonitor::JobOutcome::Dropped);
        QCOMPARE(m_boxes.boxes, QStringList{fetch<QString>("box")});
    }

    void projectPrinting()
    {
        m_zhaoliu->IsSupportProject = true;
        m_zhaoliu->PayerType = 4;
        QVERIFY(open());
        QGroupBox* project = w<QGroupBox>("groupBoxProjectSetting");
        QCheckBox* check = w<QCheckBox>("CheckProjectPrint");
        QCOMPARE(items(w("comboBoxProjectName")), (QStringList{"研发部公用", "赵六个人账户"}));
        QVERIFY(project->isVisible() && check->isChecked());
        QCOMPARE(m_dialog->height(), kDialog - 3 * kRow); // no approval: three rows fewer
        for (bool on : {false, true}) {
            check->click();
            QVERIFY(project->isVisible() == on);
            QCOMPARE(m_dialog->height(), kDialog - 3 * kRow - (on ? 0 : kProject));
        }

        // The check box decides its own job only: cleared for one job, the next dialog starts
        // from the server's setting again.
        const QString payerOfLast = "SELECT PayerID || ' ' || PayerType || ' ' || ProjectID FROM "
                                    "PrintProcTask ORDER BY TaskID DESC LIMIT 1";
        const QString first = QString::number(m_zhaoliu->Payers[0].PayerID);
        for (bool clear : {true, false}) {
            QVERIFY(open());
            QVERIFY(w<QGroupBox>("groupBoxProjectSetting")->isVisible());
            QVERIFY(w<QCheckBox>("CheckProjectPrint")->isChecked());
            if (clear)
                w<QCheckBox>("CheckProjectPrint")->click();
            w<QPushButton>("Btn_OK_Print")->click();
            QCOMPARE(int(m_dialog->submitResult()), int(Submitted));
            QCOMPARE(m_server.scalar(payerOfLast).toString(),
                     clear ? QString("0 0 0") : first + " 4 " + first);
            QVERIFY(m_zhaoliu->IsSupportProject);
        }
        // Under cost control: no check box, the buttons below the projects.
        m_zhaoliu->IsSupportCostControl = true;
        QVERIFY(open());
        QVERIFY(w<QCheckBox>("CheckProjectPrint")->isHidden());
        QVERIFY(w<QPushButton>("Btn_OK_Print")->y() >
                w<QGroupBox>("groupBoxProjectSetting")->geometry().bottom());
    }

    // The choices of a confirmed job come preselected in the next dialog of the same server and
    // user (the auditor of each level once that level is shown), except the secret level; what
    // is no longer offered, or a file that cannot be read, gives the defaults.
    void remembersChoices()
    {
        m_zhaoliu->IsSupportProject = true;
        m_zhaoliu->PayerType = 4;
        QVERIFY(open());
        QCOMPARE(w("comboBoxPrintersList")->currentIndex(), 0);
        QCOMPARE(w("comboBoxUseTo")->currentIndex(), 0);
        w("comboBoxPrintersList")->setCurrentIndex(2);
        w("comboBoxUseTo")->setCurrentIndex(1);
        w("comboBoxProjectName")->setCurrentIndex(1);
        w("comboBoxSecretLevel")->setCurrentIndex(1);
        w("comboBoxAuditor1")->setCurrentIndex(1);
        const QString printer = w("comboBoxPrintersList")->currentText();
        const QString auditor = w("comboBoxAuditor1")->currentText();
        // Cancelling remembers nothing.
        w<QPushButton>("Btn_Cancel_Print")->click();
        QVERIFY(open());
        QCOMPARE(w("comboBoxPrintersList")->currentIndex(), 0);
        w("comboBoxPrintersList")->setCurrentIndex(2);
        w("comboBoxUseTo")->setCurrentIndex(1);
        w("comboBoxProjectName")->setCurrentIndex(1);
        w("comboBoxSecretLevel")->setCurrentIndex(1);
        w("comboBoxAuditor1")->setCurrentIndex(1);
        w<QCheckBox>("CheckProjectPrint")->click(); // this job charged to the user
        w<QPushButton>("Btn_OK_Print")->click();
        QCOMPARE(m_dialog->submitResult(), PrintSettingDlg::SubmitResult::Submitted);

        // The next job starts from the server's project printing, with the project remembered.
        QVERIFY(open());
        QVERIFY(w<QCheckBox>("CheckProjectPrint")->isChecked());
        QVERIFY(w<QGroupBox>("groupBoxProjectSetting")->isVisible());
        QCOMPARE(w("comboBoxPrintersList")->currentText(), printer);
        QCOMPARE(w("comboBoxUseTo")->currentText(), QString("归还"));
        QCOMPARE(w("comboBoxProjectName")->currentIndex(), 1);
        QCOMPARE(w("comboBoxSecretLevel")->currentIndex(), 0); // never carried over
        w("comboBoxSecretLevel")->setCurrentIndex(1);
        QCOMPARE(w("comboBoxAuditor1")->currentText(), auditor);
        // Every control inside the dialog as it is laid out (the same at any scale factor: the
        // layout is in device-independent pixels).
        for (QWidget* c : m_dialog->findChildren<QWidget*>())
            if (!c->isWindow() && c->isVisibleTo(m_dialog.get()) && c->window() == m_dialog.get())
                QVERIFY2(c->parentWidget()->rect().contains(c->geometry()),
                         qPrintable(c->objectName()));
        if (qEnvironmentVariableIsSet("ORIX_SHOTS_DIR"))
            m_dialog->grab().save(qEnvironmentVariable("ORIX_SHOTS_DIR") +
                                  "/print-settings-remembered.png");
        // Another user of the same server starts from the defaults.
        QCOMPARE(ChoiceMemory().recall("127.0.0.1:" + m_relay.portText(), "zhangsan").isEmpty(),
                 true);

        // Print way 2 lists no card swipe entry: the printer is found at its new place.
        m_zhaoliu->PrintWay = 2;
        QVERIFY(open());
        QCOMPARE(w("comboBoxPrintersList")->currentIndex(), 1);
        QCOMPARE(w("comboBoxPrintersList")->currentText(), printer);
        m_zhaoliu->PrintWay = 1;

        QFile file(m_root.home() + "/.config/OrixClient/choices.json");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("\x01garbage");
        file.close();
        QVERIFY(open());
        QCOMPARE(w("comboBoxPrintersList")->currentIndex(), 0);
        QCOMPARE(w("comboBoxUseTo")->currentIndex(), 0);
    }

    // The auditor lists of a level (the dialog shrunk by the rows not needed), then "确定".
    void submit_data()
    {
        QTest::addColumn<QList<int>>("choices");   // secret level, printer, print way, project
        QTest::addColumn<QStringList>("auditors"); // one "a,b" per list shown
        QTest::addColumn<QList<int>>("picks");     // index chosen in each auditor list
        QTest::addColumn<QString>("fault");        // "no auditor" (second list) or "no answer"
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("box"); // start of the one box shown
        QTest::addColumn<QString>("stored");
        const auto row = [](const char* name, const QList<int>& choices,
                            const QStringList& auditors, const QList<int>& picks, const char* fault,
                            int result, const char* box, const QString& stored) {
            QTest::newRow(name) << choices << auditors << picks << QString(fault) << result
                                << QString(box) << stored;
        };
        // Project (cost control, 202 has 1 yuan; -1: none); 黄退休 is inactive: no name.
        const QString rest = "|报告 2024.docx|4|3|A3|C|H|20";
        row("no approval, card swipe", {0, 0, 1, -1}, {}, {}, "", Submitted, "",
            "|公开(可对外公开)|0|" + rest);
        row("three levels, a printer", {3, 2, 1, -1}, {"钱审批", "冯主任", "刘经理,"}, {0, 0, 1},
            "", Submitted, "", "一楼复印机|机密(机密级文件)|3|10,11,13" + rest);
        row("print way 2: the first printer names none", {1, 0, 2, -1}, {"钱审批,冯主任"}, {1}, "",
            Submitted, "", "|内部(仅限内部使用)|1|11" + rest);
        row("missing auditor: the dialog stays", {2, 0, 1, -1}, {"钱审批,张三", ""}, {},
            "no auditor", NotSubmitted, "错误|审批人不能为空！", "");
        row("quota refused: 12 pages on 1 yuan", {0, 0, 1, 1}, {}, {}, "", Refused,
            "错误|余额不足，无法提交作业！请联系管理员进行充值！", "");
        row("upload fails", {0, 0, 1, -1}, {}, {}, "no answer", Failed, "错误|提交作业失败\n", "");
    }

    void submit()
    {
        QFETCH(QList<int>, choices);
        QFETCH(QStringList, auditors);
        QFETCH(QList<int>, picks);
        QFETCH(QString, fault);
        QFETCH(int, result);
        QFETCH(QString, box);
        const int project = choices[3];
        m_zhaoliu->PrintWay = choices[2];
        m_zhaoliu->IsSupportCostControl = m_zhaoliu->IsSupportProject = project >= 0;
        m_zhaoliu->PayerType = project >= 0 ? 4 : 1;
        TavAuditorArray& second = m_zhaoliu->AuditFlow.Secrets[2].Auditors[1];
        const int secondCount = second.Count;
        if (fault == "no auditor")
            second.Count = 0;
        QVERIFY(open());
        w("comboBoxSecretLevel")->setCurrentIndex(choices[0]);
        w("comboBoxPrintersList")->setCurrentIndex(choices[1]);
        if (project >= 0)
            w("comboBoxProjectName")->setCurrentIndex(project);
        const char* levels[] = {"无需审批", "一级审批", "二级审批", "三级审批"};
        QCOMPARE(w("comboBoxAuditLevel")->currentText(), QString(levels[auditors.size()]));
        const char* lists[] = {"comboBoxAuditor1", "comboBoxAuditor2", "comboBoxAuditor3"};
        QStringList shown;
        for (int l = 0; l < 3; ++l) {
            if (w(lists[l])->isVisible())
                shown << items(w(lists[l])).join(',');
            if (l < picks.size())
                w(lists[l])->setCurrentIndex(picks[l]);
        }
        QCOMPARE(shown, auditors);
        if (project < 0) {
            QCOMPARE(w<QPushButton>("Btn_OK_Print")->y(),
                     (shown.size() + 2) * kRow + kAuditTop + 60);
            QCOMPARE(m_dialog->height(), kDialog - kRow * (3 - int(shown.size())) - kProject);
            QVERIFY(w<QGroupBox>("groupBoxProjectSetting")->isHidden());
        }
        if (fault == "no answer")
            m_relay.forwardTo(0); // connections closed without an answer
        // The job stored by this click, if any.
        const QString before =
            m_server.scalar("SELECT IFNULL(MAX(TaskID), 0) FROM PrintProcTask").toString();
        const QString last = "SELECT PrinterName||'|'||SecretLevel||'|'||AuditorCount||'|'||"
                             "AuditorIDs||'|'||DocName||'|'||Copies||'|'||PageCount||'|'||"
                             "PaperSize||'|'||ColorMode||'|'||DuplexMode||'|'||JobState FROM "
                             "PrintProcTask WHERE TaskID > " +
                             before + " ORDER BY TaskID DESC LIMIT 1";
        w<QPushButton>("Btn_OK_Print")->click();
        second.Count = secondCount;

        QCOMPARE(int(m_dialog->submitResult()), result);
        QCOMPARE(m_dialog->isVisible(), result == NotSubmitted);
        QCOMPARE(m_boxes.boxes.size(), box.isEmpty() ? 0 : 1);
        QVERIFY2(m_boxes.boxes.value(0, "").startsWith(box), qPrintable(m_boxes.boxes.value(0)));
        QCOMPARE(m_server.scalar(last).toString(), fetch<QString>("stored"));
    }
};

QTEST_MAIN(TestUploads)
#include "tst_uploads.moc"
