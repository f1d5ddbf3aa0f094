#include "tests/support/https_servers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace testing_support {

namespace fs = std::filesystem;

void HttpsServers::Start() {
    ASSERT_TRUE(CreateDirectoryW(FilesFolder().c_str(), nullptr)) << GetLastError();
    const fs::path script = MOVORA_TESTS_SOURCE_DIR "/support/https_test_server.py";
    const std::string hostFolder = HostPath(folder_.path());
    // Under Wine the host's interpreter and openssl do the work; on
    // Windows the ones on PATH.
    const std::wstring interpreter = hostFolder.empty() ? L"python" : L"Z:\\usr\\bin\\python3";
    const std::wstring folderArgument =
        hostFolder.empty() ? folder_.path() : fs::path(hostFolder).wstring();
    // One trusted authority for every server of this process: the system
    // keeps the trusted roots it has read for the life of the process, so an
    // authority trusted after the first one would go unseen under Wine.
    static const TempFolder authority;
    const std::string hostAuthority = HostPath(authority.path());
    const std::wstring authorityArgument =
        hostAuthority.empty() ? authority.path() : fs::path(hostAuthority).wstring();
    std::wstring command = interpreter + L" \"" + script.wstring() + L"\" \"" + folderArgument +
                           L"\" 120 \"" + authorityArgument + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                               nullptr, nullptr, &startup, &info))
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
    std::istringstream ports(ReadFileBytes(folder_ / L"ports"));
    ports >> trustedPort_ >> untrustedPort_;
    ASSERT_NE(trustedPort_, 0) << "the HTTPS test server did not start";
    ASSERT_NE(untrustedPort_, 0);

    const std::string der = ReadFileBytes(folder_ / L"trusted-ca.der");
    ASSERT_FALSE(der.empty());
    root_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    ASSERT_NE(root_, nullptr);
    ASSERT_TRUE(CertAddEncodedCertificateToStore(
        root_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
        static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, &authority_))
        << GetLastError();
    // A registry-backed store writes its changes out only when asked to
    // (or when closed); the chain check reads the registry.
    ASSERT_TRUE(CertControlStore(root_, 0, CERT_STORE_CTRL_COMMIT, nullptr)) << GetLastError();
}

HttpsServers::~HttpsServers() {
    if (authority_ != nullptr) {
        // Deleting frees the context as well.
        CertDeleteCertificateFromStore(authority_);
        CertControlStore(root_, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    }
    if (root_ != nullptr) {
        CertCloseStore(root_, 0);
    }
    if (started_) {
        WriteFileBytes(folder_ / L"stop", "");
        // Give the server a moment to let go of its files in the folder.
        Sleep(300);
    }
}

std::wstring HttpsServers::TrustedUrl(const std::wstring& path) const {
    return L"https://localhost:" + std::to_wstring(trustedPort_) + path;
}

std::wstring HttpsServers::TrustedUrlByAddress(const std::wstring& path) const {
    return L"https://127.0.0.1:" + std::to_wstring(trustedPort_) + path;
}

std::wstring HttpsServers::UntrustedUrl(const std::wstring& path) const {
    return L"https://localhost:" + std::to_wstring(untrustedPort_) + path;
}

} // namespace testing_support
