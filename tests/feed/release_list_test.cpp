// The release list: the key scanner, the origin rewrite, and FetchReleaseList
// against loopback servers on the two origins of the test build.
#include "feed/release_list.h"

#include "feed/origins.h"
#include "shell/app_state.h"
#include "shell/text.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testing_support::HttpTestServer;
using testing_support::ScriptedResponse;

namespace {

// ---------------------------------------------------------------------------
// ExtractJsonString

struct ScanCase {
    const char* name;
    std::string document;
    const char* key;
    std::wstring expected;
};

void PrintTo(const ScanCase& c, std::ostream* out) {
    *out << c.name;
}

class ExtractJsonStringTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ExtractJsonStringTest, FindsTheValueAsTheScannerReadsIt) {
    const ScanCase& c = GetParam();
    EXPECT_EQ(ExtractJsonString(c.document, c.key), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExtractJsonStringTest,
    ::testing::Values(
        ScanCase{"plain", R"({"version": "1.4.0", "package": "https://h/p.zip"})", "version",
                 L"1.4.0"},
        ScanCase{"order does not matter", R"({"package":"p","version":"2"})", "version", L"2"},
        ScanCase{"number takes the next string", R"({"version": 2, "package": "https://h/p.zip"})",
                 "version", L"package"},
        ScanCase{"escaped quote", R"({"notes": "say \"hi\" now"})", "notes", L"say \"hi\" now"},
        ScanCase{"crlf becomes lf", R"({"notes": "a\r\nb"})", "notes", L"a\nb"},
        ScanCase{"lone cr dropped", R"({"notes": "a\rb"})", "notes", L"ab"},
        ScanCase{"tab stays the letter t", R"({"notes": "a\tb"})", "notes", L"atb"},
        ScanCase{"u escape stays text", R"({"notes": "caf\u00e9"})", "notes", L"cafu00e9"},
        ScanCase{"backslash and slash", R"({"notes": "a\\b\/c"})", "notes", L"a\\b/c"},
        ScanCase{"utf8 widened", "{\"notes\": \"caf\xC3\xA9 \xE2\x82\xAC\"}", "notes",
                 L"caf\u00e9 \u20ac"},
        ScanCase{"nested object counts", R"({"meta": {"version": "0.9"}, "version": "1.0"})",
                 "version", L"0.9"},
        ScanCase{"key name as an earlier value",
                 R"({"kind": "version", "label": "beta", "version": "1.0"})", "version", L"beta"},
        ScanCase{"key is case-sensitive", R"({"Version": "1.0"})", "version", L""},
        ScanCase{"unquoted key is no key", R"({version: "1.0"})", "version", L""},
        ScanCase{"missing key", R"({"package": "p"})", "version", L""},
        ScanCase{"key at the very end", R"({"version")", "version", L""},
        ScanCase{"no colon", R"({"version" "1.0"})", "version", L""},
        ScanCase{"no opening quote", R"({"version": 12})", "version", L""},
        ScanCase{"empty value", R"({"version": ""})", "version", L""},
        ScanCase{"unterminated value runs to the end", R"({"version": "1.2)", "version", L"1.2"},
        ScanCase{"trailing backslash is kept", "{\"version\": \"1.2\\", "version", L"1.2\\"},
        ScanCase{"escaped quote at the end", "{\"version\": \"1.2\\\"", "version", L"1.2\""},
        ScanCase{"empty document", "", "version", L""},
        ScanCase{"binary around the key",
                 std::string("\x00\xff\x01\"version\"\x00:\x02\"v\x00z\"", 20), "version",
                 std::wstring(L"v\0z", 3)}),
    [](const ::testing::TestParamInfo<ScanCase>& info) {
        return testing_support::CaseName(info.param.name);
    });

// ---------------------------------------------------------------------------
// RewriteDownloadUrl, with the origins of this build.

TEST(RewriteDownloadUrlTest, ReplacesTheFirstOccurrenceOfTheReleaseOrigin) {
    const std::wstring release = Utf8ToWide(ReleaseServerOrigin());
    const std::wstring download = Utf8ToWide(DownloadOrigin());
    ASSERT_FALSE(release.empty());
    ASSERT_NE(release, download);

    EXPECT_EQ(RewriteDownloadUrl(release + L"/releases/latest.json"),
              download + L"/releases/latest.json");
    EXPECT_EQ(RewriteDownloadUrl(release + L"/p/Movora 1.zip?sig=a%2Fb#x"),
              download + L"/p/Movora 1.zip?sig=a%2Fb#x");
    EXPECT_EQ(RewriteDownloadUrl(release), download);
    EXPECT_EQ(RewriteDownloadUrl(L"https://mirror.example/?from=" + release + L"/x"),
              L"https://mirror.example/?from=" + download + L"/x");
    EXPECT_EQ(RewriteDownloadUrl(release + L"/a?b=" + release), download + L"/a?b=" + release);
}

