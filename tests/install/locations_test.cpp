#include "install/locations.h"

#include "install/fs_calls.h"

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
    EXPECT_THROW(GetInstallRoot(), FileError);
    fs::remove(root);
}

struct InsideCase {
    const char* name;
    const wchar_t* path;
    const wchar_t* directory;
    bool inside;
};

void PrintTo(const InsideCase& c, std::ostream* out) {
    *out << c.name;
}

class IsPathInsideTest : public ::testing::TestWithParam<InsideCase> {};

TEST_P(IsPathInsideTest, Answers) {
    const InsideCase& c = GetParam();
    EXPECT_EQ(IsPathInside(c.path, c.directory), c.inside)
        << fs::path(c.path).string() << " in " << fs::path(c.directory).string();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsPathInsideTest,
    ::testing::Values(
        InsideCase{"FileBelow", L"C:\\Users\\a\\Movora\\app\\Movora.exe", L"C:\\Users\\a\\Movora",
                   true},
        // The directory itself, also in other letter case.
        InsideCase{"TheDirectoryItself", L"C:\\Users\\a\\Movora", L"C:\\Users\\a\\Movora", true},
        InsideCase{"OtherLetterCase", L"c:\\users\\A\\MOVORA", L"C:\\Users\\a\\Movora", true},
        InsideCase{"OtherCaseBelow", L"c:\\users\\a\\movora\\APP\\x.exe", L"C:\\Users\\a\\Movora",
                   true},
        // Trailing separators on the directory change nothing.
        InsideCase{"TrailingBackslash", L"C:\\Users\\a\\Movora\\app", L"C:\\Users\\a\\Movora\\",
                   true},
        InsideCase{"TrailingSeparatorRun", L"C:\\Users\\a\\Movora\\app",
                   L"C:\\Users\\a\\Movora\\\\//", true},
        InsideCase{"TrailingSlash", L"C:\\Users\\a\\Movora", L"C:\\Users\\a\\Movora/", true},
        // A forward slash right after the directory text is a boundary.
        InsideCase{"SlashAfterTheDirectory", L"C:\\Users\\a\\Movora/app/Movora.exe",
                   L"C:\\Users\\a\\Movora", true},
        // Continuing the last name is not inside.
        InsideCase{"ContinuedLastName", L"C:\\Users\\a\\Movora2\\app.exe", L"C:\\Users\\a\\Movora",
                   false},
        InsideCase{"ContinuedWithADot", L"C:\\Users\\a\\Movora.old", L"C:\\Users\\a\\Movora",
                   false},
        InsideCase{"SiblingApp", L"C:\\Users\\a\\app.previous\\x", L"C:\\Users\\a\\app", false},
        // Shorter than the directory text.
        InsideCase{"ShorterPath", L"C:\\Users\\a", L"C:\\Users\\a\\Movora", false},
        InsideCase{"EmptyPath", L"", L"C:\\Users\\a\\Movora", false},
        // The path is not normalised: forward slashes inside the directory part differ.
        InsideCase{"SlashesInsideTheDirectoryPart", L"C:/Users/a/Movora/app",
                   L"C:\\Users\\a\\Movora", false},
        // The directory is normalised: its slashes and dots are resolved.
        InsideCase{"DirectoryWithDotDot", L"C:\\Users\\a\\Movora\\app", L"C:/Users/a/x/../Movora",
                   true},
        InsideCase{"DirectoryWithDot", L"C:\\Users\\a\\Movora\\app", L"C:\\Users\\.\\a\\Movora",
                   true},
        // A drive root: the bare drive and everything after a separator.
        InsideCase{"BareDrive", L"C:", L"C:\\", true},
        InsideCase{"BelowDriveRoot", L"C:\\Windows", L"C:\\", true},
        InsideCase{"SlashBelowDriveRoot", L"c:/x", L"C:\\", true},
        InsideCase{"OtherDrive", L"D:\\Windows", L"C:\\", false},
        InsideCase{"DriveRelative", L"C:x", L"C:\\", false}),
    [](const ::testing::TestParamInfo<InsideCase>& info) { return std::string(info.param.name); });

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
    EXPECT_THROW(IsPathInside(L"C:\\x", L""), FileError);
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

