#include "system/uninstall.h"

#include "install/fs_calls.h"
#include "install/locations.h"
#include "install/setup_lock.h"
#include "shell/app_state.h"
#include "system/autostart.h"
#include "system/shortcuts.h"
#include "system/stop_app.h"
#include "system/uninstall_entry.h"

#include <windows.h>

#include <exception>

namespace {

// The long form of a path when it can be had, so a temporary folder spelled
// with 8.3 names still compares equal to the same folder spelled in full.
std::wstring LongForm(const std::wstring& path) {
    const DWORD needed = GetLongPathNameW(path.c_str(), nullptr, 0);
    if (needed == 0) {
        return path;
    }
    std::wstring longPath(needed, L'\0');
    const DWORD written = GetLongPathNameW(path.c_str(), longPath.data(), needed);
    if (written == 0 || written >= needed) {
        return path;
    }
    longPath.resize(written);
    return longPath;
}

bool IsSameFile(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(LongForm(a).c_str(), LongForm(b).c_str()) == 0;
}

// The running executable, or empty when its path does not fit MAX_PATH (a cut
// path could name some other file).
std::wstring RunningExePath() {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    return std::wstring(buffer, length);
}

// Steps 4 on of the sequence, once nothing runs from the app folder any more.
bool RemoveEverything(const std::wstring& installRoot, const std::wstring& appExePath,
                      std::wstring& message) {
    SetJobProgress(L"Removing Movora", 50);
    RemoveAppShortcut();
    RemoveAutostartValue();

    for (const wchar_t* name : {kAppFolderName, kStagingFolderName, kPreviousFolderName}) {
        tolerant::RemoveTree(JoinPath(installRoot, name));
    }
    for (const wchar_t* name : kDataFolderNames) {
        tolerant::RemoveTree(JoinPath(installRoot, name));
    }
    for (const wchar_t* name : {kSettingsFileName, kSetupCopyName, kOldSetupCopyName,
                                kAsideSetupCopyName, kIncomingSetupCopyName}) {
        tolerant::Remove(JoinPath(installRoot, name));
    }

    // Only the app executable decides: other survivors do not fail the uninstall.
    if (raising::Exists(appExePath)) {
        message = L"Some Movora files are still in use.";
        return false;
    }
    tolerant::RemoveTree(installRoot);
    RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallEntryKey);

    const std::wstring doomed =
        ChooseRestartDeletion(RunningExePath(), installRoot, GetUninstallCopyPath());
    if (!doomed.empty()) {
        MoveFileExW(doomed.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
    return true;
}

} // namespace

bool RunUninstall(std::wstring& message) {
    try {
        // Held to the end, so no install can swap folders while they are removed.
        const SetupLock lock = TryAcquireSetupLock();
        if (!lock) {
            message = kSetupRunningSentence;
            return false;
        }
        const std::wstring installRoot = GetInstallRoot();
        const std::wstring appExePath =
            JoinPath(JoinPath(installRoot, kAppFolderName), kAppExeName);
        if (!StopRunningApp(appExePath)) {
            message = g_app.cancelRequested.load()
                          ? L"Cancelled."
                          : L"Movora is still running, so it was not removed.";
            return false;
        }
        return RemoveEverything(installRoot, appExePath, message);
    } catch (const FileError&) {
        // The install root could not be created or examined; the job shows
        // its own sentence for an empty message.
        message.clear();
        return false;
    } catch (const std::exception&) {
        message.clear(); // out of memory: the same general sentence
        return false;
    }
}

std::wstring ChooseRestartDeletion(const std::wstring& runningExePath,
                                   const std::wstring& installRoot,
                                   const std::wstring& uninstallCopyPath) {
    if (runningExePath.empty()) {
        return std::wstring();
    }
    if (!uninstallCopyPath.empty() && IsSameFile(runningExePath, uninstallCopyPath)) {
        return runningExePath;
    }
    try {
        if (!installRoot.empty() && IsPathInside(runningExePath, installRoot)) {
            return runningExePath;
        }
    } catch (const FileError&) {
        // An install root that cannot be made absolute contains nothing.
    }
    return std::wstring();
}