TEST(RewriteDownloadUrlTest, GivesNothingWithoutTheReleaseOrigin) {
    const std::wstring release = Utf8ToWide(ReleaseServerOrigin());
    const std::wstring download = Utf8ToWide(DownloadOrigin());
    std::wstring upper = release;
    for (wchar_t& c : upper) {
        c = static_cast<wchar_t>(towupper(c));
    }
    for (const std::wstring& url :
         {std::wstring(), release.substr(0, release.size() - 1), upper + L"/x",
          download + L"/releases/latest.json", std::wstring(L"https://example.org/p.zip")}) {
        EXPECT_EQ(RewriteDownloadUrl(url), L"") << fs::path(url).string();
    }
}

// ---------------------------------------------------------------------------
// FetchReleaseList against servers on the two fixed origins of the test build.

// The origins are fixed ports, so the test processes of one run take turns
// through a mutex that all of them see.
class ReleaseListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        portLock_ = CreateMutexW(nullptr, FALSE, L"MovoraFeedTestsFixedPorts");
        ASSERT_NE(portLock_, nullptr);
        const DWORD waited = WaitForSingleObject(portLock_, 120000);
        ASSERT_TRUE(waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED);
        locked_ = true;
        g_app.cancelRequested.store(false);
        savedFeed_ = g_app.feedUrl;
        g_app.feedUrl = Utf8ToWide(ReleaseServerOrigin()) + L"/releases/latest.json";
        SetRelease(L"old", L"old-package", L"old notes", L"old-sha");
    }
    void TearDown() override {
        releaseServer_.Stop();
        downloadServer_.Stop();
        g_app.cancelRequested.store(false);
        g_app.feedUrl = savedFeed_;
        if (locked_) {
            ReleaseMutex(portLock_);
        }
        if (portLock_ != nullptr) {
            CloseHandle(portLock_);
        }
    }

    static std::uint16_t PortOf(const std::string& origin) {
        return static_cast<std::uint16_t>(std::stoi(origin.substr(origin.rfind(':') + 1)));
    }
    void StartReleaseServer() { ASSERT_TRUE(releaseServer_.Start(PortOf(ReleaseServerOrigin()))); }
    void StartDownloadServer() { ASSERT_TRUE(downloadServer_.Start(PortOf(DownloadOrigin()))); }

    static void SetRelease(const std::wstring& version, const std::wstring& package,
                           const std::wstring& notes, const std::wstring& sha) {
        std::lock_guard<std::mutex> lock(g_app.statusMutex);
        g_app.latestVersion = version;
        g_app.packageUrl = package;
        g_app.releaseNotes = notes;
        g_app.packageSha256 = sha;
    }
    struct Release {
        std::wstring version, package, notes, sha;
    };
    static Release CurrentRelease() {
        std::lock_guard<std::mutex> lock(g_app.statusMutex);
        return Release{g_app.latestVersion, g_app.packageUrl, g_app.releaseNotes,
                       g_app.packageSha256};
    }
    void ExpectOldReleaseKept() {
        const Release r = CurrentRelease();
        EXPECT_EQ(r.version, L"old");
        EXPECT_EQ(r.package, L"old-package");
        EXPECT_EQ(r.notes, L"old notes");
        EXPECT_EQ(r.sha, L"old-sha");
    }

    // A list whose package lives on the release server origin.
    static std::string ListOnReleaseOrigin() {
        return R"({"version": "2.0.1", "package": ")" + ReleaseServerOrigin() +
               R"(/packages/Movora-2.0.1.zip", "notes": "Faster start.", "sha256": "ABC123"})";
    }

    HttpTestServer releaseServer_;
    HttpTestServer downloadServer_;
    HANDLE portLock_ = nullptr;
    bool locked_ = false;
    std::wstring savedFeed_;
};

