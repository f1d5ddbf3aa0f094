// The two ways the program calls the filesystem, on the Windows file calls.
//
// raising::  a failure throws FileError naming the operation, the path(s) and
//            the Windows error code. Engines catch it and turn it into a false
//            result; it never leaves an engine.
// tolerant:: a failure is ignored on purpose. Used for best-effort clean-up,
//            where leaving something behind is acceptable and a later step
//            (or the next run) decides the outcome.
//
// The namespace is spelled at every call site so a reader sees which form
// each step uses. Paths longer than the classic 260-character limit are
// passed to Windows in their "\\?\" form, so deep trees can still be removed.
//
// Files held for a moment: on-access virus scanners and the search indexer
// open fresh files for a moment, often without delete sharing, and Windows
// then refuses a rename, copy or removal of the file (or a rename of a folder
// above it) with one of the held-file errors (IsHeldFileError). Every rename,
// copy, removal, folder creation and hold below therefore tries again after
// such a refusal, at growing pauses (20 ms, doubling, at most 500 ms) for up to
// kHeldFileRetryMs in all, and only then reports the refusal. Any other error
// is reported at the first attempt. A cancel (the window going away) ends the
// pauses within 50 ms, unless the caller restores the old release
// (OnCancel::KeepTrying). Existence tests and listings are made once.
#pragma once

#include "install/paths.h"
#include "shell/scoped.h"

#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

// What the raising forms throw: which call failed, on which path(s), and why.
struct FileError {
    const wchar_t* operation = L"";
    std::wstring path;
    std::wstring otherPath; // the target of a rename or copy; empty otherwise
    DWORD code = ERROR_SUCCESS;
};

// True for the Windows errors that mean "nothing is at this path" (the file,
// or one of the folders on the way to it, is not there).
bool IsNotThereError(DWORD code);

// True for the refusals that another program holding a file causes:
// ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION and ERROR_LOCK_VIOLATION.
bool IsHeldFileError(DWORD code);

// How long a call refused with a held-file error keeps trying, in all. A
// scanner that checks a package of a few hundred megabytes as it is closed or
// renamed holds it for a second or two, the indexer for less; 5 s covers
// both with room, while a file that a program holds for good (the user's
// player, an open log) costs the user 5 s before the refusal is reported.
inline constexpr DWORD kHeldFileRetryMs = 5000;

// What a cancel does to a call that is trying again.
enum class OnCancel {
    GiveUp,     // the call reports its refusal at once, as when the time is up
    KeepTrying, // moves that put the old release back: cut short, they would
                // leave no app at all, so they take their whole time
};

namespace raising {

// True when anything (file or folder, links followed) is at the path. "Not
// there" errors mean false; any other error throws.
bool Exists(const std::wstring& path);

// True when the path is a folder (links followed); false when it is a file or
// not there. Any other error throws.
bool IsFolder(const std::wstring& path);

// Renames a file or folder (MoveFileExW, replacing an existing file, copying
// across volumes). A folder cannot replace an existing folder: that throws,
// as every other failure does (a held-file refusal once its time is up).
void Rename(const std::wstring& from, const std::wstring& to, OnCancel onCancel = OnCancel::GiveUp);

// Creates the folder and its missing parents; an existing folder is no error.
// Throws when a folder cannot be created or a file stands in the way. (A
// folder removed a moment ago while another program still had it open cannot
// be created again until that program lets go: a held-file refusal.)
void CreateFolders(const std::wstring& path);

// Copies a file, overwriting an existing target; throws on failure.
void CopyFileOver(const std::wstring& from, const std::wstring& to);

// The names of the folder's direct entries ("." and ".." left out), in the
// order the file system lists them. A folder that cannot be opened for
// listing gives an empty list; a listing that fails part-way throws.
std::vector<std::wstring> ListFolder(const std::wstring& folder);

// Opens an existing file for reading and lets others only read it while the
// handle lives: nobody can write, rename, replace or delete it meanwhile, and
// a reader (the tar tool) can still open it. A scanner that holds the fresh
// file without read sharing is waited for as a held file is. Throws when it
// is not there, or when a handle that may write or delete it is still open
// when the time is up (a sharing violation), so what the handle holds is what
// the file holds.
UniqueHandle HoldForReading(const std::wstring& path);

} // namespace raising

