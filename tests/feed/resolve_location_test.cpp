// ResolveLocation on the table of redirects that the release tool's tests
// read as well (tests/feed/redirect_locations.tsv).
#include "feed/resolve_location.h"

#include "tests/feed/shared_table.h"

#include <gtest/gtest.h>

namespace {

TEST(ResolveLocation, LeadsWhereTheSharedTableSays) {
    const std::vector<feed_testing::TableRow> rows =
        feed_testing::ReadSharedTable("redirect_locations.tsv", 4);
    ASSERT_FALSE(rows.empty());
    for (const feed_testing::TableRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ResolveLocation(row.fields[1], row.fields[2]), row.fields[3]);
    }
}

} // namespace