TEST_F(ReleaseListTest, StoresTheFourValuesFromTheReleaseServer) {
    StartReleaseServer();
    releaseServer_.Script("/releases/latest.json", ScriptedResponse{200, ListOnReleaseOrigin()});
    std::wstring error = L"untouched";
    ASSERT_TRUE(FetchReleaseList(error)) << fs::path(error).string();
    EXPECT_EQ(error, L"untouched");
    const Release r = CurrentRelease();
    EXPECT_EQ(r.version, L"2.0.1");
    EXPECT_EQ(r.package, Utf8ToWide(ReleaseServerOrigin()) + L"/packages/Movora-2.0.1.zip");
    EXPECT_EQ(r.notes, L"Faster start.");
    EXPECT_EQ(r.sha, L"ABC123");
    ASSERT_EQ(releaseServer_.Requests().size(), 1u);
    EXPECT_EQ(releaseServer_.Requests()[0].target, "/releases/latest.json");
}

struct ListCase {
    const char* name;
    std::string document;
    bool accepted;
    std::wstring version, package, notes, sha;
};

void PrintTo(const ListCase& c, std::ostream* out) {
    *out << c.name;
}

ListCase Rejected(const char* name, std::string document) {
    return ListCase{name, std::move(document), false, L"", L"", L"", L""};
}

class ReleaseListDocumentTest : public ReleaseListTest,
                                public ::testing::WithParamInterface<ListCase> {};

TEST_P(ReleaseListDocumentTest, PublishesAllOrNothing) {
    const ListCase& c = GetParam();
    StartReleaseServer();
    releaseServer_.Script("/releases/latest.json", ScriptedResponse{200, c.document});
    std::wstring error;
    ASSERT_EQ(FetchReleaseList(error), c.accepted) << fs::path(error).string();
    if (!c.accepted) {
        EXPECT_EQ(error, L"The release list is missing a version.");
        ExpectOldReleaseKept();
        return;
    }
    const Release r = CurrentRelease();
    EXPECT_EQ(r.version, c.version);
    EXPECT_EQ(r.package, c.package);
    EXPECT_EQ(r.notes, c.notes);
    EXPECT_EQ(r.sha, c.sha);
}

const std::string kNotes180(180, 'n');
const std::string kNotes181 = kNotes180 + "X";
// 179 letters and a character outside the basic plane: the cut counts UTF-16
// units, so it falls between the two halves of the pair.
const std::string kNotesPair = std::string(179, 'n') + "\xF0\x9F\x8E\xAC" + "tail";

INSTANTIATE_TEST_SUITE_P(
    Table, ReleaseListDocumentTest,
    ::testing::Values(
        ListCase{"no sha256", R"({"version":"1","package":"https://h/p.zip"})", true, L"1",
                 L"https://h/p.zip", L"", L""},
        ListCase{"number as version", R"({"version": 2, "package": "https://h/p.zip"})", true,
                 L"package", L"https://h/p.zip", L"", L""},
        ListCase{"notes of 180 kept whole",
                 R"({"version":"1","package":"p","notes":")" + kNotes180 + "\"}", true, L"1", L"p",
                 std::wstring(180, L'n'), L""},
        ListCase{"notes of 181 cut to 180",
                 R"({"version":"1","package":"p","notes":")" + kNotes181 + "\"}", true, L"1", L"p",
                 std::wstring(180, L'n'), L""},
        ListCase{"notes cut in code units",
                 R"({"version":"1","package":"p","notes":")" + kNotesPair + "\"}", true, L"1", L"p",
                 std::wstring(179, L'n') + L"\xD83C", L""},
        ListCase{"escapes in notes",
                 R"({"version":"1","package":"p","notes":"a \"b\"\r\nc\u00e9"})", true, L"1", L"p",
                 L"a \"b\"\ncu00e9", L""},
        Rejected("missing version", R"({"package":"https://h/p.zip"})"),
        Rejected("empty version", R"({"version":"","package":"https://h/p.zip"})"),
        Rejected("version but empty package", R"({"version":"1","package":""})"),
        Rejected("missing package", R"({"version":"1"})"),
        Rejected("not json", "<html>Service unavailable</html>"), Rejected("empty body", ""),
        Rejected("binary", std::string("\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR\"version", 21))),
    [](const ::testing::TestParamInfo<ListCase>& info) {
        return testing_support::CaseName(info.param.name);
    });