// The version comes from the release list; the package file name it makes
// is always one plain name directly inside the temporary folder.
struct PackageNameCase {
    const char* name;
    const wchar_t* version;
    const wchar_t* fileName;
};

void PrintTo(const PackageNameCase& c, std::ostream* out) {
    *out << c.name;
}

class PackageFileNameTest : public ::testing::TestWithParam<PackageNameCase> {};

TEST_P(PackageFileNameTest, IsOnePlainNameInTheTemporaryFolder) {
    const PackageNameCase& c = GetParam();
    EXPECT_EQ(PackageFileName(c.version), c.fileName);
    const std::wstring path = GetPackageFilePath(c.version);
    EXPECT_EQ(path, GetTempFolder() + c.fileName);
    // Nothing in it that Windows would read as a folder, a parent or a stream.
    std::wstring absolute;
    DWORD error = 0;
    ASSERT_TRUE(GetFullPath(path, absolute, error));
    EXPECT_EQ(absolute, path);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, PackageFileNameTest,
    ::testing::Values(
        PackageNameCase{"Plain", L"1.2.0", L"Movora-1.2.0.zip"},
        PackageNameCase{"SpacesAndDotsStay", L" 2.0 beta.. ", L"Movora- 2.0 beta.. .zip"},
        PackageNameCase{"Parents", L"..\\..\\x", L"Movora-.._.._x.zip"},
        PackageNameCase{"SlashParents", L"/../../x", L"Movora-_.._.._x.zip"},
        PackageNameCase{"DriveLetter", L"C:\\Windows\\x", L"Movora-C__Windows_x.zip"},
        PackageNameCase{"Stream", L"1.0:evil", L"Movora-1.0_evil.zip"},
        PackageNameCase{"Wildcards", L"1*2?3\"<4>|", L"Movora-1_2_3__4__.zip"},
        PackageNameCase{"ControlCharacters",
                        L"1\t2\n3\x7f"
                        L"4\x85",
                        L"Movora-1_2_3_4_.zip"},
        PackageNameCase{"OtherLetters", L"2.0-\u00e9t\u00e9", L"Movora-2.0-\u00e9t\u00e9.zip"}),
    [](const ::testing::TestParamInfo<PackageNameCase>& info) {
        return std::string(info.param.name);
    });

TEST(PackageFileName, VeryLongVersionIsCutToOneNameOf255Characters) {
    const std::wstring name = PackageFileName(std::wstring(400, L'9'));
    EXPECT_EQ(name.size(), 255u);
    EXPECT_EQ(name, L"Movora-" + std::wstring(244, L'9') + L".zip");
}

TEST(PackageFileName, UnknownTemporaryFolderGivesNoPath) {
    // Wine fails GetTempPathW for a folder this long; Windows asks for a
    // bigger buffer. Both leave the folder unknown.
    wchar_t saved[MAX_PATH] = {};
    GetEnvironmentVariableW(L"TMP", saved, MAX_PATH);
    wchar_t savedTemp[MAX_PATH] = {};
    GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH);
    const std::wstring longFolder = L"C:\\" + std::wstring(300, L't');
    SetEnvironmentVariableW(L"TMP", longFolder.c_str());
    SetEnvironmentVariableW(L"TEMP", longFolder.c_str());
    const std::wstring folder = GetTempFolder();
    const std::wstring path = GetPackageFilePath(L"1.0");
    SetEnvironmentVariableW(L"TMP", saved[0] != 0 ? saved : nullptr);
    SetEnvironmentVariableW(L"TEMP", savedTemp[0] != 0 ? savedTemp : nullptr);
    EXPECT_EQ(folder, L"");
    EXPECT_EQ(path, L"") << "never a name relative to the current folder";
}

} // namespace
