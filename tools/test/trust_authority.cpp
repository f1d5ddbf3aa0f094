// trust_authority.exe [--remove] <certificate>: makes the Wine prefix it runs
// in trust a throwaway certificate authority for HTTPS, as a local release
// server's certificate needs (tools/release serve --cert), or takes that trust
// away again. The certificate is a PEM or DER file; it goes into (or out of)
// the current user's "Root" store, which WinHTTP consults. Prints one line and
// exits 0, or 1 with the reason. Under Wine no dialog asks; on Windows adding
// to that store asks the person first, so this is for Wine prefixes.
//
//   tools/test/wine-exec build/test/bin/trust_authority.exe ca.pem
//
// A development and test tool: never shipped with the setup program.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string ReadAll(const wchar_t* path) {
    std::string bytes;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return bytes;
    }
    char buffer[16384];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

// The DER bytes of a PEM certificate, or the bytes as they are when they are
// no PEM text.
std::vector<BYTE> CertificateBytes(const std::string& file) {
    DWORD size = 0;
    if (CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()),
                             CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
        std::vector<BYTE> der(size);
        if (CryptStringToBinaryA(file.data(), static_cast<DWORD>(file.size()),
                                 CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
            der.resize(size);
            return der;
        }
    }
    return std::vector<BYTE>(file.begin(), file.end());
}

int Fail(const wchar_t* what, const wchar_t* path) {
    fwprintf(stderr, L"trust_authority: %ls \"%ls\" (error %lu).\n", what, path, GetLastError());
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const bool remove = argc == 3 && std::wstring(argv[1]) == L"--remove";
    if (argc != 2 && !remove) {
        fwprintf(stderr, L"usage: trust_authority.exe [--remove] <certificate.pem|.der>\n");
        return 2;
    }
    const wchar_t* path = argv[argc - 1];
    const std::string file = ReadAll(path);
    if (file.empty()) {
        return Fail(L"cannot read", path);
    }
    const std::vector<BYTE> der = CertificateBytes(file);
    PCCERT_CONTEXT certificate =
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    if (certificate == nullptr) {
        return Fail(L"no certificate in", path);
    }
    // The registry store itself rather than the collection a system store
    // opens as: under Wine a removal through the collection is not written.
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                    CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (root == nullptr) {
        CertFreeCertificateContext(certificate);
        return Fail(L"cannot open the Root store for", path);
    }
    bool done = false;
    if (remove) {
        PCCERT_CONTEXT found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0,
                                                          CERT_FIND_EXISTING, certificate, nullptr);
        // Deleting frees the found context; nothing found is nothing to remove.
        done = found == nullptr || CertDeleteCertificateFromStore(found);
    } else {
        done = CertAddCertificateContextToStore(root, certificate, CERT_STORE_ADD_REPLACE_EXISTING,
                                                nullptr);
    }
    const DWORD error = GetLastError();
    CertCloseStore(root, 0);
    CertFreeCertificateContext(certificate);
    if (!done) {
        SetLastError(error);
        return Fail(remove ? L"cannot remove" : L"cannot add", path);
    }
    wprintf(remove ? L"no longer trusted: \"%ls\"\n"
                   : L"trusted for HTTPS in this prefix: \"%ls\"\n",
            path);
    return 0;
}
