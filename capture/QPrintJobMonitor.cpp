#include "QPrintJobMonitor.h"

#include "Attention.h"
#include "EventLog.h"
#include "FramelessWindow.h"
#include "JobHistory.h"
#include "MessageBoxes.h"
#include "PrintSettingDlg.h"
#include "SystemPaths.h"
#include "TavCommon.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QProgressDialog>
#include <QStringList>
#include <QTimer>

std::atomic<int> m_nMonitorFolderState{MonitorFolderState::Idle};

namespace
{

constexpr int kRemoveTimeoutMs = 30000;

SpoolWatch::Outcome watchOutcome(int value)
{
    return static_cast<SpoolWatch::Outcome>(value);
}

} // namespace

QPrintJobMonitor::QPrintJobMonitor(QWidget* parent) : QPrintJobMonitor(Options(), parent) {}

QPrintJobMonitor::QPrintJobMonitor(const Options& options, QWidget* parent)
    : QMainWindow(parent), m_Options(options)
{
    const QString user = getUserName();
    m_strMonitorPath = QString::fromUtf8(SystemPaths::spoolRoot()) + user;
    m_Watch.reset(new SpoolWatch(m_strMonitorPath, QFile::encodeName(user), m_Options.Watch));

    // The signals come from the worker; the slots run queued in the GUI
    // thread, where the monitor lives.
    connect(this, &QPrintJobMonitor::mysignal, this, &QPrintJobMonitor::myslot);
    connect(this, &QPrintJobMonitor::pdSignalPerform, this, &QPrintJobMonitor::pdSlotPerform);
    connect(this, &QPrintJobMonitor::pdSignalcanceled, this, &QPrintJobMonitor::pdSlotCancel);
    pdInit();
}

QPrintJobMonitor::~QPrintJobMonitor()
{
    StopMonitor();
    if (m_Thread.joinable())
        m_Thread.join();
}

void QPrintJobMonitor::StartMonitor()
{
    if (!m_pProgress)
        pdInit();
    unsigned generation;
    {
        std::lock_guard<std::mutex> lock(m_WakeMutex);
        generation = ++m_Generation;
    }
    m_Wake.notify_all();
    // A worker of an earlier start ends at once: its generation is over.
    if (m_Thread.joinable())
        m_Thread.join();
    m_Watch->retryAllNow();
    m_Thread = std::thread([this, generation] { ThreadProcMonitorFolder(generation); });
}

void QPrintJobMonitor::StopMonitor()
{
    {
        std::lock_guard<std::mutex> lock(m_WakeMutex);
        m_bRunning = false;
        ++m_Generation;
    }
    m_Wake.notify_all();
    pdRelease();
}

bool QPrintJobMonitor::waitPoll(unsigned generation, int ms)
{
    std::unique_lock<std::mutex> lock(m_WakeMutex);
    return !m_Wake.wait_for(lock, std::chrono::milliseconds(ms),
                            [&] { return !m_bRunning || m_Generation != generation; });
}

void QPrintJobMonitor::ThreadProcMonitorFolder(unsigned generation)
{
    using Clock = SpoolWatch::Clock;
    while (m_bRunning && m_Generation == generation) {
        const int state = m_nMonitorFolderState.load(std::memory_order_acquire);
        if (state == MonitorFolderState::Idle && !m_Watch->handedOver().isEmpty())
            m_Watch->jobDone(watchOutcome(m_LastOutcome.load()), Clock::now());

        {
            std::lock_guard<std::mutex> lock(m_WakeMutex);
            for (const QString& name : qAsConst(m_Retry))
                m_Watch->retryNow(name);
            m_Retry.clear();
        }
        const SpoolWatch::Step step = m_Watch->poll(state, Clock::now());
        if (step.ResetProgress)
            m_nProgressValue = 0;
        if (step.Cancel)
            emit pdSignalcanceled();
        if (step.Perform)
            emit pdSignalPerform();
        if (!step.HandOver.isEmpty()) {
            // The job first, then the state, then the signal: the GUI
            // thread takes its copy of the job once it sees HandedOver, and
            // sets Idle only after it has handled the job.
            m_Job = CapturedJob::InFolder(m_strMonitorPath + '/' + step.HandOver);
            m_nMonitorFolderState.store(MonitorFolderState::HandedOver, std::memory_order_release);
            emit mysignal();
        } else if (step.State != state) {
            m_nMonitorFolderState.store(step.State, std::memory_order_release);
        }
        if (!waitPoll(generation, m_Options.PollMs))
            break;
    }
}

bool QPrintJobMonitor::keepFolders() const
{
    if (m_Options.KeepFolders)
        return *m_Options.KeepFolders;
    const QStringList args = QCoreApplication::arguments();
    return args.size() > 1 && args.at(1) == QLatin1String("1");
}

