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

// Saves the whole virtual screen as a PNG file (ImageMagick's import on the
// host). False when no file resulted.
bool CaptureScreen(const std::wstring& pngPath);

} // namespace testing_support
