// What HttpGet sends as the path and query, through the real WinHTTP to the
// loopback server, on the table the release tool's tests read as well
// (tests/feed/request_targets.tsv).
#include "feed/http_get.h"

#include "tests/feed/shared_table.h"
#include "tests/support/http_test_server.h"

#include <gtest/gtest.h>

namespace {

std::string Utf8(const std::wstring& text) {
    std::string bytes;
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    bytes.resize(size);
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size,
                        nullptr, nullptr);
    return bytes;
}

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
        EXPECT_EQ(requests.back().target, Utf8(row.fields[2]));
    }
    server.Stop();
}

} // namespace
