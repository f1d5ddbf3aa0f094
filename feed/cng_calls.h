// The CNG hashing entry points the download check uses, bound at first use
// from the system folder (bcrypt.dll is not on Windows' known-DLL list).
#pragma once

#include <windows.h>
#include <bcrypt.h>

struct CngCalls {
    decltype(&BCryptOpenAlgorithmProvider) openAlgorithmProvider = nullptr;
    decltype(&BCryptGetProperty) getProperty = nullptr;
    decltype(&BCryptCreateHash) createHash = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finishHash = nullptr;
    decltype(&BCryptDestroyHash) destroyHash = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) closeAlgorithmProvider = nullptr;
};

// The bound entry points; null when bcrypt.dll or one of them cannot be loaded
// from the system folder. The first call binds them; safe from any thread.
const CngCalls* GetCngCalls();
