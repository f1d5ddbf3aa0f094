#include "install/locations.h"

#include "install/fs_calls.h"

#include <cwchar>
#include <iterator>
#include <memory>

namespace {

struct CoTaskMemDeleter {
    void operator()(wchar_t* text) const { CoTaskMemFree(text); }
};

} // namespace

std::wstring GetKnownFolderPath(REFKNOWNFOLDERID id) {
    PWSTR rawFolder = nullptr;
    const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &rawFolder);
    // The buffer must be freed on failure too (it may be null then).
    std::unique_ptr<wchar_t, CoTaskMemDeleter> folder(rawFolder);
    return SUCCEEDED(result) && folder ? std::wstring(folder.get()) : std::wstring();
}

std::wstring LocateInstallRoot() {
    const std::wstring localAppData = GetKnownFolderPath(FOLDERID_LocalAppData);
    return localAppData.empty() ? std::wstring() : JoinPath(localAppData, kInstallRootName);
}

std::wstring GetInstallRoot() {
    const std::wstring root = LocateInstallRoot();
    if (root.empty()) {
        throw FileError{L"find the install root", root, std::wstring(), ERROR_PATH_NOT_FOUND};
    }
    raising::CreateFolders(root);
    return root;
}

bool IsPathInside(const std::wstring& path, const std::wstring& directory) {
    std::wstring absolute;
    DWORD error = ERROR_SUCCESS;
    if (!GetFullPath(directory, absolute, error)) {
        throw FileError{L"make absolute", directory, std::wstring(), error};
    }
    while (!absolute.empty() && IsPathSeparator(absolute.back())) {
        absolute.pop_back();
    }

    const size_t n = absolute.size();
    if (path.size() < n) {
        return false;
    }
    if (_wcsnicmp(path.c_str(), absolute.c_str(), n) != 0) {
        return false;
    }
    if (path.size() == n) {
        return true;
    }
    return IsPathSeparator(path[n]);
}

std::wstring GetTempFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    return std::wstring(buffer, length);
}

std::wstring PackageFileName(const std::wstring& version) {
    constexpr wchar_t kPrefix[] = L"Movora-";
    constexpr wchar_t kSuffix[] = L".zip";
    constexpr size_t kLongestName = 255; // of one path component
    const size_t longestVersion =
        kLongestName - (std::size(kPrefix) - 1) - (std::size(kSuffix) - 1);

    std::wstring name = kPrefix;
    for (const wchar_t c : version.substr(0, longestVersion)) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        name += control || wcschr(L"\\/:*?\"<>|", c) != nullptr ? L'_' : c;
    }
    return name + kSuffix;
}

std::wstring GetPackageFilePath(const std::wstring& version) {
    const std::wstring tempFolder = GetTempFolder();
    return tempFolder.empty() ? std::wstring() : JoinPath(tempFolder, PackageFileName(version));
}

std::wstring GetUninstallCopyPath() {
    return JoinPath(GetTempFolder(), kUninstallCopyName);
}
