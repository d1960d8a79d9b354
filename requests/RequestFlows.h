#pragma once

#include "CopyJobParamDlg.h"
#include "CopyTaskInfo.h"

#include <QObject>
#include <optional>

class OrixUser;

// The mobile print job and the copy request, from the user's click to the
// server. The dialogs run on the GUI thread; the page counting and the
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

    bool busy() const { return Busy; }
    // The record of the last copy request the dialog accepted.
    const CopyTaskInfo& copyTask() const { return CopyTask; }

signals:
    void busyChanged(bool busy);

private:
    class BusyScope;

    bool Busy = false;
    CopyTaskInfo CopyTask;
    std::optional<CopyJobParamDlg::Choices> UnsentCopy;
};
