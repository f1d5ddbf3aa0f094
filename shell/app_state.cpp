#include "shell/app_state.h"

AppState g_app;

namespace {

std::atomic<StatusObserver> g_statusObserver{nullptr};

void TellObserver(const std::wstring& message) {
    if (const StatusObserver observer = g_statusObserver.load()) {
        observer(message);
    }
}

} // namespace

void SetJobResult(JobPhase phase, const std::wstring& message) {
    {
        StatusGuard lock(g_app.statusMutex);
        g_app.phase = phase;
        g_app.statusMessage = message;
    }
    TellObserver(message);
    NotifyWindow();
}

void SetJobProgress(const std::wstring& message, int percent) {
    {
        StatusGuard lock(g_app.statusMutex);
        g_app.statusMessage = message;
        g_app.progressPercent = percent;
    }
    TellObserver(message);
    NotifyWindow();
}

void NotifyWindow() {
    HWND window = g_app.window;
    if (window == nullptr || g_app.notificationPending.exchange(true)) {
        return;
    }
    if (!PostMessageW(window, WM_STATUS_CHANGED, 0, 0)) {
        g_app.notificationPending.store(false);
    }
}

void SetStatusObserver(StatusObserver observer) {
    g_statusObserver.store(observer);
}

bool TakeStatusNotification() {
    // An exchange, not a store: reading the worker's "pending" makes its
    // status writes, done before it posted, visible here.
    return g_app.notificationPending.exchange(false);
}
