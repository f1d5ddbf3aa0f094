// The package is held from before its checksum until the tar tool has
// finished: another process of the same account (file_tamperer.exe) that
// tries to write, rename, delete or replace it at any moment in between is
// refused, and the release installed is the one that was checked.
#include "install/locations.h"
#include "shell/app_state.h"
#include "tests/install/sequence_fixture.h"
#include "tests/support/tar_standin.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

namespace fs = std::filesystem;
using namespace install_testing;
using namespace testing_support;

namespace {

const char* const kWays[] = {"write", "rename", "delete", "replace"};

// What file_tamperer reported: way -> 0 when it worked, else the Windows error.
std::map<std::string, DWORD> ReadReport(const std::wstring& path) {
    std::map<std::string, DWORD> report;
    std::istringstream lines(ReadFileBytes(path));
    std::string way;
    DWORD error = 0;
    while (lines >> way >> error) {
        report[way] = error;
    }
    return report;
}

// The tamperer run at the status text g_tamperAt, on the thread that sets it
// (RunInstall's), which waits for it: the sequence stands still meanwhile.
std::wstring g_tamperCommand;
std::wstring g_tamperAt;
bool g_tampered = false;

void TamperAtStatus(const std::wstring& message) {
    if (message != g_tamperAt || g_tampered) {
        return;
    }
    g_tampered = true;
    const StartedProcess tamperer = StartProcess(g_tamperCommand);
    EXPECT_EQ(WaitForExitCode(tamperer.process.get(), 60000), 0u) << "the tamperer failed";
}

enum class Moment { AtStatus, WhileTheTarToolRuns };

struct MomentCase {
    const char* name;
    Moment moment;
    const wchar_t* status; // Moment::AtStatus: the status text to act at
};

void PrintTo(const MomentCase& c, std::ostream* out) {
    *out << c.name;
}

class PackageHoldTest : public SequenceTest {
  protected:
    void SetUp() override {
        SequenceTest::SetUp();
        release_ = MakeRelease("2.0", Layout::Top);
        Publish(release_);
        // What the other process would rather have installed.
        WriteZip(replacement_, MakeRelease("6.6", Layout::Top).entries);
    }
    void TearDown() override {
        SetStatusObserver(nullptr);
        SetEnvironmentVariableW(L"MOVORA_TAR_STANDIN_FIRST", nullptr);
        SequenceTest::TearDown();
    }

    std::wstring TamperCommand(const std::wstring& file) const {
        return L"\"" + BuiltProgram(L"file_tamperer.exe") + L"\" \"" + file + L"\" \"" +
               replacement_ + L"\" \"" + report_ + L"\"";
    }

    TestRelease release_;
    TempFolder temp_;
    const std::wstring replacement_ = temp_ / L"someone else's.zip";
    const std::wstring report_ = temp_ / L"report.txt";
};

// The tamperer itself: on a file nobody holds, every way works, so a refusal
// below is the hold's doing.
TEST_F(PackageHoldTest, EveryWayWorksOnAFileNobodyHolds) {
    const std::wstring file = temp_ / L"Movora-2.0.zip";
    WriteZip(file, release_.entries);
    const StartedProcess tamperer = StartProcess(TamperCommand(file));
    ASSERT_EQ(WaitForExitCode(tamperer.process.get(), 60000), 0u);
    const std::map<std::string, DWORD> report = ReadReport(report_);
    for (const char* way : kWays) {
        ASSERT_EQ(report.count(way), 1u) << way;
        EXPECT_EQ(report.at(way), 0u) << way;
    }
    EXPECT_EQ(ReadFileBytes(file), ReadFileBytes(replacement_));
}

class HeldPackageTest : public PackageHoldTest, public ::testing::WithParamInterface<MomentCase> {};

TEST_P(HeldPackageTest, AnotherProcessCannotChangeIt) {
    const MomentCase& c = GetParam();
    const std::wstring command = TamperCommand(GetPackageFilePath(L"2.0"));
    if (c.moment == Moment::WhileTheTarToolRuns) {
        if (!RunningUnderWine()) {
            GTEST_SKIP() << "the system's own tar tool has no hook";
        }
        ASSERT_TRUE(SetEnvironmentVariableW(L"MOVORA_TAR_STANDIN_FIRST", command.c_str()));
    } else {
        g_tamperCommand = command;
        g_tamperAt = c.status;
        g_tampered = false;
        SetStatusObserver(TamperAtStatus);
    }

    EXPECT_TRUE(Install()) << testing_support::Utf8Text(error_);

    const std::map<std::string, DWORD> report = ReadReport(report_);
    for (const char* way : kWays) {
        ASSERT_EQ(report.count(way), 1u) << "the tamperer did not run, or not to the end: " << way;
        EXPECT_NE(report.at(way), 0u) << "another process could " << way << " the package";
    }
    ExpectInstalled(release_);
    EXPECT_EQ(PackageFilesInTemp(), std::vector<std::wstring>()) << "the package stayed";
}

INSTANTIATE_TEST_SUITE_P(
    Moments, HeldPackageTest,
    ::testing::Values(MomentCase{"BeforeTheChecksum", Moment::AtStatus, L"Checking the download"},
                      MomentCase{"BetweenTheChecksumAndTheTarTool", Moment::AtStatus,
                                 L"Installing"},
                      MomentCase{"WhileTheTarToolRuns", Moment::WhileTheTarToolRuns, L""}),
    [](const ::testing::TestParamInfo<MomentCase>& info) { return std::string(info.param.name); });

} // namespace
