#pragma once

#include "OrixUser.h"
#include "TextUtil.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

class QComboBox;
class QLabel;
class QLineEdit;

// The choices that the copy and the disc-burning request dialogs share: the
// secret level (which brings its approval levels and their auditors), the
// purpose, and the record fields filled from them and from the session. The
// plain functions hold the rules; AuditRows and the two Fill functions only
// put their results into a dialog's widgets.
namespace RequestChoices
{

// A request asks for at most this many approval levels.
constexpr int kMaxAuditLevels = 3;

// One entry of the secret level list.
struct SecretLevelOption {
    QString Text;   // "name", or "name(note)" when the entry has a note
    int TableIndex; // the entry of the secret level table, which is also the
                    // item of the user's audit flow that carries its auditors
};

// The secret levels the user may choose, from the secret level table of
// the session's UserInfoEx: entries in table order, at most SecretLevel of
// them (the number of levels the server grants the user), those with an
// empty text left out. The table's texts are GB18030. A count in the table
// beyond what the block holds is cut to the block.
QList<SecretLevelOption> SecretLevelOptions(const TavUserRecord& user);

struct AuditorOption {
    QString Name;
    int32_t Id;
};

// The approval levels of one secret level and the auditors of each.
struct AuditOptions {
    int Level = 0; // 0 (no approval) to kMaxAuditLevels
    QList<AuditorOption> Auditors[kMaxAuditLevels];
};

// The audit of item secretIndex of the flow: level 0 without auditors when
// no flow is loaded (FlowID not above 0) or there is no such item; a level
// beyond kMaxAuditLevels counts as kMaxAuditLevels. An item whose auditors
// did not load has its level and empty auditor lists.
AuditOptions AuditOptionsFor(const TavAuditFlow& flow, int secretIndex);

// The purposes of the configuration's list (UTF-8, separated by ";"), empty
// parts left out.
QStringList PurposeOptions(const char* purposeList);

// The purpose as the record carries it: the chosen one, followed by ":" and
// the free text when there is one.
QString ComposedPurpose(const QString& chosen, const QString& other);

// A text field read as a decimal integer; 0 when it is not one.
int32_t DecimalValue(const QString& text);

// What the copy and disc request records take from the user's choices.
struct CommonChoice {
    QString SecretLevel; // the text of the chosen secret level
    QString Purpose;     // ComposedPurpose
    QString DocName;
    int32_t AuditorCount = 0; // 0 to kMaxAuditLevels
    int32_t AuditorIDs[kMaxAuditLevels] = {0, 0, 0};
    int32_t Copies = 0;
};

// Fills the fields that the copy and the disc request records have in
// common (same names, widths and meaning, at the record's own offsets) from
// the session and the choice. Texts are UTF-8, cut at a character so that
// each ends with its NUL inside its field. Auditor slots beyond AuditorCount
// are left as they are (the opener zero-filled the record).
template <typename Record>
void FillCommonFields(Record& record, const OrixUser& user, const CommonChoice& choice)
{
    CopyUtf8Text(record.UserName, sizeof record.UserName, user.UserName);
    CopyUtf8Text(record.UserFullName, sizeof record.UserFullName, user.FullName);
    record.UserID = user.UserId;
    record.AuditorCount = choice.AuditorCount;
    for (int level = 0; level < choice.AuditorCount && level < kMaxAuditLevels; ++level)
        record.AuditorIDs[level] = choice.AuditorIDs[level];
    CopyUtf8Text(record.SecretLevel, sizeof record.SecretLevel,
                 choice.SecretLevel.toUtf8().constData());
    CopyUtf8Text(record.Purpose, sizeof record.Purpose, choice.Purpose.toUtf8().constData());
    CopyUtf8Text(record.DocName, sizeof record.DocName, choice.DocName.toUtf8().constData());
    CopyUtf8Text(record.ComputerName, sizeof record.ComputerName, user.ComputerName);
    CopyUtf8Text(record.MacAddress, sizeof record.MacAddress, user.MacAddress);
    CopyUtf8Text(record.IPAddress, sizeof record.IPAddress, user.IPAddress);
    record.Copies = choice.Copies;
}

// --- widgets ----------------------------------------------------------------------------

// Replaces the items of box with the user's secret levels (the table index
// as item data). The first item becomes current, which runs the box's
// index handler.
void FillSecretLevels(QComboBox* box, const TavUserRecord& user);

// Appends the configuration's purposes to box; the first becomes current.
void FillPurposes(QComboBox* box, const char* purposeList);

// The audit rows of a request dialog: the (disabled) level box with its
// four items and one label and auditor box per approval level.
struct AuditRows {
    QComboBox* Level = nullptr;
    QLabel* Labels[kMaxAuditLevels] = {};
    QComboBox* Auditors[kMaxAuditLevels] = {};

    // Fills Level with "无需审批" ... "三级审批" and disables it.
    void init() const;
    // Shows options: the level, and for each level up to it its row with
    // its auditors (the user id as item data); the rows beyond are emptied
    // and hidden.
    void show(const AuditOptions& options) const;
    // The chosen level and the ids of the current auditors up to it (0 for
    // an empty box) into choice.
    void chosen(CommonChoice& choice) const;
};

// The widgets of the choices every request dialog has.
struct CommonWidgets {
    QLineEdit* DocName;
    QComboBox* SecretLevel;
    QComboBox* Purpose;
    QLineEdit* OtherPurpose;
    QLineEdit* Copies;
};

// What the widgets and the audit rows show, as a choice.
CommonChoice Chosen(const CommonWidgets& widgets, const AuditRows& rows);

} // namespace RequestChoices
