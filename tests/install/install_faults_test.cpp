// RunInstall with each of its file calls refused in turn, through the file
// layer's fault seam (the one call behaves as if Windows had refused it; the
// disk, processes and registry stay real). Whatever fails, the sequence must
// end with false and a sentence or succeed, never leave a broken app folder,
// and the next run must install.
#include "install/fs_calls.h"
#include "install/install_sequence.h"
#include "shell/app_state.h"
#include "system/uninstall_entry.h"
#include "tests/install/sequence_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace fs = std::filesystem;
using namespace install_testing;
using namespace system_testing;

namespace {

const std::set<std::wstring> kSentences = {
    L"Could not read the Movora folder.",
    L"Could not find a folder for the download.",
    L"Could not check the download.",
    L"Could not prepare the install folder.",
    L"Files left from an earlier install could not be removed.",
    L"The download could not be unpacked.",
    L"Windows tar was not found, so the download could not be unpacked.",
    L"The download did not contain Movora.",
    L"Close Movora, then try again.",
    L"The new files could not be moved into place.",
};
const wchar_t kMoveInFailed[] = L"The new files could not be moved into place.";

struct Scenario {
    const char* name;
    bool update;              // an earlier release is installed
    Layout layout;            // of the new package
    bool halfRemovedPrevious; // "app.previous" left over, without Movora.exe, one file held
};

void PrintTo(const Scenario& s, std::ostream* out) {
    *out << s.name;
}

class FileFaultTest : public SequenceTest, public ::testing::WithParamInterface<Scenario> {
  protected:
    void SetUp() override {
        SequenceTest::SetUp();
        release_ = MakeRelease("2.0", GetParam().layout);
        Publish(release_);
    }
    void TearDown() override {
        holder_.reset();
        SequenceTest::TearDown();
    }

    // The disk as the scenario starts from, after whatever the last run left.
    void Prepare() {
        holder_.reset();
        file_faults::Disarm();
        CleanUp();
        Publish(release_);
        if (GetParam().update) {
            oldApp_ = InstallEarlier(MakeRelease("1.0", Layout::Top));
        }
        oldEntry_ = PictureOfKey(kUninstallEntryKey);
        {
            std::lock_guard<std::mutex> lock(g_app.statusMutex);
            g_app.appExePath.clear();
        }
        if (GetParam().halfRemovedPrevious) {
            fs::create_directories(Previous() + L"\\lib");
            testing_support::WriteFileBytes(Previous() + L"\\lib\\held.dll", "held");
            holder_ = HoldOpen(Previous() + L"\\lib\\held.dll");
        }
    }

    // What every outcome must leave, given RunInstall's result.
    void ExpectSoundOutcome(bool installed) {
        EXPECT_TRUE(PackageFilesInTemp().empty()) << "a package file stayed";
        if (installed) {
            EXPECT_EQ(DigestTree(AppFolder()), release_.expectedApp);
            EXPECT_EQ(AppExePathInState(), AppExePath()) << "\"Open Movora\" would do nothing";
            return;
        }
        EXPECT_EQ(AppExePathInState(), L"");
        EXPECT_EQ(kSentences.count(error_), 1u) << fs::path(error_).u8string();
        EXPECT_EQ(PictureOfKey(kUninstallEntryKey), oldEntry_) << "the Uninstall entry changed";
        if (GetParam().update) {
            EXPECT_EQ(DigestTree(AppFolder()), oldApp_) << "the old release is not whole";
        } else {
            // A failed fresh install leaves no app folder, and never turns a
            // leftover into one.
            EXPECT_FALSE(fs::exists(AppFolder()));
        }
    }

    // After the fault: with nothing refused, the next run installs.
    void ExpectNextRunInstalls() {
        holder_.reset();
        file_faults::Disarm();
        EXPECT_TRUE(Install()) << fs::path(error_).u8string();
        EXPECT_EQ(DigestTree(AppFolder()), release_.expectedApp);
    }

    TestRelease release_;
    Tree oldApp_;
    RegistryPicture oldEntry_;
    UniqueHandle holder_;
};

TEST_P(FileFaultTest, EachRefusedCallEndsSoundly) {
    std::set<std::wstring> sentences;
    for (long call = 0;; ++call) {
        SCOPED_TRACE("file call " + std::to_string(call) + " refused");
        Prepare();
        file_faults::Arm(call, ERROR_ACCESS_DENIED);
        const bool installed = Install();
        const long made = file_faults::CallsSinceArmed();
        file_faults::Disarm();
        if (made <= call) {
            // The run ended before that call: every call has had its turn.
            EXPECT_TRUE(installed) << fs::path(error_).u8string();
            break;
        }
        ExpectSoundOutcome(installed);
        if (!installed) {
            sentences.insert(error_);
        }
        ExpectNextRunInstalls();
        if (HasFatalFailure()) {
            return;
        }
    }
    // The refusals reached the swap itself.
    EXPECT_EQ(sentences.count(kMoveInFailed), 1u);
    EXPECT_EQ(sentences.count(L"Could not prepare the install folder."), 1u);
}

TEST_P(FileFaultTest, RefusalsWhileMovingTheOldReleaseBackLoseNothing) {
    // First find the call that moves the new release in: refused, it gives
    // the move-in sentence.
    long moveIn = -1;
    for (long call = 0; moveIn < 0; ++call) {
        Prepare();
        file_faults::Arm(call, ERROR_ACCESS_DENIED);
        Install();
        const long made = file_faults::CallsSinceArmed();
        file_faults::Disarm();
        ASSERT_GT(made, call) << "no refused call gave the move-in sentence";
        if (error_ == kMoveInFailed) {
            moveIn = call;
        }
    }

    // Then refuse each later call as well, while that failure is handled.
    for (long also = moveIn + 1;; ++also) {
        SCOPED_TRACE("call " + std::to_string(moveIn) + " and call " + std::to_string(also) +
                     " refused");
        Prepare();
        file_faults::Arm(moveIn, ERROR_ACCESS_DENIED);
        file_faults::ArmAlso(also);
        EXPECT_FALSE(Install());
        const long made = file_faults::CallsSinceArmed();
        file_faults::Disarm();
        if (made <= also) {
            break;
        }
        EXPECT_EQ(error_, kMoveInFailed);
        EXPECT_TRUE(PackageFilesInTemp().empty());
        if (GetParam().update) {
            // The old release is whole: back in the app folder, or, when the
            // move back was refused, still aside in "app.previous".
            if (fs::exists(AppFolder())) {
                EXPECT_EQ(DigestTree(AppFolder()), oldApp_);
            } else {
                EXPECT_EQ(DigestTree(Previous()), oldApp_);
                // The next run puts it back before its download, even when
                // that download fails.
                SetRelease(server_.Url("/releases/missing.zip"), L"2.0", L"");
                EXPECT_FALSE(Install());
                EXPECT_EQ(DigestTree(AppFolder()), oldApp_);
                Publish(release_);
            }
        } else {
            EXPECT_FALSE(fs::exists(AppFolder()));
        }
        ExpectNextRunInstalls();
        if (HasFatalFailure()) {
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, FileFaultTest,
    ::testing::Values(Scenario{"FreshInstall", false, Layout::Top, false},
                      Scenario{"UpdateAppAtTheTop", true, Layout::Top, false},
                      Scenario{"UpdateAppOneFolderDown", true, Layout::OneFolderDown, false},
                      Scenario{"FreshInstallOverAHalfRemovedPrevious", false, Layout::Top, true}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

} // namespace
