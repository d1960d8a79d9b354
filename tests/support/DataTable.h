#pragma once

// Data tables of Qt Test cases declared in one line: Table<int, QString> row("size", "shown");
// then row("tag", 3, "three") adds a row.

#include <QTest>

// A data table: columns of the types T, named on construction; rows of values of those types.
template <typename... T> struct Table {
    template <typename... N> explicit Table(N... names) { (QTest::addColumn<T>(names), ...); }
    void operator()(const char* tag, const T&... v) const { (QTest::newRow(tag) << ... << v); }
};
