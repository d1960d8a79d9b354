#include "ServerNotice.h"

#include <QtEndian>

#include "LanguageManager.h"
#include "TavCommon.h"
#include "TextUtil.h"

#include <QList>

#include <cstdlib>
#include <cstring>

namespace ServerNotice
{

namespace
{

struct TypeRow {
    int type;
    int textId;
};
// The type table, searched in order.
const TypeRow kPrintResultIndex[] = {
    {0, 7000},    {1, 7000},    {2, 7002},    {3, 7003},    {4, 7004},    {10, 7000},
    {12, 7002},   {13, 7003},   {512, 7512},  {511, 7511},  {513, 7513},  {514, 7514},
    {515, 7515},  {516, 7516},  {517, 7517},  {518, 7518},  {519, 7519},  {520, 7520},
    {521, 7521},  {522, 7522},  {523, 7523},  {524, 7524},  {525, 7525},  {526, 7526},
    {527, 7527},  {528, 7528},  {529, 7529},  {530, 7530},  {531, 7531},  {532, 7532},
    {533, 7533},  {534, 7534},  {535, 7535},  {536, 7536},  {537, 7999},  {640, 7000},
    {641, 7001},  {642, 7002},  {643, 7003},  {644, 7004},  {705, 7512},  {704, 7511},
    {706, 7513},  {707, 7514},  {708, 7515},  {768, 7768},  {769, 7769},  {1024, 8024},
    {2048, 7000}, {2049, 7001}, {2050, 7002}, {2051, 7100}, {2052, 7101}, {2559, 7102},
    {2558, 7103}, {2560, 7513}, {2561, 7514}, {2562, 7515},
};
const int kPrintResultIndexSize = sizeof kPrintResultIndex / sizeof kPrintResultIndex[0];

// Audit code 0, 1, 2 -> text id, per table.
const int kAuditDetailIndex[3] = {8100, 8101, 8102};
const int kRecycleAuditDetailIndex[3] = {8200, 8201, 8202};
const int kCopyAuditDetailIndex[3] = {8203, 8204, 8205};
const int kCDAuditDetailIndex[3] = {8206, 8207, 8208};

const int* AuditTable(int type)
{
    switch (type) {
    case 2:
    case 12:
        return kAuditDetailIndex;
    case 768:
    case 769:
        return kRecycleAuditDetailIndex;
    case 642:
        return kCopyAuditDetailIndex;
    case 2050:
        return kCDAuditDetailIndex;
    default:
        return nullptr;
    }
}

} // namespace

Fields SplitFields(const QByteArray& utf8Text)
{
    Fields fields;
    QList<QByteArray> tokens;
    for (const QByteArray& part : utf8Text.split('|')) {
        if (!part.isEmpty())
            tokens.append(part);
    }
    // A leading separator means the job name is missing, not that the first
    // token is the job name.
    if (utf8Text.startsWith('|'))
        tokens.prepend(QByteArray());
    if (tokens.size() > 0)
        fields.jobName = tokens.at(0);
    fields.hasResult = tokens.size() > 2;
    if (tokens.size() > 3) {
        fields.hasAudit = true;
        fields.auditCode = atoi(tokens.at(3).constData());
    }
    return fields;
}

int FindPrintResult(int type, int* textId)
{
    for (int i = 0; i < kPrintResultIndexSize; ++i) {
        if (kPrintResultIndex[i].type == type) {
            *textId = kPrintResultIndex[i].textId;
            return kPrintResultIndex[i].type;
        }
    }
    *textId = 0;
    return kUnknownTypeRowCode;
}

bool UsesAuditCode(int type)
{
    return AuditTable(type) != nullptr;
}

int AuditTextId(int type, int auditCode)
{
    const int* table = AuditTable(type);
    if (!table || auditCode < 0 || auditCode > 2)
        return 0;
    return table[auditCode];
}

bool IsApprovalRequest(const QString& headline)
{
    const QString waiting = LanguageManager().GetString(8100);
    return !waiting.isEmpty() && headline.contains(waiting);
}

QString StatusText(int rowCode, int textId, const LanguageManager& texts)
{
    if (rowCode >= 513 && rowCode <= 639)
        return QString::fromUtf8("打印失败");
    if (rowCode >= 706 && rowCode <= 767)
        return texts.GetString(7703);
    if (rowCode >= 2560)
        return texts.GetString(7104);
    return texts.GetString(textId);
}

size_t FormatHeadline(char* dst, size_t dstSize, const QByteArray& jobName, const QString& status)
{
    QByteArray name = jobName;
    if (static_cast<size_t>(name.size()) >= kJobNameCut) {
        name.truncate(static_cast<int>(Utf8BoundaryLength(name.constData(), kJobNameCut)));
        name.append("**");
    }
    return FormatText(dst, dstSize, "<%s>%s", name.constData(), status.toUtf8().constData());
}

int Decode(const unsigned char* data, int size, const LanguageManager& texts, TavServerMessage* out)
{
    if (!data || size < kTypeOffset + 4)
        return RpcResult::kNone;
    const int type = qFromLittleEndian<qint32>(data + kTypeOffset);

    // The field text as far as it arrived, up to its terminator.
    QByteArray gbk;
    if (size > kFieldTextOffset) {
        int limit = size - kFieldTextOffset;
        if (limit > kFieldTextSize)
            limit = kFieldTextSize;
        gbk = BoundedText(reinterpret_cast<const char*>(data) + kFieldTextOffset,
                          static_cast<size_t>(limit));
    }
    const QByteArray utf8 = GBK2UTF8(gbk.constData()).toUtf8();
    if (utf8.isEmpty())
        return RpcResult::kNone;

    const Fields fields = SplitFields(utf8);
    if (!fields.hasResult)
        return RpcResult::kNone;

    int textId = 0;
    const int rowCode = FindPrintResult(type, &textId);
    QString status = StatusText(rowCode, textId, texts);
    // An approval notice without its audit code keeps the status of its type.
    if (UsesAuditCode(type) && fields.hasAudit)
        status = texts.GetString(AuditTextId(type, fields.auditCode));

    memset(out, 0, sizeof *out);
    out->Type = type;
    FormatHeadline(out->Headline, sizeof out->Headline, fields.jobName, status);
    CopyUtf8Text(out->Detail, sizeof out->Detail, utf8.constData());
    return RpcResult::kOk;
}

} // namespace ServerNotice
