#pragma once

// The schema and seed SQL of the development server, compiled in (see
// EmbedSql.cmake): schema.sql first, then the files of seed/ in name order.
struct EmbeddedSqlFile {
    const char* name;
    const char* text;
};

extern const EmbeddedSqlFile kEmbeddedSqlFiles[];
extern const int kEmbeddedSqlFileCount;
