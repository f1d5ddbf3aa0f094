// Start-up: mode, feed URL, uninstall hand-over, the window and its message loop.
#pragma once

#include <windows.h>

#include <string>

// The release server origin followed by "/releases/latest.json".
std::wstring GetDefaultFeedUrl();

// Window size in physical pixels for a DPI: 480 x 560 logical pixels scaled
// with MulDiv by dpi / 96.
SIZE ComputeWindowSize(UINT dpi);

// Top-left corner that centres a window of the given size in a work area
// (integer division truncating toward zero; may be negative when the window is
// larger than the area).
POINT CenterInWorkArea(const RECT& work, SIZE size);

// When the running executable lies inside the install root, copies it to
// "<temp>\Movora-uninstall.exe" (overwriting), starts the copy with the single
// argument "--uninstall" and returns true: the caller then exits with code 0.
// Returns false when the executable lies elsewhere, when the copy fails, or
// when the install root cannot be found or created: the uninstall then goes on
// in this process.
bool HandOverUninstall();

// The whole start-up: options, hand-over, window class, window, message loop,
// font clean-up. Returns the process exit code: 0 after a normal close or a
// hand-over, 1 when the window cannot be created.
int RunSetup(HINSTANCE instance);
