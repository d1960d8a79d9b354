#include "DevDatabase.h"

#include "EmbeddedSql.h"
#include "TavCommon.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <strings.h>

DevDatabase::~DevDatabase()
{
    close();
}

void DevDatabase::close()
{
    if (m_db)
        sqlite3_close(m_db);
    m_db = nullptr;
}

bool DevDatabase::open(const std::string& path, bool* created)
{
    close();
    struct stat st;
    const bool exists = stat(path.c_str(), &st) == 0;
    if (created)
        *created = !exists;
    const int flags = SQLITE_OPEN_READWRITE | (exists ? 0 : SQLITE_OPEN_CREATE);
    if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
        m_error = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        close();
        return false;
    }
    sqlite3_busy_timeout(m_db, 5000);
    // No statement may attach another database file (ATTACH, VACUUM INTO).
    sqlite3_limit(m_db, SQLITE_LIMIT_ATTACHED, 0);
    sqlite3_extended_result_codes(m_db, 0);
    if (exists) {
        // A file that is not a database fails here rather than later; an
        // empty one (no tables yet) is filled like a new one.
        sqlite3_stmt* stmt = nullptr;
        bool empty = false;
        if (sqlite3_prepare_v2(m_db, "SELECT count(*) FROM sqlite_master", -1, &stmt, nullptr) !=
                SQLITE_OK ||
            sqlite3_step(stmt) != SQLITE_ROW) {
            m_error = sqlite3_errmsg(m_db);
            sqlite3_finalize(stmt);
            close();
            return false;
        }
        empty = sqlite3_column_int(stmt, 0) == 0;
        sqlite3_finalize(stmt);
        if (!empty)
            return true;
        if (created)
            *created = true;
        if (!fill()) {
            close();
            return false;
        }
        return true;
    }
    if (!fill()) {
        close();
        unlink(path.c_str());
        return false;
    }
    return true;
}

bool DevDatabase::fill()
{
    if (!exec("BEGIN"))
        return false;
    for (int i = 0; i < kEmbeddedSqlFileCount; ++i) {
        if (!exec(kEmbeddedSqlFiles[i].text)) {
            m_error = std::string(kEmbeddedSqlFiles[i].name) + ": " + m_error;
            exec("ROLLBACK");
            return false;
        }
    }
    return exec("COMMIT");
}

bool DevDatabase::exec(const char* sql)
{
    char* message = nullptr;
    const int rc = sqlite3_exec(m_db, sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        m_error = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        return false;
    }
    return true;
}

namespace
{

// The tables whose rows are the server's own record of what it stored.
bool isBookkeeping(const char* table)
{
    return table && (strcasecmp(table, "Uploads") == 0 || strncasecmp(table, "sqlite_", 7) == 0);
}

int authorizeClientSql(void*, int action, const char* first, const char* second, const char*,
                       const char*)
{
    switch (action) {
    case SQLITE_SELECT:
    case SQLITE_READ:
    case SQLITE_RECURSIVE:
        return SQLITE_OK;
    case SQLITE_FUNCTION: // second: the function's name
        return second && strcasecmp(second, "load_extension") == 0 ? SQLITE_DENY : SQLITE_OK;
    case SQLITE_INSERT: // first: the table
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
        return isBookkeeping(first) ? SQLITE_DENY : SQLITE_OK;
    default: // ATTACH, DETACH, PRAGMA, CREATE, DROP, ALTER, transactions, ...
        return SQLITE_DENY;
    }
}

} // namespace

ClientSqlScope::ClientSqlScope(sqlite3* db) : m_db(db)
{
    sqlite3_set_authorizer(m_db, authorizeClientSql, nullptr);
}

ClientSqlScope::~ClientSqlScope()
{
    sqlite3_set_authorizer(m_db, nullptr, nullptr);
}

DevStatement::DevStatement(sqlite3* db, const char* sql)
{
    if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
        fprintf(stderr, "orws-devserver: SQL error: %s in: %s\n", sqlite3_errmsg(db), sql);
        sqlite3_finalize(m_stmt);
        m_stmt = nullptr;
    }
}

DevStatement::~DevStatement()
{
    sqlite3_finalize(m_stmt);
}

DevStatement& DevStatement::bind(int index, long long value)
{
    if (m_stmt)
        sqlite3_bind_int64(m_stmt, index, value);
    return *this;
}

DevStatement& DevStatement::bind(int index, const std::string& value)
{
    if (m_stmt)
        sqlite3_bind_text(m_stmt, index, value.data(), static_cast<int>(value.size()),
                          SQLITE_TRANSIENT);
    return *this;
}

bool DevStatement::next()
{
    return m_stmt && sqlite3_step(m_stmt) == SQLITE_ROW;
}

bool DevStatement::run()
{
    if (!m_stmt)
        return false;
    int rc;
    while ((rc = sqlite3_step(m_stmt)) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE;
}

long long DevStatement::integer(int column) const
{
    return m_stmt ? sqlite3_column_int64(m_stmt, column) : 0;
}

std::string DevStatement::text(int column) const
{
    if (!m_stmt)
        return std::string();
    const unsigned char* t = sqlite3_column_text(m_stmt, column);
    return t ? std::string(reinterpret_cast<const char*>(t),
                           static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
             : std::string();
}

bool DevStatement::isNull(int column) const
{
    return !m_stmt || sqlite3_column_type(m_stmt, column) == SQLITE_NULL;
}

std::string Utf8ToGbk(const std::string& utf8)
{
    const QByteArray gbk = UTF82GBK(utf8.c_str());
    return std::string(gbk.constData(), static_cast<size_t>(gbk.size()));
}

std::string GbkToUtf8(const char* gbk, size_t maxBytes)
{
    const std::string raw = FieldText(gbk, maxBytes);
    const QByteArray utf8 = GBK2UTF8(raw.c_str()).toUtf8();
    return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}

std::string FieldText(const char* field, size_t maxBytes)
{
    if (!field)
        return std::string();
    const void* end = memchr(field, '\0', maxBytes);
    return std::string(field,
                       end ? static_cast<size_t>(static_cast<const char*>(end) - field) : maxBytes);
}

std::string MobileRecordText(const unsigned char* record, size_t offset, size_t width)
{
    constexpr size_t kDocTypeOffset = 930, kDocTypeWidth = 30;
    const char* text = reinterpret_cast<const char*>(record + offset);
    const bool utf8 =
        FieldText(reinterpret_cast<const char*>(record + kDocTypeOffset), kDocTypeWidth) == "doc";
    return utf8 ? FieldText(text, width) : GbkToUtf8(text, width);
}

std::string Md5Hex(const std::string& text)
{
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray(text.data(), static_cast<int>(text.size())), QCryptographicHash::Md5);
    return digest.toHex().toUpper().toStdString();
}
