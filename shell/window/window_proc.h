// The setup window's procedure.
#pragma once

#include <windows.h>

inline constexpr wchar_t kWindowClassName[] = L"MovoraSetup";
inline constexpr wchar_t kWindowTitle[] = L"Movora Setup";

// One small handler per message; every other message goes to DefWindowProcW.
// Creation starts the first job by mode, destruction cancels and joins it and
// ends the message loop with exit code 0.
LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
