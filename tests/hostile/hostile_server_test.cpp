// A release server that misbehaves on purpose: headers without end, a body
// without end, a body that trickles one byte a second. Every transfer runs on
// its own thread under a generous deadline, so a hang fails the test instead
// of holding it.
#include "feed/http_get.h"
#include "feed/release_list.h"
#include "install/locations.h"
#include "shell/app_state.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <set>
#include <thread>

namespace fs = std::filesystem;
using testing_support::HttpTestServer;
using testing_support::PatternBytes;
using testing_support::ScriptedResponse;
using testing_support::TempFolder;
using Clock = std::chrono::steady_clock;

namespace {

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Narrow(const std::wstring& text) {
    return fs::path(text).string();
}

class HostileServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_app.cancelRequested.store(false);
        ASSERT_TRUE(server_.Start());
        savedFeed_ = g_app.feedUrl;
        g_app.feedUrl = server_.Url("/releases/latest.json");
        // A free port could be an origin's own; these tests want no fallback.
        ASSERT_EQ(RewriteDownloadUrl(g_app.feedUrl), L"");
        StoreRelease(L"kept version", L"kept package", L"kept notes", L"kept sha");
    }
    void TearDown() override {
        g_app.cancelRequested.store(false);
        server_.Stop();
        g_app.feedUrl = savedFeed_;
    }

    static void StoreRelease(const wchar_t* version, const wchar_t* package, const wchar_t* notes,
                             const wchar_t* sha) {
        StatusGuard lock(g_app.statusMutex);
        g_app.latestVersion = version;
        g_app.packageUrl = package;
        g_app.releaseNotes = notes;
        g_app.packageSha256 = sha;
    }
    static void ExpectReleaseKept() {
        StatusGuard lock(g_app.statusMutex);
        EXPECT_EQ(g_app.latestVersion, L"kept version");
        EXPECT_EQ(g_app.packageUrl, L"kept package");
        EXPECT_EQ(g_app.releaseNotes, L"kept notes");
        EXPECT_EQ(g_app.packageSha256, L"kept sha");
    }

    struct Outcome {
        bool finished = false;
        bool result = false;
        double seconds = 0;            // from the start to the end of the transfer
        double secondsAfterCancel = 0; // from the cancel to the end, when there was one
    };

    // Runs transfer on a thread of its own, raising the cancel flag after
    // cancelAfterSeconds (when given), and waits up to limitSeconds for it. A
    // transfer still running then fails the test; the server is stopped to
    // free it, so the thread can be joined.
    Outcome RunBounded(const std::function<bool()>& transfer, double limitSeconds,
                       double cancelAfterSeconds = -1) {
        std::packaged_task<bool()> task(transfer);
        std::future<bool> done = task.get_future();
        Clock::time_point cancelledAt{};
        const Clock::time_point start = Clock::now();
        std::thread worker(std::move(task));
        Outcome outcome;
        if (cancelAfterSeconds >= 0 && done.wait_for(std::chrono::duration<double>(
                                           cancelAfterSeconds)) == std::future_status::timeout) {
            g_app.cancelRequested.store(true);
            cancelledAt = Clock::now();
        }
        outcome.finished =
            done.wait_until(start + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(limitSeconds))) ==
            std::future_status::ready;
        outcome.seconds = SecondsSince(start);
        if (cancelledAt != Clock::time_point{}) {
            outcome.secondsAfterCancel = SecondsSince(cancelledAt);
        }
        if (!outcome.finished) {
            ADD_FAILURE() << "the transfer was still running after " << limitSeconds << " s";
            g_app.cancelRequested.store(true);
            server_.Stop();
        }
        worker.join();
        outcome.result = done.get();
        return outcome;
    }

    HttpTestServer server_;
    std::wstring savedFeed_;
};

// ---------------------------------------------------------------------------
// Headers without end: the status line, then header lines, and the empty line
// that would end them never comes. Windows' WinHTTP refuses more than 64 KiB
// of headers by default and fails the request. Wine 8's reads on for as long
// as the server sends, at a cost that grows with the square of the size
// (1 MiB took 4 s here, 4 MiB 92 s), and when the server then closes, it
// reports the status line's 200 with an empty body. So the server gives up
// after 256 KiB, four times the Windows limit, and the test accepts Wine's
// empty success; either way no byte of a body arrives and the release stays
// as it was.

