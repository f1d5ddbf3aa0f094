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
    if (window != nullptr) {
        PostMessageW(window, WM_STATUS_CHANGED, 0, 0);
    }
}
