// UnpackPackage through a substitute for its platform calls: the failures
// Windows gives no way to cause, with the tar stand-in ready in the system
// folder to show that nothing ran.
#include "install/tar_tool_calls.h"
#include "install/unpack.h"

#include "shell/scoped.h"
#include "tests/install/sequence_fixture.h"
#include "tests/support/tar_standin.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace install_testing;
using namespace testing_support;

namespace {

class TarToolCallsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(InstallTarStandIn());
        fs::create_directories(destination_);
        WriteZip(zip_, MakeRelease("1.2", Layout::Top).entries);
    }
    void TearDown() override { SubstituteTarToolCalls(nullptr); }

    // Runs UnpackPackage with Windows' calls but for what change alters.
    template <typename Change> bool UnpackWith(Change change) {
        calls_ = WindowsTarToolCalls();
        change(calls_);
        SubstituteTarToolCalls(&calls_);
        const bool unpacked = UnpackPackage(zip_, destination_, error_);
        SubstituteTarToolCalls(nullptr);
        return unpacked;
    }

    TempFolder temp_;
    const std::wstring zip_ = temp_ / L"Movora-1.2.zip";
    const std::wstring destination_ = temp_ / L"staging";
    TarToolCalls calls_;
    std::wstring error_;
};

// When the system folder is unknown, the tool's path must not become
// "\tar.exe": that names a file at the root of the current drive, where
// anyone may put one. A tar stand-in waits there; it would unpack the package.
struct LookUpCase {
    const char* name;
    UINT answer; // what the system folder look-up answers, writing nothing
};

void PrintTo(const LookUpCase& c, std::ostream* out) {
    *out << c.name;
}

UINT g_lookUpAnswer = 0;

UINT WINAPI LookUpAnswering(LPWSTR, UINT) {
    return g_lookUpAnswer;
}

class UnknownSystemFolderTest : public TarToolCallsTest,
                                public ::testing::WithParamInterface<LookUpCase> {};

TEST_P(UnknownSystemFolderTest, FailsWithoutRunningATarFromTheDriveRoot) {
    // The current folder on the drive of the temporary folder, whose root
    // this account can write to under Wine (C:, the prefix's drive).
    wchar_t previous[MAX_PATH] = {};
    ASSERT_NE(GetCurrentDirectoryW(MAX_PATH, previous), 0u);
    ASSERT_TRUE(SetCurrentDirectoryW(temp_.path().c_str()));
    ScopeExit restore([&] { SetCurrentDirectoryW(previous); });
    const std::wstring planted = temp_.path().substr(0, 3) + L"tar.exe";
    if (!CopyFileW(BuiltProgram(L"tar.exe").c_str(), planted.c_str(), FALSE)) {
        GTEST_SKIP() << "cannot place a file at " << testing_support::Utf8Text(planted);
    }
    ScopeExit removePlanted([&] { DeleteFileW(planted.c_str()); });

    g_lookUpAnswer = GetParam().answer;
    EXPECT_FALSE(
        UnpackWith([](TarToolCalls& calls) { calls.getSystemDirectory = LookUpAnswering; }));
    EXPECT_EQ(error_, L"Windows tar was not found, so the download could not be unpacked.");
    EXPECT_TRUE(fs::is_empty(destination_)) << "a tar tool from the drive root ran";
}

INSTANTIATE_TEST_SUITE_P(Answers, UnknownSystemFolderTest,
                         ::testing::Values(LookUpCase{"LookUpFails", 0},
                                           LookUpCase{"FolderLongerThanTheBuffer", MAX_PATH + 40}),
                         [](const ::testing::TestParamInfo<LookUpCase>& info) {
                             return std::string(info.param.name);
                         });

BOOL WINAPI RefuseToCreateProcess(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                  BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                  LPPROCESS_INFORMATION) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

TEST_F(TarToolCallsTest, AToolThatCannotBeStartedFailsTheUnpacking) {
    EXPECT_FALSE(
        UnpackWith([](TarToolCalls& calls) { calls.createProcess = RefuseToCreateProcess; }));
    EXPECT_EQ(error_, L"The download could not be unpacked.");
    EXPECT_TRUE(fs::is_empty(destination_));
}

} // namespace
