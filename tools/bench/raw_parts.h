// The raw parts the benchmarks hold the setup program's code against: the
// plain WinHTTP query/read loop, the plain CNG hash loop and plain file
// removal, over the same platform calls, without anything of the program's
// own.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <string>

// Seconds since start.
double Seconds(std::chrono::steady_clock::time_point start);

// GET http://127.0.0.1:<port><path> into target with the query/read loop and
// WriteFile; true when the whole body arrived.
bool RawDownload(INTERNET_PORT port, const std::wstring& path, const std::wstring& target);

// SHA-256 of the file through 256 KiB ReadFile calls and CNG; true when CNG
// finished the hash.
bool RawHash(const std::wstring& path);

// Removes the folder tree with FindFirstFileW, DeleteFileW and
// RemoveDirectoryW alone (no attributes, links or retries); true when all
// of it went.
bool RawRemoveTree(const std::wstring& folder);
