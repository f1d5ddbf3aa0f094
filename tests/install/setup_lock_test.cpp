// The setup lock between two real setup processes (setup_lock_holder.exe is
// the second one), and the install sequence meeting a lock that is taken.
#include "install/setup_lock.h"

#include "install/install_sequence.h"
#include "shell/app_state.h"
#include "system/uninstall_entry.h"
#include "tests/install/sequence_fixture.h"
#include "tests/support/lock_holder.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace install_testing;
using namespace testing_support;

namespace {

// The account's SID found through its name, not through the process token.
std::wstring SidOfThisAccount() {
    wchar_t user[256] = {};
    DWORD userLength = 256;
    EXPECT_TRUE(GetUserNameW(user, &userLength));
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof(sid);
    wchar_t domain[256] = {};
    DWORD domainLength = 256;
    SID_NAME_USE use{};
    if (!LookupAccountNameW(nullptr, user, sid, &sidSize, domain, &domainLength, &use)) {
        ADD_FAILURE() << "cannot look up the account " << GetLastError();
        return std::wstring();
    }
    wchar_t* text = nullptr;
    EXPECT_TRUE(ConvertSidToStringSidW(sid, &text));
    std::wstring result = text != nullptr ? text : L"";
    LocalFree(text);
    return result;
}

TEST(SetupLock, NameIsGlobalAndCarriesTheAccountSid) {
    const std::wstring sid = SidOfThisAccount();
    ASSERT_EQ(sid.rfind(L"S-1-", 0), 0u);
    EXPECT_EQ(SetupLockName(), L"Global\\MovoraSetup-" + sid);
}

// A handle of our own to the lock's mutex. While it is open the mutex outlives
// a holder that dies, and the next wait meets it abandoned; without it the
// object would vanish with the holder and the next attempt create a fresh one.
UniqueHandle KeepLockObject() {
    UniqueHandle mutex(OpenMutexW(SYNCHRONIZE, FALSE, SetupLockName().c_str()));
    EXPECT_TRUE(mutex) << "cannot open the lock " << GetLastError();
    return mutex;
}

TEST(SetupLock, HolderKilledWhileTheObjectLivesOnLeavesItAbandoned) {
    StartedProcess holder = StartLockHolder();
    ASSERT_TRUE(holder.process);
    UniqueHandle kept = KeepLockObject();
    ASSERT_TRUE(kept);
    KillProcess(holder.id);
    // What the next setup meets in this state (the wait takes ownership).
    EXPECT_EQ(WaitForSingleObject(kept.get(), 0), static_cast<DWORD>(WAIT_ABANDONED));
    ReleaseMutex(kept.get());
}

TEST(SetupLock, AnotherProcessHoldingItKeepsItFromUsUntilItDies) {
    StartedProcess holder = StartLockHolder();
    ASSERT_TRUE(holder.process);
    EXPECT_FALSE(TryAcquireSetupLock()) << "taken by the other process";
    UniqueHandle kept = KeepLockObject();
    ASSERT_TRUE(kept);
    // Killed while holding it: abandoned, which counts as free.
    KillProcess(holder.id);
    SetupLock lock = TryAcquireSetupLock();
    EXPECT_TRUE(lock);
}

TEST(SetupLock, OursKeepsTheOtherProcessOutUntilReleased) {
    {
        SetupLock lock = TryAcquireSetupLock();
        ASSERT_TRUE(lock);
        StartedProcess second =
            StartProcess(L"\"" + BuiltProgram(L"setup_lock_holder.exe") + L"\" unused-event");
        ASSERT_TRUE(second.process);
        EXPECT_EQ(WaitForExitCode(second.process.get(), 20000), 2u) << "it should find it taken";
    }
    StartedProcess holder = StartLockHolder(); // free again once released
    EXPECT_TRUE(holder.process);
    KillProcess(holder.id);
}

// The install sequence against a second setup process.
class SecondInstanceTest : public SequenceTest {};

TEST_F(SecondInstanceTest, InstallFailsAtOnceTouchingNothing) {
    Publish(MakeRelease("2.0", Layout::Top));
    StartedProcess holder = StartLockHolder();
    ASSERT_TRUE(holder.process);
    {
        StatusRecorder recorder;
        EXPECT_FALSE(Install());
        EXPECT_EQ(error_, L"Another Movora setup is running.");
        EXPECT_EQ(recorder.Texts(), std::vector<std::wstring>()) << "no step began";
    }
    EXPECT_TRUE(server_.Requests().empty()) << "nothing was downloaded";
    EXPECT_FALSE(fs::exists(system_testing::InstallRootPath()));
    EXPECT_TRUE(PackageFilesInTemp().empty());
    EXPECT_FALSE(system_testing::RegistryKeyExists(kUninstallEntryKey));
    EXPECT_EQ(AppExePathInState(), L"");

    // Its owner killed mid-way, the lock is abandoned, and the next run goes on.
    UniqueHandle kept = KeepLockObject();
    ASSERT_TRUE(kept);
    KillProcess(holder.id);
    EXPECT_TRUE(Install()) << fs::path(error_).string();
}

} // namespace
