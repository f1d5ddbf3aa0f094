#include "feed/verify.h"

#include "feed/cng_calls.h"
#include "install/fs_calls.h"
#include "shell/scoped.h"

#include <windows.h>
#include <bcrypt.h>

#include <cwctype>
#include <memory>
#include <type_traits>
#include <vector>

namespace {

constexpr size_t kReadBufferSize = 0x40000;
constexpr ULONG kDigestSize = 32;

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE algorithm) const {
        GetCngCalls()->closeAlgorithmProvider(algorithm, 0);
    }
};
using UniqueAlgorithm = std::unique_ptr<std::remove_pointer_t<BCRYPT_ALG_HANDLE>, AlgorithmCloser>;

struct HashDestroyer {
    void operator()(BCRYPT_HASH_HANDLE hash) const { GetCngCalls()->destroyHash(hash); }
};
using UniqueHash = std::unique_ptr<std::remove_pointer_t<BCRYPT_HASH_HANDLE>, HashDestroyer>;

} // namespace

bool VerifySha256(const std::wstring& path, std::wstring& digest, std::wstring& error) {
    BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
    const CngCalls* cng = GetCngCalls();
    if (cng == nullptr ||
        cng->openAlgorithmProvider(&rawAlgorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0) {
        error = L"Could not check the download.";
        return false;
    }
    UniqueAlgorithm algorithm(rawAlgorithm);

    DWORD objectLength = 0;
    ULONG written = 0;
    cng->getProperty(algorithm.get(), BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectLength),
                     sizeof(objectLength), &written, 0);
    std::vector<UCHAR> hashObject(objectLength);
    UCHAR hashValue[kDigestSize] = {};

    // Declared after the object buffer, so the hash is destroyed before the
    // buffer it lives in is freed.
    BCRYPT_HASH_HANDLE rawHash = nullptr;
    if (cng->createHash(algorithm.get(), &rawHash, hashObject.empty() ? nullptr : hashObject.data(),
                        objectLength, nullptr, 0, 0) != 0) {
        error = L"Could not check the download.";
        return false;
    }
    UniqueHash hash(rawHash);

    // A file that cannot be opened or read contributes what was read so far
    // (nothing when the open failed): the comparison then decides.
    UniqueHandle file(CreateFileW(WindowsPathArgument(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<UCHAR> buffer(Valid(file) ? kReadBufferSize : 0);
    for (bool more = Valid(file); more;) {
        DWORD count = 0;
        more = ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &count,
                        nullptr) != FALSE;
        if (count > 0) {
            cng->hashData(hash.get(), buffer.data(), count, 0);
        }
        // A short read is the end of the file.
        more = more && count == buffer.size();
    }

    if (cng->finishHash(hash.get(), hashValue, kDigestSize, 0) != 0) {
        error = L"Could not check the download.";
        return false;
    }
    static constexpr wchar_t kHexDigits[] = L"0123456789abcdef";
    digest.clear();
    digest.reserve(kDigestSize * 2);
    for (UCHAR byte : hashValue) {
        digest.push_back(kHexDigits[byte >> 4]);
        digest.push_back(kHexDigits[byte & 0x0F]);
    }
    return true;
}

bool DigestMatches(std::wstring computed, std::wstring expected) {
    for (std::wstring* text : {&computed, &expected}) {
        for (wchar_t& unit : *text) {
            unit = static_cast<wchar_t>(towlower(unit));
        }
    }
    return computed == expected;
}
