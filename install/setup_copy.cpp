#include "install/setup_copy.h"

#include "install/fs_calls.h"
#include "install/locations.h"
#include "shell/scoped.h"

#include <windows.h>

namespace {

// The running program's copy, as before any release carried a setup program:
// copied over the setup copy unless it is the setup copy.
void CopyRunningProgram(const std::wstring& setupCopy) {
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return; // a cut path could name some other file
    }
    const std::wstring running(buffer, length);
    std::wstring runningAbsolute = tolerant::MakeAbsolute(running);
    std::wstring copyAbsolute = tolerant::MakeAbsolute(setupCopy);
    if (runningAbsolute.empty()) {
        runningAbsolute = running;
    }
    if (copyAbsolute.empty()) {
        copyAbsolute = setupCopy;
    }
    if (!PathsEqual(runningAbsolute, copyAbsolute)) {
        raising::CopyFileOver(running, setupCopy);
    }
}

// Puts carried in place of setupCopy by renames, so the setup copy may be the
// running program.
void ReplaceSetupCopy(const std::wstring& carried, const std::wstring& setupCopy,
                      const std::wstring& aside, const std::wstring& incoming) {
    raising::CopyFileOver(carried, incoming);
    const bool hadCopy = raising::Exists(setupCopy);
    if (hadCopy) {
        raising::Rename(setupCopy, aside);
    }
    try {
        raising::Rename(incoming, setupCopy);
    } catch (const FileError&) {
        if (hadCopy) {
            raising::Rename(aside, setupCopy);
        }
        throw;
    }
    // Refused while the old copy runs this very install: a later run removes it.
    tolerant::Remove(aside);
}

} // namespace

void RefreshSetupCopy(const std::wstring& installRoot) {
    const std::wstring setupCopy = JoinPath(installRoot, kSetupCopyName);
    const std::wstring aside = JoinPath(installRoot, kAsideSetupCopyName);
    const std::wstring incoming = JoinPath(installRoot, kIncomingSetupCopyName);
    // Whatever ends this step, no incoming copy stays (nor one of a run that died).
    ScopeExit dropIncoming([&] { tolerant::Remove(incoming); });

    // An earlier run that stopped between its two renames left the only setup
    // copy aside; otherwise what lies aside has ended running, or still runs
    // and stays.
    if (!raising::Exists(setupCopy) && raising::Exists(aside)) {
        raising::Rename(aside, setupCopy);
    }
    tolerant::Remove(aside);

    const std::wstring carried = JoinPath(JoinPath(installRoot, kAppFolderName), kCarriedSetupName);
    if (raising::Exists(carried) && !raising::IsFolder(carried)) {
        ReplaceSetupCopy(carried, setupCopy, aside, incoming);
    } else {
        CopyRunningProgram(setupCopy);
    }
}
