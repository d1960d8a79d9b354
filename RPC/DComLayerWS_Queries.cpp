#include "DComLayerWS.h"

#include "FieldQuery.h"
#include "KeptConnections.h"
#include "SoapCall.h"
#include "SqlText.h"
#include "TavCommon.h"
#include "TavQuotaRequest.h"
#include "TavUserRecord.h"
#include "TextUtil.h"

#include <QtEndian>
#include <cjson/cJSON.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

// Server queries: user, group, settings, printers, payers, quota.
//
// Texts inserted into a query have their single quotes doubled, so a name
// like O'Brien stays one SQL literal. A query text that would not fit into
// its 1024-byte buffer is never sent (a cut query would be another query);
// the operation then fails as if the exchange had failed.

namespace
{

// kQueryFailed: the field queries when the exchange failed, the answer was
// empty or no runtime context could be made. kExchangeFailed: thrown by
// GetPrinterList, GetUserInfo, GetUserInfoEx and GetWebsiteIP when there is
// no context or the exchange fails.
using RpcResult::kExchangeFailed;
using RpcResult::kNoContext;
using RpcResult::kOk;
using RpcResult::kOutOfMemory;
using RpcResult::kQueryFailed;
// Setting values are asked for with 512 bytes but land in 256-byte buffers.
constexpr size_t kSettingValueBuffer = 256;
constexpr size_t kTextBuffer = 256;

// A 64-bit answer held inside the int range: a positive value (a refusal)
// must stay positive, never wrap round to 0 or below.
int clampToInt(LONG64 value)
{
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

// One field query in its own context: false when there was no context, the
// text did not fit, the exchange failed or the answer was too short to hold
// the row count and error code.
bool FieldQuery(CDComLayerWS& client, const char* sql, const char* fieldName, long fieldType,
                long fieldSize, FieldResult* result)
{
    SoapCall call(client.NewCallContext());
    return call.ok() && RunFieldQuery(call, sql, fieldName, fieldType, fieldSize, result);
}

// An integer column of the user's row in Users: the first value goes into
// *out when the answer holds one with error code 0. Returns the answer's
// error code, or kQueryFailed when the query failed.
int UserIntQuery(CDComLayerWS& client, const char* format, const char* userName,
                 const char* fieldName, int* out)
{
    char sql[kSqlBufferSize];
    if (!FormatSql(sql, sizeof sql, format, SqlQuoted(userName).constData()))
        return kQueryFailed;
    FieldResult answer;
    if (!FieldQuery(client, sql, fieldName, kFieldInt, 4, &answer))
        return kQueryFailed;
    int32_t value = 0;
    if (answer.errorCode() == 0 && answer.firstInt(&value))
        *out = value;
    return answer.errorCode();
}

} // namespace

int CDComLayerWS::GetGroupIDFromUsersByUserName(char* userName, void* groupId)
{
    return UserIntQuery(*this, "SELECT GroupID FROM Users WHERE UserName = '%s'", userName,
                        "GroupID", static_cast<int*>(groupId));
}

int CDComLayerWS::GetPrintWayFromUsersByUserName(char* userName, int* printWay)
{
    return UserIntQuery(*this, "SELECT PrintWay FROM Users WHERE UserName = '%s'", userName,
                        "PrintWay", printWay);
}

int CDComLayerWS::GetGroupNameFromGroupByGroupID(int groupId, void* groupName)
{
    char sql[kSqlBufferSize];
    if (!FormatSql(sql, sizeof sql, "SELECT GroupName FROM Groups WHERE GroupID = %d", groupId))
        return kQueryFailed;
    FieldResult answer;
    if (!FieldQuery(*this, sql, "GroupName", kFieldText, 255, &answer))
        return kQueryFailed;
    if (answer.errorCode() == 0 && answer.size() > FieldResult::kHeaderSize)
        CopyGbkAsUtf8Text(static_cast<char*>(groupName), kTextBuffer,
                          answer.firstText().constData());
    return answer.errorCode();
}

int CDComLayerWS::GetSettingValueBySettingName(char* settingName, char* value, char* defaultValue)
{
    if (defaultValue)
        CopyText(value, kSettingValueBuffer, defaultValue);
    char sql[kSqlBufferSize];
    if (!FormatSql(sql, sizeof sql, "SELECT SettingValue FROM SysSettings WHERE SettingName = '%s'",
                   SqlQuoted(settingName).constData()))
        return kQueryFailed;
    FieldResult answer;
    if (!FieldQuery(*this, sql, "SettingValue", kFieldText, 512, &answer))
        return kQueryFailed;
    if (answer.errorCode() == 0 && answer.size() > FieldResult::kHeaderSize)
        CopyGbkText(value, kSettingValueBuffer, answer.firstText().constData());
    return answer.errorCode();
}

int CDComLayerWS::GetWebsiteIP(char* websiteAddress, char* serverAddress)
{
    char sql[kSqlBufferSize];
    if (!FormatSql(sql, sizeof sql,
                   "SELECT WebsiteIP FROM Servers WHERE ServerIP='%s' AND IsMonitored='Y' AND  "
                   "IsDeleted='N'",
                   SqlQuoted(serverAddress).constData()))
        throw RpcFailure(kExchangeFailed);

    FieldResult answer;
    if (!FieldQuery(*this, sql, "WebsiteIP", kFieldText, 50, &answer))
        throw RpcFailure(kExchangeFailed);
    QByteArray website;
    if (answer.errorCode() == 0 && answer.rowCount() > 0)
        website = answer.firstText();
    CopyText(websiteAddress, kTextBuffer, website.isEmpty() ? serverAddress : website.constData());
    return kOk;
}

int CDComLayerWS::GetUserInfo(char* userName, void* session)
{
    SoapCall call(NewCallContext());
    if (!call.ok())
        throw RpcFailure(kExchangeFailed);
    ns__GetUserInfoResponse answer{};
    if (call.proxy().GetUserInfo(call.endpoint(), nullptr, userName, answer) != SOAP_OK)
        throw RpcFailure(kExchangeFailed);
    // A user number and a GB18030 name; shorter than the number is empty.
    const unsigned char* bytes = answer.image.__ptr;
    const int size = answer.image.__size;
    if (!bytes || size < 4)
        return kQueryFailed;
    auto* record = static_cast<TavUserRecord*>(session);
    const QByteArray gbk =
        BoundedText(reinterpret_cast<const char*>(bytes) + 4, static_cast<size_t>(size - 4));
    record->UserId = qFromLittleEndian<qint32>(bytes);
    CopyGbkAsUtf8Text(record->FullName, sizeof record->FullName, gbk.constData());
    return kOk;
}

int CDComLayerWS::GetUserInfoEx(char* userName, void* session)
{
    SoapCall call(NewCallContext());
    if (!call.ok())
        throw RpcFailure(kExchangeFailed);
    ns__GetUserInfoExResponse answer{};
    if (call.proxy().GetUserInfoEx(call.endpoint(), nullptr, userName, answer) != SOAP_OK)
        throw RpcFailure(kExchangeFailed);
    if (!answer.image.__ptr || answer.image.__size <= 0)
        return kQueryFailed;
    // Only what arrived; the rest of the block keeps what it held.
    auto* record = static_cast<TavUserRecord*>(session);
    const size_t n = answer.image.__size < TavUserRecord::kUserInfoExSize
                         ? static_cast<size_t>(answer.image.__size)
                         : static_cast<size_t>(TavUserRecord::kUserInfoExSize);
    memcpy(record->UserInfoEx, answer.image.__ptr, n);
    return kOk;
}

int CDComLayerWS::GetPrinterList(char* userName, void** printerList)
{
    SoapCall call(NewCallContext());
    if (!call.ok())
        throw RpcFailure(kExchangeFailed);
    ns__GetPrinterListResponse answer{};
    if (call.proxy().GetPrinterList(call.endpoint(), nullptr, userName, answer) != SOAP_OK)
        throw RpcFailure(kExchangeFailed);
    if (!answer.data.__ptr || answer.data.__size <= 0)
        return kQueryFailed;
    // size / 2 units hold all bytes of an even size; an odd last byte lands
    // in the first of the block's two trailing zero bytes, the second one
    // still terminates the text.
    const unsigned int size = static_cast<unsigned int>(answer.data.__size);
    char* block = SysAllocStringLen(nullptr, size / 2);
    if (!block)
        return kOutOfMemory;
    memcpy(block, answer.data.__ptr, size);
    *printerList = block;
    return kOk;
}

int CDComLayerWS::GetSecretLevel(char* userName)
{
    SoapCall call(NewCallContext());
    if (!call.ok())
        return 0;
    LONG64 level = 0;
    if (call.proxy().GetSecretLevel(call.endpoint(), nullptr, userName, &level) != SOAP_OK)
        return 0;
    return clampToInt(level);
}

int CDComLayerWS::GetSpecialAudit(char* userName, int* specialAudit)
{
    *specialAudit = 0;
    SoapCall call(NewCallContext());
    if (!call.ok())
        return kQueryFailed;
    ns__structGetSpecialAuditOfUser answer{};
    if (call.proxy().GetSpecialAuditOfUser(call.endpoint(), nullptr, userName, answer) != SOAP_OK ||
        !answer.return_)
        return kQueryFailed;
    *specialAudit = clampToInt(answer.return_->pSpecialAudit);
    return clampToInt(answer.return_->pRet);
}

int CDComLayerWS::GetPayerInfo(char* item, char*& payerParam)
{
    SoapCall call(NewCallContext());
    if (!call.ok())
        return kNoContext;
    char* answer = nullptr;
    const int status = call.proxy().GetPayerInfo(call.endpoint(), nullptr, item, &answer);
    if (status != SOAP_OK)
        return status;
    if (answer) {
        char* copy = strdup(answer);
        if (!copy)
            return kOutOfMemory;
        payerParam = copy;
    }
    return kOk;
}

int CDComLayerWS::ExecSQL(char* sql)
{
    SoapCall call(NewCallContext());
    if (!call.ok())
        return 0;
    KeptConnections::MarkChangesServer(call.soap()); // a write: never sent twice
    int result = 0;
    if (call.proxy().ExcuteSQL(call.endpoint(), nullptr, sql, &result) != SOAP_OK)
        return 0;
    return result;
}

int CDComLayerWS::UpdateProjectIDOfPrintProcTask(void* quotaRequest, char* storedName)
{
    const auto* request = static_cast<const TavQuotaRequest*>(quotaRequest);
    // Only a project payer names a project; the others clear it.
    const int projectId = request->PayerType == kPayerProject ? request->PayerID : 0;
    char sql[kSqlBufferSize];
    if (!FormatSql(sql, sizeof sql,
                   "UPDATE PrintProcTask SET PayerID=%d,PayerType=%d,ProjectID = %d WHERE "
                   "SPLFileName='%s'",
                   request->PayerID, request->PayerType, projectId,
                   SqlQuoted(storedName).constData()))
        return 0;
    return ExecSQL(sql);
}

int CDComLayerWS::QuotaVerification(char* quotaRequest)
{
    const auto* request = reinterpret_cast<const TavQuotaRequest*>(quotaRequest);

    cJSON* json = cJSON_CreateObject();
    if (!json)
        return 0;
    cJSON_AddNumberToObject(json, "PayerType", request->PayerType);
    cJSON_AddNumberToObject(json, "PayerID", request->PayerID);
    cJSON_AddNumberToObject(json, "TotalPages", request->TotalPages);
    cJSON_AddNumberToObject(json, "PaperWidth", request->PaperWidth);
    cJSON_AddNumberToObject(json, "PaperHeight", request->PaperHeight);
    cJSON_AddNumberToObject(json, "TaskID", request->TaskID);
    cJSON_AddStringToObject(
        json, "PrinterName",
        BoundedText(request->PrinterName, sizeof request->PrinterName).constData());
    cJSON_AddStringToObject(json, "Color",
                            BoundedText(request->Color, sizeof request->Color).constData());
    cJSON_AddStringToObject(json, "Duplex",
                            BoundedText(request->Duplex, sizeof request->Duplex).constData());
    cJSON_AddStringToObject(json, "PaperSize",
                            BoundedText(request->PaperSize, sizeof request->PaperSize).constData());
    char* text = cJSON_PrintUnformatted(json);
    cJSON_Delete(json);
    if (!text)
        return 0;

    LONG64 result = 0;
    {
        SoapCall call(NewCallContext());
        if (call.ok() &&
            call.proxy().QuotaVerification(call.endpoint(), nullptr, text, &result) != SOAP_OK)
            result = 0;
    }
    cJSON_free(text);
    return clampToInt(result);
}
