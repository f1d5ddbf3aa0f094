// Shared helpers of the window tests: fonts at a DPI, paint inputs by mode and
// phase, readable names, and saving the job status around a test.
#pragma once

#include "shell/app_state.h"
#include "shell/window/labels.h"
#include "shell/window/paint.h"
#include "tests/support/http_test_server.h"

#include <gtest/gtest.h>

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

// The current job status.
struct Status {
    JobPhase phase;
    std::wstring message;
    int percent;
};
Status CurrentStatus();
std::string Narrow(const std::wstring& text);

// Sets the job status directly, as if a job had ended with it.
void SetStatus(JobPhase phase, const std::wstring& message, const std::wstring& packageUrl);

// Pumps messages until no job is active, then joins the ended worker thread.
// False when a job still runs after timeoutMs.
bool WaitForJobEnd(DWORD timeoutMs = 30000);

// A release server on a free loopback port serving the release list at
// kFeedPath; g_app.feedUrl points at it. The package it names is not served
// (404), so an install job fails in its download.
class FeedServerTest : public ::testing::Test {
  protected:
    static constexpr const char* kFeedPath = "/releases/latest.json";
    static constexpr const char* kPackagePath = "/packages/Movora-2.0.0.zip";

    void SetUp() override;
    void TearDown() override;

    std::string FeedDocument() const;
    std::wstring PackageUrl() const;
    // Requests that reached path so far.
    int RequestsFor(const std::string& path) const;

    testing_support::HttpTestServer server_;

  private:
    StatusSnapshot snapshot_;
};

// A real setup window (the window procedure under test) on this thread.
class SetupWindowTest : public FeedServerTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the window in mode at the screen's top-left corner, 480 x 560,
    // with style (visible or not) and nothing more: no message is pumped, so
    // the first paint and with it the mode's first job are still to come.
    void OpenSetupWindow(WindowMode mode, DWORD style = WS_VISIBLE);
    // Opens the window visible and paints it, which starts the mode's first
    // job; waits for the job to end and paints the result, so the hit
    // rectangles are set.
    void CreateSetupWindow(WindowMode mode);
    bool WindowAlive() const { return window_ != nullptr && IsWindow(window_) != FALSE; }
    // Sends a message to the window and lets the paint it asks for happen.
    LRESULT Send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    HWND window_ = nullptr;
};

} // namespace window_testing
