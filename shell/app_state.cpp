#include "shell/app_state.h"

AppState g_app;

void SetJobResult(JobPhase phase, const std::wstring& message) {
    {
        std::lock_guard<std::mutex> lock(g_app.statusMutex);
        g_app.phase = phase;
        g_app.statusMessage = message;
    }
    NotifyWindow();
}

void SetJobProgress(const std::wstring& message, int percent) {
    {
        std::lock_guard<std::mutex> lock(g_app.statusMutex);
        g_app.statusMessage = message;
        g_app.progressPercent = percent;
    }
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

bool TakeStatusNotification() {
    // An exchange, not a store: reading the worker's "pending" makes its
    // status writes, done before it posted, visible here.
    return g_app.notificationPending.exchange(false);
}
