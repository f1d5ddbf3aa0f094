// A DLL that stands for a file planted next to the setup program under the
// name of a system DLL. When anything loads it, it leaves "<its own path>.loaded"
// beside itself, so a test can tell whether the program ever loaded it.
#include <windows.h>

#include <string>

// So a program that imports WinHTTP's first entry point through its import
// table loads this file when it is planted as winhttp.dll (the loader needs
// the name to resolve).
extern "C" __declspec(dllexport) BOOL WINAPI WinHttpCheckPlatform() {
    return FALSE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const std::wstring marker = std::wstring(path, length) + L".loaded";
            HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                CloseHandle(file);
            }
        }
    }
    return TRUE;
}
