// The page "我的任务" and its tray entry: empty and long lists, the selected job's timeline, and
// the kept job's two actions from the buttons, the context menu and the keyboard.

#include "JobHistory.h"
#include "JobHistoryModel.h"
#include "JobsPage.h"
#include "OnlineDlg.h"
#include "QPrintJobMonitor.h"
#include "SessionController.h"
#include "SessionTestKit.h"
#include "TestRoot.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QToolBox>
#include <QtTest>

class tst_JobsPage : public QObject
{
    Q_OBJECT

    TestRoot m_root;
    QString folder() const { return m_root.path() + "/jobs"; }

    static JobEntry job(const QString& name, JobState state, const QString& folder = QString())
    {
        JobEntry e;
        e.Document = name;
        e.Pages = 2;
        e.Copies = 1;
        e.State = state;
        e.Folder = folder;
        return e;
    }
    static void select(JobsPage& page, int row)
    {
        page.view()->setCurrentIndex(page.model()->index(row, 0));
    }

private slots:
    void init() { QDir(folder()).removeRecursively(); }

    void emptyThenFilled()
    {
        JobHistory history(folder());
        JobsPage page(&history);
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        auto* empty = page.findChild<QLabel*>("labelNoJobs");
        QVERIFY(empty->isVisible() && !page.view()->isVisible());
        history.record(job("a.pdf", JobState::Submitted));
        QVERIFY(!empty->isVisible() && page.view()->isVisible());
        QCOMPARE(page.model()->rowCount(), 1);
    }

    // Only a kept job can be sent again (while online) or removed; removal asks first.
    void keptJobActions()
    {
        BoxRecorder boxes;
        JobHistory history(folder());
        history.record(job("sent.pdf", JobState::Submitted));
        history.record(job("kept.pdf", JobState::Kept, "/spool/alice/k1"));
        QStringList resubmitted, removed;
        JobsPage page(&history);
        page.setActions(
            [&](const QString& f) {
                resubmitted << f;
                return true;
            },
            [&](const QString& f) {
                removed << f;
                history.forget(f);
                return true;
            });
        page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&page));
        auto* resubmit = page.findChild<QPushButton*>("btnResubmitJob");
        auto* remove = page.findChild<QPushButton*>("btnRemoveJob");
        auto* timeline = page.findChild<QLabel*>("labelJobTimeline");
        page.view()->setCurrentIndex(QModelIndex());
        QVERIFY(!resubmit->isEnabled() && !remove->isEnabled()); // nothing selected
        QVERIFY(timeline->isHidden());

        QCOMPARE(page.model()->index(0, 0).data().toString(), QString("kept.pdf")); // on top
        select(page, 1);
        QVERIFY(!resubmit->isEnabled() && !remove->isEnabled());
        QVERIFY(timeline->text().endsWith("已提交"));
        select(page, 0);
        QVERIFY(!resubmit->isEnabled()); // offline
        QVERIFY(remove->isEnabled());
        page.setOnline(true);
        QVERIFY(resubmit->isEnabled());
        QVERIFY(timeline->text().contains("重新提交"));

        // The context menu holds the same two actions.
        auto* menu = page.findChild<QMenu*>();
        QCOMPARE(menu->actions().size(), 2);
        menu->actions().at(0)->trigger();
        QCOMPARE(resubmitted, QStringList{"/spool/alice/k1"});

        boxes.answer = false;
        remove->click();
        QCOMPARE(boxes.boxes.size(), 1);
        QVERIFY(boxes.boxes.at(0).contains("kept.pdf"));
        QVERIFY(removed.isEmpty());
        boxes.answer = true;
        page.view()->setFocus();
        select(page, 0);
        QTest::keyClick(page.view(), Qt::Key_Delete); // the key asks as the button does
        QCOMPARE(boxes.boxes.size(), 2);
        QCOMPARE(removed, QStringList{"/spool/alice/k1"});
        QCOMPARE(page.model()->rowCount(), 1);
    }

    // The controller keeps the program's list without a window; offline nothing is sent again.
    void controllerKeepsTheList()
    {
        SessionController::Options options;
        options.pluginPath.clear();
        SessionController controller(options);
        QVERIFY(controller.jobs());
        QCOMPARE(JobHistory::current(), controller.jobs());
        QVERIFY(!controller.resubmitKeptJob(controller.monitor()->spoolFolder() + "/job"));
    }

    // The main window's page and the tray menu's entry that opens it.
    void trayEntry()
    {
        OnlineDlg::Options options;
        options.pluginPath.clear();
        OnlineDlg window(options);
        QAction* entry = nullptr;
        for (QAction* a : window.trayMenu()->actions())
            if (a->text() == "我的任务")
                entry = a;
        QVERIFY(entry);
        QVERIFY(window.jobsPage());
        auto* box = window.findChild<QToolBox*>("toolBox");
        QVERIFY(box->currentWidget() != window.jobsPage());
        entry->trigger();
        QCOMPARE(box->currentWidget(), window.jobsPage());
        QVERIFY(window.isVisible());
        // The window's list is the one the notices and submissions reach.
        QVERIFY(JobHistory::current());
    }
};

QTEST_MAIN(tst_JobsPage)
#include "tst_jobspage.moc"
