// The setup copy after the swap, through RunInstall: a setup program that the
// release carries beside Movora.exe becomes the setup copy, by renames that
// keep a whole setup copy at its name whatever is refused; a release without
// one gets a copy of the running program, as before.
#include "install/fs_calls.h"
#include "install/install_sequence.h"
#include "shell/app_state.h"
#include "system/uninstall_entry.h"
#include "tests/install/sequence_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace install_testing;
using namespace system_testing;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

namespace {

const std::string kEarlierSetup = "MZ the setup copy an earlier install left\n";
const std::string kCarriedSetup = "MZ the setup program the new release carries\n";

using testing_support::Utf8Text;

std::string RunningProgramBytes() {
    return ReadFileBytes(testing_support::BuiltProgram(L"install_sequence_tests.exe"));
}

class SetupCopyTest : public SequenceTest {
  protected:
    std::wstring SetupCopy() const { return Root(L"MovoraSetup.exe"); }
    std::wstring Aside() const { return Root(L"MovoraSetup.old"); }
    std::wstring Incoming() const { return Root(L"MovoraSetup.new"); }

    // Which program lies at path, by name: "earlier", "carried", "running",
    // "none" (nothing, or a folder), or "other" (with its size).
    static std::string WhichAt(const std::wstring& path) {
        std::error_code error;
        if (!fs::is_regular_file(path, error)) {
            return "none";
        }
        const std::string bytes = ReadFileBytes(path);
        if (bytes == kEarlierSetup) {
            return "earlier";
        }
        if (bytes == kCarriedSetup) {
            return "carried";
        }
        if (bytes == RunningProgramBytes()) {
            return "running";
        }
        return "other (" + std::to_string(bytes.size()) + " bytes)";
    }

    void ExpectInstalledRelease(const TestRelease& release) {
        EXPECT_EQ(DigestTree(AppFolder()), release.expectedApp);
        EXPECT_EQ(ReadRegistryValue(kUninstallEntryKey, L"DisplayVersion").Text(),
                  fs::u8path(release.version).wstring());
        EXPECT_EQ(AppExePathInState(), AppExePath());
    }

