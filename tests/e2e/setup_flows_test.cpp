// The real MovoraSetup.exe from end to end: what its window draws and what
// lands on disk, in the registry and in the process list, driven by real keys
// and clicks on the virtual display.
#include "install/locations.h"
#include "shell/window/palette.h"
#include "system/uninstall_entry.h"
#include "tests/e2e/flow_fixture.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace testing_support;
using namespace install_testing;
using namespace system_testing;
using namespace e2e_testing;

namespace {

// Every status text of an install, in the order the sequence sets them.
const std::vector<std::wstring> kInstallStatuses = {L"Looking up the current version.",
                                                    L"Ready to install.",
                                                    L"Downloading",
                                                    L"Checking the download",
                                                    L"Installing",
                                                    L"Closing Movora",
                                                    L"Movora is installed."};

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0;
}

// The app started by the setup program: one process of the installed
// executable, other than skip, running in the app folder.
void ExpectAppStartedFromItsFolder(DWORD skip = 0) {
    DWORD app = 0;
    const ULONGLONG deadline = GetTickCount64() + kFlowTimeoutMs;
    while (GetTickCount64() < deadline) {
        const std::vector<DWORD> ids = FindProcessesByImage(AppExePath());
        if (ids.size() == 1 && ids.front() != skip) {
            app = ids.front();
            break;
        }
        Sleep(50);
    }
    ASSERT_NE(app, 0u) << "the app was not started";
    EXPECT_TRUE(SamePath(GetProcessCurrentDirectory(app), AppFolderPath() + L"\\"))
        << Narrow(GetProcessCurrentDirectory(app));
}

using EndToEndTest = SetupFlowTest;

TEST_F(EndToEndTest, FreshInstallFromTheCheckToOpeningTheApp) {
    const TestRelease release = MakeRelease("2.1.0", Layout::OneFolderDown);
    // Half the package, then a pause: the window is seen part-way.
    ScriptedResponse package;
    package.body = ZipBytes(release.entries);
    package.stallAfter = package.body.size() / 2;
    package.stallMs = 4000;
    const std::string packagePath = ServeRelease(release, package);
    ASSERT_NO_FATAL_FAILURE(StartSetup());

    ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Ready to install."));
    EXPECT_EQ(Shown(kModeWordRect), L"INSTALL");
    EXPECT_EQ(Shown(kHeadlineRect), L"Movora");
    EXPECT_EQ(Shown(kVersionRect), L"Version 2.1.0");
    EXPECT_EQ(Shown(kButtonRect), L"Install");
    EXPECT_TRUE(ButtonLooksEnabled(Shot("ready")));
    EXPECT_EQ(RequestsFor(packagePath), 0) << "the check downloaded the package";

    PressKey("Return");
    ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Downloading"));
    // The pause has begun once half the package is on disk.
    ASSERT_TRUE(WaitForDownloadedBytes(package.stallAfter));
    Sleep(200); // the window takes status changes at most every 33 ms
    const Screenshot working = Shot("working");
    EXPECT_EQ(Shown(kButtonRect), L"Working");
    EXPECT_FALSE(ButtonLooksEnabled(working));
    EXPECT_EQ(working.Pixel(kButtonRect.left + 2, kButtonRect.top + 2), colours::kDisabled);
    // Half of the 424-pixel track, as the percentage truncates.
    EXPECT_NEAR(ProgressFillWidth(working), 212, 5);

    ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Movora is installed."));
    EXPECT_EQ(Shown(kHeadlineRect), L"Ready");
    EXPECT_EQ(Shown(kButtonRect), L"Open Movora");
    const Screenshot done = Shot("done");
    EXPECT_EQ(ProgressFillWidth(done), kProgressTrackRect.right - kProgressTrackRect.left);
    EXPECT_TRUE(ButtonLooksEnabled(done));
    const std::vector<std::wstring> statuses = TextsDrawnIn(Drawn(), kStatusRect);
    EXPECT_TRUE(InOrderWithin(statuses, kInstallStatuses)) << Describe(statuses);
    for (const wchar_t* step : {L"Downloading", L"Installing"}) {
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), step), statuses.end())
            << Narrow(step) << " never shown: " << Describe(statuses);
    }

    // Installed, registered, and the setup copy is this program.
    EXPECT_EQ(DigestTree(AppFolder()), release.expectedApp);
    EXPECT_EQ(ReadRegistryValue(kUninstallEntryKey, L"DisplayVersion").Text(), L"2.1.0");
    EXPECT_TRUE(ReadFileBytes(Root(L"MovoraSetup.exe")) == ReadFileBytes(exe_));
    EXPECT_EQ(PackageFilesInTemp(), std::vector<std::wstring>()) << "the package stayed";

    ClickPrimaryButton();
    EXPECT_EQ(WaitForSetupExit(), 0u);
    EXPECT_FALSE(IsWindow(window_));
    ExpectAppStartedFromItsFolder();
}

