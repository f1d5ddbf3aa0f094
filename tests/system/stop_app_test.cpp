// StopRunningApp and its parts, with real stand-in app processes, the real
// quit pipe and real file handles.
#include "system/stop_app.h"

#include "install/paths.h"
#include "shell/app_state.h"
#include "tests/system/system_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

namespace fs = std::filesystem;
using namespace system_testing;
using testing_support::StartedProcess;
using testing_support::WaitForExitCode;

namespace {

class StopRunningAppTest : public SystemTest {
  protected:
    // Seconds since start, for the generous bounds the poll schedule defines.
    static double SecondsSince(ULONGLONG start) {
        return static_cast<double>(GetTickCount64() - start) / 1000.0;
    }
};

TEST_F(StopRunningAppTest, NoExecutableIsTrueAtOnceWithoutStatusOrPipe) {
    MarkStatus();
    PipeListener listener;
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(StopRunningApp(AppExePath()));
    EXPECT_LT(SecondsSince(start), 0.2);
    EXPECT_EQ(StatusText(), L"untouched");
    EXPECT_EQ(StatusPercent(), 7);
    EXPECT_FALSE(listener.Connected(200)) << "a quit message went out with nothing installed";
}

TEST_F(StopRunningAppTest, AppNotRunningSendsQuitOnceAndIsTrueAtTheFirstPoll) {
    PlaceApp(AppExePath());
    PipeListener listener;
    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(StopRunningApp(AppExePath()));
    EXPECT_LT(SecondsSince(start), 0.2) << "the first poll should answer without a wait";
    EXPECT_EQ(StatusText(), L"Closing Movora");
    EXPECT_EQ(StatusPercent(), 100);
    ASSERT_TRUE(listener.Connected(1000));
    // Exactly the four letters: no terminator, no length, no line end.
    EXPECT_EQ(listener.ReadAll(), "quit");
}

// Whether this platform passes a client's chosen level on to the pipe server:
// a client that asks for anonymity must then be seen as anonymous.
bool PlatformHonoursClientLevel() {
    PipeListener listener;
    UniqueHandle client(CreateFileW(L"\\\\.\\pipe\\MovoraInstance", GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, SECURITY_SQOS_PRESENT | SECURITY_ANONYMOUS,
                                    nullptr));
    DWORD written = 0;
    WriteFile(client.get(), "x", 1, &written, nullptr);
    client.reset();
    listener.ReadAll();
    SECURITY_IMPERSONATION_LEVEL level = SecurityDelegation;
    return listener.ClientImpersonationLevel(level) && level == SecurityAnonymous;
}

TEST_F(StopRunningAppTest, QuitPipeIsOpenedAtIdentificationLevel) {
    if (!PlatformHonoursClientLevel()) {
        GTEST_SKIP() << "this platform ignores the level a pipe client asks for";
    }
    PipeListener listener;
    SendQuitMessage();
    ASSERT_TRUE(listener.Connected(1000));
    EXPECT_EQ(listener.ReadAll(), "quit");
    SECURITY_IMPERSONATION_LEVEL level = SecurityDelegation;
    ASSERT_TRUE(listener.ClientImpersonationLevel(level));
    EXPECT_EQ(level, SecurityIdentification);
}

// A cancel is a window going away: the user's running app must not pay for
// it. The stand-in quits soon after it reads "quit".
TEST_F(StopRunningAppTest, CancelAlreadyRaisedLeavesTheRunningAppAlone) {
    PlaceApp(AppExePath());
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(app.process);
    MarkStatus();
    g_app.cancelRequested = true;

    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(StopRunningApp(AppExePath()));
    EXPECT_LT(SecondsSince(start), 1.0);
    EXPECT_EQ(StatusText(), L"untouched");
    EXPECT_EQ(WaitForSingleObject(app.process.get(), 2000), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the app was asked to quit or ended";
}

// How a running app reacts to "quit", and what StopRunningApp must do about it.
struct RunningCase {
    const char* name;
    std::vector<std::string> variant;
    DWORD expectedExitCode; // 0: it quit by itself; 1: it was terminated
    double minSeconds;
    double maxSeconds;
};

void PrintTo(const RunningCase& c, std::ostream* out) {
    *out << c.name;
}

class RunningAppTest : public StopRunningAppTest,
                       public ::testing::WithParamInterface<RunningCase> {};

TEST_P(RunningAppTest, EndsTheAppAndFindsTheFileFree) {
    const RunningCase& c = GetParam();
    PlaceApp(AppExePath(), c.variant);
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(app.process);

    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(StopRunningApp(AppExePath()));
    const double seconds = SecondsSince(start);
    EXPECT_EQ(WaitForExitCode(app.process.get(), 0), c.expectedExitCode);
    EXPECT_GE(seconds, c.minSeconds);
    EXPECT_LE(seconds, c.maxSeconds);
    EXPECT_TRUE(IsFileFree(AppExePath()));
}

INSTANTIATE_TEST_SUITE_P(Apps, RunningAppTest,
                         ::testing::Values(
                             // Honours "quit" at once: nothing is terminated.
                             RunningCase{"HonoursQuit", {}, 0, 0.0, 2.5},
                             // Takes most of a second to exit: still its own exit, no termination.
                             RunningCase{"SlowToExit", {"exit-delay-ms 800"}, 0, 0.8, 2.9},
                             // Ignores "quit": terminated at the 13th poll, about 3 s in.
                             RunningCase{"IgnoresQuit", {"ignore-quit"}, 1, 2.0, 10.0}),
                         [](const ::testing::TestParamInfo<RunningCase>& info) {
                             return info.param.name;
                         });

TEST_F(StopRunningAppTest, HelperProcessFromTheAppFolderIsTerminatedToo) {
    // The app starts a helper from a folder below its own; the helper serves
    // no pipe and so never hears "quit", while the app itself quits.
    const std::wstring helperExe = AppFolderPath() + L"\\tools\\MovoraHelper.exe";
    PlaceApp(AppExePath(), {"start tools\\MovoraHelper.exe"});
    PlaceApp(helperExe, {"no-pipe", "no-window"});
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(app.process);
    std::vector<DWORD> helpers;
    for (int i = 0; i < 100 && helpers.empty(); ++i) {
        helpers = testing_support::FindProcessesByImage(helperExe);
        Sleep(50);
    }
    ASSERT_EQ(helpers.size(), 1u);
    UniqueHandle helper(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, helpers[0]));
    ASSERT_TRUE(helper);

    const ULONGLONG start = GetTickCount64();
    EXPECT_TRUE(StopRunningApp(AppExePath()));
    EXPECT_GE(SecondsSince(start), 2.0);
    EXPECT_EQ(WaitForExitCode(app.process.get(), 0), 0u);
    EXPECT_EQ(WaitForExitCode(helper.get(), 0), 1u);
}

TEST_F(StopRunningAppTest, SiblingFoldersAreNeverTouched) {
    // The app ignores "quit", so the forced stop happens while copies run from
    // "app.previous" and from "apps", whose names merely begin with "app".
    PlaceApp(AppExePath(), {"ignore-quit"});
    const std::wstring siblings[] = {InstallRootPath() + L"\\app.previous\\Movora.exe",
                                     InstallRootPath() + L"\\apps\\Movora.exe"};
    std::vector<StartedProcess> others;
    for (const std::wstring& exe : siblings) {
        PlaceApp(exe, {"no-pipe", "no-window"});
        others.push_back(StartApp(exe, false));
        ASSERT_TRUE(others.back().process);
    }
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(app.process);

    const std::vector<DWORD> found = FindAppProcesses(AppFolderPath());
    EXPECT_EQ(found, std::vector<DWORD>{app.id});

    EXPECT_TRUE(StopRunningApp(AppExePath()));
    EXPECT_EQ(WaitForExitCode(app.process.get(), 0), 1u);
    for (const StartedProcess& other : others) {
        EXPECT_EQ(WaitForExitCode(other.process.get(), 0), static_cast<DWORD>(STILL_ACTIVE));
    }
}

// A release carries the setup program in its app folder; a copy started from
// there finds the app running beside it, but never itself. This test program
// stands in for that copy: the stand-in app is built into its own folder.
TEST_F(StopRunningAppTest, TheSetupProgramNeverCountsItselfAsTheApp) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::wstring ownFolder = ParentPath(std::wstring(buffer, length));
    StartedProcess beside = StartApp(ownFolder + L"\\Movora.exe", false);
    ASSERT_TRUE(beside.process);

