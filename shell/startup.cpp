#include "shell/startup.h"

#include "feed/origins.h"
#include "install/fs_calls.h"
#include "install/locations.h"
#include "shell/app_state.h"
#include "shell/command_line.h"
#include "shell/jobs.h"
#include "shell/scoped.h"
#include "shell/text.h"
#include "shell/window/fonts.h"
#include "shell/window/window_proc.h"

#include <objbase.h>
#include <shellapi.h>
#include <shellscalingapi.h>

namespace {

constexpr int kLogicalWidth = 480;
constexpr int kLogicalHeight = 560;

void RegisterSetupWindowClass(HINSTANCE instance) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = SetupWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClassName;
    RegisterClassW(&windowClass); // a failure shows up as a failed CreateWindowExW
}

// The effective DPI of the monitor the window opens on, so the window is sized
// at the same DPI it will be painted with. Falls back to the system DPI.
UINT GetPlacementDpi(HMONITOR monitor) {
    UINT dpiX = 0;
    UINT dpiY = 0;
    if (SUCCEEDED(GetDpiForMonitor(monitor, MDT_EFFECTIVE_DPI, &dpiX, &dpiY)) && dpiX != 0) {
        return dpiX;
    }
    return GetDpiForSystem();
}

// The window rectangle: centred in the work area of the monitor under the
// pointer (the primary monitor when the pointer position is unavailable).
RECT ComputeWindowRect() {
    POINT cursor{0, 0};
    GetCursorPos(&cursor);
    HMONITOR monitor = MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);

    const SIZE size = ComputeWindowSize(GetPlacementDpi(monitor));
    const POINT origin = CenterInWorkArea(info.rcWork, size);
    return RECT{origin.x, origin.y, origin.x + size.cx, origin.y + size.cy};
}

} // namespace

std::wstring GetDefaultFeedUrl() {
    return Utf8ToWide(ReleaseServerOrigin() + "/releases/latest.json");
}

SIZE ComputeWindowSize(UINT dpi) {
    const int scale = static_cast<int>(dpi);
    return SIZE{MulDiv(kLogicalWidth, scale, 96), MulDiv(kLogicalHeight, scale, 96)};
}

POINT CenterInWorkArea(const RECT& work, SIZE size) {
    return POINT{work.left + (work.right - work.left - size.cx) / 2,
                 work.top + (work.bottom - work.top - size.cy) / 2};
}

bool HandOverUninstall() {
    wchar_t exePath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exePath, MAX_PATH);

    bool inside = false;
    try {
        inside = IsPathInside(exePath, GetInstallRoot());
    } catch (const FileError&) {
        // No install root to hand over from: the uninstall job reports its own
        // failure if there is anything to remove.
        return false;
    }
    if (!inside) {
        return false;
    }

    const std::wstring tempFolder = GetTempFolder();
    if (tempFolder.empty()) {
        return false;
    }
    const std::wstring target = JoinPath(tempFolder, kUninstallCopyName);
    if (!tolerant::CopyFileOver(exePath, target)) {
        return false;
    }
    ShellExecuteW(nullptr, L"open", target.c_str(), L"--uninstall", nullptr, SW_SHOWNORMAL);
    return true;
}

int RunSetup(HINSTANCE instance) {
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    g_app.instance = instance;
    g_app.feedUrl = GetDefaultFeedUrl();
    ApplyCommandLine(GetCommandLineW());

    if (g_app.uninstallMode && HandOverUninstall()) {
        return 0;
    }

    // The window's accessible object is handed to screen readers in other
    // processes through COM, so this thread is a single-threaded apartment
    // while the window exists: their calls then arrive through the message
    // loop, on the thread that owns the window's state. Without COM the
    // window still works; only screen readers find nothing inside it.
    const bool comReady = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ScopeExit endCom([comReady] {
        if (comReady) {
            CoUninitialize();
        }
    });

    RegisterSetupWindowClass(instance);
    const RECT rect = ComputeWindowRect();
    HWND window = CreateWindowExW(WS_EX_APPWINDOW, kWindowClassName, kWindowTitle, WS_POPUP,
                                  rect.left, rect.top, rect.right - rect.left,
                                  rect.bottom - rect.top, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        // Creation may have failed after WM_CREATE started a job (it does
        // when it cannot set the timer that waits for the first paint).
        CancelAndJoinWorker();
        DeleteFonts();
        return 1;
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);

    MSG message{};
    BOOL result = 0;
    while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    // Normally the window is gone and its destruction joined the worker. A
    // loop ended by an error or a stray quit message still leaves no worker
    // thread joinable at exit.
    if (g_app.window != nullptr) {
        DestroyWindow(g_app.window);
    }
    CancelAndJoinWorker();
    DeleteFonts();
    return result == 0 ? static_cast<int>(message.wParam) : 1;
}
