// A windowed program with the setup program's import table and no work of its
// own: it restricts the DLL search as the setup program's first act does, and
// ends. Whatever planted DLL it loads is loaded by the platform itself while
// it maps those imports, before any line of a program can act (under Wine,
// for example, its advapi32 imports version.dll at load time). The planting
// test runs it to tell those loads apart from the setup program's own.
#include "shell/system_library.h"

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <shellapi.h>
#include <shellscalingapi.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    RestrictDllSearchToSystemFolder();
    // Never true: the calls only make the linker import what the setup
    // program imports. The test compares both import tables.
    if (instance == nullptr) {
        RegCloseKey(nullptr);
        GetStockObject(0);
        CoTaskMemFree(nullptr);
        SysFreeString(nullptr);
        UINT x = 0;
        GetDpiForMonitor(nullptr, MDT_EFFECTIVE_DPI, &x, &x);
        ShellExecuteW(nullptr, nullptr, nullptr, nullptr, nullptr, 0);
        GetDpiForSystem();
        wchar_t text[2] = {};
        _wcsicmp(text, text);
    }
    return 0;
}
