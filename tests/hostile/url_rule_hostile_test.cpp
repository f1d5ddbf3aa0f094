// Hostile URLs into the URL rule: seeded random and mutated URLs, and named
// ones that try to pass plain HTTP off as local.
#include "feed/http_get.h"
#include "tests/hostile/hostile_support.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <filesystem>

namespace fs = std::filesystem;
using hostile::Chance;
using hostile::Pick;

namespace {

const std::wstring kInvalid = L"The download address is not valid.";
const std::wstring kNeedsHttps = L"The download has to use HTTPS.";

std::wstring AsciiLower(std::wstring text) {
    for (wchar_t& c : text) {
        c = c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    }
    return text;
}

// What every answer of CheckDownloadUrl has to obey, whatever the URL:
// - refused: one of its two sentences, and no other output touched;
// - accepted: error untouched, a host of at most 255 characters that stands in
//   the URL, a path and query within their buffers, and the transport rule:
//   secure only for a URL whose scheme is https, plain only for a URL whose
//   scheme is http and whose host is exactly "localhost" in any letter case
//   or exactly "127.0.0.1".
// Returns whether the URL was accepted.
bool CheckUrlInvariants(const std::wstring& url) {
    std::wstring host = L"untouched host";
    std::wstring pathAndQuery = L"untouched path";
    INTERNET_PORT port = 4242;
    bool secure = true;
    std::wstring error = L"untouched";
    const bool accepted = CheckDownloadUrl(url, host, pathAndQuery, port, secure, error);
    SCOPED_TRACE("url " + hostile::DescribeWide(url));
    if (!accepted) {
        EXPECT_TRUE(error == kInvalid || error == kNeedsHttps) << hostile::DescribeWide(error);
        EXPECT_EQ(host, L"untouched host");
        EXPECT_EQ(pathAndQuery, L"untouched path");
        EXPECT_EQ(port, 4242);
        EXPECT_TRUE(secure);
        return false;
    }
    EXPECT_EQ(error, L"untouched");
    EXPECT_LE(host.size(), 255u);
    EXPECT_NE(AsciiLower(url).find(AsciiLower(host)), std::wstring::npos)
        << hostile::DescribeWide(host);
    EXPECT_LE(pathAndQuery.size(), 2047u + 1023u);
    const std::wstring scheme = AsciiLower(url.substr(0, url.find(L':')));
    if (secure) {
        EXPECT_EQ(scheme, L"https");
    } else {
        EXPECT_EQ(scheme, L"http");
        EXPECT_TRUE(AsciiLower(host) == L"localhost" || host == L"127.0.0.1")
            << "plain HTTP towards " << hostile::DescribeWide(host);
    }
    return true;
}

// ---------------------------------------------------------------------------
// Named URLs that try to reach another host over plain HTTP while looking
// local, and the shapes at the edges of the rule.

struct UrlCase {
    const char* name;
    std::wstring url;
    bool accepted;
    std::wstring hostOrError;
};

void PrintTo(const UrlCase& c, std::ostream* out) {
    *out << c.name;
}

class HostileUrlTest : public ::testing::TestWithParam<UrlCase> {};

TEST_P(HostileUrlTest, FollowsTheTransportRule) {
    const UrlCase& c = GetParam();
    std::wstring host, pathAndQuery, error;
    INTERNET_PORT port = 0;
    bool secure = false;
    const bool accepted = CheckDownloadUrl(c.url, host, pathAndQuery, port, secure, error);
    EXPECT_EQ(accepted, c.accepted) << hostile::DescribeWide(accepted ? host : error);
    EXPECT_EQ(accepted ? host : error, c.hostOrError);
    CheckUrlInvariants(c.url);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Table, HostileUrlTest,
    ::testing::Values(
        UrlCase{"nul after localhost", L"http://localhost\0.evil.example/p"s, false, kNeedsHttps},
        UrlCase{"nul after loopback address", L"http://127.0.0.1\0.evil.example/p"s, false,
                kNeedsHttps},
        UrlCase{"escaped nul after localhost", L"http://localhost%00.evil.example/p", false,
                kNeedsHttps},
        UrlCase{"localhost as a user name", L"http://localhost@evil.example/p", false, kNeedsHttps},
        UrlCase{"localhost as user and port", L"http://localhost:80@evil.example/p", false,
                kNeedsHttps},
        UrlCase{"localhost with a trailing dot", L"http://localhost./p", false, kNeedsHttps},
        UrlCase{"localhost as a subdomain", L"http://localhost.evil.example/p", false, kNeedsHttps},
        UrlCase{"loopback as a subdomain", L"http://127.0.0.1.evil.example/p", false, kNeedsHttps},
        UrlCase{"short loopback", L"http://127.1/p", false, kNeedsHttps},
        UrlCase{"loopback with a leading zero", L"http://127.0.0.01/p", false, kNeedsHttps},
        UrlCase{"loopback as one number", L"http://2130706433/p", false, kNeedsHttps},
        UrlCase{"localhost in Cyrillic letters", L"http://l\u043Ecalhost/p", false, kNeedsHttps},
        UrlCase{"localhost in full-width letters",
                L"http://\uFF4C\uFF4F\uFF43\uFF41\uFF4C\uFF48\uFF4F\uFF53\uFF54/p", false,
                kNeedsHttps},
        UrlCase{"localhost in mixed case", L"http://lOcAlHoSt:8080/p", true, L"lOcAlHoSt"},
        UrlCase{"user name in front of localhost", L"http://evil.example@localhost/p", true,
                L"localhost"}),
    [](const auto& info) { return hostile::CaseName(info.param.name); });

// ---------------------------------------------------------------------------
// Seeded random URLs: built from hostile parts, then mutated, or plain noise.

std::wstring RandomCase(std::wstring text, std::mt19937& rng) {
    for (wchar_t& c : text) {
        if (c < 0x80 && Chance(rng, 50)) {
            c = static_cast<wchar_t>(std::towupper(c));
        }
    }
    return text;
}

std::wstring RandomText(std::mt19937& rng, size_t size, const std::wstring& alphabet) {
    std::wstring text(size, L' ');
    for (wchar_t& c : text) {
        c = alphabet[Pick(rng, 0, alphabet.size() - 1)];
    }
    return text;
}

// Separators, escapes, white space, NUL, letters that only look Latin, a
// lone surrogate of each half.
const std::wstring kUrlTroubleChars =
    L"%:/\\@?#[]. \t\r\n\0\u00e9\u0430\uff4c\ufffd"s + wchar_t(0xD800) + wchar_t(0xDC00);

std::wstring RandomHost(std::mt19937& rng) {
    static const std::wstring kHosts[] = {L"localhost",
                                          L"127.0.0.1",
                                          L"127.0.0.01",
                                          L"127.1",
                                          L"0x7f.0.0.1",
                                          L"2130706433",
                                          L"[::1]",
                                          L"::1",
                                          L"localhost.",
                                          L".localhost",
                                          L"localhost\0.evil"s,
                                          L"127.0.0.1\0x"s,
                                          L"localhost%00x",
                                          L"evil.example",
                                          L"l\u043Ecalhost",
                                          L"",
                                          L"localhost:1@x",
                                          L"x\\@localhost",
                                          L"127.0.0.1.x",
                                          L"example.org"};
    switch (Pick(rng, 0, 3)) {
    case 0:
        return RandomText(rng, Pick(rng, 0, 300), L"abcxyz0129.-" + kUrlTroubleChars);
    case 1:
        return std::wstring(Pick(rng, 250, 260), L'a');
    default:
        return RandomCase(kHosts[Pick(rng, 0, std::size(kHosts) - 1)], rng);
    }
}

std::wstring RandomUrl(std::mt19937& rng) {
    static const std::wstring kSchemes[] = {L"http", L"https", L"ftp",   L"file",
                                            L"",     L"h ttp", L"httpx", L"https:"};
    static const std::wstring kSeparators[] = {L"://", L":/", L":", L":\\\\", L":///", L"//"};
    if (Chance(rng, 10)) {
        return RandomText(rng, Pick(rng, 0, 80), L"htps:/lcaohst1270." + kUrlTroubleChars);
    }
    // Mostly the two schemes the rule knows, so that acceptance is tried hard.
    std::wstring url =
        RandomCase(kSchemes[Pick(rng, 0, Chance(rng, 70) ? 1 : std::size(kSchemes) - 1)], rng);
    url += Chance(rng, 85) ? L"://" : kSeparators[Pick(rng, 0, std::size(kSeparators) - 1)];
    if (Chance(rng, 15)) {
        url += RandomText(rng, Pick(rng, 0, 12), L"user:pw" + kUrlTroubleChars) + L"@";
    }
    url += RandomHost(rng);
    if (Chance(rng, 40)) {
        static const std::wstring kPorts[] = {L"",      L"0",           L"65535", L"65536",
                                              L"08080", L"99999999999", L"-1",    L"abc"};
        url += L":" + (Chance(rng, 50) ? std::to_wstring(Pick(rng, 0, 70000))
                                       : kPorts[Pick(rng, 0, std::size(kPorts) - 1)]);
    }
    const size_t pathSize = Chance(rng, 5) ? Pick(rng, 2000, 2100) : Pick(rng, 0, 40);
    url += L"/" + RandomText(rng, pathSize, L"abc/..%20" + kUrlTroubleChars);
    if (Chance(rng, 30)) {
        const size_t querySize = Chance(rng, 5) ? Pick(rng, 1000, 1100) : Pick(rng, 0, 40);
        url += L"?" + RandomText(rng, querySize, L"a=b&%" + kUrlTroubleChars);
    }
    if (Chance(rng, 30)) {
        // A few random edits on top.
        for (size_t edits = Pick(rng, 1, 4); edits > 0; --edits) {
            const size_t at = Pick(rng, 0, url.size());
            if (Chance(rng, 50) && at < url.size()) {
                url.erase(at, 1);
            } else {
                url.insert(at, 1, kUrlTroubleChars[Pick(rng, 0, kUrlTroubleChars.size() - 1)]);
            }
        }
    }
    return url;
}

TEST(UrlRuleHostileTest, RandomUrlsFollowTheTransportRule) {
    hostile::RandomRun run = hostile::StartRandomRun("url rule", 0x5eed0004, 20000);
    size_t accepted = 0;
    size_t plain = 0;
    for (size_t i = 0; i < run.inputs; ++i) {
        const std::wstring url = RandomUrl(run.rng);
        hostile::SetCurrentInput("url " + hostile::DescribeWide(url));
        if (CheckUrlInvariants(url)) {
            ++accepted;
            plain += AsciiLower(url).rfind(L"http:", 0) == 0 ? 1 : 0;
        }
        if (HasFailure()) {
            ADD_FAILURE() << "stopped at input " << i;
            return;
        }
    }
    std::printf("[hostile] url rule: %zu accepted (%zu plain HTTP), %zu refused\n", accepted, plain,
                run.inputs - accepted);
}

} // namespace