void QPrintJobMonitor::myslot()
{
    if (m_nMonitorFolderState.load(std::memory_order_acquire) != MonitorFolderState::HandedOver)
        return;
    const bool keep = keepFolders();
    const CapturedJob job = m_Job;

    JobOutcome outcome;
    try {
        outcome =
            m_Options.Handler ? m_Options.Handler(m_pUser, job) : RunSettingsDialog(m_pUser, job);
    } catch (...) {
        // The event loop's boundary for a captured job: whatever ended its
        // dialog, the job is kept and offered again.
        LogException("captured job", std::current_exception());
        MessageBoxes::showInformation(nullptr, QStringLiteral("错误"),
                                      QStringLiteral("save printjob failed.\n") +
                                          QString::fromUtf8(kKeptJobNote));
        outcome = JobOutcome::Failed;
    }

    // A failed job stays where it is for a later try; every other one is
    // removed unless the folders are kept.
    const bool failed = outcome == JobOutcome::Failed;
    if (JobHistory* history = JobHistory::current()) {
        if (failed)
            history->keep(job.Folder);
        else
            history->forget(job.Folder);
    }
    if (!keep && !failed)
        RemoveJobFolder(job.Folder);
    const SpoolWatch::Outcome done = failed ? SpoolWatch::Outcome::Failed
                                     : keep ? SpoolWatch::Outcome::Kept
                                            : SpoolWatch::Outcome::Removed;
    m_LastOutcome = static_cast<int>(done);
    m_nMonitorFolderState.store(MonitorFolderState::Idle, std::memory_order_release);
}

QPrintJobMonitor::JobOutcome QPrintJobMonitor::RunSettingsDialog(OrixUser* user,
                                                                 const CapturedJob& job)
{
    if (!user)
        return JobOutcome::Failed;
    PrintSettingDlg dialog;
    dialog.setUser(user);
    dialog.setJob(job);
    if (dialog.displayDialog() == 0)
        return dialog.submitResult() == PrintSettingDlg::SubmitResult::Failed ? JobOutcome::Failed
                                                                              : JobOutcome::Dropped;
    // The job comes while the user may be typing elsewhere.
    Attention::request(&dialog, QStringLiteral("打印任务"),
                       QStringLiteral("收到新的打印任务，请选择打印参数。"));
    dialog.exec();
    switch (dialog.submitResult()) {
    case PrintSettingDlg::SubmitResult::Submitted:
        return JobOutcome::Submitted;
    case PrintSettingDlg::SubmitResult::Refused:
        return JobOutcome::Refused;
    case PrintSettingDlg::SubmitResult::Failed:
        return JobOutcome::Failed;
    case PrintSettingDlg::SubmitResult::NotSubmitted:
        break;
    }
    return JobOutcome::Cancelled;
}

namespace
{

// The name of folder when it is a job folder right inside spoolFolder.
QString jobFolderName(const QString& spoolFolder, const QString& folder)
{
    if (spoolFolder.isEmpty() || !folder.startsWith(spoolFolder + QLatin1Char('/')))
        return QString();
    const QString name = folder.mid(spoolFolder.size() + 1);
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return QString();
    return name;
}

} // namespace

bool QPrintJobMonitor::retryKeptJob(const QString& folder)
{
    const QString name = jobFolderName(m_strMonitorPath, folder);
    if (name.isEmpty() || !m_bRunning)
        return false;
    {
        std::lock_guard<std::mutex> lock(m_WakeMutex);
        m_Retry.append(name);
    }
    m_Wake.notify_all();
    return true;
}

bool QPrintJobMonitor::removeKeptJob(const QString& folder)
{
    const QString name = jobFolderName(m_strMonitorPath, folder);
    if (name.isEmpty())
        return false;
    // Not the job the settings dialog has at this moment.
    if (m_nMonitorFolderState.load(std::memory_order_acquire) == MonitorFolderState::HandedOver &&
        m_Job.Folder == folder)
        return false;
    RemoveJobFolder(folder);
    if (JobHistory* history = JobHistory::current())
        history->forget(folder);
    return true;
}

void QPrintJobMonitor::RemoveJobFolder(const QString& folder)
{
    QProcess rm;
    QEventLoop loop;
    connect(&rm, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop,
            &QEventLoop::quit);
    connect(&rm, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(kRemoveTimeoutMs, &loop, &QEventLoop::quit);
    rm.start(QStringLiteral("rm"), {QStringLiteral("-rf"), folder});
    if (rm.state() != QProcess::NotRunning)
        loop.exec();
}

// --- progress dialog ------------------------------------------------------------------

void QPrintJobMonitor::pdInit()
{
    m_pProgress = new QProgressDialog(this);
    m_pProgress->setRange(0, 100);
    m_pProgress->setWindowTitle(QStringLiteral("请等待"));
    m_pProgress->setLabelText(QStringLiteral("正在处理......      "));
    m_pProgress->setCancelButtonText(QStringLiteral("隐藏"));
    m_pProgress->setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::CustomizeWindowHint |
                                Qt::WindowStaysOnTopHint);
    connect(m_pProgress, &QProgressDialog::canceled, this, &QPrintJobMonitor::pdSlotCancel);
    m_pProgress->setValue(0);
    m_pProgress->cancel();
}

void QPrintJobMonitor::pdRelease()
{
    m_nProgressValue = 0;
    if (!m_pProgress)
        return;
    m_pProgress->hide();
    delete m_pProgress;
    m_pProgress = nullptr;
}

void QPrintJobMonitor::pdSlotPerform()
{
    if (m_pProgress && m_pProgress->isHidden()) {
        m_pProgress->show();
        centreOnScreen(m_pProgress);
    }
    const int value = m_nProgressValue;
    if (m_pProgress)
        m_pProgress->setValue(value);
    m_nProgressValue = value < 80 ? value + 4 : std::min(value + 1, 99);
}

void QPrintJobMonitor::pdSlotCancel()
{
    if (m_pProgress && m_pProgress->isVisible())
        m_pProgress->hide();
}