TEST_F(EndToEndTest, UpdateModeReplacesTheRunningAppWithoutAClick) {
    InstallEarlier(MakeRelease("1.0.0", Layout::Top));
    // The old app takes a moment to quit, so the window shows that step.
    WriteFileBytes(Root(L"app\\Movora.variant"), "exit-delay-ms 800\n");
    StartedProcess oldApp = StartApp(AppExePath());
    ASSERT_TRUE(oldApp.process);
    const TestRelease release = MakeRelease("2.0.0", Layout::Top);
    ServeRelease(release);

    ASSERT_NO_FATAL_FAILURE(StartSetup(L" --update"));
    if (WaitUntilShown(kStatusRect, L"Closing Movora")) {
        Shot("closing");
    }
    EXPECT_EQ(WaitForSetupExit(), 0u) << "the window did not close by itself";
    EXPECT_FALSE(IsWindow(window_));

    // Asked through its pipe, the app quits with 0; a terminated one ends with 1.
    EXPECT_EQ(WaitForExitCode(oldApp.process.get(), 0), 0u) << "the old app was not asked to quit";
    ExpectAppStartedFromItsFolder(oldApp.id);
    EXPECT_EQ(DigestTree(AppFolder()), release.expectedApp) << "not the new release";
    EXPECT_EQ(ReadRegistryValue(kUninstallEntryKey, L"DisplayVersion").Text(), L"2.0.0");

    EXPECT_EQ(Shown(kModeWordRect), L"UPDATE");
    const std::vector<std::wstring> statuses = TextsDrawnIn(Drawn(), kStatusRect);
    EXPECT_TRUE(InOrderWithin(statuses, kInstallStatuses)) << Describe(statuses);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), L"Closing Movora"), statuses.end())
        << Describe(statuses);
    // It never waited at "Ready" for a click.
    const std::vector<std::wstring> buttons = TextsDrawnIn(Drawn(), kButtonRect);
    EXPECT_EQ(std::find(buttons.begin(), buttons.end(), L"Update"), buttons.end())
        << Describe(buttons);
}

TEST_F(EndToEndTest, UninstallThroughTheRegisteredCommand) {
    const RestartOperationsGuard restart;
    ASSERT_TRUE(restart.usable()) << "Wine keeps deletions at restart under HKLM";
    InstallEarlier(MakeRelease("2.0.0", Layout::Top));
    ASSERT_TRUE(CopyFileW(exe_.c_str(), Root(L"MovoraSetup.exe").c_str(), FALSE));
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(app.process);

    ASSERT_NO_FATAL_FAILURE(StartRegisteredUninstall());

    ASSERT_TRUE(WaitUntilShown(kButtonRect, L"Uninstall"));
    EXPECT_EQ(Shown(kStatusRect), L"");
    EXPECT_EQ(Shown(kModeWordRect), L"UNINSTALL");
    EXPECT_EQ(Shown(kHeadlineRect), L"Movora");
    EXPECT_TRUE(ButtonLooksEnabled(Shot("ready")));

    ClickPrimaryButton();
    ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Movora has been removed."));
    EXPECT_EQ(Shown(kHeadlineRect), L"Removed");
    EXPECT_EQ(Shown(kButtonRect), L"Close");
    EXPECT_TRUE(ButtonLooksEnabled(Shot("removed")));

    EXPECT_EQ(WaitForExitCode(app.process.get(), 0), 0u) << "the app was not asked to quit";
    EXPECT_FALSE(fs::exists(InstallRootPath()));
    EXPECT_FALSE(RegistryKeyExists(kUninstallEntryKey));
    EXPECT_FALSE(fs::exists(ProgramsFolder() + L"\\Movora.lnk"));
    // The temporary copy, and only it, goes at the next restart.
    const std::vector<RestartOperation> added = restart.Added();
    ASSERT_EQ(added.size(), 1u) << DescribeRestartOperations(added);
    EXPECT_TRUE(SamePath(added[0].first, L"\\??\\" + GetUninstallCopyPath()))
        << DescribeRestartOperations(added);
    EXPECT_EQ(added[0].second, L"") << "a deletion has no target";

    ClickPrimaryButton();
    EXPECT_EQ(WaitForSetupExit(), 0u);
    EXPECT_FALSE(IsWindow(window_));
}

