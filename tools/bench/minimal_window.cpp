// The yardstick of the first-paint benchmark: the least a Windows program
// does to show a window like the setup window. A borderless popup of the same
// size at the same place (480 x 560 logical pixels, centred in the work
// area), painted with the same background and 1-pixel border, imports only
// USER32, GDI32 and KERNEL32, and nothing else happens.
#include <windows.h>

namespace {

constexpr wchar_t kClassName[] = L"MinimalWindow";

LRESULT CALLBACK MinimalWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        HBRUSH background = CreateSolidBrush(RGB(8, 8, 8));
        HBRUSH line = CreateSolidBrush(RGB(36, 36, 36));
        FillRect(dc, &client, background);
        FrameRect(dc, &client, line);
        DeleteObject(line);
        DeleteObject(background);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = MinimalWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    RegisterClassW(&windowClass);

    const int dpi = static_cast<int>(GetDpiForSystem());
    const int width = MulDiv(480, dpi, 96);
    const int height = MulDiv(560, dpi, 96);
    POINT cursor{0, 0};
    GetCursorPos(&cursor);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromPoint(cursor, MONITOR_DEFAULTTOPRIMARY), &info);
    const RECT& work = info.rcWork;
    HWND window = CreateWindowExW(WS_EX_APPWINDOW, kClassName, L"Minimal", WS_POPUP,
                                  work.left + (work.right - work.left - width) / 2,
                                  work.top + (work.bottom - work.top - height) / 2, width, height,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
