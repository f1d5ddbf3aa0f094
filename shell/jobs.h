// The worker jobs: all slow work runs on one worker thread at a time, and each
// job ends with one final SetJobResult.
#pragma once

// The sentence shown when the system cannot create the worker thread.
inline constexpr wchar_t kJobStartFailedMessage[] = L"The setup could not start its work.";

// UI thread only. Starts the check job (install off: Checking, "Looking up the
// current version.") or the install job (install on: Working, "Downloading").
// Dropped without a word while a job runs. A previous job's ended thread is
// joined first. If no thread can be created, the status becomes Failed with
// kJobStartFailedMessage and no job is active.
void StartCheckOrInstallJob(bool install);

// UI thread only. Starts the uninstall job (Working, "Closing Movora"), on the
// same terms as StartCheckOrInstallJob.
void StartUninstallJob();

// UI thread only. Raises the cancel flag and blocks until the worker thread, if
// any, has ended; leaves g_app.worker empty.
void CancelAndJoinWorker();

// Worker thread bodies. The check job fetches the release list and ends in
// Ready; with install it fetches the list afresh and installs, ending in Done.
// Any failure ends in Failed with the engine's sentence, or "Something went
// wrong." when it left none or raised instead of returning; a raised cancel
// flag ends in "Cancelled.". Each job sets exactly one final status.
void CheckAndInstallJob(bool install);

// Removes the app; Done "Movora has been removed.", or Failed with the
// engine's sentence, "Movora could not be removed." when it left none or
// raised, or "Cancelled.".
void UninstallJob();
