// scanner_standin.exe <event name> <hold ms> <file>...: plays an on-access
// virus scanner or the search indexer, which open fresh files for a moment
// without delete or write sharing. Opens every named file for reading,
// sharing reading only (so it cannot be renamed, deleted or written, and a
// folder above it cannot be renamed on Windows), sets the named event
// (created by the test) once it holds them all, keeps them for hold ms and
// exits with 0. Exits with 2 without setting the event when a file cannot be
// opened, 1 on a bad command line.
#include <windows.h>

#include <cwchar>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc < 4) {
        return 1;
    }
    std::vector<HANDLE> held;
    for (int i = 3; i < argc; ++i) {
        const HANDLE file = CreateFileW(argv[i], GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return 2;
        }
        held.push_back(file);
    }
    const HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (ready == nullptr) {
        return 1;
    }
    SetEvent(ready);
    CloseHandle(ready);
    Sleep(static_cast<DWORD>(wcstoul(argv[2], nullptr, 10)));
    for (const HANDLE file : held) {
        CloseHandle(file);
    }
    return 0;
}
