// What a window drew, read from Wine's text trace: with WINEDEBUG set to
// "-all,trace+text" Wine logs every DrawTextExW call with its text, its
// rectangle and its format flags. For tests that drive the real program.
#pragma once

#include "tests/support/test_support.h"

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

struct DrawnText {
    std::wstring text;
    RECT rect{};
    UINT format = 0;
};

// The DrawTextExW calls of a trace log, in order. Wine's escapes are undone
// (\" \\ \n \r \t and \XXXX for other characters); a text Wine cut short
// keeps what was logged.
std::vector<DrawnText> ParseTextTrace(const std::string& log);

// Reads a trace log file (possibly still being written).
std::vector<DrawnText> ReadTextTrace(const std::wstring& logPath);

// Starts the program at exePath with arguments (no double quotes; single
// quotes group as in a host shell) and the text trace on, the trace going to
// logPath. The program must not be running already: it is found by its path.
// Fails the current test and returns an empty record when it cannot start.
StartedProcess StartWithTextTrace(const std::wstring& exePath, const std::wstring& arguments,
                                  const std::wstring& logPath);

// Like StartWithTextTrace, for a program that may hand over to another
// process and end at once: every process it starts traces into the same log,
// and when it ends its exit code is written to exitCodePath as decimal text
// (read it with ReadExitCodeFile). Returns at once; false when the host shell
// could not be started.
bool LaunchWithTextTrace(const std::wstring& exePath, const std::wstring& arguments,
                         const std::wstring& logPath, const std::wstring& exitCodePath);

// The exit code LaunchWithTextTrace wrote, waiting up to timeoutMs for it;
// STILL_ACTIVE when none came.
DWORD ReadExitCodeFile(const std::wstring& exitCodePath, DWORD timeoutMs);

// Saves the whole virtual screen as a PNG file (ImageMagick's import on the
// host). False when no file resulted.
bool CaptureScreen(const std::wstring& pngPath);

// Saves what the screen shows of a window (its whole rectangle, frame
// included) as a PNG file. False when no file resulted.
bool CaptureWindow(HWND window, const std::wstring& pngPath);

// The pixels of a saved picture.
struct Screenshot {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels; // row by row, from the top

    bool valid() const { return width > 0 && height > 0; }
    // The colour at (x, y) as RGB(r, g, b); black outside the picture.
    COLORREF Pixel(int x, int y) const;
    // How many pixels of rect have exactly this colour.
    int Count(const RECT& rect, COLORREF colour) const;
};

// Reads a PNG file (converted by ImageMagick on the host). An invalid
// picture when it cannot be read.
Screenshot LoadScreenshot(const std::wstring& pngPath);

} // namespace testing_support
