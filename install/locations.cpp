#include "install/locations.h"

#include <filesystem>
#include <memory>
#include <system_error>

namespace fs = std::filesystem;

namespace {

struct CoTaskMemDeleter {
    void operator()(wchar_t* text) const { CoTaskMemFree(text); }
};

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

} // namespace

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    return (fs::path(folder) / name).wstring();
}

std::wstring GetKnownFolderPath(REFKNOWNFOLDERID id) {
    PWSTR rawFolder = nullptr;
    const HRESULT result = SHGetKnownFolderPath(id, 0, nullptr, &rawFolder);
    // The buffer must be freed on failure too (it may be null then).
    std::unique_ptr<wchar_t, CoTaskMemDeleter> folder(rawFolder);
    return SUCCEEDED(result) && folder ? std::wstring(folder.get()) : std::wstring();
}

std::wstring GetInstallRoot() {
    std::wstring root;
    const std::wstring localAppData = GetKnownFolderPath(FOLDERID_LocalAppData);
    if (!localAppData.empty()) {
        root = JoinPath(localAppData, kInstallRootName);
    }

    std::error_code error;
    if (root.empty()) {
        error = std::error_code(ERROR_PATH_NOT_FOUND, std::system_category());
    } else {
        fs::create_directories(root, error);
    }
    if (error) {
        throw fs::filesystem_error("GetInstallRoot", root, error);
    }
    return root;
}

bool IsPathInside(const std::wstring& path, const std::wstring& directory) {
    const DWORD needed = GetFullPathNameW(directory.c_str(), 0, nullptr, nullptr);
    std::wstring absolute(needed, L'\0');
    DWORD written = 0;
    if (needed != 0) {
        written = GetFullPathNameW(directory.c_str(), needed, absolute.data(), nullptr);
    }
    if (needed == 0 || written == 0 || written >= needed) {
        const DWORD code = GetLastError();
        throw fs::filesystem_error(
            "IsPathInside", directory,
            std::error_code(code != 0 ? static_cast<int>(code) : ERROR_INVALID_NAME,
                            std::system_category()));
    }
    absolute.resize(written);
    while (!absolute.empty() && IsSeparator(absolute.back())) {
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
    return IsSeparator(path[n]);
}

std::wstring GetTempFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, buffer);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    return std::wstring(buffer, length);
}

std::wstring GetPackageFilePath(const std::wstring& version) {
    return JoinPath(GetTempFolder(), L"Movora-" + version + L".zip");
}

std::wstring GetUninstallCopyPath() {
    return JoinPath(GetTempFolder(), kUninstallCopyName);
}
