// The one global record of the setup program and the job status operations.
#pragma once

#include <windows.h>

#include "shell/scoped.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

enum JobPhase : std::int32_t {
    Checking = 0,
    Ready = 1,
    Working = 2,
    Done = 3,
    Failed = 4,
};

// Posted to the window after every change of the job status; carries no data.
constexpr UINT WM_STATUS_CHANGED = WM_APP + 1;

// The lock of the guarded fields: a slim reader/writer lock, always taken
// exclusively. Not std::mutex, whose POSIX threads layer the shipped program
// would otherwise carry for this one lock.
class StatusLock {
  public:
    void lock() { AcquireSRWLockExclusive(&lock_); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }

  private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};
using StatusGuard = std::lock_guard<StatusLock>;

// Fields marked "guarded" are read and written only while statusMutex is held.
struct AppState {
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    bool updateMode = false;
    bool uninstallMode = false;
    std::wstring feedUrl;

    std::wstring latestVersion;                                      // guarded
    std::wstring releaseNotes;                                       // guarded
    std::wstring packageUrl;                                         // guarded
    std::wstring packageSha256;                                      // guarded
    std::wstring statusMessage = L"Looking up the current version."; // guarded
    std::wstring appExePath;                                         // guarded
    std::int32_t progressPercent = 0;                                // guarded
    JobPhase phase = Checking;                                       // guarded
    StatusLock statusMutex;

    std::atomic<bool> cancelRequested{false};
    std::atomic<bool> jobActive{false};
    // A WM_STATUS_CHANGED is posted and the window has not taken it yet.
    std::atomic<bool> notificationPending{false};
    UniqueHandle worker; // the job's thread until it is joined (shell/worker_thread.h)

    HFONT titleFont = nullptr;
    HFONT bodyFont = nullptr;
    HFONT smallFont = nullptr;
    HFONT buttonFont = nullptr;
    UINT dpi = 96;
    RECT primaryButtonRect{};
    RECT closeButtonRect{};
    bool primaryHover = false;
    bool closeHover = false;
    // Space went down in the window and has not come up: its release acts.
    bool spacePressed = false;
    bool appLaunched = false;
    // GetTickCount64 when the window last took a status notification.
    ULONGLONG statusTakenAt = 0;
};

extern AppState g_app;

// Stores phase and message under statusMutex (the percentage stays) and
// announces the change. Must not be called while statusMutex is held.
void SetJobResult(JobPhase phase, const std::wstring& message);

// Stores message and percent (unchanged, the paint clamps it) under
// statusMutex and announces the change. Must not be called with the mutex held.
void SetJobProgress(const std::wstring& message, int percent);

// Posts WM_STATUS_CHANGED to the window, if there is one and none is pending
// already: one waiting notification is enough, as the window paints from the
// status, not from the messages. Never sends: the UI thread may be blocked
// joining the worker that calls this. A failed post leaves nothing pending.
void NotifyWindow();

// The window's side of NotifyWindow, called when it takes WM_STATUS_CHANGED
// and before it reads the status: every change after this posts again, and
// every change before it is in what the window reads. Returns whether a
// notification was pending.
bool TakeStatusNotification();

// Test seam: an observer called with every status text, on the thread that
// sets it, right after it is stored (outside statusMutex). The window takes
// notifications at its own pace and may skip texts in between; a test that
// must see each step sets an observer. Inert unless a test sets one; null
// removes it.
using StatusObserver = void (*)(const std::wstring& message);
void SetStatusObserver(StatusObserver observer);
