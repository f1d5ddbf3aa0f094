#include "install/locations.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::wstring LocalAppData() {
    PWSTR folder = nullptr;
    EXPECT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder)));
    std::wstring result = folder != nullptr ? folder : L"";
    CoTaskMemFree(folder);
    return result;
}

TEST(GetInstallRoot, CreatesTheFolderBelowLocalAppData) {
    const std::wstring expected = LocalAppData() + L"\\Movora";
    std::error_code ignored;
    fs::remove_all(expected, ignored);
    ASSERT_FALSE(fs::exists(expected));

    EXPECT_EQ(GetInstallRoot(), expected);
    EXPECT_TRUE(fs::is_directory(expected));
}

TEST(GetInstallRoot, ReturnsTheSameTextTwiceAndKeepsTheContents) {
    const std::wstring first = GetInstallRoot();
    testing_support::WriteFileBytes(first + L"\\settings.json", "{}");
    const std::wstring second = GetInstallRoot();
    EXPECT_EQ(first, second);
    EXPECT_TRUE(fs::exists(second + L"\\settings.json"));
    fs::remove(second + L"\\settings.json");
}

TEST(GetInstallRoot, RaisesWhenAFileIsInTheWay) {
    const std::wstring root = LocalAppData() + L"\\Movora";
    std::error_code ignored;
    fs::remove_all(root, ignored);
    testing_support::WriteFileBytes(root, "not a folder");
    EXPECT_THROW(GetInstallRoot(), fs::filesystem_error);
    fs::remove(root);
}

struct InsideCase {
    const wchar_t* path;
    const wchar_t* directory;
    bool inside;
};

class IsPathInsideTest : public ::testing::TestWithParam<InsideCase> {};

TEST_P(IsPathInsideTest, Answers) {
    const InsideCase& c = GetParam();
    EXPECT_EQ(IsPathInside(c.path, c.directory), c.inside)
        << fs::path(c.path).string() << " in " << fs::path(c.directory).string();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsPathInsideTest,
    ::testing::Values(
        InsideCase{L"C:\\Users\\a\\Movora\\app\\Movora.exe", L"C:\\Users\\a\\Movora", true},
        // The directory itself, also in other letter case.
        InsideCase{L"C:\\Users\\a\\Movora", L"C:\\Users\\a\\Movora", true},
        InsideCase{L"c:\\users\\A\\MOVORA", L"C:\\Users\\a\\Movora", true},
        InsideCase{L"c:\\users\\a\\movora\\APP\\x.exe", L"C:\\Users\\a\\Movora", true},
        // Trailing separators on the directory change nothing.
        InsideCase{L"C:\\Users\\a\\Movora\\app", L"C:\\Users\\a\\Movora\\", true},
        InsideCase{L"C:\\Users\\a\\Movora\\app", L"C:\\Users\\a\\Movora\\\\//", true},
        InsideCase{L"C:\\Users\\a\\Movora", L"C:\\Users\\a\\Movora/", true},
        // A forward slash right after the directory text is a boundary.
        InsideCase{L"C:\\Users\\a\\Movora/app/Movora.exe", L"C:\\Users\\a\\Movora", true},
        // Continuing the last name is not inside.
        InsideCase{L"C:\\Users\\a\\Movora2\\app.exe", L"C:\\Users\\a\\Movora", false},
        InsideCase{L"C:\\Users\\a\\Movora.old", L"C:\\Users\\a\\Movora", false},
        InsideCase{L"C:\\Users\\a\\app.previous\\x", L"C:\\Users\\a\\app", false},
        // Shorter than the directory text.
        InsideCase{L"C:\\Users\\a", L"C:\\Users\\a\\Movora", false},
        InsideCase{L"", L"C:\\Users\\a\\Movora", false},
        // The path is not normalised: forward slashes inside the directory part differ.
        InsideCase{L"C:/Users/a/Movora/app", L"C:\\Users\\a\\Movora", false},
        // The directory is normalised: its slashes and dots are resolved.
        InsideCase{L"C:\\Users\\a\\Movora\\app", L"C:/Users/a/x/../Movora", true},
        InsideCase{L"C:\\Users\\a\\Movora\\app", L"C:\\Users\\.\\a\\Movora", true},
        // A drive root: the bare drive and everything after a separator.
        InsideCase{L"C:", L"C:\\", true}, InsideCase{L"C:\\Windows", L"C:\\", true},
        InsideCase{L"c:/x", L"C:\\", true}, InsideCase{L"D:\\Windows", L"C:\\", false},
        InsideCase{L"C:x", L"C:\\", false}));

TEST(IsPathInside, ResolvesARelativeDirectoryAgainstTheCurrentFolder) {
    testing_support::TempFolder folder;
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.path().c_str()));
    const bool inside = IsPathInside(folder / L"app\\Movora.exe", L"app");
    const bool outside = IsPathInside(L"C:\\elsewhere\\app\\Movora.exe", L"app");
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(inside);
    EXPECT_FALSE(outside);
}

TEST(IsPathInside, RaisesWhenTheDirectoryCannotBeMadeAbsolute) {
    EXPECT_THROW(IsPathInside(L"C:\\x", L""), fs::filesystem_error);
}

TEST(Locations, TemporaryFilesLieInTheTemporaryFolder) {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(GetTempFolder(), temp);
    EXPECT_EQ(GetPackageFilePath(L"1.2.0"), std::wstring(temp) + L"Movora-1.2.0.zip");
    EXPECT_EQ(GetUninstallCopyPath(), std::wstring(temp) + L"Movora-uninstall.exe");
    EXPECT_EQ(JoinPath(L"C:\\a", L"b"), L"C:\\a\\b");
    EXPECT_EQ(JoinPath(L"C:\\a\\", L"b"), L"C:\\a\\b");
}

} // namespace
