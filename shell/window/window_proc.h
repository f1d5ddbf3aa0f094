// The setup window's procedure.
#pragma once

#include <windows.h>

inline constexpr wchar_t kWindowClassName[] = L"MovoraSetup";
inline constexpr wchar_t kWindowTitle[] = L"Movora Setup";

// Background colour of the whole client area.
inline constexpr COLORREF kBackgroundColour = RGB(8, 8, 8);

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