TEST_F(HostileServerTest, EndlessHeadersEndTheTransferWithoutABody) {
    ScriptedResponse endless;
    endless.endlessHeaders = true;
    endless.hostileLimitBytes = 256u << 10;
    server_.Script("/releases/latest.json", endless);
    const bool wine = testing_support::RunningUnderWine();

    HttpTransfer transfer;
    const Outcome outcome = RunBounded([&] { return HttpGet(g_app.feedUrl, transfer, false); }, 60);
    ASSERT_TRUE(outcome.finished);
    if (outcome.result) {
        EXPECT_TRUE(wine) << "headers without end were taken for a response";
    } else {
        EXPECT_EQ(Narrow(transfer.error), "Could not reach the download server.");
    }
    EXPECT_TRUE(transfer.body.empty());
    std::printf("[hostile] endless headers: %s after %.1f s\n",
                outcome.result ? "an empty success" : "refused", outcome.seconds);

    std::wstring error;
    const Outcome fetch = RunBounded([&] { return FetchReleaseList(error); }, 60);
    ASSERT_TRUE(fetch.finished);
    EXPECT_FALSE(fetch.result);
    EXPECT_EQ(Narrow(error), outcome.result ? "The release list is missing a version."
                                            : "Could not reach the download server.");
    ExpectReleaseKept();
}

// ---------------------------------------------------------------------------
// A body without end, in memory mode: the transfer stops itself just past
// the 2 MiB cap, whatever length the server announces, with nothing but the
// bytes that were sent.

struct EndlessBodyCase {
    const char* name;
    bool chunked;
    const char* contentLength; // announced, never kept to
};

void PrintTo(const EndlessBodyCase& c, std::ostream* out) {
    *out << c.name;
}

class EndlessBodyTest : public HostileServerTest,
                        public ::testing::WithParamInterface<EndlessBodyCase> {};

TEST_P(EndlessBodyTest, MemoryModeStopsAtTheCap) {
    const EndlessBodyCase& c = GetParam();
    const std::string pattern = PatternBytes(65521); // not a multiple of any read size
    ScriptedResponse endless{200, pattern};
    endless.endlessBody = true;
    endless.chunked = c.chunked;
    endless.contentLength = c.contentLength;
    endless.chunkSize = 16384;
    server_.Script("/releases/latest.json", endless);

    HttpTransfer transfer;
    const Outcome outcome = RunBounded([&] { return HttpGet(g_app.feedUrl, transfer, false); }, 60);
    ASSERT_TRUE(outcome.finished);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(Narrow(transfer.error), "The release file was larger than expected.");
    // Past the cap by at most one read; the HTTP stack hands out what it has
    // buffered (8 KiB a pass under Wine).
    EXPECT_GT(transfer.body.size(), kMemoryBodyCap);
    EXPECT_LE(transfer.body.size(), kMemoryBodyCap + 65536);
    bool sameBytes = true;
    for (size_t i = 0; i < transfer.body.size() && sameBytes; ++i) {
        sameBytes = transfer.body[i] == pattern[i % pattern.size()];
    }
    EXPECT_TRUE(sameBytes) << "the body holds bytes the server never sent";

    std::wstring error;
    const Outcome fetch = RunBounded([&] { return FetchReleaseList(error); }, 60);
    ASSERT_TRUE(fetch.finished);
    EXPECT_FALSE(fetch.result);
    EXPECT_EQ(Narrow(error), "The release file was larger than expected.");
    ExpectReleaseKept();
}

