// UnpackPackage with the tar tool in the system folder (the stand-in under
// Wine), and FindAppExecutable on real folders.
#include "install/unpack.h"

#include "install/fs_calls.h"
#include "tests/install/sequence_fixture.h"
#include "tests/support/tar_standin.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace install_testing;
using namespace testing_support;

namespace {

// ---- FindAppExecutable -----------------------------------------------------

struct FindCase {
    const char* name;
    std::vector<const wchar_t*> files; // created below the folder; a trailing '\' makes a folder
    const wchar_t* expected;           // relative to the folder: L"." the folder, L"" none
};

void PrintTo(const FindCase& c, std::ostream* out) {
    *out << c.name;
}

class FindAppExecutableTest : public ::testing::TestWithParam<FindCase> {
  protected:
    void Make(const std::wstring& relative) {
        const fs::path path = fs::path(folder_.path()) / relative;
        if (relative.back() == L'\\') {
            fs::create_directories(path);
        } else {
            fs::create_directories(path.parent_path());
            WriteFileBytes(path.wstring(), "x");
        }
    }
    TempFolder folder_;
};

TEST_P(FindAppExecutableTest, FindsTheFolderThatHoldsTheApp) {
    const FindCase& c = GetParam();
    for (const wchar_t* file : c.files) {
        Make(file);
    }
    const std::wstring expected = std::wstring(c.expected) == L"."   ? folder_.path()
                                  : std::wstring(c.expected).empty() ? std::wstring()
                                                                     : folder_ / c.expected;
    EXPECT_EQ(FindAppExecutable(folder_.path()), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, FindAppExecutableTest,
    ::testing::Values(
        FindCase{"AtTheTop", {L"Movora.exe", L"lib\\Movora.exe"}, L"."},
        FindCase{"OtherLetterCase", {L"mOVORA.EXE"}, L"."},
        FindCase{"AFolderNamedLikeTheApp", {L"Movora.exe\\"}, L"."},
        FindCase{"OneFolderDown", {L"README.txt", L"Movora 2\\Movora.exe"}, L"Movora 2"},
        FindCase{"BesideFoldersWithout", {L"a\\x.txt", L"b\\Movora.exe", L"c\\"}, L"b"},
        FindCase{"AFileIsNoFolder", {L"Movora 2", L"real\\Movora.exe"}, L"real"},
        FindCase{"TwoLevelsDown", {L"outer\\inner\\Movora.exe"}, L""}, FindCase{"Empty", {}, L""}),
    [](const ::testing::TestParamInfo<FindCase>& info) { return std::string(info.param.name); });

TEST(FindAppExecutable, TwoSubfoldersGiveTheFirstOneListed) {
    TempFolder folder;
    for (const wchar_t* name : {L"zeta", L"alpha", L"mid"}) {
        fs::create_directories(folder / name);
        WriteFileBytes(folder / (std::wstring(name) + L"\\Movora.exe"), "x");
    }
    // The file system's own order, as FindFirstFileW walks it.
    std::wstring first;
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((folder / L"*").c_str(), &entry);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) {
            first = entry.cFileName;
        }
    } while (first.empty() && FindNextFileW(find, &entry));
    FindClose(find);

    EXPECT_EQ(FindAppExecutable(folder.path()), folder / first);
}

TEST(FindAppExecutable, AFolderThatIsNotThereHoldsNothing) {
    TempFolder folder;
    EXPECT_EQ(FindAppExecutable(folder / L"missing"), L"");
}

TEST(FindAppExecutable, EveryRefusedFileCallRaises) {
    TempFolder folder;
    for (const wchar_t* name : {L"a", L"b"}) {
        fs::create_directories(folder / name);
    }
    WriteFileBytes(folder / L"b\\Movora.exe", "x");
    file_faults::Arm(-1, ERROR_SUCCESS);
    ASSERT_EQ(FindAppExecutable(folder.path()), folder / L"b");
    const long calls = file_faults::CallsSinceArmed();
    ASSERT_GT(calls, 2);
    for (long call = 0; call < calls; ++call) {
        SCOPED_TRACE("file call " + std::to_string(call));
        file_faults::Arm(call, ERROR_ACCESS_DENIED);
        EXPECT_THROW(FindAppExecutable(folder.path()), FileError);
    }
    file_faults::Disarm();
}

