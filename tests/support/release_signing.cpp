#include "tests/support/release_signing.h"

#include "feed/verify.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>
#include <vector>

namespace testing_support {
std::string& TrustedReleaseKeysOfTests(); // tests/support/trusted_keys_seam.cpp
} // namespace testing_support

namespace {

// The file name stem of a committed test key pair.
std::string KeyStem(testing_support::TestKey key) {
    return std::string(MOVORA_TESTS_SOURCE_DIR "/keys/TEST-ONLY-release-signing-key") +
           (key == testing_support::TestKey::Second ? "-2" : "");
}

std::string ReadSourceFile(const std::string& path) {
    return testing_support::ReadFileBytes(std::wstring(path.begin(), path.end()));
}

std::string Hex(const unsigned char* bytes, size_t count, bool capitals) {
    const char* digits = capitals ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 0x0F]);
    }
    return text;
}

// The DER bytes of a PEM "EC PRIVATE KEY" file; empty when it cannot be read.
std::vector<BYTE> PemBytes(testing_support::TestKey key) {
    const std::string pem = ReadSourceFile(KeyStem(key) + ".pem");
    DWORD size = 0;
    if (pem.empty() ||
        !CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr)) {
        return {};
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr)) {
        return {};
    }
    der.resize(size);
    return der;
}

// A P-256 private key as SEC 1 stores it: SEQUENCE { 1, OCTET STRING d,
// [0] curve, [1] BIT STRING 04 X Y }, always 121 bytes for this curve.
constexpr BYTE kPrivateKeyPrefix[] = {0x30, 0x77, 0x02, 0x01, 0x01, 0x04, 0x20};
constexpr size_t kDerSize = 121;
constexpr size_t kPrivateAt = sizeof(kPrivateKeyPrefix);
constexpr size_t kPublicAt = kDerSize - 64;

bool WellFormed(const std::vector<BYTE>& der) {
    return der.size() == kDerSize &&
           std::equal(std::begin(kPrivateKeyPrefix), std::end(kPrivateKeyPrefix), der.begin()) &&
           der[kPublicAt - 1] == 0x04;
}

void AppendJsonString(std::string& json, const std::string& value) {
    json.push_back('"');
    for (const char byte : value) {
        if (byte == '"' || byte == '\\') {
            json.push_back('\\');
            json.push_back(byte);
        } else if (byte == '\n') {
            json.append("\\n");
        } else {
            json.push_back(byte);
        }
    }
    json.push_back('"');
}

} // namespace

namespace testing_support {

std::string TestPublicKey(TestKey key) {
    std::string text = ReadSourceFile(KeyStem(key) + ".pub");
    text.erase(std::remove_if(text.begin(), text.end(),
                              [](unsigned char c) { return std::isspace(c) != 0; }),
               text.end());
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string PublicKeyOfPrivateFile(TestKey key) {
    const std::vector<BYTE> der = PemBytes(key);
    return WellFormed(der) ? Hex(der.data() + kPublicAt, 64, true) : std::string();
}

std::string SignMessage(const std::string& message, TestKey key) {
    const std::vector<BYTE> der = PemBytes(key);
    if (!WellFormed(der)) {
        ADD_FAILURE() << "the test key file is not a P-256 private key";
        return std::string();
    }
    // BCRYPT_ECCPRIVATE_BLOB: the header, X, Y, then d.
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), der.data() + kPublicAt, 64);
    std::memcpy(blob.data() + sizeof(header) + 64, der.data() + kPrivateAt, 32);

    unsigned char digest[kSha256Size] = {};
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE privateKey = nullptr;
    UCHAR signature[64] = {};
    ULONG written = 0;
    const bool ok =
        Sha256OfBytes(message, digest) &&
        BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) == 0 &&
        BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, &privateKey, blob.data(),
                            static_cast<ULONG>(blob.size()), 0) == 0 &&
        BCryptSignHash(privateKey, nullptr, digest, sizeof(digest), signature, sizeof(signature),
                       &written, 0) == 0 &&
        written == sizeof(signature);
    if (privateKey != nullptr) {
        BCryptDestroyKey(privateKey);
    }
    if (algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    if (!ok) {
        ADD_FAILURE() << "CNG could not sign with the test key";
        return std::string();
    }
    return Hex(signature, sizeof(signature), false);
}

std::string ReleaseListJson(const ReleaseListValues& values, const std::string& signature) {
    std::string json = "{";
    const std::pair<const char*, const std::string*> fields[] = {{"version", &values.version},
                                                                 {"package", &values.package},
                                                                 {"notes", &values.notes},
                                                                 {"sha256", &values.sha256},
                                                                 {"signature", &signature}};
    for (const auto& [key, value] : fields) {
        if (value->empty()) {
            continue;
        }
        json += json.size() > 1 ? ",\n  \"" : "\n  \"";
        json += key;
        json += "\": ";
        AppendJsonString(json, *value);
    }
    return json + "\n}\n";
}

std::string SignedReleaseList(const ReleaseListValues& values, TestKey key) {
    return ReleaseListJson(values, SignMessage(ReleaseListMessage(values), key));
}

TrustedKeysScope::TrustedKeysScope(std::string keys)
    : saved_(std::move(TrustedReleaseKeysOfTests())) {
    TrustedReleaseKeysOfTests() = std::move(keys);
}

TrustedKeysScope::~TrustedKeysScope() {
    TrustedReleaseKeysOfTests() = std::move(saved_);
}

std::string BothTestKeys() {
    return TestPublicKey(TestKey::First) + ";" + TestPublicKey(TestKey::Second);
}

} // namespace testing_support
