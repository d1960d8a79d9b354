// Submission of a print job: quota check, upload, payer of the stored job.

#include "OrixUser.h"

#include "DComLayerWS.h"
#include "MessageBoxes.h"
#include "TavCommon.h"
#include "TavQuotaRequest.h"
#include "TextUtil.h"

#include <climits>
#include <cstring>

namespace
{

// Pages of one copy times copies, held inside the int range.
int32_t totalPages(int32_t pages, int32_t copies)
{
    const long long total = static_cast<long long>(pages) * copies;
    if (total > INT32_MAX)
        return INT32_MAX;
    if (total < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(total);
}

} // namespace

int OrixUser::SaveMobileJob()
{
    char documentPath[sizeof DocumentPath];
    CopyText(documentPath, sizeof documentPath,
             BoundedText(DocumentPath, sizeof DocumentPath).constData());
    return SaveMobileJob(MobileTaskInfo, documentPath, DefaultJobPayer());
}

int OrixUser::SaveMobileJob(MobilePrintTaskInfo& job, const char* documentPath,
                            const JobPayer& payer)
{
    // A logon that starts meanwhile waits until this job is on the server.
    const std::shared_lock<std::shared_mutex> shared(SessionLock);
    char storedName[1024];
    memset(storedName, 0, sizeof storedName);
    TavQuotaRequest request;
    memset(&request, 0, sizeof request);

    if (IsSupportCostControl) {
        switch (PayerType) {
        case kPayerOwnAccount:
        case kPayerGroup:
            request.PayerType = PayerType;
            request.PayerID = PayerCount > 0 && Payers ? Payers[0].PayerID : 0;
            break;
        case kPayerProject:
            request.PayerType = kPayerProject;
            request.PayerID = payer.Payer.PayerID;
            break;
        case kPayerChosen:
            // The chosen payer is a group's account or a personal one.
            request.PayerType = payer.Payer.IsGroup ? kPayerGroup : kPayerProject;
            request.PayerID = payer.Payer.PayerID;
            break;
        default:
            break;
        }
        request.Kind = 'P';
        CopyText(request.PrinterName, sizeof request.PrinterName,
                 BoundedText(job.PrinterName, sizeof job.PrinterName).constData());
        CopyText(request.PaperSize, sizeof request.PaperSize,
                 BoundedText(job.PaperSize, sizeof job.PaperSize).constData());
        request.PaperWidth = 210;
        request.PaperHeight = 297;
        request.Color[0] = job.ColorMode;
        request.Duplex[0] = job.DuplexMode;
        request.TotalPages = totalPages(job.PageCount, job.Copies);
        if (RpcClient->QuotaVerification(reinterpret_cast<char*>(&request)) > 0) {
            MessageBoxes::showInformation(
                nullptr, QStringLiteral("错误"),
                QStringLiteral("余额不足，无法提交作业！请联系管理员进行充值！"));
            return 0;
        }
    } else {
        request.PayerID = payer.Project ? payer.Payer.PayerID : UserId;
        request.PayerType = PayerType;
    }

    job.JobState = JobState;
    char reserved[] = "";
    char path[sizeof DocumentPath];
    CopyText(path, sizeof path, documentPath);
    RpcClient->SaveMobilePrintJob(&job, reserved, path, storedName);

    if (!payer.Project && !IsSupportCostControl)
        return 1;
    RpcClient->UpdateProjectIDOfPrintProcTask(&request, storedName);
    return 1;
}

int OrixUser::GetPrinterList(const char* userName, void** printerList)
{
    *printerList = nullptr;
    char name[sizeof UserName];
    CopyText(name, sizeof name, userName);
    return RpcClient->GetPrinterList(name, printerList);
}
