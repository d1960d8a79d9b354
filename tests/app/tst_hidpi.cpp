// The frameless windows on a scaled screen: run at the scale factor given as the first argument
// (QT_SCALE_FACTOR, 1 when none). The print settings dialog takes its layout only from a server's
// lists: it is checked in tst_uploads. Icons come at the screen's pixel density; every control
// stays inside its window and its parent, as at scale 1. With ORIX_SHOTS_DIR set, each window is
// saved there as a picture ("<window>@<scale>x.png").

#include "AppIcons.h"
#include "JobHistory.h"
#include "JobHistoryModel.h"
#include "JobsPage.h"
#include "LogonPWDlg.h"
#include "OnlineDlg.h"
#include "ServerMsgDlg.h"
#include "TestRoot.h"
#include "aboutdlg.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QDateTime>
#include <QTableView>
#include <QToolBox>
#include <QWindow>
#include <QtTest>

#include <functional>
#include <memory>

using MakeWindow = std::function<QWidget*()>;
Q_DECLARE_METATYPE(MakeWindow)

namespace
{

double g_scale = 1.0;

// "name (class) at x,y w×h outside its parent" for each visible control not inside its parent.
QStringList cutOff(QWidget* window)
{
    QStringList found;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->isWindow() || !w->isVisibleTo(window) || w->window() != window)
            continue;
        // What a scroll area shows may be larger than its view: it scrolls.
        auto* area = qobject_cast<QAbstractScrollArea*>(w->parentWidget()->parentWidget());
        if (area && area->viewport() == w->parentWidget())
            continue;
        const QRect inParent = w->parentWidget()->rect();
        if (!inParent.contains(w->geometry()))
            found << QStringLiteral("%1 (%2) at %3,%4 %5x%6")
                         .arg(w->objectName(), QString::fromLatin1(w->metaObject()->className()))
                         .arg(w->x())
                         .arg(w->y())
                         .arg(w->width())
                         .arg(w->height());
    }
    return found;
}

void saveShot(QWidget* window, const QString& name)
{
    const QString dir = qEnvironmentVariable("ORIX_SHOTS_DIR");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    window->grab().save(QStringLiteral("%1/%2@%3x.png").arg(dir, name).arg(g_scale));
}

} // namespace

class tst_HiDpi : public QObject
{
    Q_OBJECT

    TestRoot m_root;

private slots:
    // The program's icon at 32 logical pixels comes from the hicolor picture of 32 × scale.
    void icons()
    {
        aboutdlg window;
        window.setWindowIcon(AppIcons::application());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPixmap icon = AppIcons::application().pixmap(window.windowHandle(), QSize(32, 32));
        QCOMPARE(icon.devicePixelRatio(), g_scale);
        QCOMPARE(icon.width(), qRound(32 * g_scale));
        // The tray's, online and offline.
        for (const QIcon& trayIcon : {AppIcons::application(), AppIcons::offline()}) {
            const QPixmap tray = trayIcon.pixmap(window.windowHandle(), QSize(22, 22));
            QCOMPARE(tray.devicePixelRatio(), g_scale);
            QCOMPARE(tray.width(), qRound(22 * g_scale));
        }
    }

    void layoutKept_data()
    {
        QTest::addColumn<MakeWindow>("make");
        QTest::newRow("logon") << MakeWindow([] { return new LogonPWDlg; });
        QTest::newRow("about") << MakeWindow([] {
            auto* about = new aboutdlg;
            about->setDiagnostics([] { return QString(); });
            return about;
        });
        QTest::newRow("notice") << MakeWindow([] {
            auto* notice = new ServerMsgDlg;
            notice->setAttribute(Qt::WA_DeleteOnClose, false);
            notice->SetMsg("<季度报告.docx>等待审批!");
            return notice;
        });
    }
    void layoutKept()
    {
        QFETCH(MakeWindow, make);
        std::unique_ptr<QWidget> window(make());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        const QStringList outside = cutOff(window.get());
        QVERIFY2(outside.isEmpty(), qPrintable(outside.join(", ")));
        QCOMPARE(window->windowHandle()->devicePixelRatio(), g_scale);
        saveShot(window.get(), QString::fromLatin1(QTest::currentDataTag()));
    }

    // The main window on its page "我的任务": a kept job, one waiting for approval, a printed one.
    void jobsPage()
    {
        {
            JobHistory history;
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            JobEntry printed;
            printed.Document = "会议纪要.pdf";
            printed.Pages = 3;
            printed.Copies = 2;
            printed.Printer = "一楼复印机";
            printed.SubmittedAt = now - 3600 * 1000;
            printed.State = JobState::Printed;
            printed.Notices = {{printed.SubmittedAt + 2000, JobState::Received},
                               {printed.SubmittedAt + 60000, JobState::Printed}};
            JobEntry waiting = printed;
            waiting.Document = "季度报告.docx";
            waiting.Pages = 12;
            waiting.Copies = 1;
            waiting.Printer.clear();
            waiting.SubmittedAt = now - 600 * 1000;
            waiting.State = JobState::WaitingApproval;
            waiting.Notices = {{waiting.SubmittedAt + 2000, JobState::WaitingApproval}};
            JobEntry kept;
            kept.Document = "合同草案.pdf";
            kept.Pages = 5;
            kept.Copies = 1;
            kept.SubmittedAt = now - 120 * 1000;
            kept.State = JobState::Kept;
            kept.Folder = m_root.path() + "/spool/job-7";
            history.replaceAll({printed, waiting, kept});
        }
        OnlineDlg::Options options;
        options.pluginPath.clear();
        OnlineDlg window(options);
        QCOMPARE(window.jobsPage()->model()->rowCount(), 3);
        window.findChild<QToolBox*>("toolBox")->setCurrentWidget(window.jobsPage());
        window.jobsPage()->view()->selectRow(0);
        // Shown without running the event loop: its state machine would start the logon.
        window.show();
        // Only the layouts' own requests: the scroll area fits the page to its view.
        for (int i = 0; i < 3; ++i)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        const QStringList outside = cutOff(&window);
        QVERIFY2(outside.isEmpty(), qPrintable(outside.join(", ")));
        saveShot(&window, "jobs-page");
    }
};

int main(int argc, char** argv)
{
    if (argc > 1 && argv[1][0] != '-') {
        g_scale = QByteArray(argv[1]).toDouble();
        qputenv("QT_SCALE_FACTOR", argv[1]);
        for (int i = 1; i + 1 < argc; ++i)
            argv[i] = argv[i + 1];
        argv[--argc] = nullptr;
    } else {
        qunsetenv("QT_SCALE_FACTOR");
    }
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    tst_HiDpi test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hidpi.moc"