TEST_F(ReleaseListTest, UnreachableReleaseServerFallsBackToTheDownloadOrigin) {
    StartDownloadServer(); // nothing listens on the release server origin
    downloadServer_.Script("/releases/latest.json", ScriptedResponse{200, ListOnReleaseOrigin()});
    g_app.feedUrl = Utf8ToWide(ReleaseServerOrigin()) + L"/releases/latest.json?channel=beta";
    std::wstring error;
    ASSERT_TRUE(FetchReleaseList(error)) << fs::path(error).string();
    const Release r = CurrentRelease();
    EXPECT_EQ(r.version, L"2.0.1");
    EXPECT_EQ(r.package, Utf8ToWide(DownloadOrigin()) + L"/packages/Movora-2.0.1.zip");
    ASSERT_EQ(downloadServer_.Requests().size(), 1u);
    EXPECT_EQ(downloadServer_.Requests()[0].target, "/releases/latest.json?channel=beta");
}

TEST_F(ReleaseListTest, ServerErrorFallsBackAndTheLastFailureIsReported) {
    StartReleaseServer();
    releaseServer_.Script("/releases/latest.json",
                          ScriptedResponse{200, std::string(2097153, ' ')}); // too large
    StartDownloadServer(); // answers 404 for everything
    std::wstring error;
    EXPECT_FALSE(FetchReleaseList(error));
    EXPECT_EQ(error, L"The server returned an error.");
    EXPECT_EQ(releaseServer_.Requests().size(), 1u);
    EXPECT_EQ(downloadServer_.Requests().size(), 1u);
    ExpectOldReleaseKept();
}

TEST_F(ReleaseListTest, BothOriginsUnreachable) {
    std::wstring error;
    EXPECT_FALSE(FetchReleaseList(error));
    EXPECT_EQ(error, L"Could not reach the download server.");
    ExpectOldReleaseKept();
}

TEST_F(ReleaseListTest, FeedOnTheDownloadOriginMovesThePackageThere) {
    StartDownloadServer();
    downloadServer_.Script("/feed.json", ScriptedResponse{200, ListOnReleaseOrigin()});
    g_app.feedUrl = Utf8ToWide(DownloadOrigin()) + L"/feed.json";
    std::wstring error;
    ASSERT_TRUE(FetchReleaseList(error)) << fs::path(error).string();
    EXPECT_EQ(CurrentRelease().package,
              Utf8ToWide(DownloadOrigin()) + L"/packages/Movora-2.0.1.zip");
}

TEST_F(ReleaseListTest, FeedElsewhereFailsWithoutFallback) {
    HttpTestServer elsewhere;
    ASSERT_TRUE(elsewhere.Start());
    StartDownloadServer();
    downloadServer_.Script("/releases/latest.json", ScriptedResponse{200, ListOnReleaseOrigin()});
    g_app.feedUrl = elsewhere.Url("/releases/latest.json");
    std::wstring error;
    EXPECT_FALSE(FetchReleaseList(error));
    EXPECT_EQ(error, L"The server returned an error.");
    EXPECT_EQ(elsewhere.Requests().size(), 1u);
    EXPECT_TRUE(downloadServer_.Requests().empty());
    ExpectOldReleaseKept();
}

TEST_F(ReleaseListTest, CancelDuringTheFirstTransferMeansNoFallback) {
    StartReleaseServer();
    releaseServer_.Script("/releases/latest.json", ScriptedResponse{200, ListOnReleaseOrigin()});
    StartDownloadServer();
    downloadServer_.Script("/releases/latest.json", ScriptedResponse{200, ListOnReleaseOrigin()});
    g_app.cancelRequested.store(true);
    std::wstring error;
    EXPECT_FALSE(FetchReleaseList(error));
    EXPECT_EQ(error, L"Cancelled.");
    EXPECT_EQ(releaseServer_.Requests().size(), 1u);
    EXPECT_TRUE(downloadServer_.Requests().empty());
    ExpectOldReleaseKept();
}

TEST_F(ReleaseListTest, InvalidFeedUrlIsReportedAsSuch) {
    StartDownloadServer();
    g_app.feedUrl = L"http://example.org/releases/latest.json";
    std::wstring error;
    EXPECT_FALSE(FetchReleaseList(error));
    EXPECT_EQ(error, L"The download has to use HTTPS.");
    g_app.feedUrl = L"not a url";
    EXPECT_FALSE(FetchReleaseList(error));
    EXPECT_EQ(error, L"The download address is not valid.");
    EXPECT_TRUE(downloadServer_.Requests().empty());
}

} // namespace
