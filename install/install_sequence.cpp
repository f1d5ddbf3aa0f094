#include "install/install_sequence.h"

#include "feed/http_get.h"
#include "feed/release_list.h"
#include "feed/verify.h"
#include "install/fs_calls.h"
#include "install/locations.h"
#include "install/setup_copy.h"
#include "install/setup_lock.h"
#include "install/swap.h"
#include "install/unpack.h"
#include "shell/app_state.h"
#include "shell/scoped.h"
#include "system/shortcuts.h"
#include "system/stop_app.h"
#include "system/uninstall_entry.h"

#include <windows.h>

#include <exception>

namespace {

constexpr wchar_t kRestoreFailed[] =
    L"The earlier Movora could not be restored, so the update stopped.";
constexpr wchar_t kFolderUnreadable[] = L"Could not read the Movora folder.";
constexpr wchar_t kNoTempFolder[] = L"Could not find a folder for the download.";
constexpr wchar_t kDownloadUnfinished[] = L"The download did not finish.";
constexpr wchar_t kChecksumMismatch[] = L"The download did not match its checksum.";
constexpr wchar_t kCheckFailed[] = L"Could not check the download.";
constexpr wchar_t kInstallFolderFailed[] = L"Could not prepare the install folder.";
constexpr wchar_t kStagingLeftovers[] = L"Files left from an earlier install could not be removed.";
constexpr wchar_t kUnpackFailed[] = L"The download could not be unpacked.";
constexpr wchar_t kNoAppInPackage[] = L"The download did not contain Movora.";
constexpr wchar_t kStillRunning[] = L"Movora is still running, so the update stopped.";
constexpr wchar_t kCancelled[] = L"Cancelled.";

// What the sequence installs, copied from g_app once.
struct Release {
    std::wstring packageUrl;
    std::wstring version;
    std::wstring sha256;
};

// Where everything lies below one install root.
struct InstallPaths {
    std::wstring staging;
    std::wstring appExe;
    std::wstring setupCopy;
};

InstallPaths PathsBelow(const std::wstring& root) {
    InstallPaths paths;
    paths.staging = JoinPath(root, kStagingFolderName);
    paths.appExe = JoinPath(JoinPath(root, kAppFolderName), kAppExeName);
    paths.setupCopy = JoinPath(root, kSetupCopyName);
    return paths;
}

Release CopyRelease() {
    StatusGuard lock(g_app.statusMutex);
    return Release{g_app.packageUrl, g_app.latestVersion, g_app.packageSha256};
}

// A swap that died between moving the old release aside and moving the new
// one in leaves "app.previous" as the only whole release and no app
// executable: the shortcuts point at nothing, and the next swap would delete
// it. Moves it back before anything else happens. Looks without creating the
// install root. Returns false with a sentence when the folders cannot be
// examined, or when it found such a state and could not mend it; the
// folders are then as they were, or the old release is still whole in
// "app.previous".
bool RecoverInterruptedSwap(std::wstring& error) {
    const std::wstring root = LocateInstallRoot();
    if (root.empty()) {
        return true; // no install root can be found, so nothing was installed
    }
    const std::wstring app = JoinPath(root, kAppFolderName);
    const std::wstring previous = JoinPath(root, kPreviousFolderName);
    try {
        if (raising::Exists(JoinPath(app, kAppExeName)) ||
            !raising::Exists(JoinPath(previous, kAppExeName))) {
            return true;
        }
    } catch (const FileError&) {
        // Nothing is known to need restoring, so no restore is claimed.
        error = kFolderUnreadable;
        return false;
    }
    // What stands at the app folder path without an executable is no release.
    // Both steps restore the old release, so a cancel does not cut them short.
    try {
        if (tolerant::RemoveTree(app, OnCancel::KeepTrying)) {
            raising::Rename(previous, app, OnCancel::KeepTrying);
            return true;
        }
    } catch (const FileError&) {
    }
    error = kRestoreFailed;
    return false;
}

// One transfer of url into packageFile, with "Downloading" from 0. On failure
// the partial file is deleted and error holds the transfer's sentence.
bool TryDownload(const std::wstring& url, const std::wstring& packageFile, std::wstring& error) {
    HttpTransfer transfer;
    transfer.filePath = packageFile;
    transfer.toFile = true;
    SetJobProgress(L"Downloading", 0);
    if (HttpGet(url, transfer, true)) {
        return true;
    }
    tolerant::Remove(packageFile);
    error = transfer.error.empty() ? kDownloadUnfinished : transfer.error;
    return false;
}

// Steps 2 to 4: the download into packageFile, retried once through the
// download origin unless cancelled. On failure the package file is gone and
// error holds the last transfer's sentence.
bool DownloadPackage(const std::wstring& packageUrl, const std::wstring& packageFile,
                     std::wstring& error) {
    std::wstring firstError;
    if (TryDownload(packageUrl, packageFile, firstError)) {
        return true;
    }
    const std::wstring alternative =
        g_app.cancelRequested.load() ? std::wstring() : RewriteDownloadUrl(packageUrl);
    if (alternative.empty()) {
        error = firstError;
        return false;
    }
    return TryDownload(alternative, packageFile, error);
}

// Step 5, only with an expected checksum. The caller deletes the package
// when this fails.
bool VerifyPackage(const std::wstring& packageFile, const std::wstring& expected,
                   std::wstring& error) {
    if (expected.empty()) {
        return true;
    }
    SetJobProgress(L"Checking the download", 100);
    std::wstring digest;
    if (VerifySha256(packageFile, digest, error) && DigestMatches(digest, expected)) {
        return true;
    }
    if (error.empty()) {
        error = kChecksumMismatch;
    }
    return false;
}

// Steps 2 to 19, once the release is copied and the package path is known.
// failure is the sentence for a raised error at the step reached.
bool InstallFromPackage(const Release& release, const std::wstring& packageFile,
                        std::wstring& error, const wchar_t*& failure) {
    failure = kDownloadUnfinished;
    if (!DownloadPackage(release.packageUrl, packageFile, error)) {
        return false;
    }
    // From before the checksum until the tar tool has finished, no other
    // process may write, replace, rename or delete the package: the bytes
    // unpacked are the bytes checked. Closed before the package is deleted:
    // here once the tool is done, on the other paths as this returns, before
    // the caller deletes it.
    failure = kCheckFailed;
    UniqueHandle hold = raising::HoldForReading(packageFile);
    if (!VerifyPackage(packageFile, release.sha256, error)) {
        return false;
    }

    failure = kInstallFolderFailed;
    const std::wstring root = GetInstallRoot();
    const InstallPaths paths = PathsBelow(root);
    // Unpacking over an older release's leftovers could install a mixture.
    if (!tolerant::RemoveTree(paths.staging)) {
        error = kStagingLeftovers;
        return false;
    }
    raising::CreateFolders(paths.staging);

    failure = kUnpackFailed;
    SetJobProgress(L"Installing", 100);
    const bool tarSucceeded = UnpackPackage(packageFile, paths.staging, error);
    hold.reset();
    if (!tarSucceeded) {
        return false;
    }
    tolerant::Remove(packageFile);
    const std::wstring unpacked = FindAppExecutable(paths.staging);
    if (unpacked.empty()) {
        error = kNoAppInPackage;
        return false;
    }

    // A cancel that came while checking or unpacking must not cost the user
    // their running app: nothing would start it again.
    if (g_app.cancelRequested.load()) {
        error = kCancelled;
        return false;
    }
    if (!StopRunningApp(paths.appExe)) {
        error = g_app.cancelRequested.load() ? kCancelled : kStillRunning;
        return false;
    }
    if (!SwapInRelease(root, unpacked, error)) {
        return false;
    }

    // The new release is in place: nothing from here on fails the install,
    // whatever a best-effort step raises (a FileError derives from nothing).
    try {
        RefreshSetupCopy(root);
    } catch (...) {
    }
    try {
        CreateAppShortcut(paths.appExe);
        WriteUninstallEntry(paths.appExe, paths.setupCopy, release.version);
    } catch (...) {
    }
    StatusGuard lock(g_app.statusMutex);
    g_app.appExePath = paths.appExe;
    return true;
}

} // namespace

bool RunInstall(std::wstring& error) {
    // Until the download begins only memory can run out: no sentence, so the
    // job shows its general one.
    const wchar_t* failure = L"";
    try {
        // Held to the end: no other setup process may move these folders meanwhile.
        const SetupLock lock = TryAcquireSetupLock();
        if (!lock) {
            error = kSetupRunningSentence;
            return false;
        }
        const Release release = CopyRelease();
        if (!RecoverInterruptedSwap(error)) {
            return false;
        }
        const std::wstring packageFile = GetPackageFilePath(release.version);
        if (packageFile.empty()) {
            error = kNoTempFolder;
            return false;
        }
        // Whatever ends the sequence from here on, the package does not stay.
        ScopeExit deletePackage([&] { tolerant::Remove(packageFile); });
        std::wstring stepError;
        if (InstallFromPackage(release, packageFile, stepError, failure)) {
            return true;
        }
        error = stepError.empty() ? std::wstring(failure) : stepError;
        return false;
    } catch (const FileError&) {
        error = failure;
        return false;
    } catch (const std::exception&) {
        error = failure;
        return false;
    }
}