    // An earlier release with its setup copy, and the new one published,
    // carrying kCarriedSetup.
    TestRelease PrepareUpdate() {
        file_faults::Disarm();
        CleanUp();
        InstallEarlier(MakeRelease("1.0", Layout::Top));
        WriteFileBytes(SetupCopy(), kEarlierSetup);
        TestRelease release = MakeRelease("2.0", Layout::Top);
        AddSetupProgram(release, kCarriedSetup);
        Publish(release);
        return release;
    }
};

// ---- Where the setup copy comes from ---------------------------------------

enum class Carried {
    None,          // the release carries no setup program
    Beside,        // "MovoraSetup.exe" beside Movora.exe
    OutsideTheApp, // at the top of a package whose app is one folder down
    AFolder,       // a folder of that name beside Movora.exe
};

struct SourceCase {
    const char* name;
    Layout layout;
    Carried carried;
    bool earlierCopy; // an earlier install left a setup copy
    bool leftovers;   // a dead run left "MovoraSetup.old" and ".new"
    bool expectCarried;
};

void PrintTo(const SourceCase& c, std::ostream* out) {
    *out << c.name;
}

class SetupCopySourceTest : public SetupCopyTest,
                            public ::testing::WithParamInterface<SourceCase> {};

TEST_P(SetupCopySourceTest, TheCarriedProgramOrElseTheRunningOne) {
    const SourceCase& c = GetParam();
    if (c.earlierCopy) {
        InstallEarlier(MakeRelease("1.0", Layout::Top));
        WriteFileBytes(SetupCopy(), kEarlierSetup);
    }
    if (c.leftovers) {
        WriteFileBytes(Aside(), "MZ moved aside by a run that has ended\n");
        WriteFileBytes(Incoming(), "MZ half copied by a run that died\n");
    }
    TestRelease release = MakeRelease("2.0", c.layout, "Movora 2.0");
    switch (c.carried) {
    case Carried::None:
        break;
    case Carried::Beside:
        AddSetupProgram(release, kCarriedSetup);
        break;
    case Carried::OutsideTheApp:
        release.entries.push_back(testing_support::ZipFile("MovoraSetup.exe", kCarriedSetup));
        break;
    case Carried::AFolder:
        release.entries.push_back(testing_support::ZipFile("MovoraSetup.exe/inside.txt", "x"));
        release.expectedApp[L"MovoraSetup.exe"] = kFolderMark;
        release.expectedApp[L"MovoraSetup.exe\\inside.txt"] = Sha256Hex("x");
        break;
    }
    Publish(release);

    ASSERT_TRUE(Install()) << Utf8Text(error_);
    EXPECT_EQ(DigestTree(AppFolder()), release.expectedApp);
    EXPECT_EQ(WhichAt(SetupCopy()), c.expectCarried ? "carried" : "running");
    EXPECT_FALSE(fs::exists(Aside())) << "the setup copy moved aside stayed";
    EXPECT_FALSE(fs::exists(Incoming())) << "the incoming setup copy stayed";
    EXPECT_EQ(ReadRegistryValue(kUninstallEntryKey, L"UninstallString").Text(),
              L"\"" + SetupCopy() + L"\" --uninstall");
}

INSTANTIATE_TEST_SUITE_P(
    Releases, SetupCopySourceTest,
    ::testing::Values(
        SourceCase{"FreshInstallTakesTheCarriedProgram", Layout::Top, Carried::Beside, false, false,
                   true},
        SourceCase{"UpdateReplacesTheEarlierCopy", Layout::Top, Carried::Beside, true, false, true},
        SourceCase{"CarriedBesideTheAppOneFolderDown", Layout::OneFolderDown, Carried::Beside, true,
                   false, true},
        SourceCase{"LeftoversOfAnEarlierRunGo", Layout::Top, Carried::Beside, true, true, true},
        SourceCase{"NoneCarriedCopiesTheRunningProgram", Layout::Top, Carried::None, true, false,
                   false},
        SourceCase{"NoneCarriedStillClearsLeftovers", Layout::Top, Carried::None, true, true,
                   false},
        SourceCase{"OneOutsideTheInstalledFolderIsNotCarried", Layout::OneFolderDown,
                   Carried::OutsideTheApp, true, false, false},
        SourceCase{"AFolderOfThatNameIsNoProgram", Layout::Top, Carried::AFolder, true, false,
                   false}),
    [](const ::testing::TestParamInfo<SourceCase>& info) { return std::string(info.param.name); });

// ---- A setup copy that cannot be replaced ----------------------------------

// Another program holds the setup copy without delete sharing (a scanner, a
// second setup process reading it): it cannot be renamed aside, so it stays
// as it was, the release is installed all the same, and the next install
// replaces it.
TEST_F(SetupCopyTest, HeldSetupCopyStaysAndTheNextInstallReplacesIt) {
    const TestRelease release = PrepareUpdate();
    {
        const UniqueHandle holder = HoldOpen(SetupCopy());
        ASSERT_TRUE(Install()) << Utf8Text(error_);
    }
    ExpectInstalledRelease(release);
    EXPECT_EQ(WhichAt(SetupCopy()), "earlier");
    EXPECT_FALSE(fs::exists(Incoming()));
    EXPECT_FALSE(fs::exists(Aside()));

    ASSERT_TRUE(Install()) << Utf8Text(error_);
    EXPECT_EQ(WhichAt(SetupCopy()), "carried");
    EXPECT_FALSE(fs::exists(Aside()));
}

// A run that died between moving the setup copy aside and moving the new one
// in left the only setup copy aside. It is put back before anything else, so
// it survives even when the new copy cannot be made (here a folder stands at
// the incoming name).
TEST_F(SetupCopyTest, SetupCopyLeftAsideIsPutBackFirst) {
    const TestRelease release = PrepareUpdate();
    ASSERT_TRUE(fs::remove(SetupCopy()));
    WriteFileBytes(Aside(), kEarlierSetup);
    fs::create_directories(Incoming());
    WriteFileBytes(Incoming() + L"\\in the way.txt", "x");

    ASSERT_TRUE(Install()) << Utf8Text(error_);
    ExpectInstalledRelease(release);
    EXPECT_EQ(WhichAt(SetupCopy()), "earlier");
    EXPECT_FALSE(fs::exists(Aside()));
}

// ---- Each file call refused in turn ------------------------------------------

// Refuses each file call after the swap (counted back from the last call of a
// whole run), or each pair of neighbouring calls, as when putting the old
// copy back is refused too. The install never fails. With one refusal the
// setup copy is whole at its name, the earlier program or the carried one;
// with two the earlier one may wait aside instead, but is never lost. The
// next run always ends with the carried copy and nothing left beside it.
class RefusedCallsTest : public SetupCopyTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RefusedCallsTest, NeverLoseTheSetupCopy) {
    const bool pair = GetParam();
    const TestRelease release = PrepareUpdate();
    file_faults::Arm(-1, ERROR_SUCCESS);
    ASSERT_TRUE(Install()) << Utf8Text(error_);
    const long calls = file_faults::CallsSinceArmed();
    // Every attempt of a refused call is refused: held-file errors would
    // otherwise be tried again for the whole held-file time on every run.
    file_faults::SetHeldFileRetryMs(100);

    int afterSwap = 0;
    for (long call = calls - 1; call >= 0; --call) {
        SCOPED_TRACE((pair ? "file calls " : "file call ") + std::to_string(call) +
                     (pair ? " and " + std::to_string(call + 1) : std::string()) + " of " +
                     std::to_string(calls));
        PrepareUpdate();
        file_faults::Arm(call, ERROR_ACCESS_DENIED);
        if (pair) {
            file_faults::ArmAlso(call + 1);
        }
        const bool installed = Install();
        file_faults::Disarm();
        if (DigestTree(AppFolder()) != release.expectedApp) {
            break; // the refusal came before the swap
        }
        ++afterSwap;
        EXPECT_TRUE(installed) << Utf8Text(error_);
        const std::string setupCopy = WhichAt(SetupCopy());
        if (pair && setupCopy == "none") {
            EXPECT_EQ(WhichAt(Aside()), "earlier") << "the earlier setup copy is lost";
        } else {
            EXPECT_TRUE(setupCopy == "earlier" || setupCopy == "carried") << setupCopy;
        }

        ASSERT_TRUE(Install()) << "the next run: " << Utf8Text(error_);
        EXPECT_EQ(WhichAt(SetupCopy()), "carried") << "after the next run";
        EXPECT_FALSE(fs::exists(Aside())) << "after the next run";
        EXPECT_FALSE(fs::exists(Incoming())) << "after the next run";
    }
    EXPECT_GT(afterSwap, 0) << "no file call came after the swap";
}

INSTANTIATE_TEST_SUITE_P(SetupCopy, RefusedCallsTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "TwoNeighbouringCalls" : "OneCall");
                         });

} // namespace
