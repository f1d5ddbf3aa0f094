#include "feed/release_signature.h"

#include "feed/cng_calls.h"
#include "feed/verify.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr size_t kCoordinateSize = 32;
constexpr size_t kSignatureSize = 2 * kCoordinateSize;
constexpr size_t kPublicKeySize = 2 * kCoordinateSize;

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    if (digit >= 'a' && digit <= 'f') {
        return digit - 'a' + 10;
    }
    if (digit >= 'A' && digit <= 'F') {
        return digit - 'A' + 10;
    }
    return -1;
}

void AppendValue(std::string& message, const std::string& value) {
    message.append(std::to_string(value.size())).append(1, ':').append(value).append(1, '\n');
}

// Whether key (X then Y, hexadecimal) made signature over digest. A key
// that is malformed or not a point of the curve verifies nothing.
bool VerifiedWithKey(const CngCalls& cng, BCRYPT_ALG_HANDLE algorithm, std::string_view key,
                     const unsigned char (&digest)[kSha256Size],
                     const unsigned char (&signature)[kSignatureSize]) {
    unsigned char blob[sizeof(BCRYPT_ECCKEY_BLOB) + kPublicKeySize] = {};
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateSize};
    std::memcpy(blob, &header, sizeof(header));
    if (!ParseHexBytes(key, blob + sizeof(header), kPublicKeySize)) {
        return false;
    }
    BCRYPT_KEY_HANDLE rawKey = nullptr;
    if (cng.importKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &rawKey, blob, sizeof(blob),
                          0) != 0) {
        return false;
    }
    UniqueCngKey imported(rawKey);
    return cng.verifySignature(imported.get(), nullptr, const_cast<PUCHAR>(digest), kSha256Size,
                               const_cast<PUCHAR>(signature), kSignatureSize, 0) == 0;
}

} // namespace

std::string ReleaseListMessage(const ReleaseListValues& values) {
    std::string message = "MovoraSetup release list 1\n";
    for (const std::string* value :
         {&values.version, &values.package, &values.notes, &values.sha256}) {
        AppendValue(message, *value);
    }
    return message;
}

bool ParseHexBytes(std::string_view text, unsigned char* bytes, size_t count) {
    if (text.size() / 2 != count || text.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        bytes[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

bool VerifyReleaseSignature(std::string_view message, std::string_view signatureHex,
                            std::string_view trustedKeys) {
    unsigned char signature[kSignatureSize] = {};
    unsigned char digest[kSha256Size] = {};
    const CngCalls* cng = GetCngCalls();
    if (cng == nullptr || !ParseHexBytes(signatureHex, signature, kSignatureSize) ||
        !Sha256OfBytes(message, digest)) {
        return false;
    }
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    if (cng->openAlgorithmProvider(&rawAlgorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) != 0) {
        return false;
    }
    UniqueAlgorithm algorithm(rawAlgorithm);
    for (size_t start = 0; start <= trustedKeys.size();) {
        const size_t end = std::min(trustedKeys.find(';', start), trustedKeys.size());
        if (VerifiedWithKey(*cng, algorithm.get(), trustedKeys.substr(start, end - start), digest,
                            signature)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}
