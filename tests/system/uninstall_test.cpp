// RunUninstall over a real install root, registry, shortcuts and processes.
#include "system/uninstall.h"

#include "install/fs_calls.h"
#include "shell/app_state.h"
#include "system/autostart.h"
#include "system/shortcuts.h"
#include "system/uninstall_entry.h"
#include "tests/support/lock_holder.h"
#include "tests/support/scanner.h"
#include "tests/system/system_fixture.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace system_testing;
using testing_support::StartedProcess;

namespace {

class UninstallTest : public ComSystemTest {
  protected:
    std::wstring Root(const std::wstring& relative) { return InstallRootPath() + L"\\" + relative; }

    void MakeFile(const std::wstring& relative) {
        const fs::path path = Root(relative);
        fs::create_directories(path.parent_path());
        testing_support::WriteFileBytes(path.wstring(), "data");
    }

    // What an install and the app leave behind: the app and its folders, the
    // data, the setup copies, an entry the list does not name, the shortcuts,
    // the Uninstall entry and the autostart value.
    void InstallEverything(const std::vector<std::string>& appVariant = {}) {
        PlaceApp(AppExePath(), appVariant);
        for (const wchar_t* file :
             {L"app\\lib\\codec.dll", L"staging\\pkg\\Movora.exe", L"app.previous\\Movora.exe",
              L"logs\\a.log", L"logs\\b.log", L"buffer\\clip.bin", L"thumbnails\\t.png",
              L"clipmeta\\m.json", L"settings.json", L"MovoraSetup.exe", L"MovoraSetup.exe.old",
              L"MovoraSetup.old", L"MovoraSetup.new", L"extra.txt", L"extra folder\\y.txt"}) {
            MakeFile(file);
        }
        CreateAppShortcut(AppExePath());
        WriteUninstallEntry(AppExePath(), Root(L"MovoraSetup.exe"), L"1.0.0");
        WriteRegistryString(kRunKey, kAutostartValueName, L"\"" + AppExePath() + L"\"");
        ASSERT_TRUE(fs::exists(ProgramsFolder() + L"\\Movora.lnk"));
        ASSERT_TRUE(RegistryKeyExists(kUninstallEntryKey));
    }

    // Everything InstallEverything made is still there.
    void ExpectNothingRemoved() {
        for (const wchar_t* file : {L"app\\Movora.exe", L"app\\lib\\codec.dll", L"logs\\a.log",
                                    L"settings.json", L"MovoraSetup.exe", L"extra.txt"}) {
            EXPECT_TRUE(fs::exists(Root(file))) << fs::path(file).string();
        }
        EXPECT_TRUE(fs::exists(ProgramsFolder() + L"\\Movora.lnk"));
        EXPECT_TRUE(fs::exists(DesktopFolder() + L"\\Movora.lnk"));
        EXPECT_TRUE(ReadRegistryValue(kRunKey, kAutostartValueName).found);
        EXPECT_TRUE(RegistryKeyExists(kUninstallEntryKey));
    }

    // Puts a folder with a file held open inside in the executable's place:
    // nothing runs and nothing holds "Movora.exe" itself, yet it outlives the
    // removals. The returned handle holds the file.
    UniqueHandle TakeTheExecutablesName() {
        RemoveTestTree(AppExePath());
        MakeFile(L"app\\Movora.exe\\held.bin");
        return HoldOpen(Root(L"app\\Movora.exe\\held.bin"));
    }

