#pragma once

#include "CapturedJob.h"
#include "TaskRecords.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>

class OrixUser;
class TavAuditFlow;
struct TavPayer;
struct TavSecret;

// What the print settings dialog shows and collects, without widgets: the
// printer list, the secret levels, the audit rows, the layout arithmetic of
// the shrinking and growing dialog, the chosen auditors and the records
// filled on confirmation. The dialog only moves these values in and out of
// its widgets.

// --- printer list -------------------------------------------------------------------

// The entry that sends the job to card-swipe printing (release at any
// printer); it heads the list unless the user prints by print way 2.
extern const char kCardSwipeEntry[];

// Added to the failure messages of a job whose folder is kept for a later
// try.
extern const char kKeptJobNote[];

// The server's printer list: NUL-terminated GBK texts, first the total
// number of printers as decimal text, then the names of the printers the
// user may use, ended by an empty text or by the end of the data.
struct PrinterListReply {
    int Total = 0;           // the first text as a decimal number (0 when it is none)
    QList<QByteArray> Names; // GBK, in reply order
};

// Reads a reply of length bytes. Never reads a byte past length: a text
// that runs into the end is taken up to the end. A name is read only while
// at least two bytes remain.
PrinterListReply ParsePrinterList(const char* data, size_t length);

// The bytes of a printer list block made by SysAllocStringLen: its units
// times two and the two bytes behind them (the odd last byte of an answer
// lives in the first of those).
size_t PrinterListBlockLength(const void* block);

struct PrinterChoices {
    QStringList Items; // in list order
    bool Enabled = false;
};

// Print way 2 lists the user's printers and nothing else. Any other print
// way puts "刷卡打印" first; the user's printers follow, unless the user may
// use every printer (as many names as the total, or more) or none, in which
// case the list holds only that entry and is disabled.
PrinterChoices BuildPrinterChoices(const PrinterListReply& reply, int printWay);

// --- secret levels -------------------------------------------------------------------

// The texts of the secret level list from the user information block (a
// 32-bit count, then entries of 364 bytes: name at 0, a second text at 50,
// both GBK): the first secretLevel entries, each "name" or "name(second)"
// when the second text is not empty; empty texts are left out. A count
// beyond what the block holds is cut to the block.
QStringList SecretLevelItems(const unsigned char* userInfoEx, size_t size, int secretLevel);

// --- audit rows -------------------------------------------------------------------------

// The secret level shown for list index, or null (no audit levels): the
// flow must be loaded (FlowID above 0) and the index inside its list.
const TavSecret* SecretAt(const TavAuditFlow& flow, int index);

// The audit level entry and the number of auditor lists for a secret level
// with levels approval levels: "无需审批" and none for 0 or less, then
// "一级审批" 1, "二级审批" 2, "三级审批" 3 (also for more levels).
struct AuditRows {
    QString LevelText;
    int LevelData = 0; // the level number; 0: the entry has no data
    int AuditorLists = 0;
};
AuditRows AuditRowsFor(int levels);

// --- layout ----------------------------------------------------------------------------------

// Sizes of the form recorded when the dialog is built.
struct SettingLayout {
    int AuditWidth = 0, AuditHeight = 0;     // groupBoxAuditSetting
    int SecretWidth = 0, SecretHeight = 0;   // groupBoxSecretlevelSelect
    int DialogWidth = 0, DialogHeight = 0;   // the dialog
    int ProjectWidth = 0, ProjectHeight = 0; // groupBoxProjectSetting
    int RowHeight = 0;                       // from comboBoxAuditor1 to comboBoxAuditor2
};

// Where the rows below the audit group go.
struct SettingPlacement {
    int AuditHeight = 0;
    int ProjectTop = 0; // only meaningful while the project group is shown
    int CheckTop = 0;   // only meaningful while the check box is shown
    int ButtonsTop = 0;
    int DialogHeight = 0;
};

// The dialog for a secret level with levels approval levels (cut to 0..3):
// the audit group loses one row per level fewer than three, and the project
// group, the check box and the buttons follow it up.
SettingPlacement PlaceForLevels(const SettingLayout& layout, int levels, int auditTop,
                                bool projectPrinting, bool checkShown);

// The project group shown (checked) or hidden below the audit group, the
// check box and the buttons after it, the dialog one project group taller
// or shorter than dialogHeight.
SettingPlacement PlaceForProject(bool checked, int auditBottom, int projectTop, int projectHeight,
                                 int auditHeight, int dialogHeight);

// --- choices and records ------------------------------------------------------------------

// The auditors chosen for a job: Count is the secret level's number of
// approval levels (0 when no flow is loaded); IDs holds the identifier of
// the entry selected in each of the first three lists, 0 where none is
// selected or the level has no such entry.
struct ChosenAuditors {
    int Count = 0;
    int32_t IDs[10] = {};
};

// selected[i] is the index selected in the auditor list of level i + 1
// (-1 for none). The secret level is the one at secretIndex, or the first
// one when secretIndex is outside the list.
ChosenAuditors ChooseAuditors(const TavAuditFlow& flow, int secretIndex, const int selected[3]);

// Fills the dialog's record: user name, the chosen auditors, the secret
// level and purpose texts (UTF-8, cut at a whole character). Returns 1 when
// an auditor is missing (an identifier below 1; the record then holds the
// identifiers up to it), else 0.
int FillTaskRecord(_TAV_PRINT_TASK_INFO_& task, const char* userName,
                   const ChosenAuditors& auditors, const QString& secretLevel,
                   const QString& purpose);

// The user's choices that go into the job beside the dialog's record.
struct JobChoice {
    int PrinterIndex = -1; // 0: the first entry, no particular printer
    QString PrinterText;
    int ProjectIndex = -1; // index into the session's payer list; -1 none
    bool Project = false;  // billed to the project ("项目打印")
};

// Fills the job's MobilePrintTaskInfo and payer from its
// _TAV_PRINT_TASK_INFO_ (already filled), the session's user, the choices
// and the job's options file.
void FillCapturedJob(CapturedJob& job, const OrixUser& user, const JobChoice& choice);

// A payer's name as the user reads it: the payer query carries it in the
// client's string mode, UTF-8 when the port text is "8085", else GBK.
QString PayerDisplayName(const TavPayer& payer, bool utf8Strings);