namespace tolerant {

// Removes a file or an empty folder; a missing one is no error. A read-only
// file is removed too (its attribute is put back when the removal fails).
void Remove(const std::wstring& path);

// Removes a whole tree; stops at the first entry that cannot be removed and
// leaves the rest in place. Each entry held by another program is tried
// again on its own, so a tree costs at most one kHeldFileRetryMs before it
// stops. A symbolic link or junction is removed itself and
// never entered, so the files it points to stay. Read-only files and folders
// are removed too (the attribute is cleared first and put back when the
// removal still fails). A missing path is no error. Returns true when nothing
// is left at the path, for callers that must not go on over leftovers.
bool RemoveTree(const std::wstring& path, OnCancel onCancel = OnCancel::GiveUp);

// True when the path is a symbolic link or junction (a reparse point); false
// when it is anything else or cannot be queried.
bool IsLink(const std::wstring& path);

// Creates the folder and its missing parents, ignoring failure.
void CreateFolders(const std::wstring& path);

// Copies a file over an existing target; returns whether it worked, for
// callers that only branch on it (nothing is reported).
bool CopyFileOver(const std::wstring& from, const std::wstring& to);

// The absolute form of path (see GetFullPath); empty when it cannot be made.
std::wstring MakeAbsolute(const std::wstring& path);

} // namespace tolerant

// Calls visit(const WIN32_FIND_DATAW&) for each direct entry of folder ("."
// and ".." left out), in listing order, until visit returns false. Returns
// ERROR_SUCCESS when the listing ran to its end or visit stopped it, else the
// Windows error of opening or advancing the listing. Not a counted file call:
// the operations above that walk folders are built on it.
// opened, when given, tells whether the listing could be opened at all.
template <typename Visit>
DWORD ForEachFolderEntry(const std::wstring& folder, Visit visit, bool* opened = nullptr);

// Test seam of the file layer. Every raising and tolerant call above counts
// as one file call, however often it tries. Once armed, the call with the
// given index (0 = the next one) is refused by its first `refusals` attempts
// (every attempt by default) as if Windows had refused them with the given
// error: after the last refusal a raising form throws, a tolerant form does
// nothing (and reports failure where it returns a result), unless a retry
// then reaches Windows. A tree removal's attempts are those of its entries,
// so the refusals meet the first entry it removes; a call that finds nothing
// to act on (a removal of a missing path) makes no attempt and is not refused.
// Only that call is refused (and the one ArmAlso names). Inert unless a test
// arms it.
namespace file_faults {
inline constexpr long kEveryAttempt = -1;
void Arm(long callIndex, DWORD code, long refusals = kEveryAttempt);
// After Arm: one more call, with a later index, is refused with the same
// error, by its own number of attempts (for a failure inside the handling of
// the first one).
void ArmAlso(long callIndex, long refusals = kEveryAttempt);
void Disarm();
// File calls made since the seam was last armed or disarmed.
long CallsSinceArmed();
// Attempts that the call armed with Arm has made, refused ones included.
long AttemptsOfArmedCall();
// The time a held-file refusal is tried again for (kHeldFileRetryMs until a
// test shortens it, so that tests that refuse many calls stay quick); Disarm
// leaves it as it is.
void SetHeldFileRetryMs(DWORD ms);
// Called with each file call's index (as Arm counts them), its operation
// ("rename", "remove tree", "test existence", ...) and its path (a rename's
// or copy's source), on the calling thread, before the call acts; null
// removes it. For tests that must refuse one named call.
using CallObserver = void (*)(long callIndex, const wchar_t* operation, const std::wstring& path);
void SetCallObserver(CallObserver observer);
} // namespace file_faults

// ---------------------------------------------------------------------------

// The form of a path to hand to Windows: unchanged when it is short, else the
// "\\?\" form of its absolute path, which lifts the 260-character limit.
std::wstring WindowsPathArgument(const std::wstring& path);

struct FindCloser {
    void operator()(HANDLE find) const { FindClose(find); }
};
using UniqueFind = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;

template <typename Visit>
DWORD ForEachFolderEntry(const std::wstring& folder, Visit visit, bool* opened) {
    WIN32_FIND_DATAW entry{};
    HANDLE rawFind =
        FindFirstFileExW(WindowsPathArgument(JoinPath(folder, L"*")).c_str(), FindExInfoBasic,
                         &entry, FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (opened != nullptr) {
        *opened = rawFind != INVALID_HANDLE_VALUE;
    }
    if (rawFind == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    UniqueFind find(rawFind); // closed even when visit throws
    for (;;) {
        const bool dots = wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0;
        if (!dots && !visit(static_cast<const WIN32_FIND_DATAW&>(entry))) {
            return ERROR_SUCCESS;
        }
        if (!FindNextFileW(find.get(), &entry)) {
            const DWORD error = GetLastError();
            return error == ERROR_NO_MORE_FILES ? ERROR_SUCCESS : error;
        }
    }
}
