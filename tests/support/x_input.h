// Real keyboard and mouse input for windows under the virtual display, made by
// xdotool as a user's hands would make it, and a message pump to wait with.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace testing_support {

// Runs "xdotool <arguments>" on the host and waits up to timeoutMs until it
// has ended, pumping this thread's messages meanwhile (the window under test
// may live on this thread). True when xdotool ended with status 0.
bool RunXdotool(const std::string& arguments, DWORD timeoutMs = 10000);

// The X window that shows a top-level window, for "xdotool key --window";
// 0 when the window has none.
unsigned long XWindowOf(HWND window);

// Pumps this thread's messages until done() holds or timeoutMs has passed.
// Returns done() at the end. A quit message is kept for TakeQuitMessage.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);

// Whether a quit message reached this thread since the last call (pumped by
// the two functions here or still waiting in the queue), and its exit code.
// The quit message is taken away. Exit codes below 0 do not count.
bool TakeQuitMessage(int& exitCode);

// Dispatches every message waiting for this thread (a quit message is kept
// for TakeQuitMessage).
void PumpMessages();

// Pumps this thread's messages for about ms milliseconds.
void PumpFor(DWORD ms);

// The screen point of a client point of window, as "x y" for xdotool.
std::string ScreenArgs(HWND window, POINT client);

} // namespace testing_support
