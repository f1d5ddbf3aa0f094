// The one lock that keeps two setup processes of an account from running the
// install or the uninstall sequence at the same time.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

// The sentence both sequences report when the lock is taken.
inline constexpr wchar_t kSetupRunningSentence[] = L"Another Movora setup is running.";

// The name of the lock: a mutex in the "Global\" namespace named after the
// account's SID, "Global\MovoraSetup-S-1-5-21-...". The install root belongs
// to the account, not to a logon session, so the name is the same in every
// session of that account (a "Local\" name would let a second session's
// setup run next to the first) and differs between accounts (one account's
// setup never blocks another's). The SID, unlike the user name, is unique and
// never changes. When the SID cannot be read the name carries none and the
// lock covers every account of the machine: too strict, never too loose.
std::wstring SetupLockName();

struct SetupLockReleaser {
    void operator()(HANDLE mutex) const {
        ReleaseMutex(mutex);
        CloseHandle(mutex);
    }
};
// An owned, acquired setup lock; released when it goes away. Must be released
// on the thread that acquired it.
using SetupLock = std::unique_ptr<std::remove_pointer_t<HANDLE>, SetupLockReleaser>;

// Takes the setup lock without waiting. Empty when another thread or process
// holds it, or when the mutex cannot be created or opened (an object of that
// name made by someone this account may not open counts as held). A mutex
// whose owner ended without releasing it counts as acquired: the owner is
// gone, and what it left on disk is for the sequence to put right.
SetupLock TryAcquireSetupLock();
