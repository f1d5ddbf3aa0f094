// Hostile release lists: the key scanner on exact-size fenced buffers, and
// FetchReleaseList on lists served by a loopback server. Named documents for
// the shapes that matter, then seeded random and mutated ones.
#include "feed/http_get.h"
#include "feed/release_list.h"
#include "feed/release_signature.h"
#include "shell/app_state.h"
#include "shell/text.h"
#include "tests/hostile/hostile_support.h"
#include "tests/support/http_test_server.h"
#include "tests/support/release_signing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <optional>

namespace fs = std::filesystem;
using hostile::Chance;
using hostile::Describe;
using hostile::Fence;
using hostile::FencedBytes;
using hostile::Pick;
using testing_support::HttpTestServer;
using testing_support::ScriptedResponse;

namespace {

constexpr std::array<const char*, 4> kListKeys = {"version", "package", "notes", "sha256"};

// The scanner's rule written out on its own, as the bytes it collects: the
// first quoted key, then the first colon, then the first quote, then bytes up
// to an unescaped quote or the end; "\n" is a line feed, "\r" nothing, any
// other escaped byte itself, a backslash that is the last byte itself.
std::string CollectByTheRule(std::string_view document, std::string_view key) {
    const std::string needle = "\"" + std::string(key) + "\"";
    size_t at = document.find(needle);
    if (at == std::string_view::npos) {
        return std::string();
    }
    enum Stage { Colon, Quote, Value } stage = Colon;
    std::string collected;
    for (at += needle.size(); at < document.size(); ++at) {
        const char c = document[at];
        if (stage == Colon) {
            stage = c == ':' ? Quote : Colon;
        } else if (stage == Quote) {
            stage = c == '"' ? Value : Quote;
        } else if (c == '"') {
            break;
        } else if (c != '\\' || at + 1 == document.size()) {
            collected += c;
        } else {
            const char escaped = document[++at];
            if (escaped == 'n') {
                collected += '\n';
            } else if (escaped != 'r') {
                collected += escaped;
            }
        }
    }
    return collected;
}

// Scans document for key twice, once with an inaccessible page right behind
// its last byte and once right in front of its first, and checks what every
// result must obey: both runs agree, and there are never more UTF-16 units
// than the document has bytes. Returns the value.
std::wstring ScanFenced(const std::string& document, const std::string& key) {
    hostile::SetCurrentInput("key \"" + key + "\" in " + Describe(document));
    const FencedBytes behind(document, Fence::After);
    const std::wstring value = ExtractJsonString(behind.view(), key);
    const FencedBytes inFront(document, Fence::Before);
    EXPECT_EQ(ExtractJsonString(inFront.view(), key), value) << Describe(document);
    EXPECT_LE(value.size(), document.size()) << Describe(document);
    return value;
}

// ---------------------------------------------------------------------------
// Named hostile documents. The expectation is the bytes the scanner collects;
// the platform widens them (ill-formed UTF-8 as it always does).

struct HostileDocument {
    const char* name;
    std::string document;
    std::string versionBytes;
};

void PrintTo(const HostileDocument& c, std::ostream* out) {
    *out << c.name;
}

std::string Nul(std::string_view text) {
    std::string bytes(text);
    for (char& c : bytes) {
        c = c == '0' ? '\0' : c;
    }
    return bytes;
}

const std::string kQuotes(kMemoryBodyCap, '"');
const std::string kOpen = R"({"version":")";
const std::string kPackage = R"("package":"https://h/p.zip",)";

