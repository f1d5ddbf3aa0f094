// HttpGet over real TLS: loopback HTTPS servers whose certificates chain to
// test authorities made at run time. Only one authority is trusted, and only
// in this test prefix's current-user root store, for the length of a test.
#include "feed/http_get.h"

#include "shell/app_state.h"
#include "tests/support/http_test_server.h"
#include "tests/support/https_servers.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <cwctype>
#include <filesystem>

namespace fs = std::filesystem;
using testing_support::TempFolder;

namespace {

// url as the value of the servers' "to" query parameter.
std::wstring PercentEncoded(const std::wstring& url) {
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring encoded;
    for (wchar_t unit : url) {
        if (iswalnum(unit) || unit == L'-' || unit == L'.' || unit == L'_' || unit == L'~') {
            encoded += unit;
        } else {
            encoded += L'%';
            encoded += kHex[(unit >> 4) & 0xF];
            encoded += kHex[unit & 0xF];
        }
    }
    return encoded;
}

class HttpsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_app.cancelRequested.store(false);
        ASSERT_NO_FATAL_FAILURE(servers_.Start());
    }

    TempFolder folder_;
    testing_support::HttpsServers servers_;
};

TEST_F(HttpsTest, FetchesFromAServerTheAccountTrusts) {
    HttpTransfer memory;
    ASSERT_TRUE(HttpGet(servers_.TrustedUrl(L"/hello"), memory, false))
        << fs::path(memory.error).string();
    EXPECT_EQ(std::string(memory.body.begin(), memory.body.end()), "hello over tls");

    HttpTransfer file;
    file.toFile = true;
    file.filePath = folder_ / L"package.zip";
    ASSERT_TRUE(HttpGet(servers_.TrustedUrl(L"/bytes/300000"), file, false))
        << fs::path(file.error).string();
    const std::string received = testing_support::ReadFileBytes(file.filePath);
    ASSERT_EQ(received.size(), 300000u);
    for (size_t i = 0; i < received.size(); ++i) {
        ASSERT_EQ(static_cast<unsigned char>(received[i]), i % 251) << "at " << i;
    }

    HttpTransfer missing;
    EXPECT_FALSE(HttpGet(servers_.TrustedUrl(L"/missing"), missing, false));
    EXPECT_EQ(missing.error, L"The server returned an error.");
}

TEST_F(HttpsTest, UntrustedCertificateCannotBeReached) {
    HttpTransfer transfer;
    transfer.toFile = true;
    transfer.filePath = folder_ / L"package.zip";
    EXPECT_FALSE(HttpGet(servers_.UntrustedUrl(L"/hello"), transfer, false));
    EXPECT_EQ(transfer.error, L"Could not reach the download server.");
    EXPECT_FALSE(fs::exists(fs::path(transfer.filePath)));
}

// Once on TLS, the transfer never steps down to plain HTTP, not even towards
// this machine, and the plain request is never made.
TEST_F(HttpsTest, RedirectToPlainHttpIsRefusedBeforeItIsMade) {
    testing_support::HttpTestServer plain;
    ASSERT_TRUE(plain.Start());
    plain.Script("/hello", testing_support::ScriptedResponse{200, "hello in the clear"});
    for (const wchar_t* status : {L"301", L"302", L"307"}) {
        HttpTransfer transfer;
        transfer.toFile = true;
        transfer.filePath = folder_ / L"package.zip";
        const std::wstring url = servers_.TrustedUrl(L"/redirect?status=" + std::wstring(status) +
                                                     L"&to=" + PercentEncoded(plain.Url("/hello")));
        EXPECT_FALSE(HttpGet(url, transfer, true)) << fs::path(status).string();
        EXPECT_EQ(transfer.error, L"The download has to use HTTPS.") << fs::path(status).string();
        EXPECT_FALSE(fs::exists(fs::path(transfer.filePath)));
    }
    EXPECT_TRUE(plain.Requests().empty()) << "the plain-HTTP hop was made";
}

TEST_F(HttpsTest, RedirectsBetweenTlsAddressesAreFollowedAndEachIsChecked) {
    struct Hop {
        const char* name;
        std::wstring start;
        std::wstring location;
        const wchar_t* error; // null: "hello over tls" arrives
    };
    const Hop hops[] = {
        {"same host, relative", servers_.TrustedUrl(L""), L"/hello", nullptr},
        {"same host, absolute", servers_.TrustedUrl(L""), servers_.TrustedUrl(L"/hello"), nullptr},
        {"to the address", servers_.TrustedUrl(L""), servers_.TrustedUrlByAddress(L"/hello"),
         nullptr},
        {"from the address", servers_.TrustedUrlByAddress(L""), servers_.TrustedUrl(L"/hello"),
         nullptr},
        {"to an untrusted certificate", servers_.TrustedUrl(L""), servers_.UntrustedUrl(L"/hello"),
         L"Could not reach the download server."},
    };
    for (const Hop& hop : hops) {
        HttpTransfer transfer;
        const bool fetched =
            HttpGet(hop.start + L"/redirect?to=" + PercentEncoded(hop.location), transfer, false);
        if (hop.error == nullptr) {
            EXPECT_TRUE(fetched) << hop.name << ": " << fs::path(transfer.error).string();
            EXPECT_EQ(std::string(transfer.body.begin(), transfer.body.end()), "hello over tls")
                << hop.name;
        } else {
            EXPECT_FALSE(fetched) << hop.name;
            EXPECT_EQ(transfer.error, hop.error) << hop.name;
        }
    }
}

} // namespace
