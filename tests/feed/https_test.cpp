// HttpGet over real TLS: loopback HTTPS servers whose certificates chain to
// test authorities made at run time. Only one authority is trusted, and only
// in this test prefix's current-user root store, for the length of a test.
#include "feed/http_get.h"

#include "shell/app_state.h"
#include "tests/support/https_servers.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testing_support::TempFolder;

namespace {

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

} // namespace
