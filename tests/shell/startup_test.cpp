#include "shell/startup.h"

#include "feed/origins.h"
#include "shell/text.h"

#include <gtest/gtest.h>

namespace {

struct SizeCase {
    UINT dpi;
    LONG width;
    LONG height;
};

void PrintTo(const SizeCase& c, std::ostream* out) {
    *out << c.dpi << " dpi: " << c.width << " x " << c.height;
}

class WindowSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(WindowSizeTest, ScalesTheLogicalSizeByTheDpi) {
    const SIZE size = ComputeWindowSize(GetParam().dpi);
    EXPECT_EQ(size.cx, GetParam().width);
    EXPECT_EQ(size.cy, GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(Dpi, WindowSizeTest,
                         ::testing::Values(SizeCase{96, 480, 560}, SizeCase{120, 600, 700},
                                           SizeCase{144, 720, 840}, SizeCase{192, 960, 1120},
                                           // MulDiv rounds to nearest: 480*97/96 = 485.0
                                           SizeCase{97, 485, 566}),
                         [](const ::testing::TestParamInfo<SizeCase>& info) {
                             return "Dpi" + std::to_string(info.param.dpi);
                         });

TEST(CenterInWorkArea, CentresInTheWorkAreaNotTheMonitor) {
    // A 1920 x 1080 monitor with a 40-pixel taskbar at the bottom.
    const POINT origin = CenterInWorkArea(RECT{0, 0, 1920, 1040}, SIZE{480, 560});
    EXPECT_EQ(origin.x, 720);
    EXPECT_EQ(origin.y, 240);
}

TEST(CenterInWorkArea, HonoursTheOffsetOfASecondMonitor) {
    const POINT origin = CenterInWorkArea(RECT{-1280, 100, 0, 1124}, SIZE{720, 840});
    EXPECT_EQ(origin.x, -1280 + 280);
    EXPECT_EQ(origin.y, 100 + 92);
}

TEST(CenterInWorkArea, TruncatesTowardZeroWhenTheWindowIsLarger) {
    // (768 - 841) / 2 = -36.5 truncates to -36, not -37.
    const POINT origin = CenterInWorkArea(RECT{0, 0, 1023, 768}, SIZE{720, 841});
    EXPECT_EQ(origin.x, 151);
    EXPECT_EQ(origin.y, -36);
}

TEST(GetDefaultFeedUrl, IsTheReleaseServerOriginWithTheFixedPath) {
    EXPECT_EQ(GetDefaultFeedUrl(), Utf8ToWide(ReleaseServerOrigin()) + L"/releases/latest.json");
    // The origins are joined with paths that start with a slash.
    EXPECT_NE(ReleaseServerOrigin().back(), '/');
    EXPECT_NE(DownloadOrigin().back(), '/');
}

} // namespace
