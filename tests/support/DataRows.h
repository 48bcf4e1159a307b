#pragma once

#include <QTest>

namespace velk::test {

// One data row of a table-driven test: row("name", a, b, c) on one line.
template <typename... T> void row(const char* name, const T&... values) {
    (QTest::newRow(name) << ... << values);
}

} // namespace velk::test