std::vector<HostileDocument> HostileDocuments() {
    const size_t evenRun = kMemoryBodyCap - kOpen.size() - 2;
    const size_t oddRun = kMemoryBodyCap - kOpen.size() - 1;
    const std::string hugeVersion(kMemoryBodyCap - kOpen.size() - kPackage.size() - 3, 'v');
    return {
        {"truncated escape at the end", kOpen + "1.0\\", "1.0\\"},
        {"escaped quote as the last bytes", kOpen + "1.0\\\"", "1.0\""},
        {"lone backslash after the opening quote", kOpen + "\\", "\\"},
        {"opening quote is the last byte", kOpen, ""},
        {"colon is the last byte", R"({"version":)", ""},
        {"key is the last bytes", R"({"version")", ""},
        {"half a key", R"({"versio)", ""},
        {"escaped cr at the end", kOpen + "a\\r", "a"},
        {"two MiB of quotes", kQuotes, ""},
        {"two MiB of quotes after the colon", R"({"version":)" + kQuotes.substr(11), ""},
        {"two MiB of paired backslashes", kOpen + std::string(evenRun, '\\') + "\"}",
         std::string(evenRun / 2, '\\')},
        {"odd run of backslashes to the end", kOpen + std::string(oddRun, '\\'),
         std::string(oddRun / 2 + 1, '\\')},
        {"backslash pairs before the closing quote", kOpen + R"(a\\\\")" + kPackage, "a\\\\"},
        {"invalid utf8 in the value", kOpen + "\xff\xfe\xc3(\xed\xa0\x80\xf8\x88\x80\x80\x80\"}",
         "\xff\xfe\xc3(\xed\xa0\x80\xf8\x88\x80\x80\x80"},
        {"utf8 lead byte cut by the end", kOpen + "caf\xc3", "caf\xc3"},
        {"escaped invalid byte", kOpen + "\\\xff\"}", "\xff"},
        {"nul bytes around the key and in the value", Nul("0{0\"version\"0:0\"a0b\"}"), Nul("a0b")},
        {"nul escaped", kOpen + Nul("\\0\"}"), Nul("0")},
        {"key repeated, the first wins", R"({"version":"1","version":"2"})", "1"},
        {"key repeated inside the first value", kOpen + R"(\"version\":\"x\""})",
         R"("version":"x")"},
        {"escapes do not count before the value", R"({"version"\:\"x":"1"})", "x"},
        {"bom and crlf", "\xEF\xBB\xBF{\r\n\"version\"\r\n:\r\n\"1\"\r\n}", "1"},
        {"u escape of nul stays text", kOpen + R"(\u0000")", "u0000"},
        {"value as large as the cap", kOpen + hugeVersion + "\"," + kPackage + "}", hugeVersion},
        {"list one byte over the cap", kOpen + hugeVersion + "x\"," + kPackage + "}",
         hugeVersion + "x"},
    };
}

class HostileDocumentScanTest : public ::testing::TestWithParam<HostileDocument> {};

