// tools/test/trust_authority.exe, which a person runs to make a Wine prefix
// trust the throwaway authority of a local HTTPS release server: run as its
// own process, it puts a certificate (PEM or DER) into the current user's Root
// store, the store WinHTTP trusts (the HTTPS tests' servers are trusted the
// same way), and takes it out again.
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <string>

using testing_support::BuiltProgram;
using testing_support::StartProcess;
using testing_support::TempFolder;
using testing_support::WaitForExitCode;
using testing_support::WriteFileBytes;

namespace {

struct CertificateFree {
    void operator()(PCCERT_CONTEXT certificate) const { CertFreeCertificateContext(certificate); }
};
using UniqueCertificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

// A fresh self-signed certificate with a name of its own.
UniqueCertificate MakeCertificate() {
    const std::wstring name = L"CN=Movora trust helper test " +
                              std::to_wstring(GetCurrentProcessId()) + L"." +
                              std::to_wstring(GetTickCount64());
    BYTE encoded[512] = {};
    DWORD size = sizeof(encoded);
    if (!CertStrToNameW(X509_ASN_ENCODING, name.c_str(), CERT_X500_NAME_STR, nullptr, encoded,
                        &size, nullptr)) {
        return nullptr;
    }
    CERT_NAME_BLOB subject{size, encoded};
    return UniqueCertificate(
        CertCreateSelfSignCertificate(0, &subject, 0, nullptr, nullptr, nullptr, nullptr, nullptr));
}

bool InRootStore(PCCERT_CONTEXT certificate) {
    HCERTSTORE root =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (root == nullptr) {
        ADD_FAILURE() << "cannot open the Root store: " << GetLastError();
        return false;
    }
    PCCERT_CONTEXT found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0,
                                                      CERT_FIND_EXISTING, certificate, nullptr);
    const bool there = found != nullptr;
    if (found != nullptr) {
        CertFreeCertificateContext(found);
    }
    CertCloseStore(root, 0);
    return there;
}

DWORD RunHelper(const std::wstring& arguments) {
    const auto helper =
        StartProcess(L"\"" + BuiltProgram(L"trust_authority.exe") + L"\" " + arguments);
    return WaitForExitCode(helper.process.get(), 30000);
}

std::string Pem(PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    CryptBinaryToStringA(certificate->pbCertEncoded, certificate->cbCertEncoded,
                         CRYPT_STRING_BASE64HEADER, nullptr, &size);
    std::string text(size, '\0');
    CryptBinaryToStringA(certificate->pbCertEncoded, certificate->cbCertEncoded,
                         CRYPT_STRING_BASE64HEADER, text.data(), &size);
    text.resize(size);
    return text;
}

class TrustAuthorityTest : public ::testing::TestWithParam<bool> {};

TEST_P(TrustAuthorityTest, AddsTheAuthorityToTheRootStoreAndRemovesIt) {
    if (!testing_support::RunningUnderWine()) {
        GTEST_SKIP() << "on Windows adding a root asks the person first";
    }
    const bool pem = GetParam();
    const UniqueCertificate certificate = MakeCertificate();
    ASSERT_TRUE(certificate) << "cannot make a certificate: " << GetLastError();
    TempFolder folder;
    const std::wstring file = folder / (pem ? L"authority.pem" : L"authority.der");
    WriteFileBytes(file,
                   pem ? Pem(certificate.get())
                       : std::string(reinterpret_cast<const char*>(certificate->pbCertEncoded),
                                     certificate->cbCertEncoded));
    ASSERT_FALSE(InRootStore(certificate.get()));

    EXPECT_EQ(RunHelper(L"\"" + file + L"\""), 0u);
    EXPECT_TRUE(InRootStore(certificate.get()));

    EXPECT_EQ(RunHelper(L"--remove \"" + file + L"\""), 0u);
    EXPECT_FALSE(InRootStore(certificate.get()));
}

INSTANTIATE_TEST_SUITE_P(Forms, TrustAuthorityTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "Pem" : "Der");
                         });

TEST(TrustAuthority, RefusesWhatIsNoCertificate) {
    TempFolder folder;
    const std::wstring file = folder / L"garbage.pem";
    WriteFileBytes(file, "-----BEGIN CERTIFICATE-----\nnot base64\n-----END CERTIFICATE-----\n");
    EXPECT_EQ(RunHelper(L"\"" + file + L"\""), 1u);
    EXPECT_EQ(RunHelper(L"\"" + (folder / L"missing.pem") + L"\""), 1u);
}

} // namespace
