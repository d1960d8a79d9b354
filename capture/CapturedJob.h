#pragma once

#include "OrixUser.h"
#include "TaskRecords.h"

#include <QString>

// One captured print job, passed by value from the spool folder monitor to
// the print settings dialog and on to the submission. Each holds its own
// copy, so nothing that runs while the dialog is open or the job is being
// sent (the next job, a logon, a notice) can change what is uploaded.
struct CapturedJob {
    QString Folder;   // the job folder in the user's spool folder
    QString Document; // the folder's "job.pdf"
    QString Options;  // the folder's "options", read by GetJobInfo

    // Filled by the settings dialog on "确定".
    _TAV_PRINT_TASK_INFO_ Task{};
    MobilePrintTaskInfo Record{};
    JobPayer Payer{}; // billed to a project or not, the project chosen

    static CapturedJob InFolder(const QString& folder)
    {
        return {folder, folder + QStringLiteral("/job.pdf"), folder + QStringLiteral("/options")};
    }
};
