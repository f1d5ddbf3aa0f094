// The setup copy kept current by the releases themselves, with the real
// programs: a build that trusts only the first test key installs a release
// that carries the build trusting both test keys, so the installed setup copy
// takes a list signed with the second key after a key rotation, and replaces
// itself while it runs that update.
#include "feed/release_signature.h"
#include "system/uninstall_entry.h"
#include "tests/e2e/flow_fixture.h"
#include "tests/support/release_signing.h"
#include "tests/system/system_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace testing_support;
using namespace install_testing;
using namespace system_testing;
using namespace e2e_testing;

namespace {

// A later build of the same program: bytes appended after the image, which
// Windows does not load (as an Authenticode signature is appended).
std::string LaterBuild(const std::string& program) {
    return program + "\nA later build of the setup program.\n";
}

class SetupCopyFlowTest : public SetupFlowTest {
  protected:
    void SetUp() override {
        SetupFlowTest::SetUp();
        // The program the user first downloaded: from before the rotation.
        ASSERT_TRUE(
            CopyFileW(BuiltProgram(L"test-key-1\\MovoraSetup.exe").c_str(), exe_.c_str(), FALSE))
            << "cannot copy the first-key program: " << GetLastError();
        bothKeys_ = ReadFileBytes(BuiltProgram(L"test-key\\MovoraSetup.exe"));
    }

    std::wstring SetupCopy() const { return Root(L"MovoraSetup.exe"); }

    // Installs release in install mode with this test's program, as a user
    // who downloaded it does.
    void InstallWithTheDownloadedProgram() {
        ASSERT_NO_FATAL_FAILURE(StartSetup());
        ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Ready to install."));
        PressKey("Return");
        ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Movora is installed."));
        PressKey("Escape");
        ASSERT_EQ(WaitForSetupExit(), 0u);
    }

    // Runs the setup copy in the install root with "--update", as the app's
    // own updater does, and waits for it to end by itself: it does only once
    // the new release is installed and started (a failure stays on screen).
    // The texts it drew go to a trace named after run.
    void UpdateThroughTheSetupCopy(const std::wstring& run) {
        const std::wstring trace = folder_ / (run + L".log");
        const std::wstring exitCode = folder_ / (run + L".exit");
        ASSERT_TRUE(LaunchWithTextTrace(
            SetupCopy(), L"--feed " + server_.Url(kListPath) + L" --update", trace, exitCode));
        const DWORD code = ReadExitCodeFile(exitCode, kFlowTimeoutMs);
        const std::vector<std::wstring> statuses = TextsDrawnIn(ReadTextTrace(trace), kStatusRect);
        ASSERT_EQ(code, 0u) << "the update did not end by itself; it showed " << Describe(statuses);
    }

    void ExpectVersionInstalled(const TestRelease& release) {
        EXPECT_EQ(DigestTree(AppFolder()), release.expectedApp);
        EXPECT_EQ(ReadRegistryValue(kUninstallEntryKey, L"DisplayVersion").Text(),
                  fs::u8path(release.version).wstring());
    }

    std::string bothKeys_;
};

TEST_F(SetupCopyFlowTest, KeyRotationReachesUsersThroughTheSetupCopy) {
    // The release that ships the new key: signed with the old one, carrying
    // the program that trusts both.
    TestRelease shipsTheKey = MakeRelease("1.0.0", Layout::Top);
    AddSetupProgram(shipsTheKey, bothKeys_);
    ServeSigned(shipsTheKey, TestKey::First);
    ASSERT_NO_FATAL_FAILURE(InstallWithTheDownloadedProgram());
    ExpectVersionInstalled(shipsTheKey);
    EXPECT_TRUE(ReadFileBytes(SetupCopy()) == bothKeys_)
        << "the setup copy is not the program the release carries";

    // The first list signed with the new key, through the setup copy, whose
    // release carries a later build of the setup program.
    TestRelease signedWithTheNewKey = MakeRelease("2.0.0", Layout::Top);
    const std::string laterBuild = LaterBuild(bothKeys_);
    AddSetupProgram(signedWithTheNewKey, laterBuild);
    ServeSigned(signedWithTheNewKey, TestKey::Second);
    ASSERT_NO_FATAL_FAILURE(UpdateThroughTheSetupCopy(L"update"));
    ExpectVersionInstalled(signedWithTheNewKey);
    // The copy that ran this update replaced itself, and waits aside until a
    // later run removes it.
    EXPECT_TRUE(ReadFileBytes(SetupCopy()) == laterBuild)
        << "the running setup copy was not replaced";
    EXPECT_TRUE(ReadFileBytes(Root(L"MovoraSetup.old")) == bothKeys_);
    EXPECT_FALSE(fs::exists(Root(L"MovoraSetup.new")));
    EXPECT_EQ(ReadRegistryValue(kUninstallEntryKey, L"UninstallString").Text(),
              L"\"" + SetupCopy() + L"\" --uninstall");
}

// A release without a setup program leaves the setup copy that runs the
// update as it is, as before releases carried one.
TEST_F(SetupCopyFlowTest, ReleaseWithoutASetupProgramKeepsTheSetupCopy) {
    InstallEarlier(MakeRelease("1.0.0", Layout::Top));
    WriteFileBytes(SetupCopy(), bothKeys_);
    const TestRelease release = MakeRelease("2.0.0", Layout::Top);
    ServeSigned(release, TestKey::Second);

    ASSERT_NO_FATAL_FAILURE(UpdateThroughTheSetupCopy(L"update"));
    ExpectVersionInstalled(release);
    EXPECT_TRUE(ReadFileBytes(SetupCopy()) == bothKeys_) << "the setup copy changed";
    EXPECT_FALSE(fs::exists(Root(L"MovoraSetup.old")));
    EXPECT_FALSE(fs::exists(Root(L"MovoraSetup.new")));
}

// Another program holds the running setup copy without delete sharing, so it
// cannot be renamed aside: the release is installed all the same, the old
// copy stays at its name, and it works: once it is free, it updates again
// and is replaced.
TEST_F(SetupCopyFlowTest, HeldSetupCopyStaysAndStillWorks) {
    InstallEarlier(MakeRelease("1.0.0", Layout::Top));
    WriteFileBytes(SetupCopy(), bothKeys_);
    TestRelease release = MakeRelease("2.0.0", Layout::Top);
    const std::string laterBuild = LaterBuild(bothKeys_);
    AddSetupProgram(release, laterBuild);
    ServeSigned(release, TestKey::Second);

    {
        const UniqueHandle holder = HoldOpen(SetupCopy());
        ASSERT_TRUE(Valid(holder));
        ASSERT_NO_FATAL_FAILURE(UpdateThroughTheSetupCopy(L"held"));
    }
    ExpectVersionInstalled(release);
    EXPECT_TRUE(ReadFileBytes(SetupCopy()) == bothKeys_) << "the held setup copy changed";
    EXPECT_FALSE(fs::exists(Root(L"MovoraSetup.new")));

    ASSERT_NO_FATAL_FAILURE(UpdateThroughTheSetupCopy(L"free"));
    ExpectVersionInstalled(release);
    EXPECT_TRUE(ReadFileBytes(SetupCopy()) == laterBuild) << "the freed setup copy was kept";
}

} // namespace