// A job that fails, shown as "Stopped" with its sentence in the error colour,
// and "Try again" repeating that job once the server is mended.
struct FailureCase {
    const char* name;
    bool duringInstall; // false: the check fails
    const wchar_t* sentence;
};

void PrintTo(const FailureCase& c, std::ostream* out) {
    *out << c.name;
}

class FailureTest : public SetupFlowTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, ShowsStoppedAndTryAgainRepeatsTheFailedJob) {
    const FailureCase& c = GetParam();
    const TestRelease release = MakeRelease("3.0.0", Layout::Top);
    std::string packagePath;
    if (c.duringInstall) {
        // A list whose checksum the package does not match.
        packagePath = ServeRelease(release);
        ServeList(release.version, packagePath, std::string(64, '0'));
    } // else: no list at all, so the check meets a 404

    ASSERT_NO_FATAL_FAILURE(StartSetup());
    if (c.duringInstall) {
        ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Ready to install."));
        PressKey("Return");
    }
    ASSERT_TRUE(WaitUntilShown(kStatusRect, c.sentence));
    EXPECT_EQ(Shown(kHeadlineRect), L"Stopped");
    EXPECT_EQ(Shown(kButtonRect), L"Try again");
    const Screenshot failed = Shot("failed");
    EXPECT_GT(failed.Count(kStatusRect, colours::kError), 0) << "the sentence is not in red";
    EXPECT_EQ(failed.Count(kStatusRect, colours::kMid), 0);
    EXPECT_TRUE(ButtonLooksEnabled(failed));

    packagePath = ServeRelease(release);
    const int listsBefore = RequestsFor(kListPath);
    const int packagesBefore = RequestsFor(packagePath);
    ClickPrimaryButton();
    if (c.duringInstall) {
        ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Movora is installed."));
        EXPECT_EQ(RequestsFor(packagePath), packagesBefore + 1);
        EXPECT_EQ(DigestTree(AppFolder()), release.expectedApp);
    } else {
        ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Ready to install."));
        EXPECT_EQ(RequestsFor(packagePath), 0) << "a failed check must not install";
        EXPECT_FALSE(fs::exists(AppFolder()));
    }
    // The repeated job read the list once more.
    EXPECT_EQ(RequestsFor(kListPath), listsBefore + 1);
    const Screenshot after = Shot("after-try-again");
    EXPECT_EQ(after.Count(kStatusRect, colours::kError), 0);
    EXPECT_GT(after.Count(kStatusRect, colours::kMid), 0);

    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, FailureTest,
    ::testing::Values(FailureCase{"CheckFails", false, L"The server returned an error."},
                      FailureCase{"InstallFails", true,
                                  L"The download did not match its checksum."}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(EndToEndTest, ClosingDuringADownloadEndsTheProcessPromptlyWithNothingLeft) {
    // About 80 KB a second: the download is far from done when the window closes.
    ScriptedResponse slow;
    slow.body = PatternBytes(8 * 1024 * 1024);
    slow.chunkSize = 8192;
    slow.pauseBetweenPiecesMs = 100;
    ServeRelease(MakeRelease("4.0.0", Layout::Top), slow);
    ASSERT_NO_FATAL_FAILURE(StartSetup());
    ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Ready to install."));
    PressKey("Return");
    ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Downloading"));
    ASSERT_TRUE(WaitForDownloadedBytes(1));
    Shot("downloading");

    Click(POINT{(kCloseBoxRect.left + kCloseBoxRect.right) / 2,
                (kCloseBoxRect.top + kCloseBoxRect.bottom) / 2});
    // Promptly: the rest of the download would take about 100 s. Hiding a
    // window alone takes about 2 s under Wine without a window manager.
    EXPECT_EQ(WaitForSetupExit(20000), 0u);
    EXPECT_EQ(PackageFilesInTemp(), std::vector<std::wstring>()) << "the package file stayed";
    EXPECT_FALSE(fs::exists(AppFolder()));
}

} // namespace