    const std::vector<DWORD> found = FindAppProcesses(ownFolder);
    TerminateProcess(beside.process.get(), 0);
    WaitForExitCode(beside.process.get(), 5000);
    EXPECT_EQ(found, std::vector<DWORD>{beside.id});
}

TEST_F(StopRunningAppTest, FileHeldOutsideTheAppFolderGivesUpAfterAboutTwentySeconds) {
    PlaceApp(AppExePath());
    // A copy in a sibling folder stays running: proof that nothing was terminated.
    const std::wstring bystanderExe = InstallRootPath() + L"\\app.previous\\Movora.exe";
    PlaceApp(bystanderExe, {"no-pipe", "no-window"});
    StartedProcess bystander = StartApp(bystanderExe, false);
    ASSERT_TRUE(bystander.process);
    // This test process, outside the app folder, holds the executable open.
    UniqueHandle holder = HoldOpen(AppExePath());
    ASSERT_TRUE(Valid(holder));

    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(StopRunningApp(AppExePath()));
    const double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 17.0);
    EXPECT_LE(seconds, 40.0);
    EXPECT_EQ(WaitForExitCode(bystander.process.get(), 0), static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_TRUE(fs::exists(AppExePath()));
}

// The cancel flag is read in the second phase too. A helper that comes back
// after the first forced stop is ended only by the second, which marks the
// start of the second phase; the executable, held from outside the app folder,
// keeps that phase polling until the cancel is seen.
TEST_F(StopRunningAppTest, CancelDuringTheSecondPhaseIsFalseWithinOnePoll) {
    PlaceApp(AppExePath());
    const std::wstring helperExe = AppFolderPath() + L"\\tools\\MovoraHelper.exe";
    PlaceApp(helperExe, {"no-pipe", "no-window"});
    UniqueHandle holder = HoldOpen(AppExePath());
    ASSERT_TRUE(Valid(holder));
    StartedProcess first = StartApp(helperExe, false);
    ASSERT_TRUE(first.process);

    std::promise<bool> stopped;
    std::future<bool> result = stopped.get_future();
    std::thread worker([&] { stopped.set_value(StopRunningApp(AppExePath())); });
    // Whatever happens below, the call ends (a cancel is seen at once, or it
    // gives up by itself) and the worker is joined.
    ScopeExit join([&] {
        g_app.cancelRequested = true;
        worker.join();
    });

    ASSERT_EQ(WaitForExitCode(first.process.get(), 10000), 1u)
        << "the first forced stop did not come";
    StartedProcess second = StartApp(helperExe, false);
    ASSERT_TRUE(second.process);
    ASSERT_EQ(WaitForExitCode(second.process.get(), 30000), 1u)
        << "the forced stop after the first phase did not come";

    g_app.cancelRequested = true;
    // One poll is a 250 ms wait and a process snapshot; the twenty polls left
    // would take five seconds.
    const bool ended =
        result.wait_for(std::chrono::milliseconds(1500)) == std::future_status::ready;
    ASSERT_TRUE(ended) << "the cancel was not seen at the next poll";
    EXPECT_FALSE(result.get());
}

