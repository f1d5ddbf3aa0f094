// The app's entry in the account's list of installed apps.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Registry path of the entry below HKEY_CURRENT_USER.
inline constexpr wchar_t kUninstallEntryKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Movora";

// Creates or opens the entry and writes its values: names, version ("0.1.3"
// when version is empty), the app folder, the icon, the command that starts
// setupExePath with --uninstall, today's date, NoModify/NoRepair and, when the
// app folder holds at least 1 KiB, EstimatedSize. Values of an earlier install
// that are not rewritten stay. Best effort: reports nothing, never throws.
void WriteUninstallEntry(const std::wstring& appExePath, const std::wstring& setupExePath,
                         const std::wstring& version);

// The entry's "DisplayVersion": the version this program installed last.
// Empty when there is no entry, the value is missing or not REG_SZ, or it
// cannot be read. Never throws but for want of memory.
std::wstring ReadInstalledVersion();

// Writes one REG_SZ value including its terminating null; returns the status
// of RegSetValueExW.
LSTATUS SetRegistryString(HKEY key, const wchar_t* name, const std::wstring& text);

// Total size of the regular files below folder in KiB (rounded down, at most
// 0xFFFFFFFF). Links are not followed and denied listings are skipped. 0 when
// the folder is missing or cannot be examined; a walk that fails part-way
// counts what it has seen so far. Never throws.
std::uint32_t GetFolderSizeKiB(const std::wstring& folder);
