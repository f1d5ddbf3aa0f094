// The release list: the key scanner, the origin rewrite, and FetchReleaseList
// against loopback servers on the two origins of the test build.
#include "feed/release_list.h"

#include "feed/origins.h"
#include "shell/app_state.h"
#include "shell/text.h"
#include "tests/support/http_test_server.h"
#include "tests/support/release_signing.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace fs = std::filesystem;
using testing_support::HttpTestServer;
using testing_support::ScriptedResponse;
using testing_support::SignedReleaseList;
using testing_support::TestKey;
using testing_support::TestPublicKey;
using testing_support::TrustedKeysScope;

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
        StatusGuard lock(g_app.statusMutex);
        g_app.latestVersion = version;
        g_app.packageUrl = package;
        g_app.releaseNotes = notes;
        g_app.packageSha256 = sha;
    }
    struct Release {
        std::wstring version, package, notes, sha;
    };
    static Release CurrentRelease() {
        StatusGuard lock(g_app.statusMutex);
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

// ---------------------------------------------------------------------------
// Signed release lists, with the test keys trusted as a signed build trusts
// its own.

// Notes longer than the 180 units kept, with escapes: the signature covers
// them whole, as the scanner collects them.
const std::string kLongNotes =
    "Faster start \"for real\"\n" + std::string(150, 'n') + " and a long tail after the cut";

ReleaseListValues SignedValues() {
    return ReleaseListValues{"2.0.1", ReleaseServerOrigin() + "/packages/Movora-2.0.1.zip",
                             kLongNotes, std::string(64, 'c')};
}

// The signed list with one value replaced after signing.
std::string Tampered(std::string ReleaseListValues::*field, const std::string& value) {
    ReleaseListValues served = SignedValues();
    served.*field = value;
    return testing_support::ReleaseListJson(
        served, testing_support::SignMessage(ReleaseListMessage(SignedValues()), TestKey::First));
}

// The signed list carrying signature in place of its own.
std::string WithSignature(const std::function<std::string(std::string)>& change) {
    return testing_support::ReleaseListJson(
        SignedValues(),
        change(testing_support::SignMessage(ReleaseListMessage(SignedValues()), TestKey::First)));
}

class SignedListTest : public ReleaseListTest {
  protected:
    void ExpectSignedReleasePublished(const std::string& packageOrigin) {
        const Release r = CurrentRelease();
        EXPECT_EQ(r.version, L"2.0.1");
        EXPECT_EQ(r.package, Utf8ToWide(packageOrigin) + L"/packages/Movora-2.0.1.zip");
        EXPECT_EQ(r.notes, Utf8ToWide(kLongNotes).substr(0, kReleaseNotesLimit));
        EXPECT_EQ(r.sha, std::wstring(64, L'c'));
    }
    const TrustedKeysScope trusted_{testing_support::BothTestKeys()};
};

class SignedByEitherKeyTest : public SignedListTest,
                              public ::testing::WithParamInterface<TestKey> {};

TEST_P(SignedByEitherKeyTest, SignedListPublishesItsValues) {
    StartReleaseServer();
    releaseServer_.Script("/releases/latest.json",
                          ScriptedResponse{200, SignedReleaseList(SignedValues(), GetParam())});
    std::wstring error = L"untouched";
    ASSERT_TRUE(FetchReleaseList(error)) << fs::path(error).string();
    EXPECT_EQ(error, L"untouched");
    ExpectSignedReleasePublished(ReleaseServerOrigin());
}

INSTANTIATE_TEST_SUITE_P(Keys, SignedByEitherKeyTest,
                         ::testing::Values(TestKey::First, TestKey::Second),
                         [](const ::testing::TestParamInfo<TestKey>& info) {
                             return info.param == TestKey::First ? "FirstKey" : "SecondKey";
                         });

TEST_F(SignedListTest, LayoutKeyOrderAndOtherKeysDoNotMatter) {
    const ReleaseListValues v = SignedValues();
    const std::string signature =
        testing_support::SignMessage(ReleaseListMessage(v), TestKey::Second);
    const std::string notes =
        R"(Faster start \"for real\"\n)" + std::string(150, 'n') + " and a long tail after the cut";
    const std::string documents[] = {
        // Compact, one line.
        "{\"version\":\"2.0.1\",\"package\":\"" + v.package + "\",\"notes\":\"" + notes +
            "\",\"sha256\":\"" + v.sha256 + "\",\"signature\":\"" + signature + "\"}",
        // Another order, other keys, tabs and CRLF line ends, the signature first.
        "{\r\n\t\"signature\" : \"" + signature + "\",\r\n\t\"channel\": \"stable\",\r\n\t" +
            "\"mirror\": {\"region\": \"eu\"},\r\n\t\"sha256\" :\t\"" + v.sha256 +
            "\",\r\n\t\"notes\": \"" + notes + "\",\r\n\t\"size\": 1234,\r\n\t\"package\": \"" +
            v.package + "\",\r\n\t\"version\": \"2.0.1\"\r\n}\r\n",
        // The same characters written with other escapes (\/ is /, \r is nothing).
        "{\"version\":\"2.0.1\",\"package\":\"" + ReleaseServerOrigin() +
            R"(\/packages\/Movora-2.0.1.zip","notes":")" + notes + R"(","sha256":")" + v.sha256 +
            R"(\r","signature":")" + signature + "\"}"};
    StartReleaseServer();
    for (const std::string& document : documents) {
        SCOPED_TRACE(document);
        SetRelease(L"old", L"old-package", L"old notes", L"old-sha");
        releaseServer_.Script("/releases/latest.json", ScriptedResponse{200, document});
        std::wstring error;
        ASSERT_TRUE(FetchReleaseList(error)) << fs::path(error).string();
        ExpectSignedReleasePublished(ReleaseServerOrigin());
    }
}

struct RefusedCase {
    const char* name;
    std::function<std::string()> document;
    const wchar_t* sentence;
};

void PrintTo(const RefusedCase& c, std::ostream* out) {
    *out << c.name;
}

const wchar_t kNotSigned[] = L"The release list is not signed by Movora.";

// Trusts only the first key, so the second one is "another key".
class RefusedListTest : public ReleaseListTest, public ::testing::WithParamInterface<RefusedCase> {
  protected:
    const TrustedKeysScope trusted_{TestPublicKey(TestKey::First)};
};

TEST_P(RefusedListTest, RefusesWithTheSentenceAndKeepsTheOldRelease) {
    const RefusedCase& c = GetParam();
    StartReleaseServer();
    releaseServer_.Script("/releases/latest.json", ScriptedResponse{200, c.document()});
    std::wstring error;
    EXPECT_FALSE(FetchReleaseList(error));
    EXPECT_EQ(error, c.sentence);
    ExpectOldReleaseKept();
    EXPECT_EQ(releaseServer_.Requests().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedListTest,
    ::testing::Values(
        RefusedCase{"VersionChanged", [] { return Tampered(&ReleaseListValues::version, "2.0.2"); },
                    kNotSigned},
        RefusedCase{"PackageChanged",
                    [] {
                        return Tampered(&ReleaseListValues::package,
                                        "https://evil.example/Movora-2.0.1.zip");
                    },
                    kNotSigned},
        RefusedCase{"NotesChanged",
                    [] { return Tampered(&ReleaseListValues::notes, kLongNotes + "!"); },
                    kNotSigned},
        RefusedCase{"NotesChangedAfterTheCut",
                    [] { return Tampered(&ReleaseListValues::notes, kLongNotes.substr(0, 180)); },
                    kNotSigned},
        RefusedCase{"Sha256Changed",
                    [] { return Tampered(&ReleaseListValues::sha256, std::string(64, 'd')); },
                    kNotSigned},
        RefusedCase{"Sha256Dropped", [] { return Tampered(&ReleaseListValues::sha256, ""); },
                    kNotSigned},
        RefusedCase{"AnotherKeysSignature",
                    [] { return SignedReleaseList(SignedValues(), TestKey::Second); }, kNotSigned},
        RefusedCase{"TruncatedSignature",
                    [] { return WithSignature([](std::string s) { return s.substr(0, 127); }); },
                    kNotSigned},
        RefusedCase{"SignatureOneByteShort",
                    [] { return WithSignature([](std::string s) { return s.substr(0, 126); }); },
                    kNotSigned},
        RefusedCase{"OverlongSignature",
                    [] { return WithSignature([](std::string s) { return s.append("00"); }); },
                    kNotSigned},
        RefusedCase{"NonHexSignature",
                    [] {
                        return WithSignature([](const std::string& s) {
                            std::string changed = s.substr(0, 70);
                            changed += 'g';
                            changed += s.substr(71);
                            return changed;
                        });
                    },
                    kNotSigned},
        RefusedCase{"SignatureWithBlanks",
                    [] {
                        return WithSignature([](const std::string& s) {
                            // Appended: GCC 12 wrongly warns about " " + s + " " in C++20.
                            std::string padded(1, ' ');
                            padded += s;
                            padded += ' ';
                            return padded;
                        });
                    },
                    kNotSigned},
        RefusedCase{"EmptySignature",
                    [] {
                        std::string list = testing_support::ReleaseListJson(SignedValues(), "");
                        return list.insert(1, "\"signature\": \"\",");
                    },
                    kNotSigned},
        RefusedCase{"MissingSignature",
                    [] { return testing_support::ReleaseListJson(SignedValues(), ""); },
                    kNotSigned},
        RefusedCase{"SignedWithoutSha256",
                    [] {
                        ReleaseListValues v = SignedValues();
                        v.sha256.clear();
                        return SignedReleaseList(v);
                    },
                    L"The release list gives no checksum for the package."}),
    [](const ::testing::TestParamInfo<RefusedCase>& info) { return info.param.name; });

TEST_F(SignedListTest, SignedListFromTheDownloadOriginIsAccepted) {
    StartDownloadServer(); // nothing listens on the release server origin
    downloadServer_.Script("/releases/latest.json",
                           ScriptedResponse{200, SignedReleaseList(SignedValues())});
    std::wstring error;
    ASSERT_TRUE(FetchReleaseList(error)) << fs::path(error).string();
    // Signed on the release server origin, moved to the download origin after the check.
    ExpectSignedReleasePublished(DownloadOrigin());
}

TEST_F(SignedListTest, ListFromTheDownloadOriginMustVerifyToo) {
    StartDownloadServer();
    downloadServer_.Script("/releases/latest.json",
                           ScriptedResponse{200, Tampered(&ReleaseListValues::package,
                                                          DownloadOrigin() + "/evil.zip")});
    std::wstring error;
    EXPECT_FALSE(FetchReleaseList(error));
    EXPECT_EQ(error, kNotSigned);
    ExpectOldReleaseKept();
}

TEST_F(SignedListTest, RefusedListIsNotFetchedAgainFromTheDownloadOrigin) {
    StartReleaseServer();
    releaseServer_.Script("/releases/latest.json",
                          ScriptedResponse{200, Tampered(&ReleaseListValues::version, "9.9")});
    StartDownloadServer();
    downloadServer_.Script("/releases/latest.json",
                           ScriptedResponse{200, SignedReleaseList(SignedValues())});
    std::wstring error;
    EXPECT_FALSE(FetchReleaseList(error));
    EXPECT_EQ(error, kNotSigned);
    EXPECT_TRUE(downloadServer_.Requests().empty()) << "the fallback is for failed transfers";
    ExpectOldReleaseKept();
}

// Without trusted keys (this test build's own program) a "signature" key is
// just another key: neither checked nor needed, and no checksum is required.
TEST_F(ReleaseListTest, UnsignedBuildIgnoresASignature) {
    StartReleaseServer();
    releaseServer_.Script("/releases/latest.json",
                          ScriptedResponse{200, R"({"version": "3.0", "package": "https://h/p.zip",
                                                    "signature": "not a signature"})"});
    std::wstring error;
    ASSERT_TRUE(FetchReleaseList(error)) << fs::path(error).string();
    const Release r = CurrentRelease();
    EXPECT_EQ(r.version, L"3.0");
    EXPECT_EQ(r.sha, L"");
}

} // namespace