// ---- UnpackPackage -----------------------------------------------------------

class UnpackPackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(InstallTarStandIn());
        fs::create_directories(fs::path(zip_).parent_path());
        fs::create_directories(destination_);
    }
    void TearDown() override {
        for (const DWORD id : FindProcessesByImage(SystemTarPath())) {
            KillProcess(id);
        }
        DeleteFileW(TarVariantPath().c_str());
        InstallTarStandIn();
    }
    static std::wstring TarVariantPath() {
        const std::wstring tar = SystemTarPath();
        return tar.substr(0, tar.size() - 4) + L".variant";
    }

    TempFolder temp_;
    // Spaces in both paths: each stands between quotes on the command line.
    const std::wstring zip_ = temp_ / L"down load\\Movora 1.2.zip";
    const std::wstring destination_ = temp_ / L"install root\\staging area";
};

TEST_F(UnpackPackageTest, UnpacksIntoTheFolderAndLeavesThePackage) {
    const TestRelease release = MakeRelease("1.2", Layout::Top);
    WriteZip(zip_, release.entries);
    const std::string zipBytes = ReadFileBytes(zip_);
    std::wstring error = L"kept";

    EXPECT_TRUE(UnpackPackage(zip_, destination_, error));
    EXPECT_EQ(error, L"kept");
    EXPECT_EQ(DigestTree(destination_), release.expectedApp);
    EXPECT_EQ(ReadFileBytes(zip_), zipBytes);
}

TEST_F(UnpackPackageTest, DamagedPackageFailsAndWhatWasWrittenStays) {
    const TestRelease release = MakeRelease("1.2", Layout::Top);
    const ZipLayout layout = WriteZip(zip_, release.entries);
    // Cut inside the second entry's data: the first one is whole.
    TruncateFile(zip_, layout.dataOffsets[1] + 100);
    std::wstring error;

    EXPECT_FALSE(UnpackPackage(zip_, destination_, error));
    EXPECT_EQ(error, L"The download could not be unpacked.");
    EXPECT_TRUE(fs::exists(destination_ + L"\\Movora.exe"));
}

TEST_F(UnpackPackageTest, SomethingThatIsNoZipFails) {
    WriteFileBytes(zip_, "<html>Not found</html>");
    std::wstring error;
    EXPECT_FALSE(UnpackPackage(zip_, destination_, error));
    EXPECT_EQ(error, L"The download could not be unpacked.");
}

TEST_F(UnpackPackageTest, NoTarToolFailsWithItsOwnSentence) {
    if (!RemoveTarStandIn()) {
        GTEST_SKIP() << "the system's own tar tool cannot be taken away";
    }
    WriteZip(zip_, MakeRelease("1.2", Layout::Top).entries);
    std::wstring error;
    EXPECT_FALSE(UnpackPackage(zip_, destination_, error));
    EXPECT_EQ(error, L"Windows tar was not found, so the download could not be unpacked.");
    EXPECT_TRUE(fs::is_empty(destination_));
}

TEST_F(UnpackPackageTest, ToolThatRunsTooLongIsEndedBeforeTheFailure) {
    if (!RunningUnderWine()) {
        GTEST_SKIP() << "the system's own tar tool is not replaced";
    }
    // A tar tool that never ends: the stand-in app without pipe or window.
    for (const DWORD id : FindProcessesByImage(SystemTarPath())) {
        KillProcess(id);
    }
    ASSERT_TRUE(CopyFileW(BuiltProgram(L"Movora.exe").c_str(), SystemTarPath().c_str(), FALSE));
    WriteFileBytes(TarVariantPath(), "no-pipe\nno-window\n");
    WriteZip(zip_, MakeRelease("1.2", Layout::Top).entries);
    std::wstring error;

    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(UnpackPackage(zip_, destination_, error, 1500));
    EXPECT_GE(GetTickCount64() - start, 1500u);
    EXPECT_EQ(error, L"The download could not be unpacked.");
    // Ended, not left writing into a folder the next attempt reuses.
    EXPECT_EQ(FindProcessesByImage(SystemTarPath()), std::vector<DWORD>());
}

} // namespace
