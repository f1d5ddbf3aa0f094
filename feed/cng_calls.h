// The CNG entry points of the download check and the release list's
// signature check, bound at first use from the system folder (bcrypt.dll is
// not on Windows' known-DLL list).
#pragma once

#include <windows.h>
#include <bcrypt.h>

#include <memory>
#include <type_traits>

struct CngCalls {
    decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider = nullptr;
    decltype(&BCryptGetProperty) getProperty = nullptr;
    decltype(&BCryptCreateHash) createHash = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finishHash = nullptr;
    decltype(&BCryptDestroyHash) destroyHash = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider = nullptr;
    decltype(&BCryptImportKeyPair) importKeyPair = nullptr;
    decltype(&BCryptVerifySignature) verifySignature = nullptr;
    decltype(&BCryptDestroyKey) destroyKey = nullptr;
};

// The bound entry points; null when bcrypt.dll or one of them cannot be loaded
// from the system folder. The first call binds them; safe from any thread.
const CngCalls* GetCngCalls();

// Owners of CNG objects; only made once GetCngCalls() has given the calls.
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

struct KeyDestroyer {
    void operator()(BCRYPT_KEY_HANDLE key) const { GetCngCalls()->destroyKey(key); }
};
using UniqueCngKey = std::unique_ptr<std::remove_pointer_t<BCRYPT_KEY_HANDLE>, KeyDestroyer>;
