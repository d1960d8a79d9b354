#pragma once

#include "DComLayerWS.h"

#include <QByteArray>
#include <QString>
#include <cstddef>

class LanguageManager;

// Decoding of the notices that GetUserMessage returns: the reply layout, the
// field text, the tables that turn a notice type and an audit code into a
// text identifier, and the one-line headline of the pop-up.
namespace ServerNotice
{

// Reply layout: int32 notice type at 0, then three 1024-byte texts; only the
// second one (the field text, GB18030) is read.
constexpr int kTypeOffset = 0;
constexpr int kFieldTextOffset = 1028;
constexpr int kFieldTextSize = 1024;
constexpr int kReplySize = 3076;

// Row code of a notice type that is not in the type table.
constexpr int kUnknownTypeRowCode = 2595;
// A job name of this many bytes or more is cut to that many and gets "**".
constexpr size_t kJobNameCut = 98;

// The fields of the field text: job name "|" printer name "|" result code
// "|" audit code. A run of "|" counts as one separator; a text that begins
// with "|" has an empty job name. The printer name and the result code are
// not shown; only whether the result code is present counts.
struct Fields {
    QByteArray jobName;
    bool hasResult = false;
    bool hasAudit = false;
    int auditCode = 0;
};
Fields SplitFields(const QByteArray& utf8Text);

// Looks the type up in the type table: returns its row code (the type
// itself, or kUnknownTypeRowCode) and stores the text id (0 when unknown).
int FindPrintResult(int type, int* textId);

// True for the notice types whose audit code selects the text: 2, 12, 642,
// 768, 769 and 2050.
bool UsesAuditCode(int type);
// Text id of an audit code for one of those types; 0 for a code other than
// 0, 1 or 2, or a type without an audit table.
int AuditTextId(int type, int auditCode);

// Status text of a row code and its text id.
QString StatusText(int rowCode, int textId, const LanguageManager& texts);

// "<job name>status" into dst (at most dstSize - 1 bytes, cut at a UTF-8
// character boundary). The job name is cut as described above.
size_t FormatHeadline(char* dst, size_t dstSize, const QByteArray& jobName, const QString& status);

// The headline asks the user for an approval: it holds the configured text
// of "waiting for approval" (text 8100).
bool IsApprovalRequest(const QString& headline);

// Decodes one reply. RpcResult::kOk with out filled; kNone when the reply
// holds no notice (no bytes, no type, an empty field text or no result
// code). A reply shorter than its layout is read as far as it goes.
int Decode(const unsigned char* data, int size, const LanguageManager& texts,
           TavServerMessage* out);

} // namespace ServerNotice
