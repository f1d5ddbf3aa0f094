#include "tests/feed/shared_table.h"

#include "shell/text.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace feed_testing {

namespace {

// field with every "{c*N}" written out.
std::string Expand(const std::string& field) {
    std::string text;
    for (size_t at = 0; at < field.size();) {
        const size_t star = at + 2;
        const size_t close = field.find('}', at);
        if (field[at] == '{' && star < field.size() && field[star] == '*' &&
            close != std::string::npos && close > star + 1) {
            text.append(std::stoul(field.substr(star + 1, close - star - 1)), field[at + 1]);
            at = close + 1;
        } else {
            text.push_back(field[at++]);
        }
    }
    return text;
}

} // namespace

std::vector<TableRow> ReadSharedTable(const char* fileName, size_t columns) {
    const std::string path = std::string(MOVORA_TESTS_SOURCE_DIR "/feed/") + fileName;
    const std::string text = testing_support::ReadFileBytes(std::wstring(path.begin(), path.end()));
    EXPECT_FALSE(text.empty()) << "cannot read " << path;
    std::vector<TableRow> rows;
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line[0] == '#') {
            continue;
        }
        TableRow row;
        for (size_t from = 0;;) {
            const size_t tab = line.find('\t', from);
            row.fields.push_back(Utf8ToWide(Expand(line.substr(from, tab - from))));
            if (tab == std::string::npos) {
                break;
            }
            from = tab + 1;
        }
        row.name = line.substr(0, line.find('\t'));
        EXPECT_EQ(row.fields.size(), columns) << "malformed row in " << fileName << ": " << line;
        if (row.fields.size() == columns) {
            rows.push_back(std::move(row));
        }
    }
    return rows;
}

} // namespace feed_testing
