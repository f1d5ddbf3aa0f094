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
#include <string>
#include <thread>
#include <vector>

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
        // Each call is refused for all its attempts; the calls that try again
        // while a file is held would otherwise wait out the whole time for
        // held files on every run (HeldFileTest covers that time).
        file_faults::SetHeldFileRetryMs(100);
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
            StatusGuard lock(g_app.statusMutex);
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
        EXPECT_EQ(kSentences.count(error_), 1u) << testing_support::Utf8Text(error_);
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
        EXPECT_TRUE(Install()) << testing_support::Utf8Text(error_);
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
            EXPECT_TRUE(installed) << testing_support::Utf8Text(error_);
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

// ---- Calls refused while another program holds a file ------------------------

// The file calls of one run, as the seam counts them.
struct FileCall {
    std::wstring operation;
    std::wstring path;
};
std::vector<FileCall> g_calls;

void RecordCall(long callIndex, const wchar_t* operation, const std::wstring& path) {
    g_calls.resize(static_cast<size_t>(callIndex) + 1);
    g_calls[callIndex] = FileCall{operation, path};
}

const DWORD kHeldFileErrors[] = {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION,
                                 ERROR_LOCK_VIOLATION};

// An update whose new release sits one folder down in its package, over a
// staging folder an earlier run left: every rename, copy and removal of the
// sequence has something to act on.
class HeldFileTest : public SequenceTest {
  protected:
    void SetUp() override {
        SequenceTest::SetUp();
        release_ = MakeRelease("2.0", Layout::OneFolderDown);
    }
    void TearDown() override {
        file_faults::SetCallObserver(nullptr);
        SequenceTest::TearDown();
    }

    void Prepare() {
        file_faults::Disarm();
        g_app.cancelRequested = false;
        CleanUp();
        Publish(release_);
        oldApp_ = InstallEarlier(MakeRelease("1.0", Layout::Top));
        oldEntry_ = PictureOfKey(kUninstallEntryKey);
        fs::create_directories(Staging());
        testing_support::WriteFileBytes(Staging() + L"\\earlier.txt", "left by an earlier run");
        StatusGuard lock(g_app.statusMutex);
        g_app.appExePath.clear();
    }

    // The index of a call of the update that makes operation on path: the
    // first such call, or the last one. Found in a run of its own, in which
    // refusedCall (when not negative) is refused as write-protected.
    long FindCall(const std::wstring& operation, const std::wstring& path, bool last = false,
                  long refusedCall = -1) {
        Prepare();
        g_calls.clear();
        file_faults::SetCallObserver(&RecordCall);
        file_faults::Arm(refusedCall, ERROR_WRITE_PROTECT);
        Install();
        file_faults::SetCallObserver(nullptr);
        file_faults::Disarm();
        long found = -1;
        for (size_t i = 0; i < g_calls.size(); ++i) {
            if (g_calls[i].operation == operation &&
                _wcsicmp(g_calls[i].path.c_str(), path.c_str()) == 0) {
                found = static_cast<long>(i);
                if (!last) {
                    break;
                }
            }
        }
        EXPECT_GE(found, 0) << "no call " << testing_support::Utf8Text(operation) << " "
                            << testing_support::Utf8Text(path);
        return found;
    }

    TestRelease release_;
    Tree oldApp_;
    RegistryPicture oldEntry_;
};

// A rename, copy or removal of the update, and what the run ends with when it
// is refused for longer than the time for held files.
struct HeldCallCase {
    const char* name;
    const wchar_t* operation;
    const wchar_t* path;     // below the install root; "package" for the package file,
                             // "running" for the running program
    bool last;               // the last such call of the run rather than the first
    const wchar_t* sentence; // none: a best-effort step, the run installs anyway
    DWORD letThrough;        // the held-file error it is refused with three times
    bool realTime;           // refused past the real time for held files
};

void PrintTo(const HeldCallCase& c, std::ostream* out) {
    *out << c.name;
}

class HeldCallTest : public HeldFileTest, public ::testing::WithParamInterface<HeldCallCase> {
  protected:
    std::wstring CasePath() {
        const std::wstring path = GetParam().path;
        if (path == L"package") {
            return TempFolderPath() + L"Movora-2.0.zip";
        }
        if (path == L"running") {
            return testing_support::BuiltProgram(L"install_sequence_tests.exe");
        }
        return Root(path);
    }
};

