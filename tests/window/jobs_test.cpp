// The worker jobs against a loopback release server and the real install root
// of the test prefix: how each job starts and ends, cancelling and joining,
// and that a second start while a job runs is dropped.
#include "shell/worker_thread.h"
#include "shell/jobs.h"

#include "install/locations.h"
#include "tests/support/test_support.h"
#include "tests/support/x_input.h"
#include "tests/system/system_fixture.h"
#include "tests/window/window_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <ostream>

namespace fs = std::filesystem;
using namespace testing_support;
using namespace window_testing;

namespace {

class JobsTest : public FeedServerTest {
  protected:
    void SetUp() override {
        FeedServerTest::SetUp();
        KillProcessesInside(system_testing::InstallRootPath());
        system_testing::RemoveTestTree(system_testing::InstallRootPath());
    }
    void TearDown() override {
        FeedServerTest::TearDown();
        KillProcessesInside(system_testing::InstallRootPath());
        system_testing::RemoveTestTree(system_testing::InstallRootPath());
    }

    // A release list that arrives slowly, so a job stays in its transfer
    // (about 20 s in all) until it is cancelled.
    void ServeFeedSlowly() {
        ScriptedResponse slow{200, FeedDocument() + std::string(4000, ' ')};
        slow.chunkSize = 100;
        slow.pauseBetweenPiecesMs = 500;
        server_.Script(kFeedPath, slow);
    }

    static bool PumpUntilJobEnded() {
        return PumpUntil([] { return !g_app.jobActive.load(); }, 30000);
    }

    static void ExpectStatus(JobPhase phase, const std::wstring& message) {
        const Status status = CurrentStatus();
        EXPECT_EQ(status.phase, phase);
        EXPECT_EQ(status.message, message) << Narrow(status.message);
    }

