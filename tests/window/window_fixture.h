// Shared helpers of the window tests: fonts at a DPI, paint inputs by mode and
// phase, readable names, and saving the job status around a test.
#pragma once

#include "shell/app_state.h"
#include "shell/window/labels.h"
#include "shell/window/paint.h"

#include <windows.h>

#include <ostream>
#include <string>

// Rectangles compare and print as (left, top, right, bottom) in assertions.
inline bool operator==(const RECT& a, const RECT& b) {
    return EqualRect(&a, &b) != FALSE;
}
inline std::ostream& operator<<(std::ostream& out, const RECT& r) {
    return out << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
}

namespace window_testing {

// g_app.dpi set and the four fonts made for it, for the life of the object;
// afterwards the fonts are deleted and the DPI is put back.
class DpiFonts {
  public:
    explicit DpiFonts(UINT dpi);
    ~DpiFonts();
    DpiFonts(const DpiFonts&) = delete;
    DpiFonts& operator=(const DpiFonts&) = delete;

  private:
    UINT savedDpi_;
};

// Inputs of a paint in mode and phase with g_app's fonts and DPI, no hover,
// an empty release and a status text.
PaintInputs PaintInputsFor(WindowMode mode, JobPhase phase);

std::string ShortName(JobPhase phase);
std::string ShortName(WindowMode mode);

// Saves the mode flags, the job status and the release values of g_app and
// puts them back when it goes away.
class StatusSnapshot {
  public:
    StatusSnapshot();
    ~StatusSnapshot();
    StatusSnapshot(const StatusSnapshot&) = delete;
    StatusSnapshot& operator=(const StatusSnapshot&) = delete;

  private:
    bool updateMode_, uninstallMode_;
    std::wstring feedUrl_, latestVersion_, releaseNotes_, packageUrl_, packageSha256_,
        statusMessage_, appExePath_;
    std::int32_t progressPercent_;
    JobPhase phase_;
};

} // namespace window_testing
