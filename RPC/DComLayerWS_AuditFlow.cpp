#include "DComLayerWS.h"

#include "FieldQuery.h"
#include "SoapCall.h"
#include "SqlText.h"
#include "TavAuditFlow.h"
#include "TavCommon.h"
#include "TavUserRecord.h"
#include "TextUtil.h"

#include <QVector>

#include <cstdlib>
#include <cstring>
#include <new>

// Audit flow queries. Each operation makes all of its queries in one
// runtime context. Results: kOk, a positive error code of the server's
// query passed through, kOutOfMemory, or kAuditQueryFailed when a query
// failed or returned nothing.

namespace
{

using RpcResult::kAuditQueryFailed;
using RpcResult::kOk;
using RpcResult::kOutOfMemory;
// Most approval levels of one secret level that are loaded. The dialogs
// offer three; the number comes from the server, and one answer must not
// make the logon allocate and query level after level without end.
constexpr int kMaxApprovalLevels = 16;

// The outcome of one query of an audit operation: 0 with the answer in
// *result, or the operation's result code.
int AuditQuery(SoapCall& call, const char* sql, const char* fieldName, long fieldType,
               long fieldSize, FieldResult* result)
{
    if (!RunFieldQuery(call, sql, fieldName, fieldType, fieldSize, result))
        return kAuditQueryFailed;
    const int32_t error = result->errorCode();
    if (error > 0)
        return error;
    if (error < 0)
        return kAuditQueryFailed;
    return kOk;
}

// An integer query about one flow item: 0 with its first value in *value
// (left as it was when the server found no row), or a result code.
int ItemIntQuery(SoapCall& call, const char* format, int id, const char* fieldName, int32_t* value)
{
    char sql[kSqlBufferSize];
    FormatSql(sql, sizeof sql, format, id);
    FieldResult answer;
    const int rc = AuditQuery(call, sql, fieldName, kFieldInt, 4, &answer);
    if (rc == kOk)
        answer.firstInt(value);
    return rc;
}

int ItemTextQuery(SoapCall& call, const char* format, int id, const char* fieldName,
                  QByteArray* text)
{
    char sql[kSqlBufferSize];
    FormatSql(sql, sizeof sql, format, id);
    FieldResult answer;
    const int rc = AuditQuery(call, sql, fieldName, kFieldText, 50, &answer);
    if (rc == kOk)
        *text = answer.firstText();
    return rc;
}

// An integer query of the flow lookup: the exchange failed, the server
// found no row (or reported an error), or *value holds the first value.
enum class Lookup { Failed, NoRow, Value };

Lookup IntLookup(SoapCall& call, const char* format, int id, const char* fieldName, int32_t* value)
{
    char sql[kSqlBufferSize];
    FormatSql(sql, sizeof sql, format, id);
    FieldResult answer;
    if (!RunFieldQuery(call, sql, fieldName, kFieldInt, 4, &answer))
        return Lookup::Failed;
    if (answer.errorCode() != 0 || answer.rowCount() < 1 || !answer.firstInt(value))
        return Lookup::NoRow;
    return Lookup::Value;
}

void FreeItems(TavAuditFlowItemList* list)
{
    free(list->Items);
    list->Items = nullptr;
}

} // namespace

int CDComLayerWS::GetAuditFlowID(void* userRecord, int* flowId)
{
    const auto* user = static_cast<const TavUserRecord*>(userRecord);
    *flowId = 0;
    try {
        SoapCall call(NewCallContext());
        if (!call.ok())
            return kAuditQueryFailed;

        int32_t own = 0;
        const Lookup ownFlow = IntLookup(call, "SELECT AuditFlowID FROM Users WHERE UserID=%d",
                                         user->UserId, "AuditFlowID", &own);
        if (ownFlow == Lookup::Failed)
            return kAuditQueryFailed;
        if (ownFlow == Lookup::NoRow) {
            *flowId = -1;
            return kAuditQueryFailed;
        }
        *flowId = own;
        if (own > 0)
            return kOk;

        // No flow of his own: the flow of his group, if it has one.
        int32_t group = 0;
        const Lookup groupRow = IntLookup(call, "SELECT GroupID FROM Users WHERE UserID=%d",
                                          user->UserId, "GroupID", &group);
        if (groupRow == Lookup::Failed)
            return kAuditQueryFailed;
        if (groupRow == Lookup::NoRow || group == 0)
            return kOk;

        int32_t groupFlow = 0;
        const Lookup groupFlowRow =
            IntLookup(call, "SELECT AuditFlowID FROM Groups WHERE GroupID=%d", group, "AuditFlowID",
                      &groupFlow);
        if (groupFlowRow == Lookup::Failed)
            return kAuditQueryFailed;
        if (groupFlowRow == Lookup::Value && groupFlow != 0)
            *flowId = groupFlow;
        return kOk;
    } catch (const RpcFailure&) {
        return kAuditQueryFailed;
    }
}

