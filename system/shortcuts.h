// The app's shortcuts in the Start menu programs folder and on the desktop.
#pragma once

#include <string>

// File name of both links.
inline constexpr wchar_t kShortcutFileName[] = L"Movora.lnk";

// Writes "Movora.lnk" to the Start menu programs folder and then to the
// desktop, each pointing at appExePath. A folder that cannot be resolved gets
// no link; the other one is still written. Needs COM on the calling thread.
// Best effort: reports nothing, never throws.
void CreateAppShortcut(const std::wstring& appExePath);

// Writes one link to targetPath (working folder: the target's folder,
// description "Movora", icon 0 of the target), creating the link's folder when
// missing and overwriting an existing link. Reports nothing, never throws.
void WriteShortcutFile(const std::wstring& linkPath, const std::wstring& targetPath);

// Deletes "Movora.lnk" from the Start menu programs folder and the desktop,
// passing over a folder that cannot be resolved. Reports nothing.
void RemoveAppShortcut();

// Deletes the link when it is there and tells the shell; a missing link (or
// one whose presence cannot be told) is left alone and the shell is not told.
void DeleteShortcutFile(const std::wstring& linkPath);
