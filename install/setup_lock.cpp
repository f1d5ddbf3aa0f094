#include "install/setup_lock.h"

#include "shell/scoped.h"

#include <sddl.h>

#include <vector>

namespace {

// The SID of the account this process runs as, in its "S-1-..." form; empty
// when the token cannot be read.
std::wstring AccountSid() {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) {
        return std::wstring();
    }
    UniqueHandle token(rawToken);
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0) {
        return std::wstring();
    }
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return std::wstring();
    }
    const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
    wchar_t* text = nullptr;
    if (!ConvertSidToStringSidW(user->User.Sid, &text)) {
        return std::wstring();
    }
    std::wstring sid(text);
    LocalFree(text);
    return sid;
}

} // namespace

std::wstring SetupLockName() {
    const std::wstring sid = AccountSid();
    return sid.empty() ? std::wstring(L"Global\\MovoraSetup") : L"Global\\MovoraSetup-" + sid;
}

SetupLock TryAcquireSetupLock() {
    SetupLock none;
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, SetupLockName().c_str());
    if (mutex == nullptr) {
        return none;
    }
    const DWORD wait = WaitForSingleObject(mutex, 0);
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return none;
    }
    return SetupLock(mutex);
}
