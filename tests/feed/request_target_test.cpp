// What HttpGet sends as the path and query, through the real WinHTTP to the
// loopback server, on the table the release tool's tests read as well
// (tests/feed/request_targets.tsv).
#include "feed/http_get.h"

#include "tests/feed/shared_table.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

TEST(RequestTarget, ReachesTheServerAsTheSharedTableSays) {
    const std::vector<feed_testing::TableRow> rows =
        feed_testing::ReadSharedTable("request_targets.tsv", 3);
    ASSERT_FALSE(rows.empty());
    testing_support::HttpTestServer server;
    ASSERT_TRUE(server.Start());
    for (const feed_testing::TableRow& row : rows) {
        SCOPED_TRACE(row.name);
        const size_t before = server.Requests().size();
        HttpTransfer transfer;
        HttpGet(server.Url("") + row.fields[1], transfer, false);
        const std::vector<testing_support::RecordedRequest> requests = server.Requests();
        ASSERT_EQ(requests.size(), before + 1) << "no request, or more than one";
        EXPECT_EQ(requests.back().target, testing_support::Utf8Text(row.fields[2]));
    }
    server.Stop();
}

} // namespace
