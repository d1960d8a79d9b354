#pragma once

#include <cstdint>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

// The development server's SQLite database. A missing file is created with
// the compiled-in schema and seed files; an existing one is used as it is.
class DevDatabase
{
public:
    DevDatabase() = default;
    ~DevDatabase();
    DevDatabase(const DevDatabase&) = delete;
    DevDatabase& operator=(const DevDatabase&) = delete;

    // Opens (or creates and fills) the database at path. *created tells
    // whether it was made now. On failure error() says why and a file made
    // by this call is removed again.
    bool open(const std::string& path, bool* created = nullptr);
    void close();

    sqlite3* handle() const { return m_db; }
    const std::string& error() const { return m_error; }

    // Runs one or more statements; false (and error()) on failure.
    bool exec(const char* sql);

private:
    bool fill();

    sqlite3* m_db = nullptr;
    std::string m_error;
};

// While one lives, the statements prepared on db are SQL texts a client
// sent (ExcuteSQL, GetFieldValuesBySQL), and the server runs as whoever
// started it: they may read every table and change the data tables, but
// SQLite refuses to prepare anything else: ATTACH (a database file anywhere
// the server may write), PRAGMA, schema changes, transaction control (the
// server keeps a text's changes all or nothing), load_extension(), and
// writes to the server's own bookkeeping (Uploads, the sqlite_ tables). The
// connection itself allows no attached database at all (DevDatabase::open).
class ClientSqlScope
{
public:
    explicit ClientSqlScope(sqlite3* db);
    ~ClientSqlScope();
    ClientSqlScope(const ClientSqlScope&) = delete;
    ClientSqlScope& operator=(const ClientSqlScope&) = delete;

private:
    sqlite3* m_db;
};

// One prepared statement. Binding indexes start at 1, columns at 0. A
// statement that failed to prepare never yields rows and never runs.
class DevStatement
{
public:
    DevStatement(sqlite3* db, const char* sql);
    ~DevStatement();
    DevStatement(const DevStatement&) = delete;
    DevStatement& operator=(const DevStatement&) = delete;

    DevStatement& bind(int index, long long value);
    DevStatement& bind(int index, const std::string& value);

    // Steps to the next row: true while a row is available.
    bool next();
    // Runs the statement to its end: true when it completed.
    bool run();

    long long integer(int column) const;
    std::string text(int column) const;
    bool isNull(int column) const;

private:
    sqlite3_stmt* m_stmt = nullptr;
};

// Text conversions between the database (UTF-8) and the client (GB18030).
std::string Utf8ToGbk(const std::string& utf8);
// GB18030 bytes, read up to the first NUL or at most maxBytes, to UTF-8.
std::string GbkToUtf8(const char* gbk, size_t maxBytes);
// UTF-8 bytes up to the first NUL or at most maxBytes (a record field).
std::string FieldText(const char* field, size_t maxBytes);
// The names and choices of a mobile print task record (1112 bytes: full
// name, secret level, purpose, document, printer) as UTF-8. A captured job's
// record carries them in GB18030; the mobile print job dialog's record, which
// has DocType "doc", in UTF-8.
std::string MobileRecordText(const unsigned char* record, size_t offset, size_t width);
// Upper-case hexadecimal MD5 of the bytes of text.
std::string Md5Hex(const std::string& text);
