#include "system/uninstall_entry.h"

#include "install/fs_calls.h"
#include "shell/scoped.h"

namespace {

constexpr wchar_t kSetupVersion[] = L"0.1.3";

void SetRegistryDword(HKEY key, const wchar_t* name, DWORD value) {
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// Today's local date as eight digits, year first ("%04u%02u%02u"). Written
// out by hand: the runtime's printf family adds about 20 KB to the program.
std::wstring TodayAsText() {
    SYSTEMTIME today{};
    GetLocalTime(&today);
    // YYYYMMDD as one number, then its eight digits from the right.
    unsigned date = today.wYear * 10000u + today.wMonth * 100u + today.wDay;
    std::wstring text(8, L'0');
    for (size_t i = text.size(); i-- > 0; date /= 10) {
        text[i] = static_cast<wchar_t>(L'0' + date % 10);
    }
    return text;
}

// Adds the sizes of the files below folder to totalBytes, from the listing
// alone (no file is opened). Links are neither entered nor counted. A folder
// that denies its listing is skipped; any other failure ends the whole walk
// (false) with what was counted so far.
bool AddFolderBytes(const std::wstring& folder, std::uint64_t& totalBytes) {
    bool walking = true;
    bool opened = false;
    const DWORD error = ForEachFolderEntry(
        folder,
        [&](const WIN32_FIND_DATAW& entry) {
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                return true;
            }
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                walking = AddFolderBytes(JoinPath(folder, entry.cFileName), totalBytes);
                return walking;
            }
            totalBytes +=
                (static_cast<std::uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
            return true;
        },
        &opened);
    if (!opened) {
        return error == ERROR_ACCESS_DENIED;
    }
    return walking && error == ERROR_SUCCESS;
}

} // namespace

void WriteUninstallEntry(const std::wstring& appExePath, const std::wstring& setupExePath,
                         const std::wstring& version) {
    HKEY rawKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallEntryKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &rawKey, nullptr) != ERROR_SUCCESS) {
        return;
    }
    UniqueKey key(rawKey);
    const std::wstring appFolder = ParentPath(appExePath);

    SetRegistryString(key.get(), L"DisplayName", L"Movora");
    SetRegistryString(key.get(), L"DisplayVersion", version.empty() ? kSetupVersion : version);
    SetRegistryString(key.get(), L"Publisher", L"Movora");
    SetRegistryString(key.get(), L"InstallLocation", appFolder);
    SetRegistryString(key.get(), L"DisplayIcon", appExePath + L",0");
    // Quoted, so a path with spaces stays one argument.
    SetRegistryString(key.get(), L"UninstallString", L"\"" + setupExePath + L"\" --uninstall");
    SetRegistryString(key.get(), L"InstallDate", TodayAsText());
    SetRegistryDword(key.get(), L"NoModify", 1);
    SetRegistryDword(key.get(), L"NoRepair", 1);
    const std::uint32_t sizeKiB = GetFolderSizeKiB(appFolder);
    if (sizeKiB != 0) {
        SetRegistryDword(key.get(), L"EstimatedSize", sizeKiB);
    }
}

std::wstring ReadInstalledVersion() {
    DWORD bytes = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, kUninstallEntryKey, L"DisplayVersion", RRF_RT_REG_SZ,
                     nullptr, nullptr, &bytes) != ERROR_SUCCESS) {
        return std::wstring();
    }
    // Room for the terminating null RegGetValueW adds to a value stored without one.
    std::wstring text(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, kUninstallEntryKey, L"DisplayVersion", RRF_RT_REG_SZ,
                     nullptr, &text[0], &bytes) != ERROR_SUCCESS) {
        return std::wstring(); // changed in between: as good as unreadable
    }
    const size_t end = text.find(L'\0');
    if (end != std::wstring::npos) {
        text.resize(end);
    }
    return text;
}

LSTATUS SetRegistryString(HKEY key, const wchar_t* name, const std::wstring& text) {
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::uint32_t GetFolderSizeKiB(const std::wstring& folder) {
    try {
        if (!raising::Exists(folder)) {
            return 0;
        }
    } catch (const FileError&) {
        return 0; // cannot be examined: no estimate, an earlier one stays
    }
    std::uint64_t totalBytes = 0;
    AddFolderBytes(folder, totalBytes);
    const std::uint64_t kib = totalBytes / 1024;
    return kib > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<std::uint32_t>(kib);
}
