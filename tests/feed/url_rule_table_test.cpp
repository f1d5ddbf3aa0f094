// CheckDownloadUrl on the table of addresses that the release tool's tests
// read as well (tests/feed/url_rule_cases.tsv): the limits of the split and the
// transport rule, with the program's sentences.
#include "feed/http_get.h"

#include "tests/feed/shared_table.h"

#include <gtest/gtest.h>

namespace {

TEST(UrlRuleTable, AcceptsOrRefusesAsTheSharedTableSays) {
    const std::vector<feed_testing::TableRow> rows =
        feed_testing::ReadSharedTable("url_rule_cases.tsv", 3);
    ASSERT_FALSE(rows.empty());
    for (const feed_testing::TableRow& row : rows) {
        SCOPED_TRACE(row.name);
        std::wstring host, pathAndQuery, error;
        INTERNET_PORT port = 0;
        bool secure = false;
        const bool accepted =
            CheckDownloadUrl(row.fields[1], host, pathAndQuery, port, secure, error);
        EXPECT_EQ(accepted ? L"accepted" : error, row.fields[2]);
    }
}

} // namespace
