#include "install/fs_calls.h"

#include <windows.h>

#include <memory>
#include <system_error>
#include <type_traits>

namespace fs = std::filesystem;

namespace raising {

bool Exists(const fs::path& path) {
    return fs::exists(path);
}

void Rename(const fs::path& from, const fs::path& to) {
    fs::rename(from, to);
}

void CreateFolders(const fs::path& path) {
    fs::create_directories(path);
}

// CopyFileW rather than std::filesystem::copy_file: the MinGW library takes two
// files on one drive for the same file (it compares inode numbers, which are
// always 0 there) and refuses to overwrite.
void CopyFileOver(const fs::path& from, const fs::path& to) {
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
        throw fs::filesystem_error(
            "cannot copy file", from, to,
            std::error_code(static_cast<int>(GetLastError()), std::system_category()));
    }
}

} // namespace raising

namespace tolerant {

void Remove(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

namespace {

struct FindCloser {
    void operator()(HANDLE find) const {
        if (find != INVALID_HANDLE_VALUE) {
            FindClose(find);
        }
    }
};
using UniqueFind = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

// Deletes one file or empty folder (a link counts as either, by its folder
// flag). A read-only entry refuses deletion, so its attribute is cleared first;
// when the deletion still fails (the file is held open) the attribute is put
// back, leaving the entry as it was.
bool DeleteEntry(const fs::path& path, DWORD attributes) {
    const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const auto remove = [&] {
        return isFolder ? RemoveDirectoryW(path.c_str()) != FALSE
                        : DeleteFileW(path.c_str()) != FALSE;
    };
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return remove();
    }
    SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (remove()) {
        return true;
    }
    SetFileAttributesW(path.c_str(), attributes);
    return false;
}

// Removes path and, for a real folder, everything below it first. Returns
// false at the first entry that cannot be removed, so the caller stops too.
bool RemoveTreeEntry(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // A link is never entered: removing it must not take what it points to.
    const bool isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !isLink) {
        WIN32_FIND_DATAW entry{};
        UniqueFind find(FindFirstFileExW((path / L"*").c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, 0));
        if (find.get() == INVALID_HANDLE_VALUE) {
            return false;
        }
        do {
            if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) {
                continue;
            }
            if (!RemoveTreeEntry(path / entry.cFileName)) {
                return false;
            }
        } while (FindNextFileW(find.get(), &entry));
    }
    return DeleteEntry(path, attributes);
}

} // namespace

void RemoveTree(const fs::path& path) {
    RemoveTreeEntry(path);
}

bool IsLink(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

void CreateFolders(const fs::path& path) {
    std::error_code ignored;
    fs::create_directories(path, ignored);
}

bool CopyFileOver(const fs::path& from, const fs::path& to) {
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

} // namespace tolerant