    void ExpectRegistrationGone() {
        EXPECT_FALSE(fs::exists(ProgramsFolder() + L"\\Movora.lnk"));
        EXPECT_FALSE(fs::exists(DesktopFolder() + L"\\Movora.lnk"));
        EXPECT_FALSE(ReadRegistryValue(kRunKey, kAutostartValueName).found);
    }
};

TEST_F(UninstallTest, NothingInstalledRemovesTheEntryAndSucceeds) {
    WriteUninstallEntry(AppExePath(), Root(L"MovoraSetup.exe"), L"1.0.0");
    RemoveTestTree(InstallRootPath());
    const RestartOperationsGuard restart;
    std::wstring message = L"kept";

    EXPECT_TRUE(RunUninstall(message));
    EXPECT_EQ(message, L"kept");
    EXPECT_EQ(StatusText(), L"Removing Movora");
    EXPECT_EQ(StatusPercent(), 50);
    EXPECT_FALSE(fs::exists(InstallRootPath()));
    EXPECT_FALSE(RegistryKeyExists(kUninstallEntryKey));
    // This test program was started from the build folder, which belongs to
    // neither the install root nor the uninstall copy: it must not be deleted.
    EXPECT_TRUE(restart.Added().empty()) << DescribeRestartOperations(restart.Added());
}

TEST_F(UninstallTest, FullInstallWithTheAppRunningGoesEntirely) {
    InstallEverything();
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(app.process);
    std::wstring message;

    EXPECT_TRUE(RunUninstall(message));
    EXPECT_EQ(message, L"");
    EXPECT_EQ(testing_support::WaitForExitCode(app.process.get(), 0), 0u) << "it should have quit";
    EXPECT_FALSE(fs::exists(InstallRootPath()));
    EXPECT_FALSE(RegistryKeyExists(kUninstallEntryKey));
    ExpectRegistrationGone();
}

TEST_F(UninstallTest, ReadOnlyFilesAreRemovedToo) {
    InstallEverything();
    for (const wchar_t* file : {L"app\\Movora.exe", L"logs\\a.log", L"settings.json"}) {
        ASSERT_TRUE(SetFileAttributesW(Root(file).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    std::wstring message;
    EXPECT_TRUE(RunUninstall(message));
    EXPECT_FALSE(fs::exists(InstallRootPath()));
}

TEST_F(UninstallTest, DataFileHeldOpenInLogsStaysAndTheRestGoes) {
    InstallEverything();
    UniqueHandle holder = HoldOpen(Root(L"logs\\a.log"));
    ASSERT_TRUE(Valid(holder));
    std::wstring message;

    EXPECT_TRUE(RunUninstall(message));
    EXPECT_TRUE(fs::exists(Root(L"logs\\a.log")));
    // Entries after "logs" in the removal list still went.
    for (const wchar_t* gone : {L"app", L"staging", L"app.previous", L"buffer", L"thumbnails",
                                L"clipmeta", L"settings.json", L"MovoraSetup.exe",
                                L"MovoraSetup.exe.old", L"MovoraSetup.old", L"MovoraSetup.new"}) {
        EXPECT_FALSE(fs::exists(Root(gone))) << fs::path(gone).string();
    }
    EXPECT_FALSE(RegistryKeyExists(kUninstallEntryKey));
    ExpectRegistrationGone();
}

TEST_F(UninstallTest, AppThatCannotBeStoppedLeavesEverythingInPlace) {
    InstallEverything();
    // Another program holds the executable: StopRunningApp gives up after ~20 s.
    UniqueHandle holder = HoldOpen(AppExePath());
    ASSERT_TRUE(Valid(holder));
    std::wstring message;

    EXPECT_FALSE(RunUninstall(message));
    EXPECT_EQ(message, L"Movora is still running, so it was not removed.");
    ExpectNothingRemoved();
}

TEST_F(UninstallTest, CancelWhileStoppingRemovesNothing) {
    InstallEverything();
    g_app.cancelRequested = true;
    std::wstring message;
    EXPECT_FALSE(RunUninstall(message));
    EXPECT_EQ(message, L"Cancelled.");
    ExpectNothingRemoved();
}

TEST_F(UninstallTest, SurvivingExecutableFailsAndKeepsTheEntry) {
    InstallEverything();
    UniqueHandle holder = TakeTheExecutablesName();
    ASSERT_TRUE(Valid(holder));
    std::wstring message;

    EXPECT_FALSE(RunUninstall(message));
    EXPECT_EQ(message, L"Some Movora files are still in use.");
    EXPECT_TRUE(RegistryKeyExists(kUninstallEntryKey));
    EXPECT_TRUE(fs::exists(InstallRootPath()));
    EXPECT_FALSE(fs::exists(Root(L"settings.json")));
    ExpectRegistrationGone();
}

TEST_F(UninstallTest, SecondSetupProcessRunningRemovesNothing) {
    InstallEverything();
    StartedProcess holder = testing_support::StartLockHolder();
    ASSERT_TRUE(holder.process);
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(app.process);
    std::wstring message;

    EXPECT_FALSE(RunUninstall(message));
    EXPECT_EQ(message, L"Another Movora setup is running.");
    EXPECT_EQ(testing_support::WaitForExitCode(app.process.get(), 0), STILL_ACTIVE)
        << "the app was asked to quit";
    ExpectNothingRemoved();

    // Its owner gone without releasing it, the lock is free for the next try.
    testing_support::KillProcess(holder.id);
    EXPECT_TRUE(RunUninstall(message)) << fs::path(message).string();
    EXPECT_FALSE(fs::exists(InstallRootPath()));
}

TEST_F(UninstallTest, InstallRootThatCannotBeCreatedFailsWithoutASentence) {
    RemoveTestTree(InstallRootPath());
    testing_support::WriteFileBytes(InstallRootPath(), "a file in the way");
    std::wstring message = L"stale";
    EXPECT_FALSE(RunUninstall(message));
    EXPECT_EQ(message, L"");
    EXPECT_TRUE(fs::is_regular_file(InstallRootPath()));
}

// ---- Files a scanner holds for a moment --------------------------------------

struct HeldMomentCase {
    const char* name;
    const wchar_t* atStatus;
    std::vector<const wchar_t*> held; // below the install root
};

void PrintTo(const HeldMomentCase& c, std::ostream* out) {
    *out << c.name;
}

class HeldMomentTest : public UninstallTest,
                       public ::testing::WithParamInterface<HeldMomentCase> {};

// A second process holds files without delete sharing for about two seconds
// from the moment the sequence shows a status text: the removal waits for
// them and the whole install root goes.
TEST_P(HeldMomentTest, WholeInstallRootStillGoes) {
    const HeldMomentCase& c = GetParam();
    InstallEverything();
    std::vector<std::wstring> held;
    for (const wchar_t* file : c.held) {
        held.push_back(Root(file));
    }
    std::wstring message;
    bool removed = false;
    StartedProcess scanner;
    {
        testing_support::HoldAtStatus hold(c.atStatus, held);
        removed = RunUninstall(message);
        scanner = std::move(hold.scanner());
    }
    ASSERT_TRUE(scanner.process) << "the scanner never took hold";
    EXPECT_TRUE(removed) << fs::path(message).string();
    EXPECT_FALSE(fs::exists(InstallRootPath()));
    EXPECT_FALSE(RegistryKeyExists(kUninstallEntryKey));
    ExpectRegistrationGone();
    EXPECT_EQ(testing_support::WaitForExitCode(scanner.process.get(), 10000), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HeldMomentTest,
    ::testing::Values(HeldMomentCase{"AppDataAndSetupCopy",
                                     L"Removing Movora",
                                     {L"app\\lib\\codec.dll", L"logs\\a.log", L"MovoraSetup.exe"}},
                      // Held while nothing runs from the app folder: no running app.
                      HeldMomentCase{"AppExecutable", L"Closing Movora", {L"app\\Movora.exe"}}),
    [](const ::testing::TestParamInfo<HeldMomentCase>& info) {
        return std::string(info.param.name);
    });

// The index of the removal of the app folder, as the file layer's seam counts
// the calls of one uninstall.
long g_appRemoval = -1;

void FindAppRemoval(long callIndex, const wchar_t* operation, const std::wstring& path) {
    if (g_appRemoval < 0 && std::wstring(operation) == L"remove tree" &&
        _wcsicmp(path.c_str(), AppFolderPath().c_str()) == 0) {
        g_appRemoval = callIndex;
    }
}

// The removal of the app folder refused through the seam: three times with
// each held-file error, then let through, everything goes; refused past the
// time for held files, or refused otherwise (at once, one attempt), the
// executable stays and the sequence says so.
TEST_F(UninstallTest, RefusedAppRemovalWaitsAndReportsOnlyWhenTheTimeIsUp) {
    InstallEverything();
    g_appRemoval = -1;
    file_faults::SetCallObserver(&FindAppRemoval);
    file_faults::Arm(-1, ERROR_SUCCESS);
    std::wstring message;
    EXPECT_TRUE(RunUninstall(message));
    file_faults::SetCallObserver(nullptr);
    ASSERT_GE(g_appRemoval, 0) << "the app folder was not removed as a tree";

    for (const DWORD code : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION}) {
        SCOPED_TRACE("refused three times with error " + std::to_string(code));
        CleanUp();
        InstallEverything();
        file_faults::Arm(g_appRemoval, code, 3);
        message.clear();
        EXPECT_TRUE(RunUninstall(message)) << fs::path(message).string();
        EXPECT_GE(file_faults::AttemptsOfArmedCall(), 4);
        file_faults::Disarm();
        EXPECT_FALSE(fs::exists(InstallRootPath()));
        EXPECT_FALSE(RegistryKeyExists(kUninstallEntryKey));
    }
    for (const DWORD code : {DWORD{ERROR_SHARING_VIOLATION}, DWORD{ERROR_WRITE_PROTECT}}) {
        SCOPED_TRACE("refused for all attempts with error " + std::to_string(code));
        CleanUp();
        InstallEverything();
        file_faults::SetHeldFileRetryMs(100);
        file_faults::Arm(g_appRemoval, code);
        message.clear();
        EXPECT_FALSE(RunUninstall(message));
        EXPECT_EQ(message, L"Some Movora files are still in use.");
        if (code == ERROR_WRITE_PROTECT) {
            EXPECT_EQ(file_faults::AttemptsOfArmedCall(), 1) << "tried again";
        } else {
            EXPECT_GT(file_faults::AttemptsOfArmedCall(), 1);
        }
        file_faults::Disarm();
        file_faults::SetHeldFileRetryMs(kHeldFileRetryMs);
        EXPECT_TRUE(fs::exists(AppExePath()));
        EXPECT_TRUE(RegistryKeyExists(kUninstallEntryKey));
    }
}

// A file held for good keeps the removal waiting; a cancel (the window going
// away) during that wait is seen within a fraction of the time for held files.
TEST_F(UninstallTest, CancelDuringTheWaitForAHeldFileIsSeenPromptly) {
    InstallEverything();
    UniqueHandle holder = HoldOpen(Root(L"logs\\a.log"));
    ASSERT_TRUE(Valid(holder));
    ULONGLONG cancelledAt = 0;
    std::thread closer([&] {
        const ULONGLONG deadline = GetTickCount64() + 60000;
        while (StatusText() != L"Removing Movora" && GetTickCount64() < deadline) {
            Sleep(10);
        }
        Sleep(300);
        cancelledAt = GetTickCount64();
        g_app.cancelRequested = true;
    });
    std::wstring message;
    EXPECT_TRUE(RunUninstall(message)) << fs::path(message).string();
    const ULONGLONG returnedAt = GetTickCount64();
    closer.join();
    ASSERT_GE(returnedAt, cancelledAt) << "the removal gave up before the cancel";
    EXPECT_LT(returnedAt - cancelledAt, 1500u)
        << "the time for held files is " << kHeldFileRetryMs << " ms";
    EXPECT_FALSE(fs::exists(AppExePath()));
}

// RunUninstall in a process started from the setup copy in the install root,
// as when that copy could not hand over to the uninstall copy. Windows (and
// Wine, which runs with administrator rights) records the restart deletion
// under the Session Manager key; what a test adds there is taken out again.
class UninstallFromTheRootTest : public UninstallTest {
  protected:
    void SetUp() override {
        UninstallTest::SetUp();
        if (!restart_.usable()) {
            GTEST_SKIP() << "this account cannot have files deleted at restart";
        }
    }

    // Runs the uninstall from the setup copy; returns its exit code (0
    // removed, 1 "Some Movora files are still in use.", 2 any other failure).
    DWORD RunFromTheSetupCopy() {
        EXPECT_TRUE(CopyFileW(testing_support::BuiltProgram(L"run_uninstall.exe").c_str(),
                              setupCopy_.c_str(), FALSE))
            << "cannot place the setup copy: " << GetLastError();
        StartedProcess child = testing_support::StartProcess(L"\"" + setupCopy_ + L"\"");
        if (!child.process) {
            return STILL_ACTIVE;
        }
        return testing_support::WaitForExitCode(child.process.get(), 60000);
    }

    const std::wstring setupCopy_ = Root(L"MovoraSetup.exe");
    // Puts the restart operations back as they were before the test.
    const RestartOperationsGuard restart_;
};

TEST_F(UninstallFromTheRootTest, FailedUninstallSchedulesNothing) {
    InstallEverything();
    UniqueHandle holder = TakeTheExecutablesName(); // fails the sequence after its removals
    ASSERT_TRUE(Valid(holder));

    ASSERT_EQ(RunFromTheSetupCopy(), 1u);
    EXPECT_TRUE(fs::exists(setupCopy_));
    EXPECT_TRUE(restart_.Added().empty()) << DescribeRestartOperations(restart_.Added());
}

TEST_F(UninstallFromTheRootTest, SuccessfulUninstallSchedulesExactlyTheRunningCopy) {
    InstallEverything();

    ASSERT_EQ(RunFromTheSetupCopy(), 0u);
    const std::vector<RestartOperation> added = restart_.Added();
    ASSERT_EQ(added.size(), 1u) << DescribeRestartOperations(added);
    EXPECT_EQ(_wcsicmp(added[0].first.c_str(), (L"\\??\\" + setupCopy_).c_str()), 0)
        << DescribeRestartOperations(added);
    EXPECT_EQ(added[0].second, L"") << "a deletion has no target";
}

struct RestartCase {
    const char* name;
    const wchar_t* running;
    const wchar_t* expected; // empty: nothing is scheduled
};

void PrintTo(const RestartCase& c, std::ostream* out) {
    *out << c.name;
}

class RestartDeletionTest : public ::testing::TestWithParam<RestartCase> {};

TEST_P(RestartDeletionTest, NamesOnlyFilesOfTheInstall) {
    const RestartCase& c = GetParam();
    EXPECT_EQ(ChooseRestartDeletion(c.running, L"C:\\Users\\a\\AppData\\Local\\Movora",
                                    L"C:\\Users\\a\\Temp\\Movora-uninstall.exe"),
              c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RestartDeletionTest,
    ::testing::Values(
        RestartCase{"UninstallCopy", L"C:\\Users\\a\\Temp\\Movora-uninstall.exe",
                    L"C:\\Users\\a\\Temp\\Movora-uninstall.exe"},
        RestartCase{"UninstallCopyOtherCase", L"c:\\users\\A\\temp\\MOVORA-UNINSTALL.EXE",
                    L"c:\\users\\A\\temp\\MOVORA-UNINSTALL.EXE"},
        RestartCase{"SetupCopyInTheRoot", L"C:\\Users\\a\\AppData\\Local\\Movora\\MovoraSetup.exe",
                    L"C:\\Users\\a\\AppData\\Local\\Movora\\MovoraSetup.exe"},
        RestartCase{"DownloadsFolder", L"C:\\Users\\a\\Downloads\\MovoraSetup.exe", L""},
        RestartCase{"OtherFileInTemp", L"C:\\Users\\a\\Temp\\MovoraSetup.exe", L""},
        RestartCase{"SiblingOfTheRoot", L"C:\\Users\\a\\AppData\\Local\\Movora2\\MovoraSetup.exe",
                    L""},
        RestartCase{"UnknownPath", L"", L""}),
    [](const ::testing::TestParamInfo<RestartCase>& info) { return info.param.name; });

TEST(RestartDeletion, NoInstallRootOrCopyNamesNothingElse) {
    EXPECT_EQ(ChooseRestartDeletion(L"C:\\x\\MovoraSetup.exe", L"", L""), L"");
}

} // namespace