int CDComLayerWS::GetAuditFlowItems(long flowId, void* itemList)
{
    auto* list = static_cast<TavAuditFlowItemList*>(itemList);
    list->Count = 0;
    list->Items = nullptr;
    try {
        SoapCall call(NewCallContext());
        if (!call.ok())
            return kAuditQueryFailed;

        const int flow = static_cast<int>(flowId);
        char sql[kSqlBufferSize];
        FormatSql(sql, sizeof sql, "SELECT FlowItemID FROM AuditFlowItems WHERE FlowID=%d", flow);
        FieldResult answer;
        if (!RunFieldQuery(call, sql, "FlowItemID", kFieldInt, 4, &answer))
            return kAuditQueryFailed;
        if (answer.errorCode() != 0)
            return answer.errorCode();
        // The row count must match the bytes that arrived before anything
        // is allocated from it.
        QVector<int32_t> ids;
        if (!answer.intRows(&ids))
            return kAuditQueryFailed;
        if (ids.isEmpty())
            return kOk;

        const int n = ids.size();
        list->Items = static_cast<TavAuditFlowItem*>(calloc(n, sizeof(TavAuditFlowItem)));
        if (!list->Items)
            return kOutOfMemory;
        list->Count = n;
        for (int i = 0; i < n; ++i) {
            list->Items[i].FlowItemID = ids.at(i);
            list->Items[i].FlowID = flow;
        }

        // Field by field over all items.
        int rc = kOk;
        for (int i = 0; rc == kOk && i < n; ++i)
            rc = ItemIntQuery(call, "SELECT AuditLevel FROM AuditFlowItems WHERE FlowItemID=%d",
                              list->Items[i].FlowItemID, "AuditLevel", &list->Items[i].AuditLevel);
        for (int i = 0; rc == kOk && i < n; ++i)
            rc = ItemIntQuery(call, "SELECT DocLevelID FROM AuditFlowItems WHERE FlowItemID=%d",
                              list->Items[i].FlowItemID, "DocLevelID", &list->Items[i].DocLevelID);
        for (int i = 0; rc == kOk && i < n; ++i)
            rc =
                ItemIntQuery(call, "SELECT SecretLevel FROM SysSettingsAudit WHERE LevelID=%d",
                             list->Items[i].DocLevelID, "SecretLevel", &list->Items[i].SecretLevel);
        for (int i = 0; rc == kOk && i < n; ++i) {
            QByteArray name;
            rc =
                ItemTextQuery(call, "SELECT SecretLevelName FROM SysSettingsAudit WHERE LevelID=%d",
                              list->Items[i].DocLevelID, "SecretLevelName", &name);
            CopyGbkAsUtf8Text(list->Items[i].SecretLevelName, sizeof list->Items[i].SecretLevelName,
                              name.constData());
        }
        for (int i = 0; rc == kOk && i < n; ++i) {
            QByteArray note;
            rc =
                ItemTextQuery(call, "SELECT SecretLevelNote FROM SysSettingsAudit WHERE LevelID=%d",
                              list->Items[i].DocLevelID, "SecretLevelNote", &note);
            CopyGbkText(list->Items[i].SecretLevelNote, sizeof list->Items[i].SecretLevelNote,
                        note.constData());
        }
        if (rc != kOk) {
            FreeItems(list);
            list->Count = 0;
        }
        return rc;
    } catch (const RpcFailure&) {
        FreeItems(list);
        list->Count = 0;
        return kAuditQueryFailed;
    }
}

