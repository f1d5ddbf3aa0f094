#include "install/fs_calls.h"

#include "shell/app_state.h"
#include "shell/scoped.h"

#include <algorithm>
#include <atomic>

namespace {

// ---- Test seam -------------------------------------------------------------

std::atomic<long long> g_fileCalls{0};
std::atomic<long long> g_failingCall{-1};
std::atomic<long long> g_alsoFailingCall{-1};
std::atomic<DWORD> g_failingCode{ERROR_SUCCESS};
std::atomic<long> g_refusals{file_faults::kEveryAttempt};
std::atomic<long> g_alsoRefusals{file_faults::kEveryAttempt};
std::atomic<long> g_armedAttempts{0};
std::atomic<long> g_alsoAttempts{0};
std::atomic<DWORD> g_heldFileRetryMs{kHeldFileRetryMs};
std::atomic<file_faults::CallObserver> g_callObserver{nullptr};

// Counts one file call and returns its index.
long long NextCall(const wchar_t* operation, const std::wstring& path) {
    const long long index = g_fileCalls.fetch_add(1);
    if (const file_faults::CallObserver observer = g_callObserver.load()) {
        observer(static_cast<long>(index), operation, path);
    }
    return index;
}

// Counts one attempt of the call; true (with the error to pretend) when the
// seam refuses it.
bool Refused(long long call, DWORD& code) {
    long limit = 0;
    long made = 0;
    if (call == g_failingCall.load()) {
        made = g_armedAttempts.fetch_add(1);
        limit = g_refusals.load();
    } else if (call == g_alsoFailingCall.load()) {
        made = g_alsoAttempts.fetch_add(1);
        limit = g_alsoRefusals.load();
    } else {
        return false;
    }
    if (limit != file_faults::kEveryAttempt && made >= limit) {
        return false;
    }
    code = g_failingCode.load();
    return true;
}

// One attempt: the seam's refusal, or attempt() (ERROR_SUCCESS or the
// Windows error).
template <typename Attempt> DWORD AttemptOnce(long long call, Attempt attempt) {
    DWORD code = ERROR_SUCCESS;
    return Refused(call, code) ? code : attempt();
}

// ---- Trying again ------------------------------------------------------------

constexpr DWORD kFirstPauseMs = 20;
constexpr DWORD kLongestPauseMs = 500;
// A cancel is looked for this often during a pause.
constexpr DWORD kCancelCheckMs = 50;

bool Cancelled(OnCancel onCancel) {
    return onCancel == OnCancel::GiveUp && g_app.cancelRequested.load();
}

// Waits ms; false as soon as a cancel that counts is seen.
bool Pause(DWORD ms, OnCancel onCancel) {
    while (ms > 0) {
        if (Cancelled(onCancel)) {
            return false;
        }
        const DWORD slice = std::min(ms, kCancelCheckMs);
        Sleep(slice);
        ms -= slice;
    }
    return !Cancelled(onCancel);
}

// Makes attempts until one succeeds or fails otherwise than with a held-file
// error, the time is up, or a cancel that counts comes. Returns the last
// attempt's result. When nothing is held this is one attempt and one test.
template <typename Attempt>
DWORD AttemptWhileHeld(long long call, OnCancel onCancel, Attempt attempt) {
    DWORD error = AttemptOnce(call, attempt);
    if (!IsHeldFileError(error)) {
        return error;
    }
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG bound = g_heldFileRetryMs.load();
    for (DWORD pause = kFirstPauseMs;; pause = std::min(pause * 2, kLongestPauseMs)) {
        const ULONGLONG elapsed = GetTickCount64() - start;
        if (elapsed >= bound ||
            !Pause(static_cast<DWORD>(std::min<ULONGLONG>(pause, bound - elapsed)), onCancel)) {
            return error;
        }
        error = AttemptOnce(call, attempt);
        if (!IsHeldFileError(error)) {
            return error;
        }
    }
}

[[noreturn]] void Throw(const wchar_t* operation, const std::wstring& path, DWORD code,
                        const std::wstring& otherPath = std::wstring()) {
    throw FileError{operation, path, otherPath, code != ERROR_SUCCESS ? code : ERROR_GEN_FAILURE};
}

// ERROR_SUCCESS when ok, else the thread's last Windows error.
DWORD Result(bool ok) {
    return ok ? ERROR_SUCCESS : GetLastError();
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
// back, leaving the entry as it was. An entry that is gone meanwhile counts as
// deleted. Returns ERROR_SUCCESS or the Windows error.
DWORD DeleteEntry(const std::wstring& path, DWORD attributes) {
    const std::wstring argument = WindowsPathArgument(path);
    const auto remove = [&] {
        const bool removed = IsFolderAttribute(attributes) ? RemoveDirectoryW(argument.c_str())
                                                           : DeleteFileW(argument.c_str());
        const DWORD error = Result(removed);
        return IsNotThereError(error) ? ERROR_SUCCESS : error;
    };
    if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return remove();
    }
    SetFileAttributesW(argument.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const DWORD error = remove();
    if (error != ERROR_SUCCESS) {
        SetFileAttributesW(argument.c_str(), attributes);
    }
    return error;
}

// Removes path (with the given attributes, unfollowed) and, for a real folder,
// everything below it first; each deletion is an attempt of the file call
// `call`, tried again while it is held. Returns false at the first entry that
// cannot be removed, so the caller stops too.
bool RemoveTreeEntry(long long call, OnCancel onCancel, const std::wstring& path,
                     DWORD attributes) {
    // A link is never entered: removing it must not take what it points to.
    if (IsFolderAttribute(attributes) && !IsLinkAttribute(attributes)) {
        bool complete = true;
        bool opened = false;
        const DWORD error = ForEachFolderEntry(
            path,
            [&](const WIN32_FIND_DATAW& entry) {
                complete = RemoveTreeEntry(call, onCancel, JoinPath(path, entry.cFileName),
                                           entry.dwFileAttributes);
                return complete;
            },
            &opened);
        if (!opened || error != ERROR_SUCCESS || !complete) {
            return false;
        }
    }
    return AttemptWhileHeld(call, onCancel, [&] { return DeleteEntry(path, attributes); }) ==
           ERROR_SUCCESS;
}

bool UnfollowedAttributes(const std::wstring& path, DWORD& attributes) {
    attributes = GetFileAttributesW(WindowsPathArgument(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES;
}

// One copy call of either form, tried again while a file is held.
DWORD CopyWhileHeld(const std::wstring& from, const std::wstring& to) {
    return AttemptWhileHeld(NextCall(L"copy file", from), OnCancel::GiveUp, [&] {
        return Result(
            CopyFileW(WindowsPathArgument(from).c_str(), WindowsPathArgument(to).c_str(), FALSE));
    });
}

} // namespace

bool IsHeldFileError(DWORD code) {
    return code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION ||
           code == ERROR_LOCK_VIOLATION;
}

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
    DWORD attributes = 0;
    const DWORD error = AttemptOnce(NextCall(L"test existence", path),
                                    [&] { return QueryFollowedAttributes(path, attributes); });
    if (error == ERROR_SUCCESS) {
        return true;
    }
    if (IsNotThereError(error)) {
        return false;
    }
    Throw(L"test existence", path, error);
}

bool IsFolder(const std::wstring& path) {
    DWORD attributes = 0;
    const DWORD error = AttemptOnce(NextCall(L"read status", path),
                                    [&] { return QueryFollowedAttributes(path, attributes); });
    if (error == ERROR_SUCCESS) {
        return IsFolderAttribute(attributes);
    }
    if (IsNotThereError(error)) {
        return false;
    }
    Throw(L"read status", path, error);
}

void Rename(const std::wstring& from, const std::wstring& to, OnCancel onCancel) {
    const DWORD error = AttemptWhileHeld(NextCall(L"rename", from), onCancel, [&] {
        return Result(MoveFileExW(WindowsPathArgument(from).c_str(),
                                  WindowsPathArgument(to).c_str(),
                                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
    });
    if (error != ERROR_SUCCESS) {
        Throw(L"rename", from, error, to);
    }
}

void CreateFolders(const std::wstring& path) {
    const DWORD error = AttemptWhileHeld(NextCall(L"create folder", path), OnCancel::GiveUp,
                                         [&] { return CreateFolderChain(path); });
    if (error != ERROR_SUCCESS) {
        Throw(L"create folder", path, error);
    }
}

void CopyFileOver(const std::wstring& from, const std::wstring& to) {
    const DWORD error = CopyWhileHeld(from, to);
    if (error != ERROR_SUCCESS) {
        Throw(L"copy file", from, error, to);
    }
}

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    DWORD error = ERROR_SUCCESS;
    if (Refused(NextCall(L"list folder", folder), error)) {
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
    UniqueHandle file;
    const DWORD error = AttemptWhileHeld(NextCall(L"hold file", path), OnCancel::GiveUp, [&] {
        // Read access makes the share mode count: an open that reads no data
        // would let others in whatever it asks.
        file.reset(CreateFileW(WindowsPathArgument(path).c_str(), GENERIC_READ, FILE_SHARE_READ,
                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return Valid(file) ? ERROR_SUCCESS : GetLastError();
    });
    if (error != ERROR_SUCCESS) {
        Throw(L"hold file", path, error);
    }
    return file;
}

} // namespace raising

namespace tolerant {

void Remove(const std::wstring& path) {
    const long long call = NextCall(L"remove", path);
    DWORD attributes = 0;
    if (UnfollowedAttributes(path, attributes)) {
        AttemptWhileHeld(call, OnCancel::GiveUp, [&] { return DeleteEntry(path, attributes); });
    }
}

bool RemoveTree(const std::wstring& path, OnCancel onCancel) {
    const long long call = NextCall(L"remove tree", path);
    DWORD attributes = 0;
    if (!UnfollowedAttributes(path, attributes)) {
        return IsNotThereError(GetLastError());
    }
    return RemoveTreeEntry(call, onCancel, path, attributes);
}

bool IsLink(const std::wstring& path) {
    DWORD refused = ERROR_SUCCESS;
    DWORD attributes = 0;
    return !Refused(NextCall(L"test link", path), refused) &&
           UnfollowedAttributes(path, attributes) && IsLinkAttribute(attributes);
}

void CreateFolders(const std::wstring& path) {
    AttemptWhileHeld(NextCall(L"create folder", path), OnCancel::GiveUp,
                     [&] { return CreateFolderChain(path); });
}

bool CopyFileOver(const std::wstring& from, const std::wstring& to) {
    return CopyWhileHeld(from, to) == ERROR_SUCCESS;
}

std::wstring MakeAbsolute(const std::wstring& path) {
    DWORD ignored = ERROR_SUCCESS;
    std::wstring absolute;
    if (!Refused(NextCall(L"make absolute", path), ignored)) {
        GetFullPath(path, absolute, ignored);
    }
    return absolute;
}

} // namespace tolerant

namespace file_faults {

void Arm(long callIndex, DWORD code, long refusals) {
    g_failingCall.store(-1);
    g_alsoFailingCall.store(-1);
    g_failingCode.store(code);
    g_refusals.store(refusals);
    g_armedAttempts.store(0);
    g_alsoAttempts.store(0);
    g_fileCalls.store(0);
    g_failingCall.store(callIndex);
}

void ArmAlso(long callIndex, long refusals) {
    g_alsoRefusals.store(refusals);
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

long AttemptsOfArmedCall() {
    return g_armedAttempts.load();
}

void SetHeldFileRetryMs(DWORD ms) {
    g_heldFileRetryMs.store(ms);
}

void SetCallObserver(CallObserver observer) {
    g_callObserver.store(observer);
}

} // namespace file_faults
