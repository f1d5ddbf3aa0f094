// The setup window's procedure.
#pragma once

#include <windows.h>

inline constexpr wchar_t kWindowClassName[] = L"MovoraSetup";
inline constexpr wchar_t kWindowTitle[] = L"Movora Setup";

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
