// The platform calls that running the tar tool makes, in one record, so that a
// test can stand in for what Windows gives no way to cause (a system folder
// that cannot be looked up, a process that cannot be created).
#pragma once

#include <windows.h>

struct TarToolCalls {
    decltype(&GetSystemDirectoryW) getSystemDirectory = nullptr;
    decltype(&CreateProcessW) createProcess = nullptr;
    decltype(&WaitForSingleObject) waitForSingleObject = nullptr;
    decltype(&GetExitCodeProcess) getExitCodeProcess = nullptr;
    decltype(&TerminateProcess) terminateProcess = nullptr;
};

// The calls in use: Windows' own unless a test has put others in place.
const TarToolCalls& GetTarToolCalls();

// Windows' own calls, for a test to start its substitute from.
const TarToolCalls& WindowsTarToolCalls();

// Test seam: from now on the tar tool is run through calls (which must
// outlive their use); null puts Windows' own back. Inert unless a test uses it.
void SubstituteTarToolCalls(const TarToolCalls* calls);
