#include "install/fs_calls.h"

#include <windows.h>

#include <system_error>

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

void RemoveTree(const fs::path& path) {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

void CreateFolders(const fs::path& path) {
    std::error_code ignored;
    fs::create_directories(path, ignored);
}

bool CopyFileOver(const fs::path& from, const fs::path& to) {
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

} // namespace tolerant
