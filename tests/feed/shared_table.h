// Tables of cases that the release tool's tests (tests/tools/) read as well,
// so that the tool and the program are held to the same answers.
#pragma once

#include <string>
#include <vector>

namespace feed_testing {

// One case of a table: its fields, the first one saying what the case shows.
struct TableRow {
    std::vector<std::wstring> fields;
    std::string name; // the first field, for the failure messages
};

// The rows of the tab-separated UTF-8 table tests/feed/<fileName>: lines
// that start with '#' and empty lines are left out, and "{c*N}" in a field
// stands for the character c written N times. Every row has columns fields;
// a malformed table or one that cannot be read fails the current test.
std::vector<TableRow> ReadSharedTable(const char* fileName, size_t columns);

} // namespace feed_testing
