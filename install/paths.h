// Path text: joining, splitting, comparing and making absolute. Every path of
// the program is a std::wstring; these helpers are the one place that knows
// how its separators work ('\' and '/' alike).
#pragma once

#include <windows.h>

#include <string>

inline bool IsPathSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// folder and name with exactly one backslash between them ("C:\a" or "C:\a\"
// with "b" both give "C:\a\b"). An empty folder gives name unchanged.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// The path without its last element and the separators before it
// ("C:\a\b\Movora.exe" gives "C:\a\b"; trailing separators are dropped first).
// A root keeps its separator ("C:\x" gives "C:\"); a single element gives "".
std::wstring ParentPath(const std::wstring& path);

// The last element of the path ("" when the path ends in a separator).
std::wstring FileNamePart(const std::wstring& path);

// Compares two paths as paths: letter case significant, '\' and '/' alike,
// a run of separators counting as one (a leading "\\" of a network path stays
// apart from a single one). "C:\a\\b" equals "C:/a/b"; "C:\A" differs from
// "C:\a"; "C:\a\" differs from "C:\a", as a trailing separator names a folder.
bool PathsEqual(const std::wstring& a, const std::wstring& b);

// The absolute form of path as GetFullPathNameW gives it (relative to the
// current folder, "." and ".." resolved, '/' turned into '\'). Returns false
// and leaves the Windows error in error when the call fails (an empty path,
// for example); absolute is then untouched.
bool GetFullPath(const std::wstring& path, std::wstring& absolute, DWORD& error);
