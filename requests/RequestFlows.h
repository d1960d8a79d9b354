#pragma once

#include "CDTaskInfo.h"
#include "CopyJobParamDlg.h"
#include "CopyTaskInfo.h"

#include <QObject>
#include <optional>

class OrixUser;

// The mobile print job, the copy request and the disc-burning request, from
// the user's click to the server. The dialogs run on the GUI thread; the page counting and the
// uploads run off it (the window stays responsive meanwhile), and a
// failure is told to the user. One request at a time: busyChanged tells
// the controls to wait.
class RequestFlows : public QObject
{
    Q_OBJECT

public:
    explicit RequestFlows(QObject* parent = nullptr);

    // The mobile print job dialog, then the submission of the chosen file
    // with its page count. The file is only read. True when the job was
    // handed to the server.
    bool runMobilePrintJob(OrixUser* user);

    // The copy request dialog, then the sending of its record. When it
    // cannot be sent the user is told and the dialog comes up again with
    // what was entered; what was entered is also kept for the next copy
    // request until one is sent. True when a request was sent.
    bool runCopyRequest(OrixUser* user);

    // The disc-burning request dialog, which packs, encrypts and uploads the
    // chosen files itself; when it went through, the box "cd-submit"
    // ("task"). True when it went through.
    bool runDiscRequest(OrixUser* user);

    bool busy() const { return Busy; }
    // The record of the last copy request the dialog accepted.
    const CopyTaskInfo& copyTask() const { return CopyTask; }
    // The record of the last disc request.
    const CDTaskInfo& discTask() const { return DiscTask; }

signals:
    void busyChanged(bool busy);

private:
    class BusyScope;

    bool Busy = false;
    CopyTaskInfo CopyTask;
    CDTaskInfo DiscTask;
    std::optional<CopyJobParamDlg::Choices> UnsentCopy;
};
