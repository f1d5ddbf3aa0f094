#include "tests/support/tar_standin.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace testing_support {

std::wstring SystemTarPath() {
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\tar.exe";
}

bool InstallTarStandIn() {
    const std::wstring target = SystemTarPath();
    if (RunningUnderWine() && !CopyFileW(BuiltProgram(L"tar.exe").c_str(), target.c_str(), FALSE)) {
        ADD_FAILURE() << "cannot copy the tar stand-in into the system folder (error "
                      << GetLastError() << ")";
        return false;
    }
    if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ADD_FAILURE() << "there is no tar tool in the system folder";
        return false;
    }
    return true;
}

bool RemoveTarStandIn() {
    if (!RunningUnderWine()) {
        return false;
    }
    const std::wstring target = SystemTarPath();
    if (!DeleteFileW(target.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
        ADD_FAILURE() << "cannot delete the tar stand-in (error " << GetLastError() << ")";
        return false;
    }
    return true;
}

} // namespace testing_support
