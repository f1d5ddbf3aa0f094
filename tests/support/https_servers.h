// Two loopback HTTPS servers (tests/support/https_test_server.py) whose
// certificates chain to test authorities made at run time (the trusted one
// once per test process). Only the first authority is trusted, and only in this test prefix's
// current-user root store, for the life of the object. "/hello" answers "hello over tls",
// "/bytes/N" N patterned bytes, "/redirect?to=<URL>[&status=N]" a redirect to
// <URL> (percent-encoded in the query).
#pragma once

#include "tests/support/test_support.h"

#include <windows.h>

#include <wincrypt.h>

#include <string>

namespace testing_support {

class HttpsServers {
  public:
    HttpsServers() = default;
    ~HttpsServers();
    HttpsServers(const HttpsServers&) = delete;
    HttpsServers& operator=(const HttpsServers&) = delete;

    // Starts both servers and trusts the first one's authority; fails the
    // current test (fatally) when it cannot.
    void Start();

    // "https://localhost:<port><path>" of the trusted or the untrusted server.
    std::wstring TrustedUrl(const std::wstring& path) const;
    std::wstring UntrustedUrl(const std::wstring& path) const;
    // The trusted server under its other name, "https://127.0.0.1:<port><path>".
    std::wstring TrustedUrlByAddress(const std::wstring& path) const;

    // Where the files served under "/files/" are put (made by Start).
    std::wstring FilesFolder() const { return folder_ / L"files"; }

  private:
    TempFolder folder_;
    bool started_ = false;
    int trustedPort_ = 0;
    int untrustedPort_ = 0;
    HCERTSTORE root_ = nullptr;
    PCCERT_CONTEXT authority_ = nullptr;
};

} // namespace testing_support
