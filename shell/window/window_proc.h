// The setup window's procedure.
#pragma once

#include <windows.h>

inline constexpr wchar_t kWindowClassName[] = L"MovoraSetup";
inline constexpr wchar_t kWindowTitle[] = L"Movora Setup";

// The window takes a status notification at most once in this many
// milliseconds; one that comes sooner waits on a timer. Progress then costs
// the worker a post and the window a paint about 30 times a second, not once
// per received chunk, and the last status is still painted.
inline constexpr UINT kStatusIntervalMs = 33;

// One small handler per message; every other message goes to DefWindowProcW.
// Creation shows the first job's status by mode and the first paint starts
// the job (a window never painted starts it on a timer); destruction cancels
// and joins it and ends the message loop with exit code 0.
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