INSTANTIATE_TEST_SUITE_P(
    Framings, EndlessBodyTest,
    ::testing::Values(EndlessBodyCase{"no_length", false, ""}, EndlessBodyCase{"chunked", true, ""},
                      EndlessBodyCase{"length_of_4_GiB_less_one", false, "4294967295"},
                      EndlessBodyCase{"length_beyond_32_bits", false, "99999999999"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// A body that trickles one byte a second, without end. Only the cancel flag
// ends it (each byte comes well within the receive time-out); once raised,
// the transfer ends at the next byte.

ScriptedResponse EndlessTrickle(bool chunked) {
    ScriptedResponse trickle{200, "{\"version\":\"1\",\"package\":\"p\"}"};
    trickle.endlessBody = true;
    trickle.chunked = chunked;
    trickle.chunkSize = 1;
    trickle.pauseBetweenPiecesMs = 1000;
    return trickle;
}

class TrickleTest : public HostileServerTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TrickleTest, CancelEndsItWithinOneChunk) {
    const bool toFile = GetParam();
    server_.Script("/releases/latest.json", EndlessTrickle(false));
    TempFolder folder;

    HttpTransfer transfer;
    transfer.toFile = toFile;
    transfer.filePath = folder / L"trickle.zip";
    const Outcome outcome =
        RunBounded([&] { return HttpGet(g_app.feedUrl, transfer, toFile); }, 30, 3.5);
    ASSERT_TRUE(outcome.finished);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(Narrow(transfer.error), "Cancelled.");
    const size_t received = toFile ? static_cast<size_t>(fs::file_size(fs::path(transfer.filePath)))
                                   : transfer.body.size();
    // About three bytes before the cancel, one more at most after it, which
    // comes within a second.
    EXPECT_GE(received, 2u);
    EXPECT_LE(received, 6u);
    EXPECT_LE(outcome.secondsAfterCancel, 2.5);
    std::printf("[hostile] trickle (%s): %zu bytes, ended %.2f s after the cancel\n",
                toFile ? "file" : "memory", received, outcome.secondsAfterCancel);
}

INSTANTIATE_TEST_SUITE_P(Modes, TrickleTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "file" : "memory"; });

TEST_F(HostileServerTest, CancelEndsATrickledReleaseListAndKeepsTheRelease) {
    server_.Script("/releases/latest.json", EndlessTrickle(true));

    std::wstring error;
    const Outcome outcome = RunBounded([&] { return FetchReleaseList(error); }, 30, 3.5);
    ASSERT_TRUE(outcome.finished);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(Narrow(error), "Cancelled.");
    EXPECT_LE(outcome.secondsAfterCancel, 2.5);
    ExpectReleaseKept();
    EXPECT_EQ(server_.Requests().size(), 1u);
}

// A trickle whose source falls silent ends with the receive time-out, counted
// from the last byte that came, not from the start.
TEST_F(HostileServerTest, TrickleThatFallsSilentEndsWithTheReceiveTimeout) {
    ScriptedResponse trickle{200, PatternBytes(100)};
    trickle.chunkSize = 1;
    trickle.pauseBetweenPiecesMs = 1000;
    trickle.stallAfter = 4;
    trickle.stallMs = 120000;
    server_.Script("/p.zip", trickle);
    TempFolder folder;
    HttpTransfer transfer;
    transfer.toFile = true;
    transfer.filePath = folder / L"p.zip";

    // The file shows when the fourth byte has landed.
    Clock::time_point lastByte{};
    const Outcome outcome = RunBounded(
        [&] {
            std::atomic<bool> over{false};
            std::thread watcher([&] {
                std::error_code ignored;
                while (!over.load()) {
                    if (lastByte == Clock::time_point{} &&
                        fs::file_size(fs::path(transfer.filePath), ignored) == 4) {
                        lastByte = Clock::now();
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                }
            });
            const bool result = HttpGet(server_.Url("/p.zip"), transfer, true);
            over.store(true);
            watcher.join();
            return result;
        },
        90);
    ASSERT_TRUE(outcome.finished);
    EXPECT_FALSE(outcome.result);
    EXPECT_EQ(Narrow(transfer.error), "The download stopped.");
    ASSERT_NE(lastByte, Clock::time_point{}) << "the fourth byte never landed";
    const double silent = SecondsSince(lastByte);
    EXPECT_GE(silent, 15.0);
    EXPECT_LE(silent, 45.0);
    EXPECT_GE(outcome.seconds - silent, 2.5) << "the trickle itself took about 3 s";
}

// ---------------------------------------------------------------------------
// Writes only where they belong: a snapshot of the prefix's drive C before and
// after a batch of hostile fetches. Only the temporary folder and the install
// root may differ.

TEST_F(HostileServerTest, HostileFetchesWriteOnlyInTheTemporaryFolder) {
    const std::wstring temp = GetTempFolder();
    const std::wstring installRoot =
        JoinPath(GetKnownFolderPath(FOLDERID_LocalAppData), kInstallRootName);
    ASSERT_FALSE(temp.empty());
    const std::wstring drive = fs::path(temp).root_path().wstring();
    hostile::RandomRun run =
        hostile::StartRandomRun("fetches in the drive snapshot", 0x5eed0006, 60);
    const hostile::Snapshot before = hostile::TakeSnapshot(drive);

    TempFolder folder;
    const std::string valid = R"({"version":"1.2.3","package":"https://h/Movora.zip",)"
                              R"("notes":"n","sha256":"ab"})";
    for (size_t i = 0; i < run.inputs; ++i) {
        const std::string document = hostile::Mutate(valid, run.rng, 6);
        server_.Script("/releases/latest.json", ScriptedResponse{200, document});
        std::wstring error;
        FetchReleaseList(error);
        // The same bytes as a download into the temporary folder.
        HttpTransfer download;
        download.toFile = true;
        download.filePath = folder / (L"download-" + std::to_wstring(i % 4) + L".zip");
        EXPECT_TRUE(HttpGet(g_app.feedUrl, download, true)) << Narrow(download.error);
    }
    ScriptedResponse endless{200, PatternBytes(4096)};
    endless.endlessBody = true;
    server_.Script("/releases/latest.json", endless);
    std::wstring error;
    EXPECT_FALSE(FetchReleaseList(error));
    EXPECT_EQ(Narrow(error), "The release file was larger than expected.");

    const std::set<std::wstring> changed =
        hostile::ChangedEntries(before, hostile::TakeSnapshot(drive));
    size_t inTemp = 0;
    for (const std::wstring& path : changed) {
        if (hostile::IsAtOrBelow(path, temp) || hostile::IsAtOrBelow(path, installRoot)) {
            ++inTemp;
        } else {
            ADD_FAILURE() << "changed outside the temporary folder: " << Narrow(path);
        }
    }
    EXPECT_GT(inTemp, 0u) << "the downloads should have shown up in the snapshot";
    std::printf("[hostile] drive snapshot: %zu entries changed, all in the temporary folder\n",
                changed.size());
}

} // namespace
