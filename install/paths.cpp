#include "install/paths.h"

namespace {

// Length of the root at the start of path that no element may eat: "C:\",
// "C:", "\", or "\\server\share\".
size_t RootLength(const std::wstring& path) {
    if (path.size() >= 2 && path[1] == L':') {
        return path.size() >= 3 && IsPathSeparator(path[2]) ? 3 : 2;
    }
    if (path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
        // Network root: separators, server, separator, share, separator.
        size_t i = 2;
        for (int part = 0; part < 2 && i < path.size(); ++part) {
            while (i < path.size() && !IsPathSeparator(path[i])) {
                ++i;
            }
            if (i < path.size()) {
                ++i;
            }
        }
        return i;
    }
    return !path.empty() && IsPathSeparator(path[0]) ? 1 : 0;
}

// The path with '/' turned into '\' and every run of separators folded into
// one; the two separators that open a network path stay two.
std::wstring CanonicalSeparators(const std::wstring& path) {
    const bool network = path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
    std::wstring result = network ? L"\\\\" : L"";
    const size_t prefix = result.size();
    for (size_t i = prefix; i < path.size(); ++i) {
        if (!IsPathSeparator(path[i])) {
            result.push_back(path[i]);
        } else if (result.size() == prefix || result.back() != L'\\') {
            result.push_back(L'\\');
        }
    }
    return result;
}

} // namespace

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) {
        return name;
    }
    std::wstring result = folder;
    if (!IsPathSeparator(result.back())) {
        result.push_back(L'\\');
    }
    return result + name;
}

std::wstring ParentPath(const std::wstring& path) {
    const size_t root = RootLength(path);
    size_t end = path.size();
    while (end > root && IsPathSeparator(path[end - 1])) {
        --end;
    }
    while (end > root && !IsPathSeparator(path[end - 1])) {
        --end;
    }
    while (end > root && IsPathSeparator(path[end - 1])) {
        --end;
    }
    return path.substr(0, end);
}

std::wstring FileNamePart(const std::wstring& path) {
    size_t start = path.size();
    while (start > 0 && !IsPathSeparator(path[start - 1]) && path[start - 1] != L':') {
        --start;
    }
    return path.substr(start);
}

bool PathsEqual(const std::wstring& a, const std::wstring& b) {
    return CanonicalSeparators(a) == CanonicalSeparators(b);
}

bool GetFullPath(const std::wstring& path, std::wstring& absolute, DWORD& error) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        // An empty path fails without an error code on some systems.
        error = GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_NAME;
        return false;
    }
    std::wstring result(needed, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), needed, result.data(), nullptr);
    if (written == 0 || written >= needed) {
        error = written == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER;
        return false;
    }
    result.resize(written);
    absolute = std::move(result);
    return true;
}