    static void ExpectRelease(const std::wstring& version, const std::wstring& package) {
        StatusGuard lock(g_app.statusMutex);
        EXPECT_EQ(g_app.latestVersion, version);
        EXPECT_EQ(g_app.packageUrl, package);
    }
};

// ---------------------------------------------------------------------------
// Each job's first status, and "Cancelled." when the window goes away.

struct StartCase {
    const char* name;
    void (*start)();
    JobPhase phase;
    const wchar_t* message;
};

void PrintTo(const StartCase& c, std::ostream* out) {
    *out << c.name;
}

class JobStartTest : public JobsTest, public ::testing::WithParamInterface<StartCase> {};

TEST_P(JobStartTest, ShowsItsFirstStatusAndEndsCancelledWhenJoined) {
    const StartCase& c = GetParam();
    ServeFeedSlowly();
    // The uninstall job waits in the app stop while another program holds
    // the executable.
    system_testing::PlaceApp(system_testing::AppExePath());
    UniqueHandle holder = system_testing::HoldOpen(system_testing::AppExePath());
    ASSERT_TRUE(Valid(holder));
    g_app.cancelRequested.store(true); // a start clears it

    c.start();
    EXPECT_TRUE(g_app.jobActive.load());
    EXPECT_TRUE(WorkerThreadStarted());
    EXPECT_FALSE(g_app.cancelRequested.load());
    ExpectStatus(c.phase, c.message);
    Sleep(500);
    EXPECT_TRUE(g_app.jobActive.load()) << "the job should still be waiting";

    CancelAndJoinWorker();
    EXPECT_FALSE(g_app.jobActive.load());
    EXPECT_FALSE(WorkerThreadStarted());
    ExpectStatus(Failed, L"Cancelled.");
    EXPECT_TRUE(fs::exists(system_testing::AppExePath())) << "a cancelled job removed the app";
}

INSTANTIATE_TEST_SUITE_P(
    Table, JobStartTest,
    ::testing::Values(
        StartCase{"Check", [] { StartCheckOrInstallJob(false); }, Checking,
                  L"Looking up the current version."},
        StartCase{"Install", [] { StartCheckOrInstallJob(true); }, Working, L"Downloading"},
        StartCase{"Uninstall", [] { StartUninstallJob(); }, Working, L"Closing Movora"}),
    [](const ::testing::TestParamInfo<StartCase>& info) { return info.param.name; });

TEST_F(JobsTest, ASecondStartWhileAJobRunsIsDropped) {
    ServeFeedSlowly();
    StartCheckOrInstallJob(false);
    const DWORD running = GetThreadId(g_app.worker.get());
    StartCheckOrInstallJob(true);
    StartUninstallJob();
    StartCheckOrInstallJob(false);
    EXPECT_EQ(GetThreadId(g_app.worker.get()), running) << "a second worker was started";
    ExpectStatus(Checking, L"Looking up the current version.");
    CancelAndJoinWorker();
    EXPECT_EQ(RequestsFor(kFeedPath), 1);
}

TEST_F(JobsTest, CancelAndJoinWithoutAWorkerReturnsAtOnce) {
    ASSERT_FALSE(WorkerThreadStarted());
    CancelAndJoinWorker();
    EXPECT_TRUE(g_app.cancelRequested.load());
    EXPECT_FALSE(WorkerThreadStarted());
}

// ---------------------------------------------------------------------------
// The check job.

TEST_F(JobsTest, CheckStoresTheReleaseAndEndsReady) {
    StartCheckOrInstallJob(false);
    ASSERT_TRUE(PumpUntilJobEnded());
    ExpectStatus(Ready, L"Ready to install.");
    ExpectRelease(L"2.0.0", PackageUrl());
    EXPECT_EQ(RequestsFor(kPackagePath), 0);
    // An ended job's thread stays joinable until the next start or the close;
    // the next start joins it and runs a new job.
    EXPECT_TRUE(WorkerThreadStarted());
    StartCheckOrInstallJob(false);
    ASSERT_TRUE(PumpUntilJobEnded());
    EXPECT_EQ(RequestsFor(kFeedPath), 2);
    CancelAndJoinWorker();
    EXPECT_FALSE(WorkerThreadStarted());
}

TEST_F(JobsTest, CheckFailureShowsTheFetchSentenceAndKeepsTheOldRelease) {
    server_.Script(kFeedPath, ScriptedResponse{500, "no"});
    {
        StatusGuard lock(g_app.statusMutex);
        g_app.latestVersion = L"1.0.0";
        g_app.packageUrl = L"https://old.example/p.zip";
    }
    StartCheckOrInstallJob(false);
    ASSERT_TRUE(PumpUntilJobEnded());
    ExpectStatus(Failed, L"The server returned an error.");
    ExpectRelease(L"1.0.0", L"https://old.example/p.zip");
}

// ---------------------------------------------------------------------------
// The install job.

TEST_F(JobsTest, InstallWithAFailedListFetchNeverDownloads) {
    server_.Script(kFeedPath, ScriptedResponse{200, R"({"package": "x"})"});
    StartCheckOrInstallJob(true);
    ASSERT_TRUE(PumpUntilJobEnded());
    ExpectStatus(Failed, L"The release list is missing a version.");
    EXPECT_EQ(RequestsFor(kPackagePath), 0);
}

// The install job reads the list afresh: a package named only by the new list
// is the one it asks for.
TEST_F(JobsTest, InstallFetchesTheListAgainAndShowsTheDownloadSentence) {
    {
        StatusGuard lock(g_app.statusMutex);
        g_app.packageUrl = server_.Url("/packages/stale.zip");
        g_app.progressPercent = 57;
    }
    StartCheckOrInstallJob(true);
    ASSERT_TRUE(PumpUntilJobEnded());
    ExpectStatus(Failed, L"The server returned an error.");
    EXPECT_EQ(RequestsFor(kFeedPath), 1);
    EXPECT_EQ(RequestsFor(kPackagePath), 1);
    EXPECT_EQ(RequestsFor("/packages/stale.zip"), 0);
    EXPECT_FALSE(fs::exists(GetPackageFilePath(L"2.0.0")));
}

TEST_F(JobsTest, ClosingDuringTheDownloadCancelsAndLeavesNoPackageFile) {
    ScriptedResponse slow{200, PatternBytes(2 * 1024 * 1024)};
    slow.chunkSize = 16 * 1024;
    slow.pauseBetweenPiecesMs = 100; // about 13 s in all
    server_.Script(kPackagePath, slow);
    StartCheckOrInstallJob(true);
    ASSERT_TRUE(PumpUntil([] { return CurrentStatus().percent > 0; }, 20000))
        << "the download never reported progress";
    EXPECT_TRUE(fs::exists(GetPackageFilePath(L"2.0.0")));

    CancelAndJoinWorker();
    ExpectStatus(Failed, L"Cancelled.");
    EXPECT_FALSE(fs::exists(GetPackageFilePath(L"2.0.0")));
}

// ---------------------------------------------------------------------------
// The uninstall job.

TEST_F(JobsTest, UninstallOfNothingInstalledEndsDone) {
    StartUninstallJob();
    ASSERT_TRUE(PumpUntilJobEnded());
    ExpectStatus(Done, L"Movora has been removed.");
    EXPECT_EQ(server_.Requests().size(), 0u);
}

TEST_F(JobsTest, UninstallThatFailsWithoutASentenceShowsTheFallback) {
    // A file where the install root belongs: the engine fails without a word.
    WriteFileBytes(system_testing::InstallRootPath(), "in the way");
    StartUninstallJob();
    ASSERT_TRUE(PumpUntilJobEnded());
    ExpectStatus(Failed, L"Movora could not be removed.");
    DeleteFileW(system_testing::InstallRootPath().c_str());
}

TEST_F(JobsTest, UninstallKeepsTheEngineSentence) {
    system_testing::PlaceApp(system_testing::AppExePath());
    // A folder with a file held open where the executable belongs outlives
    // the removal.
    system_testing::RemoveTestTree(system_testing::AppExePath());
    const std::wstring held = system_testing::AppExePath() + L"\\held.bin";
    fs::create_directories(system_testing::AppExePath());
    WriteFileBytes(held, "x");
    UniqueHandle holder = system_testing::HoldOpen(held);
    ASSERT_TRUE(Valid(holder));
    StartUninstallJob();
    ASSERT_TRUE(PumpUntilJobEnded());
    ExpectStatus(Failed, L"Some Movora files are still in use.");
}

// ---------------------------------------------------------------------------
// Whatever escapes an engine, the job ends with its final status.

// Something no engine handler expects (it derives from nothing), raised from
// inside an engine's step through the status observer, which the engines
// call on the worker thread.
struct UnexpectedError {};

const wchar_t* g_raiseAt = L"";
DWORD g_uiThread = 0;

void RaiseOnTheWorker(const std::wstring& message) {
    if (message == g_raiseAt && GetCurrentThreadId() != g_uiThread) {
        throw UnexpectedError{};
    }
}

struct EscapeCase {
    const char* name;
    void (*start)();
    const wchar_t* raiseAt; // a step the engine reports
    const wchar_t* fallback;
};

void PrintTo(const EscapeCase& c, std::ostream* out) {
    *out << c.name;
}

class EscapedErrorTest : public JobsTest, public ::testing::WithParamInterface<EscapeCase> {
  protected:
    void TearDown() override {
        SetStatusObserver(nullptr);
        JobsTest::TearDown();
    }
};

TEST_P(EscapedErrorTest, EndsTheJobWithItsFallbackSentence) {
    g_uiThread = GetCurrentThreadId();
    g_raiseAt = GetParam().raiseAt;
    SetStatusObserver(&RaiseOnTheWorker);
    GetParam().start();
    ASSERT_TRUE(PumpUntilJobEnded());
    SetStatusObserver(nullptr);
    ExpectStatus(Failed, GetParam().fallback);
    CancelAndJoinWorker();
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, EscapedErrorTest,
    ::testing::Values(EscapeCase{"Install", [] { StartCheckOrInstallJob(true); }, L"Downloading",
                                 L"Something went wrong."},
                      EscapeCase{"Uninstall", [] { StartUninstallJob(); }, L"Removing Movora",
                                 L"Movora could not be removed."}),
    [](const ::testing::TestParamInfo<EscapeCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// A job counts as active until its final status is out, so no start can slip
// in between the last step and the result and be overwritten by it.

std::atomic<int> g_activeAtFinal{-1};

void NoteActiveAtFinal(const std::wstring& message) {
    if (message == L"Ready to install.") {
        g_activeAtFinal = g_app.jobActive.load() ? 1 : 0;
    }
}

TEST_F(JobsTest, JobIsActiveWhenItsFinalStatusIsSet) {
    g_activeAtFinal = -1;
    SetStatusObserver(&NoteActiveAtFinal);
    StartCheckOrInstallJob(false);
    const bool ended = PumpUntilJobEnded();
    SetStatusObserver(nullptr);
    ASSERT_TRUE(ended);
    ExpectStatus(Ready, L"Ready to install.");
    EXPECT_EQ(g_activeAtFinal.load(), 1);
    CancelAndJoinWorker();
}

} // namespace