TEST_P(HostileDocumentScanTest, CollectsExactlyTheDocumentedBytes) {
    const HostileDocument& c = GetParam();
    EXPECT_TRUE(ScanFenced(c.document, "version") == Utf8ToWide(c.versionBytes));
    for (const char* key : kListKeys) {
        EXPECT_TRUE(ScanFenced(c.document, key) == Utf8ToWide(CollectByTheRule(c.document, key)))
            << key;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, HostileDocumentScanTest, ::testing::ValuesIn(HostileDocuments()),
                         [](const auto& info) { return hostile::CaseName(info.param.name); });

// ---------------------------------------------------------------------------
// Random documents with a planted value: whatever junk stands in front of the
// key, between the key and the colon, between the colon and the opening quote
// and behind the value, the value comes out as it was planted.

struct PlantedValue {
    std::string document;
    std::string key;
    std::string collected; // the bytes the value stands for
};

// Encodes raw bytes the ways the scanner reads back: quotes and backslashes
// escaped, line feeds raw or as "\n", other bytes raw or escaped, "\r"
// sprinkled in (it stands for nothing).
std::string EncodeValue(const std::string& raw, std::mt19937& rng) {
    std::string encoded;
    for (const char c : raw) {
        if (Chance(rng, 5)) {
            encoded += "\\r";
        }
        if (c == '"' || c == '\\') {
            encoded += '\\';
            encoded += c;
        } else if (c == '\n') {
            encoded += Chance(rng, 50) ? "\\n" : "\n";
        } else if (c != 'n' && c != 'r' && Chance(rng, 15)) {
            encoded += '\\';
            encoded += c;
        } else {
            encoded += c;
        }
    }
    return encoded;
}

std::string RandomKey(std::mt19937& rng) {
    if (Chance(rng, 70)) {
        return kListKeys[Pick(rng, 0, kListKeys.size() - 1)];
    }
    return hostile::RandomBytes(rng, Pick(rng, 0, 12), "abcdefghijklmnopqrstuvwxyz0123456789_-. ");
}

std::string RandomJunk(std::mt19937& rng, size_t maxSize, std::string_view forbidden = {}) {
    static const std::string kAlphabet = std::string(hostile::kScannerTroubleBytes) +
                                         "versionpackagenotesha256{}abcXYZ019 \"\"::\\\\";
    std::string junk = Chance(rng, 20)
                           ? hostile::RandomBytes(rng, Pick(rng, 0, maxSize))
                           : hostile::RandomBytes(rng, Pick(rng, 0, maxSize), kAlphabet);
    for (char& c : junk) {
        if (forbidden.find(c) != std::string_view::npos) {
            c = ' ';
        }
    }
    return junk;
}

PlantedValue PlantValue(std::mt19937& rng) {
    PlantedValue planted;
    planted.key = RandomKey(rng);
    const size_t size = Chance(rng, 3) ? Pick(rng, 1000, 200000) : Pick(rng, 0, 60);
    planted.collected = Chance(rng, 50)
                            ? hostile::RandomBytes(rng, size)
                            : hostile::RandomBytes(rng, size, hostile::kScannerTroubleBytes);
    const std::string needle = "\"" + planted.key + "\"";
    std::string value = EncodeValue(planted.collected, rng);
    const bool closed = Chance(rng, 80);
    // An unclosed value may end in a lone backslash, which stands for itself.
    if (!closed && !planted.collected.empty() && planted.collected.back() == '\\' &&
        Chance(rng, 50)) {
        value.pop_back();
    }
    std::string prefix = RandomJunk(rng, 200);
    const std::string rest = needle + RandomJunk(rng, 20, ":") + ":" + RandomJunk(rng, 20, "\"") +
                             "\"" + value + (closed ? "\"" + RandomJunk(rng, 200) : "");
    // The planted key has to be the first quoted occurrence.
    if ((prefix + rest).find(needle) != prefix.size()) {
        prefix.clear();
    }
    planted.document = prefix + rest;
    return planted;
}

TEST(ScannerHostileTest, PlantedValueSurvivesTheJunkAroundIt) {
    hostile::RandomRun run = hostile::StartRandomRun("scanner, planted values", 0x5eed0001, 4000);
    for (size_t i = 0; i < run.inputs; ++i) {
        const PlantedValue planted = PlantValue(run.rng);
        const std::wstring value = ScanFenced(planted.document, planted.key);
        ASSERT_TRUE(value == Utf8ToWide(planted.collected))
            << "input " << i << ", key \"" << planted.key << "\" in " << Describe(planted.document)
            << "\nplanted " << Describe(planted.collected);
    }
}

// ---------------------------------------------------------------------------
// Valid lists with hostile values, mutated: bit flips, cuts, quotes,
// backslashes, colons, NULs, broken UTF-8, repeated keys.

std::string RandomValidList(std::mt19937& rng) {
    std::vector<std::string> members;
    for (const char* key : kListKeys) {
        if (Chance(rng, 90)) {
            const std::string raw =
                Chance(rng, 70)
                    ? hostile::RandomBytes(rng, Pick(rng, 1, 40), "0123456789.abcdef-+ /:?=&%")
                    : hostile::RandomBytes(rng, Pick(rng, 1, 300));
            members.push_back("\"" + std::string(key) + "\": \"" + EncodeValue(raw, rng) + "\"");
        }
    }
    if (Chance(rng, 40)) {
        members.push_back(R"("extra": {"version": 3, "list": ["a", "b\"", null]})");
    }
    std::shuffle(members.begin(), members.end(), rng);
    std::string list = "{";
    for (size_t i = 0; i < members.size(); ++i) {
        list += (i > 0 ? ",\n  " : "\n  ") + members[i];
    }
    return list + "\n}\n";
}