TEST_F(StopRunningAppTest, ProcessImagePathIsTheFullPathOrEmpty) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_EQ(_wcsicmp(GetProcessImagePath(GetCurrentProcessId()).c_str(), self), 0);
    // Process ids are multiples of 4: this one never names a process.
    EXPECT_EQ(GetProcessImagePath(0x7FFFFFF3u), L"");
}

TEST_F(StopRunningAppTest, TerminateProcessesEndsListedIdsAndPassesOverTheRest) {
    PlaceApp(AppExePath(), {"ignore-quit"});
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(app.process);
    TerminateProcesses({0x7FFFFFF3u, app.id}, AppFolderPath());
    EXPECT_EQ(WaitForExitCode(app.process.get(), 0), 1u);
}

TEST_F(StopRunningAppTest, TerminateProcessesSparesAListedProcessThatRunsFromElsewhere) {
    // An id listed a moment ago may by now name an unrelated program of the
    // user: only a process whose image lies in the app folder is ended.
    testing_support::TempFolder elsewhere;
    const std::wstring otherExe = elsewhere / L"Other.exe";
    PlaceApp(otherExe, {"no-pipe"});
    PlaceApp(AppExePath(), {"ignore-quit"});
    StartedProcess other = StartApp(otherExe);
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(other.process);
    ASSERT_TRUE(app.process);

    TerminateProcesses({other.id, app.id}, AppFolderPath());
    EXPECT_EQ(WaitForExitCode(app.process.get(), 0), 1u);
    EXPECT_EQ(WaitForExitCode(other.process.get(), 500), STILL_ACTIVE) << "ended from elsewhere";
    testing_support::KillProcess(other.id);
}

// IsFileFree answers "is someone holding it?", not "may I write it?".
class IsFileFreeTest : public SystemTest {
  protected:
    testing_support::TempFolder folder_;
};

TEST_F(IsFileFreeTest, AnswersForFilesThatAreFreeOrHeld) {
    const std::wstring file = folder_ / L"file.bin";
    testing_support::WriteFileBytes(file, "data");
    EXPECT_TRUE(IsFileFree(folder_ / L"missing.bin"));
    EXPECT_TRUE(IsFileFree(file));
    {
        UniqueHandle reader(CreateFileW(file.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(Valid(reader));
        EXPECT_FALSE(IsFileFree(file)) << "any open handle makes the file busy";
    }
    EXPECT_TRUE(IsFileFree(file));
}

TEST_F(IsFileFreeTest, ReadOnlyFileIsFreeUnlessHeld) {
    const std::wstring file = folder_ / L"Movora.exe";
    testing_support::WriteFileBytes(file, "MZ");
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(IsFileFree(file));
    UniqueHandle reader = HoldOpen(file);
    ASSERT_TRUE(Valid(reader));
    EXPECT_FALSE(IsFileFree(file));
}

TEST_F(IsFileFreeTest, RefusalOtherThanSharingCountsAsFree) {
    // Windows refuses to open a folder as a file with "access denied": no one
    // holds it, so it must not block an update or uninstall for ever.
    const std::wstring notAFile = folder_ / L"Movora.exe";
    fs::create_directory(notAFile);
    const HANDLE probe = CreateFileW(notAFile.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_EQ(probe, INVALID_HANDLE_VALUE);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(IsFileFree(notAFile));
}

TEST_F(IsFileFreeTest, RunningExecutableIsNotFree) {
    PlaceApp(AppExePath());
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(app.process);
    EXPECT_FALSE(IsFileFree(AppExePath()));
}

} // namespace