int CDComLayerWS::GetAuditorsInAuditFlow(void* userRecord, int levelIndex, void* secret,
                                         void* auditorArray)
{
    const auto* user = static_cast<const TavUserRecord*>(userRecord);
    const auto* level = static_cast<const TavSecret*>(secret);
    auto* auditors = static_cast<TavAuditorArray*>(auditorArray);
    auditors->Count = 0;
    auditors->Entries = nullptr;
    TavAuditor* entries = nullptr;
    try {
        SoapCall call(NewCallContext());
        if (!call.ok())
            return kAuditQueryFailed;

        char sql[kSqlBufferSize];
        FormatSql(sql, sizeof sql,
                  "SELECT AuditorID FROM AuditFlowAuditors WHERE AuditLevelIndex=%d AND "
                  "FlowItemID=%d",
                  levelIndex, level->FlowItemID);
        FieldResult answer;
        int rc = AuditQuery(call, sql, "AuditorID", kFieldInt, 4, &answer);
        if (rc != kOk)
            return rc;
        QVector<int32_t> ids;
        if (!answer.intRows(&ids))
            return kAuditQueryFailed;
        if (ids.isEmpty())
            return kOk;

        entries = static_cast<TavAuditor*>(calloc(ids.size(), sizeof(TavAuditor)));
        if (!entries)
            return kOutOfMemory;
        // A user is never offered as his own auditor.
        int kept = 0;
        for (int32_t id : ids) {
            if (id != user->UserId)
                entries[kept++].AuditorID = id;
        }

        for (int i = 0; i < kept; ++i) {
            FormatSql(sql, sizeof sql,
                      "SELECT UserFullName FROM Users WHERE UserID=%d AND IsDeleted='N' AND "
                      "UserStatus<>0",
                      entries[i].AuditorID);
            FieldResult name;
            if (!RunFieldQuery(call, sql, "UserFullName", kFieldText, 255, &name)) {
                rc = kAuditQueryFailed;
                break;
            }
            if (name.errorCode() > 0) {
                rc = name.errorCode();
                break;
            }
            // The row count is not consulted: a deleted or inactive auditor
            // stays with whatever text the slot holds (none: an empty name).
            CopyGbkAsUtf8Text(entries[i].AuditorName, sizeof entries[i].AuditorName,
                              name.firstText().constData());
        }
        if (rc != kOk) {
            free(entries);
            return rc;
        }
        auditors->Count = kept;
        auditors->Entries = entries;
        return kOk;
    } catch (const RpcFailure&) {
        free(entries);
        auditors->Count = 0;
        auditors->Entries = nullptr;
        return kAuditQueryFailed;
    }
}

int CDComLayerWS::GetAuditFlow(void* auditFlow, void* userRecord)
{
    auto* flow = static_cast<TavAuditFlow*>(auditFlow);
    const auto* user = static_cast<const TavUserRecord*>(userRecord);
    flow->Release();

    int rc = GetAuditFlowID(userRecord, &flow->FlowID);
    if (rc != kOk)
        return rc;

    TavAuditFlowItemList list{0, nullptr};
    rc = GetAuditFlowItems(flow->FlowID, &list);
    if (rc != kOk)
        return rc;
    if (list.Count == 0 || user->SecretLevel < 1) {
        FreeItems(&list);
        return kOk;
    }

    // The user's secret level is a count: he is offered that many levels of
    // the flow, in the server's order.
    int last = kOk;
    for (int i = 0; i < list.Count && i < user->SecretLevel; ++i) {
        const TavAuditFlowItem& item = list.Items[i];
        TavSecret secret;
        memset(&secret, 0, sizeof secret);
        secret.FlowItemID = item.FlowItemID;
        secret.FlowID = item.FlowID;
        secret.DocLevelID = item.DocLevelID;
        secret.AuditLevel = item.AuditLevel;
        secret.SecretLevel = item.SecretLevel;
        memcpy(secret.SecretLevelName, item.SecretLevelName, sizeof secret.SecretLevelName);
        memcpy(secret.SecretLevelNote, item.SecretLevelNote, sizeof secret.SecretLevelNote);
        if (secret.AuditLevel < 0)
            continue;
        if (secret.AuditLevel > kMaxApprovalLevels)
            secret.AuditLevel = kMaxApprovalLevels;

        if (secret.AuditLevel > 0) {
            secret.Auditors =
                static_cast<TavAuditorArray*>(calloc(secret.AuditLevel, sizeof(TavAuditorArray)));
            if (!secret.Auditors) {
                FreeItems(&list);
                return kOutOfMemory;
            }
            for (int levelIndex = 1; levelIndex <= secret.AuditLevel; ++levelIndex) {
                last = GetAuditorsInAuditFlow(userRecord, levelIndex, &secret,
                                              &secret.Auditors[levelIndex - 1]);
                if (last > 0) {
                    // Offered all the same, without auditor lists.
                    FreeSecretAuditors(secret);
                    break;
                }
            }
        }
        if (secret.AuditLevel > flow->MaxAuditLevels)
            flow->MaxAuditLevels = secret.AuditLevel;
        flow->Secrets.append(secret);
    }
    FreeItems(&list);
    return last;
}
