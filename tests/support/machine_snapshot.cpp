#include "tests/support/machine_snapshot.h"

#include "shell/scoped.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <cwctype>
#include <filesystem>

namespace testing_support {

namespace {

std::wstring Folded(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(towlower(c));
    }
    return text;
}

// FNV-1a over the value's bytes: enough to see that data changed.
std::wstring Digest(const BYTE* data, DWORD size) {
    unsigned long long hash = 1469598103934665603ull;
    for (DWORD i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 1099511628211ull;
    }
    return std::to_wstring(hash);
}

void AddKey(HKEY key, const std::wstring& name, MachineState& state) {
    state[Folded(name)] = L"key";
    DWORD subkeys = 0;
    DWORD longestSubkey = 0;
    DWORD values = 0;
    DWORD longestValueName = 0;
    DWORD longestData = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr, &values,
                         &longestValueName, &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
        return;
    }
    std::vector<wchar_t> valueName(longestValueName + 2);
    std::vector<BYTE> data(longestData + 2);
    for (DWORD i = 0; i < values; ++i) {
        DWORD nameLength = static_cast<DWORD>(valueName.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueW(key, i, valueName.data(), &nameLength, nullptr, &type, data.data(),
                          &dataSize) != ERROR_SUCCESS) {
            continue;
        }
        state[Folded(name + L"\\:" + std::wstring(valueName.data(), nameLength))] =
            std::to_wstring(type) + L" " + std::to_wstring(dataSize) + L" " +
            Digest(data.data(), dataSize);
    }
    std::vector<wchar_t> subkeyName(longestSubkey + 2);
    for (DWORD i = 0; i < subkeys; ++i) {
        DWORD length = static_cast<DWORD>(subkeyName.size());
        if (RegEnumKeyExW(key, i, subkeyName.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            continue;
        }
        const std::wstring child(subkeyName.data(), length);
        HKEY opened = nullptr;
        if (RegOpenKeyExW(key, child.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &opened) !=
            ERROR_SUCCESS) {
            state[Folded(name + L"\\" + child)] = L"key";
            continue;
        }
        const UniqueKey owned(opened);
        AddKey(opened, name + L"\\" + child, state);
    }
}

} // namespace

std::pair<DWORD, ULONGLONG> IdentityOf(const std::wstring& folder) {
    const UniqueHandle handle(CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!Valid(handle) || !GetFileInformationByHandle(handle.get(), &info)) {
        // Unknown: give it an identity of its own so it is walked.
        static ULONGLONG unknown = 0;
        return {0, ~0ull - unknown++};
    }
    return {info.dwVolumeSerialNumber,
            (static_cast<ULONGLONG>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

void AddFiles(const std::wstring& root, MachineState& state, FolderIdentities& seen) {
    namespace fs = std::filesystem;
    if (!seen.insert(IdentityOf(root)).second) {
        return;
    }
    std::error_code error;
    fs::recursive_directory_iterator it(root,
                                        fs::directory_options::follow_directory_symlink |
                                            fs::directory_options::skip_permission_denied,
                                        error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::error_code ignored;
        const std::wstring name = Folded(it->path().wstring());
        if (it->is_directory(ignored)) {
            // Another name of a folder already walked (Wine links several
            // user folders to the one home folder): listed, not walked again.
            if (it.depth() > 40 || !seen.insert(IdentityOf(it->path().wstring())).second) {
                it.disable_recursion_pending();
            }
            state[name] = L"folder";
            continue;
        }
        const auto size = it->file_size(ignored);
        const auto time = it->last_write_time(ignored).time_since_epoch().count();
        state[name] = std::to_wstring(size) + L" " + std::to_wstring(time);
    }
    EXPECT_FALSE(error) << "walking " << fs::path(root).string() << ": " << error.message();
}

void AddRegistry(HKEY root, const std::wstring& prefix, MachineState& state) {
    AddKey(root, prefix, state);
}

MachineState TakeMachineState() {
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    MachineState state;
    FolderIdentities seen;
    // The desktop first, so the shortcut on it is named by the desktop even
    // where other user folders are links to the same folder.
    wchar_t desktop[MAX_PATH] = {};
    if (SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop) ==
        S_OK) {
        AddFiles(desktop, state, seen);
    }
    AddFiles(std::filesystem::path(temp).root_path().wstring(), state, seen);
    AddRegistry(HKEY_CURRENT_USER, L"HKCU", state);
    AddRegistry(HKEY_LOCAL_MACHINE, L"HKLM", state);
    return state;
}

std::vector<std::wstring> Differences(const MachineState& before, const MachineState& after) {
    std::vector<std::wstring> differences;
    for (const auto& [name, content] : before) {
        const auto found = after.find(name);
        if (found == after.end()) {
            differences.push_back(L"- " + name);
        } else if (found->second != content) {
            differences.push_back(L"~ " + name);
        }
    }
    for (const auto& [name, content] : after) {
        if (before.count(name) == 0) {
            differences.push_back(L"+ " + name);
        }
    }
    return differences;
}

std::wstring NameOf(const std::wstring& difference) {
    return difference.substr(2);
}

bool IsAtOrBelow(const std::wstring& name, const std::wstring& folder) {
    std::wstring base = Folded(folder);
    while (!base.empty() && base.back() == L'\\') {
        base.pop_back();
    }
    const std::wstring folded = Folded(name);
    return folded == base ||
           (folded.size() > base.size() && folded.compare(0, base.size(), base) == 0 &&
            folded[base.size()] == L'\\');
}

} // namespace testing_support
