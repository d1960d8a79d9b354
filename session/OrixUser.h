#pragma once

#include "ClientConfig.h"
#include "TaskRecords.h"
#include "TavAuditFlow.h"
#include "TavUserRecord.h"

#include <QByteArray>
#include <cstdint>
#include <memory>
#include <shared_mutex>

class CDComLayerWS;
class QWidget;

// One payer the user may charge (264 bytes).
struct TavPayer {
    char PayerName[256]; // GBK, as the server sent it
    int32_t PayerID;
    int32_t IsGroup;
};
static_assert(sizeof(TavPayer) == 264, "payer entry is 264 bytes");

// Who pays for one print job: billed to a project or not (the settings
// dialog's "项目打印", which starts from what the server said at logon) and
// the payer chosen for it (zero when none was). A value that travels with
// the job to its submission; the session keeps nothing of it.
struct JobPayer {
    bool Project = false;
    TavPayer Payer{};
};

// The session: who the user is, which server the client talks to, what the
// client remembers between runs and what the server told it at logon. One
// per process, created by the main window's state machine and handed to
// every dialog as a pointer it does not own. It owns the RPC client through
// which every server call is made.
//
// The logon members (UserName ... UserId) and UserInfoEx come from the
// TavUserRecord base, whose layout the RPC client reads and fills.
class OrixUser : public TavUserRecord
{
public:
    OrixUser();
    ~OrixUser();
    OrixUser(const OrixUser&) = delete;
    OrixUser& operator=(const OrixUser&) = delete;

    // Logon sequence; returns the server's logon result (0 = logged on).
    // Only a successful logon fills the session and rewrites the remembered
    // logon. Exceptions of the RPC layer pass through to the caller. Waits
    // for the job submissions under way (SessionLock).
    int Logon();

    // Remembered logon: "Last.ini" in INIPATH and the per-user copy
    // INIPATH/<user>/<user>.ini.
    void GetInformationFromLast_Ini();
    void PutInformationInLast_Ini();
    void PutInformationInUser_Ini();

    int GetComputerName();

    // Fetches one server notice and pops it up. 0 when one was shown,
    // -1 when there was none, -2 when the server could not be reached.
    // The main window's poll runs its two halves apart: ReadUserMessage on
    // a worker, the pop-up (ServerMsgDlg::ShowNotice) on the GUI thread.
    int GetUserMessage(QWidget* parent);
    // Who shows a notice: the program's notice routing, above the session,
    // installs itself when it is created (until then a notice is dropped).
    // GUI thread only.
    using NoticeShower = void (*)(OrixUser* user, const char* headline);
    static void SetNoticeShower(NoticeShower shower);
    // The fetch: one notice for userName, its headline (UTF-8) into
    // *headline on 0; -1 none, -2 the server could not be reached (any
    // failure counts as that). Safe on any thread: it reads nothing of the
    // session but the RPC client.
    int ReadUserMessage(const QByteArray& userName, QByteArray* headline) const;

    // Fills the ClientConfig at config from "OrixClientAPP.ini" and sets
    // INIPATH; returns 0. Key 2003 is read only when readItem2003 is set.
    static int ReadConfigInfo(void* config, int readItem2003);

    // Opens the web portal with the user logged on (or redirect itself when
    // it is a full http/https address). Returns 0.
    int LogWebSite(const char* redirect);

    // Percent-encodes text for use as a URL query value.
    static QByteArray URLEncode(const char* text);

    // Logon-time loaders of the job settings.
    int GetUserPayerInfo();
    void GetDocPurpose();
    void GetAuditInfo();
    void GetAuditByIni();

    // Frees the payer list.
    void FreePayers();

    // Submits the job in MobileTaskInfo with the document at DocumentPath,
    // billed as DefaultJobPayer(): the quota check when cost control is on
    // (a refusal is told to the user and nothing is uploaded: 0), the
    // upload, then the payer and project of the stored job when the job is
    // billed to a project or cost control is on (1). Plain and synchronous;
    // exceptions of the RPC layer reach the caller.
    int SaveMobileJob();
    // The same for a job record, document path and payer of the caller's
    // own, so that a submission running off the GUI thread is not disturbed
    // by the next job written into MobileTaskInfo meanwhile. JobState is set
    // in job.
    int SaveMobileJob(MobilePrintTaskInfo& job, const char* documentPath, const JobPayer& payer);
    // A job for which no payer was chosen: billed to a project as the server
    // said at logon, no project chosen.
    JobPayer DefaultJobPayer() const { return {IsSupportProject, {}}; }
    // Runs the mobile print job dialog on this session; true when the user
    // accepted it, which has written MobileTaskInfo and DocumentPath.
    // Defined with the dialog in the requests layer, which its callers link.
    bool GetMobileJobParam();
    // The user's printer list (a block the caller releases with
    // SysFreeString) into *printerList; the RPC client's result.
    int GetPrinterList(const char* userName, void** printerList);

    CDComLayerWS* rpc() const { return RpcClient.get(); }

    char ServerPort[256];
    int32_t GroupId;
    char GroupName[256];
    char ComputerName[256];
    char IPAddress[256];
    char MacAddress[256];
    char WebsiteAddress[256];
    ClientConfig Config;
    TavAuditFlow AuditFlow;
    int32_t PrintWay;

    // Payer settings (filled at logon by GetUserPayerInfo; a job's own
    // choice travels with the job, JobPayer).
    bool IsSupportCostControl;
    bool IsSupportProject;
    int32_t PayerType;
    int32_t PayerCount;
    TavPayer* Payers; // calloc'ed, PayerCount entries

    int32_t JobState; // server setting "LinuxPrintStateNew", default 20

    std::unique_ptr<CDComLayerWS> RpcClient;

    // Logons and job submissions run on worker threads, and a logon rewrites
    // what a submission reads (payer list and settings): a logon waits for
    // the submissions under way (exclusive), a submission for a logon under
    // way (shared).
    std::shared_mutex SessionLock;
    char RpcPort[20];
    bool SavePassword;
    bool AutoLogon;
    bool DomainAgentLogon;

    // The mobile print job being prepared (by its dialog).
    MobilePrintTaskInfo MobileTaskInfo;
    char DocumentPath[256];
};