std::string RandomHostileList(std::mt19937& rng) {
    switch (Pick(rng, 0, 9)) {
    case 0:
        return hostile::RandomBytes(rng, Pick(rng, 0, 400));
    case 1:
        return hostile::RandomBytes(rng, Pick(rng, 0, 400), hostile::kScannerTroubleBytes);
    case 2:
    case 3:
        return PlantValue(rng).document;
    default:
        return hostile::Mutate(RandomValidList(rng), rng, 8);
    }
}

TEST(ScannerHostileTest, MutatedListsFollowTheRuleAndStayInsideTheDocument) {
    hostile::RandomRun run = hostile::StartRandomRun("scanner, mutated lists", 0x5eed0002, 4000);
    for (size_t i = 0; i < run.inputs; ++i) {
        const std::string document = RandomHostileList(run.rng);
        for (const std::string& key :
             {std::string(kListKeys[Pick(run.rng, 0, 3)]), RandomKey(run.rng)}) {
            const std::wstring value = ScanFenced(document, key);
            ASSERT_TRUE(value == Utf8ToWide(CollectByTheRule(document, key)))
                << "input " << i << ", key \"" << key << "\" in " << Describe(document);
        }
    }
}

// ---------------------------------------------------------------------------
// FetchReleaseList on hostile lists from a loopback server on a free port (not
// a release origin, so no fallback transfer): it succeeds with exactly what
// the scanner reads from the served bytes, or fails with one of its
// sentences and leaves the release values of AppState as they were.

class FetchHostileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_app.cancelRequested.store(false);
        savedFeed_ = g_app.feedUrl;
        ASSERT_TRUE(server_.Start());
        g_app.feedUrl = server_.Url("/releases/latest.json");
        // A free port could be the release origin's own; then the feed would
        // have a fallback, which these tests leave to the release list tests.
        ASSERT_EQ(RewriteDownloadUrl(g_app.feedUrl), L"") << "the free port is an origin's port";
    }
    void TearDown() override {
        server_.Stop();
        g_app.feedUrl = savedFeed_;
        g_app.cancelRequested.store(false);
    }

    struct Release {
        std::wstring version, package, notes, sha;
        bool operator==(const Release& other) const {
            return version == other.version && package == other.package && notes == other.notes &&
                   sha == other.sha;
        }
    };
    static Release Current() {
        StatusGuard lock(g_app.statusMutex);
        return Release{g_app.latestVersion, g_app.packageUrl, g_app.releaseNotes,
                       g_app.packageSha256};
    }
    static void Store(const Release& release) {
        StatusGuard lock(g_app.statusMutex);
        g_app.latestVersion = release.version;
        g_app.packageUrl = release.package;
        g_app.releaseNotes = release.notes;
        g_app.packageSha256 = release.sha;
    }

    // Serves document (with a length or chunked) and fetches it once.
    void FetchAndCheck(const std::string& document, bool chunked, const std::string& label) {
        SCOPED_TRACE(label + ": " + Describe(document));
        ScriptedResponse response{200, document};
        response.chunked = chunked;
        response.chunkSize = 1000;
        server_.Script("/releases/latest.json", response);
        const size_t requestsBefore = server_.Requests().size();
        const Release before{L"sentinel " + std::to_wstring(++fetches_), L"sentinel package",
                             L"sentinel notes", L"sentinel sha"};
        Store(before);

        std::wstring error = L"untouched";
        const bool fetched = FetchReleaseList(error);
        EXPECT_EQ(server_.Requests().size(), requestsBefore + 1);

        std::optional<Release> expected;
        const char* sentence = nullptr;
        if (document.size() > kMemoryBodyCap) {
            sentence = "The release file was larger than expected.";
        } else {
            Release scanned{
                ExtractJsonString(document, "version"), ExtractJsonString(document, "package"),
                ExtractJsonString(document, "notes"), ExtractJsonString(document, "sha256")};
            if (scanned.version.empty() || scanned.package.empty()) {
                sentence = "The release list is missing a version.";
            } else {
                scanned.notes = scanned.notes.substr(0, kReleaseNotesLimit);
                expected = scanned;
            }
        }
        ASSERT_EQ(fetched, expected.has_value()) << fs::path(error).string();
        if (fetched) {
            EXPECT_EQ(error, L"untouched");
            EXPECT_TRUE(Current() == *expected);
            ++successes_;
        } else {
            EXPECT_EQ(fs::path(error).string(), sentence);
            EXPECT_TRUE(Current() == before) << "release values changed by a failed fetch";
        }
    }

    HttpTestServer server_;
    std::wstring savedFeed_;
    size_t fetches_ = 0;
    size_t successes_ = 0;
};