TEST_P(HeldCallTest, WaitsForTheFileAndGivesUpOnlyWhenTheTimeIsUp) {
    const HeldCallCase& c = GetParam();
    const long call = FindCall(c.operation, CasePath(), c.last);
    ASSERT_GE(call, 0);

    {
        SCOPED_TRACE("refused three times with error " + std::to_string(c.letThrough));
        Prepare();
        file_faults::Arm(call, c.letThrough, 3);
        EXPECT_TRUE(Install()) << testing_support::Utf8Text(error_);
        EXPECT_GE(file_faults::AttemptsOfArmedCall(), 4);
        file_faults::Disarm();
        ExpectInstalled(release_);
    }
    {
        SCOPED_TRACE("refused past the time for held files");
        file_faults::SetHeldFileRetryMs(c.realTime ? kHeldFileRetryMs : 100);
        Prepare();
        file_faults::Arm(call, ERROR_SHARING_VIOLATION);
        const ULONGLONG start = GetTickCount64();
        const bool installed = Install();
        const ULONGLONG took = GetTickCount64() - start;
        EXPECT_GT(file_faults::AttemptsOfArmedCall(), 1);
        file_faults::Disarm();
        file_faults::SetHeldFileRetryMs(kHeldFileRetryMs);
        if (c.realTime) {
            EXPECT_GE(took + 32, kHeldFileRetryMs) << "gave up before the time was up";
        }
        if (c.sentence == nullptr) {
            EXPECT_TRUE(installed) << testing_support::Utf8Text(error_);
            EXPECT_EQ(DigestTree(AppFolder()), release_.expectedApp);
        } else {
            EXPECT_FALSE(installed);
            EXPECT_EQ(error_, c.sentence);
            ExpectOldReleaseKept(oldApp_, oldEntry_);
        }
    }
    {
        SCOPED_TRACE("refused as write-protected");
        Prepare();
        file_faults::Arm(call, ERROR_WRITE_PROTECT);
        const bool installed = Install();
        EXPECT_EQ(file_faults::AttemptsOfArmedCall(), 1) << "tried again";
        file_faults::Disarm();
        if (c.sentence != nullptr) {
            EXPECT_FALSE(installed);
            EXPECT_EQ(error_, c.sentence);
            ExpectOldReleaseKept(oldApp_, oldEntry_);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, HeldCallTest,
    ::testing::Values(HeldCallCase{"ClearingStaging", L"remove tree", L"staging", false,
                                   L"Files left from an earlier install could not be removed.",
                                   ERROR_ACCESS_DENIED, false},
                      HeldCallCase{"CreatingStaging", L"create folder", L"staging", false,
                                   L"Could not prepare the install folder.",
                                   ERROR_SHARING_VIOLATION, false},
                      HeldCallCase{"RemovingThePackage", L"remove", L"package", false, nullptr,
                                   ERROR_LOCK_VIOLATION, false},
                      HeldCallCase{"MovingTheAppAside", L"rename", L"app", false,
                                   L"Close Movora, then try again.", ERROR_ACCESS_DENIED, true},
                      HeldCallCase{"MovingTheReleaseIn", L"rename", L"staging\\Movora release",
                                   false, L"The new files could not be moved into place.",
                                   ERROR_SHARING_VIOLATION, false},
                      HeldCallCase{"RemovingThePreviousFolder", L"remove tree", L"app.previous",
                                   true, nullptr, ERROR_LOCK_VIOLATION, false},
                      HeldCallCase{"RefreshingTheSetupCopy", L"copy file", L"running", false,
                                   nullptr, ERROR_ACCESS_DENIED, false}),
    [](const ::testing::TestParamInfo<HeldCallCase>& info) {
        return std::string(info.param.name);
    });

// The window closes while the new release waits to be moved in: the wait
// ends at once, and the move of the old release back, itself refused a few
// times, is not cut short by the cancel, so the app folder is whole.
TEST_F(HeldFileTest, CancelWhileMovingInStillPutsTheOldReleaseBack) {
    const long moveIn = FindCall(L"rename", Root(L"staging\\Movora release"));
    ASSERT_GE(moveIn, 0);
    const long moveBack = FindCall(L"rename", Previous(), false, moveIn);
    ASSERT_GT(moveBack, moveIn);

    Prepare();
    file_faults::Arm(moveIn, ERROR_SHARING_VIOLATION);
    file_faults::ArmAlso(moveBack, 3);
    ULONGLONG cancelledAt = 0;
    std::thread closer([&] {
        // Once the move-in has been refused twice, it is waiting.
        const ULONGLONG deadline = GetTickCount64() + 20000;
        while (file_faults::AttemptsOfArmedCall() < 2 && GetTickCount64() < deadline) {
            Sleep(5);
        }
        cancelledAt = GetTickCount64();
        g_app.cancelRequested = true;
    });
    const bool installed = Install();
    const ULONGLONG returnedAt = GetTickCount64();
    closer.join();
    EXPECT_FALSE(installed);
    EXPECT_LT(returnedAt - cancelledAt, 1500u) << "the cancel was not seen during the wait";
    EXPECT_EQ(DigestTree(AppFolder()), oldApp_) << "the old release is not back";
    EXPECT_FALSE(fs::exists(Previous()));
    EXPECT_EQ(PictureOfKey(kUninstallEntryKey), oldEntry_);
}

} // namespace
