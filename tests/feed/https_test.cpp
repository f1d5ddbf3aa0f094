// HttpGet over real TLS: loopback HTTPS servers whose certificates chain to
// test authorities made at run time. Only one authority is trusted, and only
// in this test prefix's current-user root store, for the length of a test.
#include "feed/http_get.h"

#include "shell/app_state.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>
#include <wincrypt.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;
using testing_support::TempFolder;

namespace {

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using testing_support::HostPath;

class HttpsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_app.cancelRequested.store(false);
        const fs::path script = MOVORA_TESTS_SOURCE_DIR "/support/https_test_server.py";
        const std::string hostFolder = HostPath(folder_.path());
        // Under Wine the host's interpreter and openssl do the work; on
        // Windows the ones on PATH.
        const std::wstring interpreter = hostFolder.empty() ? L"python" : L"Z:\\usr\\bin\\python3";
        const std::wstring folderArgument =
            hostFolder.empty() ? folder_.path() : fs::path(hostFolder).wstring();
        std::wstring command =
            interpreter + L" \"" + script.wstring() + L"\" \"" + folderArgument + L"\" 120";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                                   CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info))
            << GetLastError();
        if (info.hThread != nullptr) {
            CloseHandle(info.hThread);
        }
        if (info.hProcess != nullptr) {
            CloseHandle(info.hProcess);
        }
        started_ = true;

        const ULONGLONG deadline = GetTickCount64() + 30000;
        while (!fs::exists(fs::path(folder_ / L"ports")) && GetTickCount64() < deadline) {
            Sleep(50);
        }
        std::istringstream ports(ReadAll(folder_ / L"ports"));
        ports >> trustedPort_ >> untrustedPort_;
        ASSERT_NE(trustedPort_, 0) << "the HTTPS test server did not start";
        ASSERT_NE(untrustedPort_, 0);

        const std::string der = ReadAll(folder_ / L"trusted-ca.der");
        ASSERT_FALSE(der.empty());
        root_ =
            CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
        ASSERT_NE(root_, nullptr);
        ASSERT_TRUE(CertAddEncodedCertificateToStore(
            root_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
            static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, &authority_))
            << GetLastError();
        // A registry-backed store writes its changes out only when asked to
        // (or when closed); the chain check reads the registry.
        ASSERT_TRUE(CertControlStore(root_, 0, CERT_STORE_CTRL_COMMIT, nullptr)) << GetLastError();
    }

    void TearDown() override {
        if (authority_ != nullptr) {
            // Deleting frees the context as well.
            CertDeleteCertificateFromStore(authority_);
            CertControlStore(root_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
        }
        if (root_ != nullptr) {
            CertCloseStore(root_, 0);
        }
        if (started_) {
            testing_support::WriteFileBytes(folder_ / L"stop", "");
            // Give the server a moment to let go of its files in the folder.
            Sleep(300);
        }
    }

    std::wstring Url(int port, const std::wstring& path) const {
        return L"https://localhost:" + std::to_wstring(port) + path;
    }

    TempFolder folder_;
    bool started_ = false;
    int trustedPort_ = 0;
    int untrustedPort_ = 0;
    HCERTSTORE root_ = nullptr;
    PCCERT_CONTEXT authority_ = nullptr;
};

TEST_F(HttpsTest, FetchesFromAServerTheAccountTrusts) {
    HttpTransfer memory;
    ASSERT_TRUE(HttpGet(Url(trustedPort_, L"/hello"), memory, false))
        << fs::path(memory.error).string();
    EXPECT_EQ(std::string(memory.body.begin(), memory.body.end()), "hello over tls");

    HttpTransfer file;
    file.toFile = true;
    file.filePath = folder_ / L"package.zip";
    ASSERT_TRUE(HttpGet(Url(trustedPort_, L"/bytes/300000"), file, false))
        << fs::path(file.error).string();
    const std::string received = ReadAll(file.filePath);
    ASSERT_EQ(received.size(), 300000u);
    for (size_t i = 0; i < received.size(); ++i) {
        ASSERT_EQ(static_cast<unsigned char>(received[i]), i % 251) << "at " << i;
    }

    HttpTransfer missing;
    EXPECT_FALSE(HttpGet(Url(trustedPort_, L"/missing"), missing, false));
    EXPECT_EQ(missing.error, L"The server returned an error.");
}

TEST_F(HttpsTest, UntrustedCertificateCannotBeReached) {
    HttpTransfer transfer;
    transfer.toFile = true;
    transfer.filePath = folder_ / L"package.zip";
    EXPECT_FALSE(HttpGet(Url(untrustedPort_, L"/hello"), transfer, false));
    EXPECT_EQ(transfer.error, L"Could not reach the download server.");
    EXPECT_FALSE(fs::exists(fs::path(transfer.filePath)));
}

} // namespace