TEST_F(FetchHostileTest, NamedHostileDocumentsPublishAllOrNothing) {
    for (const HostileDocument& c : HostileDocuments()) {
        FetchAndCheck(c.document, false, c.name);
        FetchAndCheck(c.document + kPackage + "}", true, std::string(c.name) + ", package after");
    }
}

TEST_F(FetchHostileTest, RandomAndMutatedListsPublishAllOrNothing) {
    hostile::RandomRun run = hostile::StartRandomRun("fetch, random lists", 0x5eed0003, 300);
    for (size_t i = 0; i < run.inputs; ++i) {
        // Half of them valid lists with hostile values, so the success path is
        // walked as often as the failures.
        const std::string document =
            Chance(run.rng, 50) ? RandomValidList(run.rng) : RandomHostileList(run.rng);
        FetchAndCheck(document, Chance(run.rng, 30), "input " + std::to_string(i));
        if (HasFailure()) {
            return; // the first input that fails tells the story
        }
    }
    std::printf("[hostile] fetch, random lists: %zu published, %zu refused\n", successes_,
                fetches_ - successes_);
}

// ---------------------------------------------------------------------------
// Signatures. Malformed signature texts on fenced buffers never verify, crash
// or hang; and a build with keys publishes a mutated signed list only when the
// scanner still reads the signed values and the signature from it.

using testing_support::TestKey;

const ReleaseListValues kSignedValues{"4.2.0", "https://h/releases/Movora-4.2.0.zip",
                                      "Signed notes \"quoted\"\nline two", std::string(64, 'e')};

std::string Lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// A signature text: a mutation of the real one, random hexadecimal digits of
// about the right length, or random trouble bytes.
std::string HostileSignature(std::mt19937& rng, const std::string& real) {
    switch (Pick(rng, 0, 3)) {
    case 0:
        return hostile::Mutate(real, rng, 4);
    case 1:
        return hostile::RandomBytes(rng, Pick(rng, 120, 136), "0123456789abcdefABCDEF");
    case 2:
        return hostile::RandomBytes(rng, Pick(rng, 0, 300), hostile::kScannerTroubleBytes);
    default:
        return hostile::RandomBytes(rng, 128, {});
    }
}

