#include "feed/verify.h"

#include "feed/cng_calls.h"
#include "install/fs_calls.h"
#include "shell/scoped.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cwctype>
#include <iterator>
#include <vector>

namespace {

constexpr size_t kReadBufferSize = 0x40000;

// Runs one SHA-256 hash: feed(cng, hash) passes the input with hashData, and
// the digest lands in digest. False only when CNG itself fails (the provider,
// the hash object or finishing it); digest is then untouched.
template <typename Feed> bool HashSha256(Feed feed, unsigned char (&digest)[kSha256Size]) {
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    const CngCalls* cng = GetCngCalls();
    if (cng == nullptr ||
        cng->openAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        return false;
    }
    UniqueAlgorithm algorithm(rawAlgorithm);

    DWORD objectLength = 0;
    ULONG written = 0;
    cng->getProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                     sizeof(objectLength), &written, 0);
    std::vector<UCHAR> hashObject(objectLength);

    // Declared after the object buffer, so the hash is destroyed before the
    // buffer it lives in is freed.
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (cng->createHash(algorithm.get(), &rawHash, hashObject.empty() ? nullptr : hashObject.data(),
                        objectLength, nullptr, 0, 0) != 0) {
        return false;
    }
    UniqueHash hash(rawHash);
    feed(*cng, hash.get());
    UCHAR hashValue[kSha256Size] = {};
    if (cng->finishHash(hash.get(), hashValue, kSha256Size, 0) != 0) {
        return false;
    }
    std::copy(std::begin(hashValue), std::end(hashValue), digest);
    return true;
}

} // namespace

bool VerifySha256(const std::wstring& path, std::wstring& digest, std::wstring& error) {
    // A file that cannot be opened or read contributes what was read so far
    // (nothing when the open failed): the comparison then decides.
    const auto feedFile = [&path](const CngCalls& cng, BCRYPT_HASH_HANDLE hash) {
        UniqueHandle file(CreateFileW(WindowsPathArgument(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        std::vector<UCHAR> buffer(Valid(file) ? kReadBufferSize : 0);
        for (bool more = Valid(file); more;) {
            DWORD count = 0;
            more = ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &count,
                            nullptr) != FALSE;
            if (count > 0) {
                cng.hashData(hash, buffer.data(), count, 0);
            }
            // A short read is the end of the file.
            more = more && count == buffer.size();
        }
    };
    unsigned char hashValue[kSha256Size] = {};
    if (!HashSha256(feedFile, hashValue)) {
        error = L"Could not check the download.";
        return false;
    }
    static constexpr wchar_t kHexDigits[] = L"0123456789abcdef";
    digest.clear();
    digest.reserve(kSha256Size * 2);
    for (unsigned char byte : hashValue) {
        digest.push_back(kHexDigits[byte >> 4]);
        digest.push_back(kHexDigits[byte & 0x0F]);
    }
    return true;
}

bool Sha256OfBytes(std::string_view bytes, unsigned char (&digest)[kSha256Size]) {
    const auto feedBytes = [bytes](const CngCalls& cng, BCRYPT_HASH_HANDLE hash) {
        // One call per 1 GiB keeps each count within ULONG.
        constexpr size_t kPiece = 0x40000000;
        for (size_t at = 0; at < bytes.size(); at += kPiece) {
            const size_t count = std::min(kPiece, bytes.size() - at);
            cng.hashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data() + at)),
                         static_cast<ULONG>(count), 0);
        }
    };
    return HashSha256(feedBytes, digest);
}

bool DigestMatches(std::wstring computed, std::wstring expected) {
    for (std::wstring* text : {&computed, &expected}) {
        for (wchar_t& unit : *text) {
            unit = static_cast<wchar_t>(towlower(unit));
        }
    }
    return computed == expected;
}
