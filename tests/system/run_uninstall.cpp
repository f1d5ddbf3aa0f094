// RunUninstall in a process of its own, for tests that need the uninstall
// sequence to run from a particular place (a copy inside the install root, as
// when the setup copy could not hand over to the uninstall copy). COM is set
// up as the uninstall job sets it up.
// Exit code: 0 when the uninstall succeeded, 1 when it failed with "Some
// Movora files are still in use.", 2 for any other failure.
#include "system/uninstall.h"

#include <objbase.h>

int wmain() {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::wstring message;
    const bool removed = RunUninstall(message);
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    if (removed) {
        return 0;
    }
    return message == L"Some Movora files are still in use." ? 1 : 2;
}
