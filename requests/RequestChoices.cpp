#include "RequestChoices.h"

#include "TavCommon.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QtEndian>

#include <algorithm>

namespace RequestChoices
{

namespace
{

// Layout of the secret level table: an int32 count, then entries holding
// the level's name at 0 and its note at 50, 50 bytes each.
constexpr int kTextWidth = 50;
constexpr int kNoteOffset = 50;
constexpr int kTableEntries =
    (TavUserRecord::kUserInfoExSize - 4) / TavUserRecord::kUserInfoExEntrySize;

QString tableText(const unsigned char* at)
{
    return GBK2UTF8(BoundedText(reinterpret_cast<const char*>(at), kTextWidth).constData());
}

} // namespace

QList<SecretLevelOption> SecretLevelOptions(const TavUserRecord& user)
{
    QList<SecretLevelOption> options;
    const int count = qFromLittleEndian<qint32>(user.UserInfoEx);
    const int entries = std::min({count, kTableEntries, static_cast<int>(user.SecretLevel)});
    for (int i = 0; i < entries; ++i) {
        const unsigned char* entry = user.UserInfoEx + 4 + i * TavUserRecord::kUserInfoExEntrySize;
        const QString name = tableText(entry);
        const QString note = tableText(entry + kNoteOffset);
        const QString text = note.isEmpty() ? name : QStringLiteral("%1(%2)").arg(name, note);
        if (!text.isEmpty())
            options.append({text, i});
    }
    return options;
}

AuditOptions AuditOptionsFor(const TavAuditFlow& flow, int secretIndex)
{
    AuditOptions options;
    if (flow.FlowID <= 0 || secretIndex < 0 || secretIndex >= flow.Secrets.size())
        return options;
    const TavSecret& secret = flow.Secrets.at(secretIndex);
    options.Level = std::clamp(static_cast<int>(secret.AuditLevel), 0, kMaxAuditLevels);
    if (!secret.Auditors)
        return options;
    for (int level = 0; level < options.Level; ++level) {
        const TavAuditorArray& array = secret.Auditors[level];
        for (int i = 0; i < array.Count && array.Entries; ++i) {
            const TavAuditor& auditor = array.Entries[i];
            options.Auditors[level].append(
                {QString::fromUtf8(BoundedText(auditor.AuditorName, sizeof auditor.AuditorName)),
                 auditor.AuditorID});
        }
    }
    return options;
}

QStringList PurposeOptions(const char* purposeList)
{
    return QString::fromUtf8(purposeList).split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

QString ComposedPurpose(const QString& chosen, const QString& other)
{
    return other.isEmpty() ? chosen : chosen + QLatin1Char(':') + other;
}

int32_t DecimalValue(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

void FillSecretLevels(QComboBox* box, const TavUserRecord& user)
{
    box->clear();
    for (const SecretLevelOption& option : SecretLevelOptions(user))
        box->addItem(option.Text, option.TableIndex);
}

void FillPurposes(QComboBox* box, const char* purposeList)
{
    box->addItems(PurposeOptions(purposeList));
    if (box->count() > 0)
        box->setCurrentIndex(0);
}

void AuditRows::init() const
{
    Level->clear();
    Level->addItems({QStringLiteral("无需审批"), QStringLiteral("一级审批"),
                     QStringLiteral("二级审批"), QStringLiteral("三级审批")});
    Level->setEnabled(false);
}

void AuditRows::show(const AuditOptions& options) const
{
    Level->setCurrentIndex(options.Level);
    for (int level = 0; level < kMaxAuditLevels; ++level) {
        Auditors[level]->clear();
        const bool shown = level < options.Level;
        Labels[level]->setVisible(shown);
        Auditors[level]->setVisible(shown);
        for (const AuditorOption& auditor : options.Auditors[level])
            Auditors[level]->addItem(auditor.Name, auditor.Id);
    }
}

void AuditRows::chosen(CommonChoice& choice) const
{
    choice.AuditorCount = std::clamp(Level->currentIndex(), 0, kMaxAuditLevels);
    for (int level = 0; level < kMaxAuditLevels; ++level)
        choice.AuditorIDs[level] =
            level < choice.AuditorCount ? Auditors[level]->currentData().toInt() : 0;
}

CommonChoice Chosen(const CommonWidgets& widgets, const AuditRows& rows)
{
    CommonChoice choice;
    choice.DocName = widgets.DocName->text();
    choice.SecretLevel = widgets.SecretLevel->currentText();
    choice.Purpose = ComposedPurpose(widgets.Purpose->currentText(), widgets.OtherPurpose->text());
    choice.Copies = DecimalValue(widgets.Copies->text());
    rows.chosen(choice);
    return choice;
}

} // namespace RequestChoices
