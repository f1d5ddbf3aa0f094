#include "shell/window/window_proc.h"

#include "shell/app_state.h"
#include "shell/jobs.h"
#include "shell/window/fonts.h"
#include "shell/window/paint.h"

namespace {

LRESULT OnCreate(HWND window) {
    g_app.window = window;
    g_app.dpi = GetDpiForWindow(window);
    CreateFonts();
    return 0;
}

// Joins the worker before the window handle goes away: a job may still post
// to it until it has returned.
LRESULT OnDestroy() {
    CancelAndJoinWorker();
    g_app.window = nullptr;
    PostQuitMessage(0);
    return 0;
}

LRESULT OnPaint(HWND window) {
    PaintWindow(window);
    return 0;
}

} // namespace

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_DESTROY:
        return OnDestroy();
    case WM_PAINT:
        return OnPaint(window);
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
