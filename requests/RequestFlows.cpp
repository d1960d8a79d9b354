#include "RequestFlows.h"

#include "Background.h"
#include "CDTaskDlg.h"
#include "DComLayerWS.h"
#include "EventLog.h"
#include "MessageBoxes.h"
#include "MobileJobParamDlg.h"
#include "OrixUser.h"
#include "TavCommon.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

namespace
{

enum class MobileOutcome { Submitted, Refused, Unreadable, Failed };

// Only a regular file that can be read is submitted: opening anything else
// (a pipe, a device) could wait for ever.
bool isReadableFile(const QByteArray& path)
{
    const QFileInfo info(QFile::decodeName(path));
    return info.isFile() && info.isReadable();
}

} // namespace

class RequestFlows::BusyScope
{
public:
    explicit BusyScope(RequestFlows& flows) : Flows(flows)
    {
        Flows.Busy = true;
        emit Flows.busyChanged(true);
    }
    ~BusyScope()
    {
        Flows.Busy = false;
        emit Flows.busyChanged(false);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    RequestFlows& Flows;
};

RequestFlows::RequestFlows(QObject* parent) : QObject(parent)
{
    memset(&CopyTask, 0, sizeof CopyTask);
    memset(&DiscTask, 0, sizeof DiscTask);
}

bool RequestFlows::runMobilePrintJob(OrixUser* user)
{
    if (Busy || !user)
        return false;
    BusyScope busy(*this);
    if (!user->GetMobileJobParam())
        return false;

    // The submission works on copies of the record and the path, which the
    // next job may overwrite in the session while this one is uploaded, and
    // of its payer.
    MobilePrintTaskInfo job = user->MobileTaskInfo;
    const QByteArray path = BoundedText(user->DocumentPath, sizeof user->DocumentPath);
    const JobPayer payer = user->DefaultJobPayer();
    MobileOutcome outcome = MobileOutcome::Failed;
    try {
        outcome = Background::RunResponsive([user, &job, &path, &payer] {
            if (!isReadableFile(path))
                return MobileOutcome::Unreadable;
            job.PageCount = MobileJobPageCount(path.constData());
            return user->SaveMobileJob(job, path.constData(), payer) == 1 ? MobileOutcome::Submitted
                                                                          : MobileOutcome::Refused;
        });
    } catch (const RpcFailure&) {
        // The upload's exceptions: a failed exchange, a file that could not
        // be read or written.
        outcome = MobileOutcome::Failed;
    } catch (const std::exception&) {
        // No thread for it, or no memory.
        LogException("mobile job submission", std::current_exception());
        outcome = MobileOutcome::Failed;
    }

    switch (outcome) {
    case MobileOutcome::Submitted:
        return true;
    case MobileOutcome::Refused: // the quota check has told the user
        return false;
    case MobileOutcome::Unreadable:
        LogEvent(kLogError, "mobile job: cannot read %s\n", path.constData());
        MessageBoxes::showInformation(nullptr, QStringLiteral("错误"),
                                      QStringLiteral("提交作业失败：无法读取文件“%1”。")
                                          .arg(QFileInfo(QFile::decodeName(path)).fileName()));
        return false;
    case MobileOutcome::Failed:
        break;
    }
    LogEvent(kLogError, "mobile job: submission failed\n");
    MessageBoxes::showInformation(nullptr, QStringLiteral("错误"), QStringLiteral("提交作业失败"));
    return false;
}

bool RequestFlows::runCopyRequest(OrixUser* user)
{
    if (Busy || !user)
        return false;
    BusyScope busy(*this);
    for (;;) {
        memset(&CopyTask, 0, sizeof CopyTask);
        CopyJobParamDlg::Choices entered;
        {
            CopyJobParamDlg dialog(nullptr);
            dialog.SetTask(&CopyTask);
            dialog.SetUser(user);
            if (UnsentCopy)
                dialog.SetChoices(*UnsentCopy);
            if (dialog.exec() != QDialog::Accepted)
                return false;
            entered = dialog.choices();
        }

        int status = -1;
        try {
            status = Background::RunResponsive([user, record = CopyTask]() mutable {
                char reserved[256];
                memset(reserved, 0, sizeof reserved);
                return user->rpc()->SaveCopyJob(&record, reserved);
            });
        } catch (const RpcFailure&) {
            status = -1;
        } catch (const std::exception&) {
            LogException("copy request", std::current_exception());
            status = -1;
        }
        if (status == RpcResult::kOk) {
            UnsentCopy.reset();
            return true;
        }

        // Nothing of what the user entered is lost: the dialog comes up
        // again with it, and keeps it should the user close it now.
        LogEvent(kLogError, "copy request: not sent (%d)\n", status);
        UnsentCopy = entered;
        MessageBoxes::showInformation(nullptr, QStringLiteral("错误"),
                                      QStringLiteral("复印申请提交失败，请重新提交。"));
    }
}

bool RequestFlows::runDiscRequest(OrixUser* user)
{
    if (Busy || !user)
        return false;
    BusyScope busy(*this);
    memset(&DiscTask, 0, sizeof DiscTask);
    bool accepted = false;
    {
        // The dialog waits for its worker before it goes.
        CDTaskDlg dialog(nullptr);
        dialog.SetTask(&DiscTask);
        dialog.SetUser(user);
        accepted = dialog.exec() == QDialog::Accepted;
    }
    if (accepted)
        MessageBoxes::showInformation(nullptr, QStringLiteral("cd-submit"), QStringLiteral("task"));
    return accepted;
}
