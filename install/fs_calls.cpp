#include "install/fs_calls.h"

#include "shell/scoped.h"

#include <atomic>

namespace {

// ---- Test seam -------------------------------------------------------------

std::atomic<long long> g_fileCalls{0};
std::atomic<long long> g_failingCall{-1};
std::atomic<long long> g_alsoFailingCall{-1};
std::atomic<DWORD> g_failingCode{ERROR_SUCCESS};

// Counts one file call; true (with the error to pretend) when it is an armed one.
bool InjectedFailure(DWORD& code) {
    const long long index = g_fileCalls.fetch_add(1);
    if (index != g_failingCall.load() && index != g_alsoFailingCall.load()) {
        return false;
    }
    code = g_failingCode.load();
    return true;
}

[[noreturn]] void Throw(const wchar_t* operation, const std::wstring& path, DWORD code,
                        const std::wstring& otherPath = std::wstring()) {
    throw FileError{operation, path, otherPath, code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE};
}

// ---- Attributes --------------------------------------------------------------

// The attributes of what lies at path, following a link to its target.
// Returns ERROR_SUCCESS or the Windows error of the query.
DWORD QueryFollowedAttributes(const std::wstring& path, DWORD& attributes) {
    if (path.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    const std::wstring argument = WindowsPathArgument(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(argument.c_str(), GetFileExInfoStandard, &data)) {
        return GetLastError();
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        attributes = data.dwFileAttributes;
        return ERROR_SUCCESS;
    }
    // A link: what counts is its target, which opening the link reaches.
    UniqueHandle target(CreateFileW(argument.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!Valid(target) || !GetFileInformationByHandle(target.get(), &info)) {
        return GetLastError();
    }
    attributes = info.dwFileAttributes;
    return ERROR_SUCCESS;
}

bool IsFolderAttribute(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLinkAttribute(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// ---- Creating ----------------------------------------------------------------

// Creates path and its missing parents. Returns ERROR_SUCCESS when the folder
// is there afterwards; ERROR_ALREADY_EXISTS when a file stands in the way.
DWORD CreateFolderChain(const std::wstring& path) {
    if (path.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    DWORD attributes = 0;
    if (QueryFollowedAttributes(path, attributes) == ERROR_SUCCESS) {
        return IsFolderAttribute(attributes) ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
    }
    const std::wstring argument = WindowsPathArgument(path);
    if (CreateDirectoryW(argument.c_str(), nullptr)) {
        return ERROR_SUCCESS;
    }
    DWORD error = GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) {
        const std::wstring parent = ParentPath(path);
        if (parent.empty() || parent == path) {
            return error;
        }
        error = CreateFolderChain(parent);
        if (error != ERROR_SUCCESS) {
            return error;
        }
        if (CreateDirectoryW(argument.c_str(), nullptr)) {
            return ERROR_SUCCESS;
        }
        error = GetLastError();
    }
    // Someone else may have made it meanwhile; only a folder will do.
    if (error == ERROR_ALREADY_EXISTS &&
        QueryFollowedAttributes(path, attributes) == ERROR_SUCCESS &&
        IsFolderAttribute(attributes)) {
        return ERROR_SUCCESS;
    }
    return error;
}

// ---- Removing ----------------------------------------------------------------

// Deletes one file or empty folder (a link counts as either, by its folder
// flag). A read-only entry refuses deletion, so its attribute is cleared first;
// when the deletion still fails (the file is held open) the attribute is put
// back, leaving the entry as it was.
bool DeleteEntry(const std::wstring& path, DWORD attributes) {
    const std::wstring argument = WindowsPathArgument(path);
    const auto remove = [&] {
        return IsFolderAttribute(attributes) ? RemoveDirectoryW(argument.c_str()) != FALSE
                                             : DeleteFileW(argument.c_str()) != FALSE;
    };
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return remove();
    }
    SetFileAttributesW(argument.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (remove()) {
        return true;
    }
    SetFileAttributesW(argument.c_str(), attributes);
    return false;
}

// Removes path (with the given attributes, unfollowed) and, for a real folder,
// everything below it first. Returns false at the first entry that cannot be
// removed, so the caller stops too.
bool RemoveTreeEntry(const std::wstring& path, DWORD attributes) {
    // A link is never entered: removing it must not take what it points to.
    if (IsFolderAttribute(attributes) && !IsLinkAttribute(attributes)) {
        bool complete = true;
        bool opened = false;
        const DWORD error = ForEachFolderEntry(
            path,
            [&](const WIN32_FIND_DATAW& entry) {
                complete = RemoveTreeEntry(JoinPath(path, entry.cFileName), entry.dwFileAttributes);
                return complete;
            },
            &opened);
        if (!opened || error != ERROR_SUCCESS || !complete) {
            return false;
        }
    }
    return DeleteEntry(path, attributes);
}

bool UnfollowedAttributes(const std::wstring& path, DWORD& attributes) {
    attributes = GetFileAttributesW(WindowsPathArgument(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
}

} // namespace

bool IsNotThereError(DWORD code) {
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return true;
    default:
        return false;
    }
}

std::wstring WindowsPathArgument(const std::wstring& path) {
    // CreateDirectoryW keeps 12 characters of the classic limit for a file name.
    constexpr size_t kClassicLimit = MAX_PATH - 12;
    if (path.size() < kClassicLimit || path.rfind(L"\\\\?\\", 0) == 0) {
        return path;
    }
    std::wstring absolute;
    DWORD error = ERROR_SUCCESS;
    if (!GetFullPath(path, absolute, error)) {
        return path;
    }
    if (absolute.rfind(L"\\\\", 0) == 0) {
        return L"\\\\?\\UNC\\" + absolute.substr(2);
    }
    return L"\\\\?\\" + absolute;
}

namespace raising {

bool Exists(const std::wstring& path) {
    DWORD error = ERROR_SUCCESS;
    DWORD attributes = 0;
    if (!InjectedFailure(error)) {
        error = QueryFollowedAttributes(path, attributes);
    }
    if (error == ERROR_SUCCESS) {
        return true;
    }
    if (IsNotThereError(error)) {
        return false;
    }
    Throw(L"test existence", path, error);
}

bool IsFolder(const std::wstring& path) {
    DWORD error = ERROR_SUCCESS;
    DWORD attributes = 0;
    if (!InjectedFailure(error)) {
        error = QueryFollowedAttributes(path, attributes);
    }
    if (error == ERROR_SUCCESS) {
        return IsFolderAttribute(attributes);
    }
    if (IsNotThereError(error)) {
        return false;
    }
    Throw(L"read status", path, error);
}

void Rename(const std::wstring& from, const std::wstring& to) {
    DWORD error = ERROR_SUCCESS;
    if (!InjectedFailure(error)) {
        if (MoveFileExW(WindowsPathArgument(from).c_str(), WindowsPathArgument(to).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
            return;
        }
        error = GetLastError();
    }
    Throw(L"rename", from, error, to);
}

void CreateFolders(const std::wstring& path) {
    DWORD error = ERROR_SUCCESS;
    if (!InjectedFailure(error)) {
        error = CreateFolderChain(path);
        if (error == ERROR_SUCCESS) {
            return;
        }
    }
    Throw(L"create folder", path, error);
}

void CopyFileOver(const std::wstring& from, const std::wstring& to) {
    DWORD error = ERROR_SUCCESS;
    if (!InjectedFailure(error)) {
        if (CopyFileW(WindowsPathArgument(from).c_str(), WindowsPathArgument(to).c_str(), FALSE)) {
            return;
        }
        error = GetLastError();
    }
    Throw(L"copy file", from, error, to);
}

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    DWORD error = ERROR_SUCCESS;
    if (InjectedFailure(error)) {
        Throw(L"list folder", folder, error);
    }
    bool opened = false;
    error = ForEachFolderEntry(
        folder,
        [&](const WIN32_FIND_DATAW& entry) {
            names.emplace_back(entry.cFileName);
            return true;
        },
        &opened);
    if (opened && error != ERROR_SUCCESS) {
        Throw(L"list folder", folder, error);
    }
    return names;
}

UniqueHandle HoldForReading(const std::wstring& path) {
    DWORD error = ERROR_SUCCESS;
    if (!InjectedFailure(error)) {
        // Read access makes the share mode count: an open that reads no data
        // would let others in whatever it asks.
        UniqueHandle file(CreateFileW(WindowsPathArgument(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (Valid(file)) {
            return file;
        }
        error = GetLastError();
    }
    Throw(L"hold file", path, error);
}

} // namespace raising

namespace tolerant {

void Remove(const std::wstring& path) {
    DWORD ignored = ERROR_SUCCESS;
    DWORD attributes = 0;
    if (!InjectedFailure(ignored) && UnfollowedAttributes(path, attributes)) {
        DeleteEntry(path, attributes);
    }
}

bool RemoveTree(const std::wstring& path) {
    DWORD error = ERROR_SUCCESS;
    if (InjectedFailure(error)) {
        return false;
    }
    DWORD attributes = 0;
    if (!UnfollowedAttributes(path, attributes)) {
        return IsNotThereError(GetLastError());
    }
    return RemoveTreeEntry(path, attributes);
}

bool IsLink(const std::wstring& path) {
    DWORD ignored = ERROR_SUCCESS;
    DWORD attributes = 0;
    return !InjectedFailure(ignored) && UnfollowedAttributes(path, attributes) &&
           IsLinkAttribute(attributes);
}

void CreateFolders(const std::wstring& path) {
    DWORD ignored = ERROR_SUCCESS;
    if (!InjectedFailure(ignored)) {
        CreateFolderChain(path);
    }
}

bool CopyFileOver(const std::wstring& from, const std::wstring& to) {
    DWORD ignored = ERROR_SUCCESS;
    return !InjectedFailure(ignored) &&
           CopyFileW(WindowsPathArgument(from).c_str(), WindowsPathArgument(to).c_str(), FALSE);
}

std::wstring MakeAbsolute(const std::wstring& path) {
    DWORD ignored = ERROR_SUCCESS;
    std::wstring absolute;
    if (!InjectedFailure(ignored)) {
        GetFullPath(path, absolute, ignored);
    }
    return absolute;
}

} // namespace tolerant

namespace file_faults {

void Arm(long callIndex, DWORD code) {
    g_failingCall.store(-1);
    g_alsoFailingCall.store(-1);
    g_failingCode.store(code);
    g_fileCalls.store(0);
    g_failingCall.store(callIndex);
}

void ArmAlso(long callIndex) {
    g_alsoFailingCall.store(callIndex);
}

void Disarm() {
    g_failingCall.store(-1);
    g_alsoFailingCall.store(-1);
    g_fileCalls.store(0);
}

long CallsSinceArmed() {
    return static_cast<long>(g_fileCalls.load());
}

} // namespace file_faults
