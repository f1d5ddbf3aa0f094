#include "shell/jobs.h"

#include "feed/release_list.h"
#include "install/install_sequence.h"
#include "shell/app_state.h"
#include "shell/scoped.h"
#include "shell/worker_thread.h"
#include "system/uninstall.h"

#include <objbase.h>

#include <string>

namespace {

// What the worker thread runs for the job in progress. Set on the UI thread
// before the thread starts, read by it once.
void (*g_jobBody)() = nullptr;

// The worker thread's function: the bodies contain their engines' errors;
// should the final status itself fail (no memory for its text), the job still
// ends inactive rather than taking the process down. jobActive is cleared only
// after the body has returned, that is after its final SetJobResult.
void RunJob() {
    try {
        g_jobBody();
    } catch (...) {
    }
    g_app.jobActive.store(false);
}

// The shared start of every job.
void StartJob(JobPhase firstPhase, const wchar_t* firstMessage, void (*body)()) {
    if (g_app.jobActive.load()) {
        return;
    }
    JoinWorkerThread();
    g_app.cancelRequested.exchange(false);
    SetJobResult(firstPhase, firstMessage);
    g_app.jobActive.store(true);
    g_jobBody = body;
    if (!StartWorkerThread(RunJob)) {
        // The status already shows the job as started, so say it did not.
        SetJobResult(Failed, kJobStartFailedMessage);
        g_app.jobActive.store(false);
    }
}

// COM for the length of one job, apartment-threaded (shell links need it).
// CoUninitialize runs whatever CoInitializeEx answered, as each call counts.
struct JobCom {
    JobCom() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~JobCom() { CoUninitialize(); }
    JobCom(const JobCom&) = delete;
    JobCom& operator=(const JobCom&) = delete;
};

// Runs one engine. Whatever it raises, which its own handlers did not turn
// into a false result, ends it as a failure without a sentence, so the job
// shows its fallback sentence and still sets its final status.
template <typename Engine> bool RunEngine(Engine engine, std::wstring& error) {
    try {
        return engine(error);
    } catch (...) {
        error.clear();
        return false;
    }
}

// The failure sentence: the engine's own, or the job's fallback.
std::wstring FailureText(const std::wstring& error, const wchar_t* fallback) {
    return error.empty() ? std::wstring(fallback) : error;
}

} // namespace

void StartCheckOrInstallJob(bool install) {
    if (install) {
        StartJob(Working, L"Downloading", [] { CheckAndInstallJob(true); });
    } else {
        StartJob(Checking, L"Looking up the current version.", [] { CheckAndInstallJob(false); });
    }
}

void StartUninstallJob() {
    StartJob(Working, L"Closing Movora", [] { UninstallJob(); });
}

void CancelAndJoinWorker() {
    g_app.cancelRequested.exchange(true);
    JoinWorkerThread();
}

void CheckAndInstallJob(bool install) {
    JobCom com;
    std::wstring error;
    // The install job fetches the list again, so it installs the release that
    // is current when the user confirms.
    bool ok = RunEngine(FetchReleaseList, error);
    if (ok && install && !g_app.cancelRequested.load()) {
        ok = RunEngine(RunInstall, error);
    }

    if (g_app.cancelRequested.load()) {
        SetJobResult(Failed, L"Cancelled.");
    } else if (ok) {
        SetJobResult(install ? Done : Ready,
                     install ? L"Movora is installed." : L"Ready to install.");
    } else {
        SetJobResult(Failed, FailureText(error, L"Something went wrong."));
    }
}

void UninstallJob() {
    JobCom com;
    std::wstring error;
    bool ok = false;
    if (!g_app.cancelRequested.load()) {
        ok = RunEngine(RunUninstall, error);
    }

    if (g_app.cancelRequested.load()) {
        SetJobResult(Failed, L"Cancelled.");
    } else if (ok) {
        SetJobResult(Done, L"Movora has been removed.");
    } else {
        SetJobResult(Failed, FailureText(error, L"Movora could not be removed."));
    }
}