TEST(SignatureHostileTest, MalformedAndMutatedSignaturesNeverVerify) {
    const std::string message = ReleaseListMessage(kSignedValues);
    const std::string real = testing_support::SignMessage(message, TestKey::First);
    const std::string keys = testing_support::BothTestKeys();
    ASSERT_TRUE(VerifyReleaseSignature(message, real, keys));
    hostile::RandomRun run = hostile::StartRandomRun("signature texts", 0x5eed0004, 2000);
    for (size_t i = 0; i < run.inputs; ++i) {
        const std::string text = HostileSignature(run.rng, real);
        hostile::SetCurrentInput("signature " + Describe(text));
        // Only the real signature, in any letter case, is a signature.
        const bool expected = Lowered(text) == real;
        for (const Fence fence : {Fence::After, Fence::Before}) {
            const FencedBytes fenced(text, fence);
            ASSERT_EQ(VerifyReleaseSignature(message, fenced.view(), keys), expected)
                << "input " << i << ": " << Describe(text);
        }
    }
}

class SignedFetchHostileTest : public FetchHostileTest {
  protected:
    const testing_support::TrustedKeysScope trusted_{testing_support::BothTestKeys()};
};

TEST_F(SignedFetchHostileTest, MutatedSignedListsPublishOnlyTheSignedValues) {
    const std::string signature =
        testing_support::SignMessage(ReleaseListMessage(kSignedValues), TestKey::Second);
    const std::string signedList = testing_support::ReleaseListJson(kSignedValues, signature);
    hostile::RandomRun run =
        hostile::StartRandomRun("fetch, mutated signed lists", 0x5eed0005, 300);
    size_t published = 0;
    for (size_t i = 0; i < run.inputs; ++i) {
        // One in ten served as signed, so the accepting path is walked too.
        const std::string document =
            Chance(run.rng, 10) ? signedList : hostile::Mutate(signedList, run.rng, 4);
        SCOPED_TRACE("input " + std::to_string(i) + ": " + Describe(document));
        server_.Script("/releases/latest.json", ScriptedResponse{200, document});
        const Release before{L"sentinel", L"sentinel package", L"sentinel notes", L"sentinel sha"};
        Store(before);

        std::wstring error;
        const bool fetched = FetchReleaseList(error);
        const ReleaseListValues read{
            ExtractJsonBytes(document, "version"), ExtractJsonBytes(document, "package"),
            ExtractJsonBytes(document, "notes"), ExtractJsonBytes(document, "sha256")};
        const bool intact =
            read.version == kSignedValues.version && read.package == kSignedValues.package &&
            read.notes == kSignedValues.notes && read.sha256 == kSignedValues.sha256 &&
            Lowered(ExtractJsonBytes(document, "signature")) == signature;
        ASSERT_EQ(fetched, intact) << fs::path(error).string();
        if (fetched) {
            ++published;
            EXPECT_EQ(Current().version, L"4.2.0");
            EXPECT_EQ(Current().sha, std::wstring(64, L'e'));
        } else {
            EXPECT_EQ(error, L"The release list is not signed by Movora.");
            EXPECT_TRUE(Current() == before) << "release values changed by a refused list";
        }
    }
    EXPECT_GT(published, 0u) << "the signed list itself was never served";
    std::printf("[hostile] fetch, mutated signed lists: %zu published, %zu refused\n", published,
                run.inputs - published);
}

} // namespace

// The fence itself: a read one byte past either end of the copy ends the
// process with the input's description, so the scans above would not pass
// quietly over an over-read.
TEST(FencedBytesDeathTest, AReadPastEitherEndEndsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::string bytes = "{\"version\":\"1\"}";
    for (const Fence fence : {Fence::After, Fence::Before}) {
        EXPECT_EXIT(
            {
                hostile::SetCurrentInput("the fence check");
                const FencedBytes fenced(bytes, fence);
                const char* outside = fence == Fence::After ? fenced.view().data() + bytes.size()
                                                            : fenced.view().data() - 1;
                std::printf("%d\n", *static_cast<const volatile char*>(outside));
            },
            ::testing::ExitedWithCode(3), "READ OUTSIDE THE INPUT .* the fence check");
        const FencedBytes fenced(bytes, fence);
        EXPECT_EQ(fenced.view(), bytes);
    }
}
