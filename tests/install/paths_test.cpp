#include "install/paths.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

struct EqualCase {
    const char* name;
    const wchar_t* a;
    const wchar_t* b;
    bool equal;
};

void PrintTo(const EqualCase& c, std::ostream* out) {
    *out << c.name;
}

class PathsEqualTest : public ::testing::TestWithParam<EqualCase> {};

TEST_P(PathsEqualTest, ComparesElementByElement) {
    const EqualCase& c = GetParam();
    EXPECT_EQ(PathsEqual(c.a, c.b), c.equal) << Narrow(c.a) << " vs " << Narrow(c.b);
    EXPECT_EQ(PathsEqual(c.b, c.a), c.equal) << "not symmetric";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PathsEqualTest,
    ::testing::Values(
        EqualCase{"Identical", L"C:\\a\\MovoraSetup.exe", L"C:\\a\\MovoraSetup.exe", true},
        EqualCase{"SlashesAlike", L"C:/a/MovoraSetup.exe", L"C:\\a\\MovoraSetup.exe", true},
        EqualCase{"RepeatedSeparatorsAsOne", L"C:\\a\\\\//b", L"C:\\a\\b", true},
        EqualCase{"LetterCaseCounts", L"C:\\A\\MovoraSetup.exe", L"C:\\a\\MovoraSetup.exe", false},
        EqualCase{"TrailingSeparatorCounts", L"C:\\a\\", L"C:\\a", false},
        EqualCase{"OtherElement", L"C:\\a\\b", L"C:\\a\\c", false},
        EqualCase{"ElementBoundary", L"C:\\ab", L"C:\\a\\b", false},
        EqualCase{"NetworkRootStaysApart", L"\\\\server\\share", L"\\server\\share", false},
        EqualCase{"NetworkPathsAlike", L"\\\\server\\share\\x", L"//server/share//x", true},
        EqualCase{"BothEmpty", L"", L"", true}, EqualCase{"OneEmpty", L"", L"C:\\", false}),
    [](const ::testing::TestParamInfo<EqualCase>& info) { return std::string(info.param.name); });

struct SplitCase {
    const char* name;
    const wchar_t* path;
    const wchar_t* parent;
    const wchar_t* fileName;
};

void PrintTo(const SplitCase& c, std::ostream* out) {
    *out << c.name;
}

class SplitPathTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitPathTest, GivesParentAndLastElement) {
    const SplitCase& c = GetParam();
    EXPECT_EQ(ParentPath(c.path), c.parent) << Narrow(c.path);
    EXPECT_EQ(FileNamePart(c.path), c.fileName) << Narrow(c.path);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitPathTest,
    ::testing::Values(
        SplitCase{"AppExecutable", L"C:\\Users\\a\\Movora\\app\\Movora.exe",
                  L"C:\\Users\\a\\Movora\\app", L"Movora.exe"},
        SplitCase{"ForwardSlashes", L"C:/Users/a/app/Movora.exe", L"C:/Users/a/app", L"Movora.exe"},
        SplitCase{"RepeatedSeparators", L"C:\\a\\\\b", L"C:\\a", L"b"},
        SplitCase{"TrailingSeparator", L"C:\\a\\b\\", L"C:\\a", L""},
        SplitCase{"BelowDriveRoot", L"C:\\Movora.exe", L"C:\\", L"Movora.exe"},
        SplitCase{"DriveRoot", L"C:\\", L"C:\\", L""},
        SplitCase{"DriveRelative", L"C:Movora.exe", L"C:", L"Movora.exe"},
        SplitCase{"NetworkShare", L"\\\\server\\share\\x.exe", L"\\\\server\\share\\", L"x.exe"},
        SplitCase{"SingleElement", L"Movora.exe", L"", L"Movora.exe"},
        SplitCase{"Empty", L"", L"", L""}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

TEST(JoinPath, PutsExactlyOneSeparatorBetween) {
    EXPECT_EQ(JoinPath(L"C:\\a", L"b"), L"C:\\a\\b");
    EXPECT_EQ(JoinPath(L"C:\\a\\", L"b"), L"C:\\a\\b");
    EXPECT_EQ(JoinPath(L"C:/a/", L"b"), L"C:/a/b");
    EXPECT_EQ(JoinPath(L"", L"b"), L"b");
    EXPECT_EQ(JoinPath(L"C:\\a", L"b c\\d.exe"), L"C:\\a\\b c\\d.exe");
}

TEST(GetFullPath, ResolvesDotsAndSlashesAndFailsOnAnEmptyPath) {
    std::wstring absolute;
    DWORD error = ERROR_SUCCESS;
    ASSERT_TRUE(GetFullPath(L"C:/a/./b/../c", absolute, error));
    EXPECT_EQ(absolute, L"C:\\a\\c");

    absolute = L"untouched";
    EXPECT_FALSE(GetFullPath(L"", absolute, error));
    EXPECT_NE(error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(absolute, L"untouched");
}

} // namespace
