// The program built with the test signing keys (bin/test-key/MovoraSetup.exe)
// from end to end: a list changed after signing stops in the window with
// nothing downloaded, and the signed list then installs.
#include "feed/release_signature.h"
#include "system/uninstall_entry.h"
#include "tests/e2e/flow_fixture.h"
#include "tests/support/release_signing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using namespace testing_support;
using namespace install_testing;
using namespace e2e_testing;

namespace {

const wchar_t kTestBuildComment[] =
    L"TEST BUILD: trusts the public test signing key; not for release";

// The "Comments" string of a program's version block; empty when it has none.
std::wstring VersionComments(const std::wstring& exe) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<unsigned char> block(size);
    wchar_t* text = nullptr;
    UINT length = 0;
    if (size == 0 || !GetFileVersionInfoW(exe.c_str(), 0, size, block.data()) ||
        !VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\Comments",
                        reinterpret_cast<void**>(&text), &length) ||
        text == nullptr) {
        return std::wstring();
    }
    return text;
}

class SignedFlowTest : public SetupFlowTest {
  protected:
    void SetUp() override {
        SetupFlowTest::SetUp();
        ASSERT_TRUE(
            CopyFileW(BuiltProgram(L"test-key\\MovoraSetup.exe").c_str(), exe_.c_str(), FALSE))
            << "cannot copy the test-key program: " << GetLastError();
    }
};

TEST(TestKeyBuildTest, SaysItIsATestBuildAndTheShippedOneDoesNot) {
    EXPECT_EQ(VersionComments(BuiltProgram(L"test-key\\MovoraSetup.exe")), kTestBuildComment);
    EXPECT_EQ(VersionComments(BuiltProgram(L"MovoraSetup.exe")), L"");
}

TEST_F(SignedFlowTest, TamperedListStopsWithNothingDownloadedAndTheSignedOneInstalls) {
    const TestRelease release = MakeRelease("5.0.0", Layout::Top);
    const std::string packagePath = ServeRelease(release);
    const ReleaseListValues values{release.version, Narrow(server_.Url(packagePath)), kNotes,
                                   Sha256Hex(ZipBytes(release.entries))};
    const std::string signature = SignMessage(ReleaseListMessage(values), TestKey::First);
    ReleaseListValues tampered = values;
    tampered.version = "5.0.1";
    server_.Script(kListPath, ScriptedResponse{200, ReleaseListJson(tampered, signature)});

    ASSERT_NO_FATAL_FAILURE(StartSetup());
    ASSERT_TRUE(WaitUntilShown(kStatusRect, L"The release list is not signed by Movora."));
    EXPECT_EQ(Shown(kHeadlineRect), L"Stopped");
    EXPECT_EQ(Shown(kButtonRect), L"Try again");
    Shot("refused");
    EXPECT_EQ(RequestsFor(packagePath), 0) << "a refused list must not download";

    server_.Script(kListPath, ScriptedResponse{200, ReleaseListJson(values, signature)});
    ClickPrimaryButton();
    ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Ready to install."));
    EXPECT_EQ(Shown(kVersionRect), L"Version 5.0.0");
    PressKey("Return");
    ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Movora is installed."));
    EXPECT_EQ(RequestsFor(packagePath), 1);
    EXPECT_EQ(DigestTree(AppFolder()), release.expectedApp);
    EXPECT_EQ(system_testing::ReadRegistryValue(kUninstallEntryKey, L"DisplayVersion").Text(),
              L"5.0.0");

    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
}

const wchar_t kOlderRefused[] = L"The release list offers an older version than the one installed.";

// The window shows 3.1.0; the install job's own read of the list answers
// with an older signed list: refused before anything is downloaded, with
// nothing written, and "Try again" then installs the shown release.
TEST_F(SignedFlowTest, InstallJobRefusesAnOlderListThanTheWindowShowed) {
    const TestRelease shown = MakeRelease("3.1.0", Layout::Top);
    const std::string shownPath = ServeSigned(shown);
    ASSERT_NO_FATAL_FAILURE(StartSetup());
    ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Ready to install."));
    EXPECT_EQ(Shown(kVersionRect), L"Version 3.1.0");

    const std::string olderPath = ServeSigned(MakeRelease("3.0.0", Layout::Top));
    PressKey("Return");
    ASSERT_TRUE(WaitUntilShown(kStatusRect, kOlderRefused));
    EXPECT_EQ(Shown(kButtonRect), L"Try again");
    Shot("refused");
    EXPECT_EQ(RequestsFor(kListPath), 2);
    EXPECT_EQ(RequestsFor(shownPath) + RequestsFor(olderPath), 0) << "nothing may download";
    EXPECT_FALSE(fs::exists(AppFolder()));
    EXPECT_FALSE(system_testing::RegistryKeyExists(kUninstallEntryKey));

    ServeSigned(shown);
    ClickPrimaryButton();
    ASSERT_TRUE(WaitUntilShown(kStatusRect, L"Movora is installed."));
    EXPECT_EQ(DigestTree(AppFolder()), shown.expectedApp);
    EXPECT_EQ(system_testing::ReadRegistryValue(kUninstallEntryKey, L"DisplayVersion").Text(),
              L"3.1.0");
    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
}

// A replayed list older than the installed release: the look-up refuses it
// (the window never offers "Install"), and so does --update, with nothing
// downloaded and the installed release and its entry as they were.
TEST_F(SignedFlowTest, ListOlderThanTheInstalledReleaseIsRefusedAtTheLookUpAndByUpdate) {
    const Tree old = InstallEarlier(MakeRelease("3.1.0", Layout::Top));
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    const std::string olderPath = ServeSigned(MakeRelease("3.0.0", Layout::Top));

    ASSERT_NO_FATAL_FAILURE(StartSetup());
    ASSERT_TRUE(WaitUntilShown(kStatusRect, kOlderRefused));
    EXPECT_EQ(Shown(kHeadlineRect), L"Stopped");
    EXPECT_EQ(Shown(kButtonRect), L"Try again");
    // It never stood at "Ready" with an enabled "Install".
    const std::vector<std::wstring> statuses = TextsDrawnIn(Drawn(), kStatusRect);
    EXPECT_EQ(std::find(statuses.begin(), statuses.end(), L"Ready to install."), statuses.end())
        << Describe(statuses);
    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);

    ASSERT_NO_FATAL_FAILURE(StartSetup(L" --update"));
    ASSERT_TRUE(WaitUntilShown(kStatusRect, kOlderRefused));
    EXPECT_EQ(Shown(kModeWordRect), L"UPDATE");
    EXPECT_EQ(Shown(kButtonRect), L"Try again");
    Shot("update-refused");
    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);

    EXPECT_EQ(RequestsFor(olderPath), 0) << "a refused list must not download";
    ExpectOldReleaseKept(old, oldEntry);
    EXPECT_FALSE(fs::exists(Staging()));
}

} // namespace
