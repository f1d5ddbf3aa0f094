// Unpacking the release package with the tar tool Windows ships, and finding
// the folder of the unpacked app.
#pragma once

#include <windows.h>

#include <string>

// How long the tar tool may run before the unpacking counts as failed.
inline constexpr DWORD kTarTimeoutMs = 120000;

// Runs "<system folder>\tar.exe" -xf "<packagePath>" -C "<folder>" without a
// window and waits up to timeoutMs (tests pass a shorter one) for it. folder
// exists already. Returns true when the tool ended with exit code 0; error is
// then untouched. Otherwise false with "Windows tar was not found, so the
// download could not be unpacked." (no tool in the system folder) or "The
// download could not be unpacked." (it could not be started, failed, or ran
// too long). A tool that outlasts timeoutMs is terminated and waited for (a
// bounded while) before this returns, so it cannot go on writing into a
// folder the next attempt reuses. Whatever the tool wrote stays; the package
// is not touched. Throws FileError when the tool's existence cannot be told.
bool UnpackPackage(const std::wstring& packagePath, const std::wstring& folder, std::wstring& error,
                   DWORD timeoutMs = kTarTimeoutMs);

// The folder that directly holds "Movora.exe" (any letter case, file or
// folder): folder itself when it does, else its first direct subfolder in
// listing order that does; empty when none does. Only one level down is
// searched. Throws FileError when an existence test, an entry's status (other
// than a vanished entry) or the listing fails part-way; a folder that cannot
// be listed at all counts as empty.
std::wstring FindAppExecutable(const std::wstring& folder);
