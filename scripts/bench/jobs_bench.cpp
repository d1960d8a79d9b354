// The page "我的任务" opening with N jobs stored: reads jobs.json, builds the page and paints it
// once. Usage: orix-jobs-bench N [table-widget]. Prints "<ms to read> <ms to show>" (median of
// five runs). With "table-widget" the same rows go into a QTableWidget instead, the reference.

#include "JobHistory.h"
#include "JobsPage.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTableWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace
{

void store(const QString& folder, int count)
{
    JobHistory history(folder);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    // Written in one go: records one by one would rewrite the file each time.
    QList<JobEntry> jobs;
    for (int i = 0; i < count; ++i) {
        JobEntry job;
        job.Document = QStringLiteral("第%1季度报告-%2.docx").arg(i % 4 + 1).arg(i);
        job.Pages = 1 + i % 40;
        job.Copies = 1 + i % 3;
        job.Printer = i % 5 ? QStringLiteral("二楼复印机") : QString();
        job.SubmittedAt = now - qint64(i) * 600 * 1000; // every ten minutes, back 70 days
        job.State = i % 7 ? JobState::Printed : JobState::WaitingApproval;
        job.Notices.append({job.SubmittedAt + 1000, JobState::Received});
        job.Notices.append({job.SubmittedAt + 5000, job.State});
        jobs.append(job);
    }
    history.replaceAll(jobs);
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? atoi(argv[1]) : 10000;
    const bool widget = argc > 2 && qstrcmp(argv[2], "table-widget") == 0;
    QTemporaryDir dir;
    const QString folder = dir.path() + "/OrixClient";
    store(folder, count);

    std::vector<double> reads, shows;
    for (int run = 0; run < 5; ++run) {
        QElapsedTimer clock;
        clock.start();
        JobHistory history(folder);
        if (history.jobs().size() != count) {
            fprintf(stderr, "stored %d jobs, read %d\n", count, int(history.jobs().size()));
            return 1;
        }
        reads.push_back(clock.nsecsElapsed() / 1e6);
        std::unique_ptr<QWidget> page;
        if (widget) {
            auto* table = new QTableWidget(count, 6);
            for (int r = 0; r < count; ++r) {
                const JobEntry& job = history.jobs().at(r);
                table->setItem(r, 0, new QTableWidgetItem(job.Document));
                table->setItem(r, 1, new QTableWidgetItem(QString::number(job.Pages)));
                table->setItem(r, 2, new QTableWidgetItem(QString::number(job.Copies)));
                table->setItem(r, 3, new QTableWidgetItem(job.Printer));
                table->setItem(
                    r, 4,
                    new QTableWidgetItem(QDateTime::fromMSecsSinceEpoch(job.SubmittedAt)
                                             .toString(QStringLiteral("yyyy-MM-dd HH:mm"))));
                table->setItem(r, 5, new QTableWidgetItem(JobStateText(job.State)));
            }
            page.reset(table);
        } else {
            page.reset(new JobsPage(&history));
        }
        page->resize(300, 400);
        page->show();
        QCoreApplication::processEvents();
        page->repaint();
        shows.push_back(clock.nsecsElapsed() / 1e6);
    }
    printf("%.1f %.1f\n", median(reads), median(shows));
    return 0;
}
