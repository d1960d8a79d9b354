#include "DevService.h"

#include "DevDatabase.h"
#include "TextUtil.h"

#include <algorithm>
#include <cjson/cJSON.h>
#include <sqlite3.h>

#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <strings.h>

// Queries, logon and notices. The upload operations are in
// DevServiceUploads.cpp.

namespace
{

void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

void logLine(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("orws-devserver: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
}

std::string textOf(const char* s)
{
    return s ? std::string(s) : std::string();
}

void putInt32(std::vector<unsigned char>& buffer, size_t offset, int32_t value)
{
    const uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        buffer[offset + i] = static_cast<unsigned char>(v >> (8 * i));
}

// Copies UTF-8 text as GB18030 into a zero-filled field of width bytes.
void putGbk(std::vector<unsigned char>& buffer, size_t offset, size_t width,
            const std::string& utf8)
{
    CopyGbkText(reinterpret_cast<char*>(buffer.data() + offset), width, Utf8ToGbk(utf8).c_str());
}

int32_t clampInt32(long long v)
{
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

} // namespace

DevService::DevService(DevDatabase& db, DevStorage& storage, soap_mode mode)
    : OrWSService(mode), m_db(db), m_storage(storage), m_table(std::make_shared<JobTable>()),
      m_ownsJobs(true), m_openJobs(m_table->jobs), m_useCounter(m_table->useCounter)
{
    soap->user = this;
    soap->fdimewriteopen = attachmentOpen;
    soap->fdimewrite = attachmentWrite;
    soap->fdimewriteclose = attachmentClose;
}

DevService::DevService(DevService& primary, struct soap* connection)
    : OrWSService(connection), m_db(primary.m_db), m_storage(primary.m_storage),
      m_table(primary.m_table), m_ownsJobs(false), m_openJobs(m_table->jobs),
      m_useCounter(m_table->useCounter)
{
    soap->user = this;
    soap->fdimewriteopen = attachmentOpen;
    soap->fdimewrite = attachmentWrite;
    soap->fdimewriteclose = attachmentClose;
}

void* DevService::attachmentOpen(struct soap* soap, const char*, const char*, const char*)
{
    auto* self = static_cast<DevService*>(soap->user);
    std::unique_ptr<std::vector<unsigned char>> buffer(new std::vector<unsigned char>);
    buffer->reserve(std::min(soap->dime.size, DevLimits::kMaxAttachment));
    self->m_attachments.push_back(std::move(buffer));
    return self->m_attachments.back().get();
}

int DevService::attachmentWrite(struct soap*, void* handle, const char* buf, size_t len)
{
    auto* buffer = static_cast<std::vector<unsigned char>*>(handle);
    if (len > DevLimits::kMaxAttachment - buffer->size())
        return SOAP_EOM;
    // As unsigned char, so that the piece is copied whole, not char by char.
    const auto* bytes = reinterpret_cast<const unsigned char*>(buf);
    buffer->insert(buffer->end(), bytes, bytes + len);
    return SOAP_OK;
}

void DevService::attachmentClose(struct soap*, void*) {}

ns__Data DevService::makeData(const std::vector<unsigned char>& bytes)
{
    ns__Data data;
    soap_default_ns__Data(soap, &data);
    if (bytes.empty())
        return data;
    data.__ptr = static_cast<unsigned char*>(soap_malloc(soap, bytes.size()));
    if (!data.__ptr)
        return data;
    memcpy(data.__ptr, bytes.data(), bytes.size());
    data.__size = static_cast<int>(bytes.size());
    return data;
}

int DevService::fault(const char* operation, const std::string& text)
{
    logLine("%s refused: %s", operation, text.c_str());
    return soap_senderfault(text.c_str(), nullptr);
}

int DevService::UserLogon(char* UserName, char* PassWord, LONG64 UserType, LONG64* LogResult)
{
    *LogResult = 2;
    DevStatement q(m_db.handle(),
                   "SELECT PassWord, IsDeleted, UserStatus FROM Users WHERE UserName = ?");
    q.bind(1, textOf(UserName));
    if (q.next() && q.text(1) != "Y") {
        // A domain-agent logon (type 2) sends the password itself, every
        // other logon its MD5 digest.
        const std::string sent = UserType == 2 ? Md5Hex(textOf(PassWord)) : textOf(PassWord);
        const std::string stored = q.text(0);
        if (!stored.empty() && strcasecmp(sent.c_str(), stored.c_str()) == 0) {
            switch (q.integer(2)) {
            case 1:
                *LogResult = 0;
                break;
            case 2:
                *LogResult = 16;
                break;
            case 3:
                *LogResult = 19;
                break;
            default:
                *LogResult = 9;
            }
        }
    }
    logLine("UserLogon %s type %lld -> %lld", textOf(UserName).c_str(),
            static_cast<long long>(UserType), static_cast<long long>(*LogResult));
    return SOAP_OK;
}

int DevService::GetUserInfo(char* UserName, ns__GetUserInfoResponse& result)
{
    soap_default_ns__Data(soap, &result.image);
    DevStatement q(m_db.handle(), "SELECT UserID, UserFullName FROM Users "
                                  "WHERE UserName = ? AND IsDeleted = 'N'");
    q.bind(1, textOf(UserName));
    if (q.next()) {
        const std::string name = Utf8ToGbk(q.text(1));
        std::vector<unsigned char> buffer(4 + name.size() + 1, 0);
        putInt32(buffer, 0, clampInt32(q.integer(0)));
        memcpy(buffer.data() + 4, name.data(), name.size());
        result.image = makeData(buffer);
    }
    return SOAP_OK;
}

int DevService::GetUserInfoEx(char* UserName, ns__GetUserInfoExResponse& result)
{
    // int32 count, then up to 11 entries of 364 bytes: the level's name
    // (50 bytes) and its note at byte 50 (50 bytes), GB18030.
    constexpr size_t kBlock = 4012, kEntry = 364, kText = 50;
    constexpr int kMaxEntries = static_cast<int>((kBlock - 4) / kEntry);
    soap_default_ns__Data(soap, &result.image);
    // The user's own table when he has one, else the secret levels of his
    // audit flow (his own, else his group's) in the flow's row order, so
    // entry i matches the flow's item i; without a flow every level.
    DevStatement user(m_db.handle(), "SELECT u.UserID, CASE WHEN u.AuditFlowID > 0 "
                                     "THEN u.AuditFlowID ELSE ifnull(g.AuditFlowID, 0) END "
                                     "FROM Users u LEFT JOIN Groups g ON g.GroupID = u.GroupID "
                                     "WHERE u.UserName = ? AND u.IsDeleted = 'N'");
    user.bind(1, textOf(UserName));
    if (!user.next())
        return SOAP_OK;
    const long long userId = user.integer(0);
    const long long flowId = user.integer(1);

    DevStatement own(m_db.handle(), "SELECT SecretLevelName, SecretLevelNote FROM "
                                    "UserSecretLevels WHERE UserID = ? ORDER BY Position");
    own.bind(1, userId);
    DevStatement flow(m_db.handle(), "SELECT s.SecretLevelName, s.SecretLevelNote FROM "
                                     "AuditFlowItems f JOIN SysSettingsAudit s "
                                     "ON s.LevelID = f.DocLevelID WHERE f.FlowID = ? "
                                     "ORDER BY f.FlowItemID");
    flow.bind(1, flowId);
    DevStatement all(m_db.handle(), "SELECT SecretLevelName, SecretLevelNote FROM "
                                    "SysSettingsAudit ORDER BY SecretLevel, LevelID");
    DevStatement* source = &own;
    bool row = own.next();
    if (!row && flowId > 0) {
        source = &flow;
        row = flow.next();
    }
    if (!row) {
        source = &all;
        row = all.next();
    }
    std::vector<unsigned char> buffer(kBlock, 0);
    int count = 0;
    for (; row && count < kMaxEntries; row = source->next(), ++count) {
        const size_t at = 4 + static_cast<size_t>(count) * kEntry;
        putGbk(buffer, at, kText, source->text(0));
        putGbk(buffer, at + kText, kText, source->text(1));
    }
    putInt32(buffer, 0, count);
    result.image = makeData(buffer);
    return SOAP_OK;
}

int DevService::GetPrinterList(char* UserName, ns__GetPrinterListResponse& result)
{
    // NUL-terminated GB18030 texts: the total number of printers, then the
    // names this user may use, then an empty text. A user without printers
    // (or unknown) gets an empty buffer.
    soap_default_ns__Data(soap, &result.data);
    DevStatement names(m_db.handle(), "SELECT p.PrinterName FROM UserPrinters up "
                                      "JOIN Printers p ON p.PrinterID = up.PrinterID "
                                      "JOIN Users u ON u.UserID = up.UserID "
                                      "WHERE u.UserName = ? AND u.IsDeleted = 'N' "
                                      "ORDER BY up.Position, p.PrinterID");
    names.bind(1, textOf(UserName));
    std::string list;
    int found = 0;
    while (names.next()) {
        list += Utf8ToGbk(names.text(0));
        list += '\0';
        ++found;
    }
    if (found == 0)
        return SOAP_OK;
    DevStatement total(m_db.handle(), "SELECT count(*) FROM Printers");
    const long long printers = total.next() ? total.integer(0) : found;
    std::string text = std::to_string(printers);
    text += '\0';
    text += list;
    text += '\0';
    result.data = makeData(std::vector<unsigned char>(text.begin(), text.end()));
    return SOAP_OK;
}

int DevService::GetSecretLevel(char* UserName, LONG64* SercretLevel)
{
    DevStatement q(m_db.handle(),
                   "SELECT SecretLevel FROM Users WHERE UserName = ? AND IsDeleted = 'N'");
    q.bind(1, textOf(UserName));
    *SercretLevel = q.next() ? q.integer(0) : 0;
    return SOAP_OK;
}

int DevService::GetSpecialAuditOfUser(char* lpUserName, ns__structGetSpecialAuditOfUser& result)
{
    result.return_ = soap_new_ns__classSpecialAuditOfUser(soap);
    if (!result.return_)
        return soap->error = SOAP_EOM;
    DevStatement q(m_db.handle(),
                   "SELECT SpecialAudit FROM Users WHERE UserName = ? AND IsDeleted = 'N'");
    q.bind(1, textOf(lpUserName));
    if (q.next()) {
        result.return_->pSpecialAudit = q.integer(0);
        result.return_->pRet = 0;
    } else {
        result.return_->pSpecialAudit = 0;
        result.return_->pRet = 1; // no such user
    }
    return SOAP_OK;
}

int DevService::GetUserMessage(char* UserName, ns__GetUserMessageResponse& result)
{
    // int32 type, 1024 bytes unused, 1024 bytes GBK field text, 1024 unused.
    soap_default_ns__Data(soap, &result.data);
    DevStatement q(m_db.handle(), "SELECT NoticeID, Type, FieldText FROM Notices "
                                  "WHERE UserName = ? AND Delivered = 0 "
                                  "ORDER BY NoticeID LIMIT 1");
    q.bind(1, textOf(UserName));
    if (!q.next())
        return SOAP_OK;
    const long long id = q.integer(0);
    DevStatement mark(m_db.handle(),
                      "UPDATE Notices SET Delivered = 1 WHERE NoticeID = ? AND Delivered = 0");
    mark.bind(1, id);
    if (!mark.run() || sqlite3_changes(m_db.handle()) != 1)
        return SOAP_OK; // somebody else took it: nothing to deliver now
    std::vector<unsigned char> buffer(4 + 3 * 1024, 0);
    putInt32(buffer, 0, clampInt32(q.integer(1)));
    putGbk(buffer, 1028, 1024, q.text(2));
    result.data = makeData(buffer);
    logLine("GetUserMessage %s -> notice %lld type %lld", textOf(UserName).c_str(), id,
            q.integer(1));
    return SOAP_OK;
}

int DevService::ExcuteSQL(char* strSQL, int* Result)
{
    // Every statement of the text runs; Result is the number of rows they
    // changed, or kExcuteSqlError (with nothing kept) when one fails.
    sqlite3* db = m_db.handle();
    *Result = kExcuteSqlError;
    if (!strSQL || !m_db.exec("SAVEPOINT excute_sql"))
        return SOAP_OK;
    const int before = sqlite3_total_changes(db);
    const char* sql = strSQL;
    bool ok = true;
    {
        const ClientSqlScope client(db); // the server's own statements after the block
        while (ok && sql && *sql) {
            sqlite3_stmt* stmt = nullptr;
            const char* tail = nullptr;
            if (sqlite3_prepare_v2(db, sql, -1, &stmt, &tail) != SQLITE_OK) {
                ok = false;
            } else if (stmt) {
                int rc;
                while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
                }
                ok = rc == SQLITE_DONE;
            }
            if (!ok)
                logLine("ExcuteSQL error: %s", sqlite3_errmsg(db));
            sqlite3_finalize(stmt);
            sql = tail;
        }
    }
    if (ok) {
        *Result = sqlite3_total_changes(db) - before;
        m_db.exec("RELEASE excute_sql");
    } else {
        m_db.exec("ROLLBACK TO excute_sql");
        m_db.exec("RELEASE excute_sql");
    }
    logLine("ExcuteSQL %s -> %d", strSQL, *Result);
    return SOAP_OK;
}

int DevService::GetFieldValuesBySQL(char* pSQL, char* pFieldName, LONG64 FieldType,
                                    LONG64 FieldSize, ns__GetFieldValuesBySQLResponse& result)
{
    // int32 rows, int32 error code, then one value of valueSize bytes per
    // row: int32 for FieldType 1, zero-terminated GB18030 text for 0.
    std::vector<unsigned char> buffer(8, 0);
    int32_t rows = 0;
    int32_t error = kFieldOk;
    size_t valueSize = 4;
    if (FieldType == 0 && FieldSize >= 1)
        valueSize = static_cast<size_t>(std::min<long long>(FieldSize, DevLimits::kMaxFieldSize));
    else if (FieldType != 1)
        error = kFieldBadRequest;

    sqlite3* db = m_db.handle();
    const ClientSqlScope client(db);
    sqlite3_stmt* stmt = nullptr;
    const char* tail = nullptr;
    if (error == kFieldOk) {
        if (!pSQL || sqlite3_prepare_v2(db, pSQL, -1, &stmt, &tail) != SQLITE_OK || !stmt) {
            error = kFieldSqlError;
        } else {
            while (tail && (*tail == ' ' || *tail == '\t' || *tail == '\r' || *tail == '\n' ||
                            *tail == ';'))
                ++tail;
            if ((tail && *tail) || !sqlite3_stmt_readonly(stmt))
                error = kFieldNotReadOnly;
        }
    }
    if (error == kFieldOk) {
        int column = 0;
        for (int c = 0; pFieldName && c < sqlite3_column_count(stmt); ++c) {
            const char* name = sqlite3_column_name(stmt, c);
            if (name && strcasecmp(name, pFieldName) == 0) {
                column = c;
                break;
            }
        }
        int rc;
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            if (rows >= DevLimits::kMaxRows ||
                buffer.size() + valueSize > DevLimits::kMaxReplyBytes) {
                rc = SQLITE_DONE; // the answer holds as many rows as fit
                break;
            }
            const size_t at = buffer.size();
            buffer.resize(at + valueSize, 0);
            if (FieldType == 1) {
                putInt32(buffer, at, clampInt32(sqlite3_column_int64(stmt, column)));
            } else {
                const unsigned char* text = sqlite3_column_text(stmt, column);
                if (text)
                    putGbk(buffer, at, valueSize, reinterpret_cast<const char*>(text));
            }
            ++rows;
        }
        if (rc != SQLITE_DONE) {
            error = kFieldSqlError;
            rows = 0;
            buffer.resize(8);
        }
    }
    if (error == kFieldSqlError)
        logLine("GetFieldValuesBySQL error: %s", sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    putInt32(buffer, 0, rows);
    putInt32(buffer, 4, error);
    result.ret = makeData(buffer);
    logLine("GetFieldValuesBySQL %s [%s %lld %lld] -> %d rows, error %d", pSQL ? pSQL : "(null)",
            pFieldName ? pFieldName : "", static_cast<long long>(FieldType),
            static_cast<long long>(FieldSize), rows, error);
    return SOAP_OK;
}

int DevService::GetPayerInfo(char* pItem, char** pPayerParam)
{
    // Request {"UserName":"..."}; answer the user's payer settings. The
    // client copies the payer names into its GBK fields as they arrive. With
    // Latin-1 strings each byte of a string is one character on the wire and
    // one byte again at the client, so the names go as GB18030 bytes. With
    // UTF-8 strings the XML carries characters, and the names go as UTF-8.
    *pPayerParam = nullptr;
    const bool utf8 = (soap->omode & SOAP_C_UTFSTRING) != 0;
    cJSON* request = pItem ? cJSON_Parse(pItem) : nullptr;
    const cJSON* user = cJSON_GetObjectItemCaseSensitive(request, "UserName");
    if (!cJSON_IsString(user)) {
        cJSON_Delete(request);
        return fault("GetPayerInfo", "the request names no UserName");
    }
    const std::string userName = user->valuestring;
    cJSON_Delete(request);

    long long costControl = 0, project = 0, payerType = 1, userId = -1;
    DevStatement settings(m_db.handle(),
                          "SELECT u.UserID, ps.IsSupportCostControl, ps.IsSupportProject, "
                          "ps.PayerType FROM Users u LEFT JOIN PayerSettings ps "
                          "ON ps.UserID = u.UserID WHERE u.UserName = ? AND u.IsDeleted = 'N'");
    settings.bind(1, userName);
    if (settings.next()) {
        userId = settings.integer(0);
        if (!settings.isNull(1)) {
            costControl = settings.integer(1);
            project = settings.integer(2);
            payerType = settings.integer(3);
        }
    }
    cJSON* answer = cJSON_CreateObject();
    cJSON_AddNumberToObject(answer, "IsSupportCostControl", static_cast<double>(costControl));
    cJSON_AddNumberToObject(answer, "IsSupportProject", static_cast<double>(project));
    cJSON_AddNumberToObject(answer, "PayerType", static_cast<double>(payerType));
    cJSON* list = cJSON_AddArrayToObject(answer, "PayerInfo");
    DevStatement payers(m_db.handle(), "SELECT p.PayerName, p.PayerID, p.IsGroup "
                                       "FROM UserPayers up JOIN Payers p ON p.PayerID = up.PayerID "
                                       "WHERE up.UserID = ? ORDER BY up.Position, p.PayerID");
    payers.bind(1, userId);
    while (payers.next()) {
        cJSON* entry = cJSON_CreateObject();
        const std::string name = utf8 ? payers.text(0) : Utf8ToGbk(payers.text(0));
        cJSON_AddStringToObject(entry, "PayerName", name.c_str());
        cJSON_AddNumberToObject(entry, "PayerID", static_cast<double>(payers.integer(1)));
        cJSON_AddNumberToObject(entry, "IsGroup", static_cast<double>(payers.integer(2)));
        cJSON_AddItemToArray(list, entry);
    }
    char* printed = cJSON_PrintUnformatted(answer);
    cJSON_Delete(answer);
    if (!printed)
        return soap->error = SOAP_EOM;
    *pPayerParam = soap_strdup(soap, printed);
    cJSON_free(printed);
    logLine("GetPayerInfo %s", userName.c_str());
    return SOAP_OK;
}

int DevService::QuotaVerification(char* pJsonJobParam, LONG64* pRet)
{
    // 0: the payer's balance covers TotalPages at the page price; 1: it does
    // not (or the payer has no balance); 2: the request is not usable.
    *pRet = 2;
    cJSON* job = pJsonJobParam ? cJSON_Parse(pJsonJobParam) : nullptr;
    const cJSON* type = cJSON_GetObjectItemCaseSensitive(job, "PayerType");
    const cJSON* id = cJSON_GetObjectItemCaseSensitive(job, "PayerID");
    const cJSON* pages = cJSON_GetObjectItemCaseSensitive(job, "TotalPages");
    const cJSON* color = cJSON_GetObjectItemCaseSensitive(job, "Color");
    const bool usable = cJSON_IsNumber(type) && cJSON_IsNumber(id) && cJSON_IsNumber(pages) &&
                        std::isfinite(pages->valuedouble) && pages->valuedouble >= 0 &&
                        pages->valuedouble <= INT32_MAX;
    if (usable) {
        const bool colour = cJSON_IsString(color) && strcmp(color->valuestring, "C") == 0;
        DevStatement q(m_db.handle(), "SELECT Balance, PagePrice, ColorPagePrice FROM "
                                      "QuotaBalances WHERE PayerType = ? AND PayerID = ?");
        q.bind(1, static_cast<long long>(type->valuedouble));
        q.bind(2, static_cast<long long>(id->valuedouble));
        if (q.next()) {
            const long long price = std::max(0LL, colour ? q.integer(2) : q.integer(1));
            const long long count = static_cast<long long>(pages->valuedouble);
            const bool overflow = price > 0 && count > LLONG_MAX / price;
            *pRet = overflow || count * price > q.integer(0) ? 1 : 0;
        } else {
            *pRet = 1;
        }
    }
    cJSON_Delete(job);
    logLine("QuotaVerification %s -> %lld", pJsonJobParam ? pJsonJobParam : "(null)",
            static_cast<long long>(*pRet));
    return SOAP_OK;
}

long long DevService::addNotice(DevDatabase& db, const std::string& user, int type,
                                const std::string& fieldsUtf8)
{
    DevStatement q(db.handle(), "INSERT INTO Notices (UserName, Type, FieldText) VALUES (?, ?, ?)");
    q.bind(1, user).bind(2, type).bind(3, fieldsUtf8);
    if (!q.run())
        return -1;
    return sqlite3_last_insert_rowid(db.handle());
}
