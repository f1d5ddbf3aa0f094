#include "shell/system_library.h"

bool RestrictDllSearchToSystemFolder() {
    return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
    return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibraryAndLateLoads(const wchar_t* name, const wchar_t* const* lateLoads,
                                      size_t lateLoadCount) {
    for (size_t i = 0; i < lateLoadCount; ++i) {
        LoadSystemLibrary(lateLoads[i]);
    }
    return LoadSystemLibrary(name);
}
