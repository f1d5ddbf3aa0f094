// The raw parts the benchmarks hold the setup program's code against: the
// plain WinHTTP query/read loop and the plain CNG hash loop, over the same
// platform calls, without anything of the program's own.
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
