// Shared set-up of the end-to-end tests: the real MovoraSetup.exe, started
// from a folder of the test's own under Wine's text trace, a loopback release
// server, the tar stand-in, the stand-in app, real keys and clicks, and
// pictures of the window kept as build output.
#pragma once

#include "tests/install/sequence_fixture.h"
#include "tests/support/drawn_text.h"
#include "tests/support/http_test_server.h"
#include "tests/support/release_signing.h"
#include "tests/support/test_support.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace e2e_testing {

// Where the window draws each part at 96 DPI (client pixels).
inline constexpr RECT kModeWordRect{28, 78, 452, 96};
inline constexpr RECT kHeadlineRect{28, 104, 452, 150};
inline constexpr RECT kVersionRect{28, 236, 452, 258};
inline constexpr RECT kStatusRect{28, 442, 452, 482};
inline constexpr RECT kButtonRect{28, 496, 176, 532};
inline constexpr RECT kCloseBoxRect{440, 0, 480, 40};
inline constexpr RECT kProgressTrackRect{28, 428, 452, 432};

// Long enough for any step on a loaded machine; a flow that takes longer is broken.
inline constexpr DWORD kFlowTimeoutMs = 60000;

// The texts drawn inside rect, in order, consecutive repeats dropped.
std::vector<std::wstring> TextsDrawnIn(const std::vector<testing_support::DrawnText>& drawn,
                                       const RECT& rect);

// True when every text of seen appears in expected, in the same order (a
// window that takes status changes at its own pace may skip some).
bool InOrderWithin(const std::vector<std::wstring>& seen,
                   const std::vector<std::wstring>& expected);

std::string Narrow(const std::wstring& text);
std::string Describe(const std::vector<std::wstring>& texts);

// Pixels of the progress fill in the middle row of the track.
int ProgressFillWidth(const testing_support::Screenshot& shot);
// The primary button is drawn enabled (accent, hovered or not).
bool ButtonLooksEnabled(const testing_support::Screenshot& shot);

class SetupFlowTest : public install_testing::SequenceTest {
  protected:
    static constexpr const char* kListPath = "/releases/latest.json";
    static constexpr const char* kNotes = "Quicker start & smaller clips.";

    void SetUp() override;
    void TearDown() override;

    // Serves a release list naming version, the package at packagePath on
    // this test's server and sha256 ("sha256" left out when empty).
    void ServeList(const std::string& version, const std::string& packagePath,
                   const std::string& sha256);
    // Serves the release's package (package's body and settings, the zip of
    // the release when the body is empty) and a list that names it with its
    // checksum. Returns the package's path on the server.
    std::string ServeRelease(const install_testing::TestRelease& release,
                             testing_support::ScriptedResponse package = {});
    // ServeRelease with the list signed with key (the build of test-key/
    // trusts both test keys).
    std::string ServeSigned(const install_testing::TestRelease& release,
                            testing_support::TestKey key = testing_support::TestKey::First);
    int RequestsFor(const std::string& path) const;

    // Starts this test's copy of the program with "--feed <list URL>" and
    // arguments, and waits for its window.
    void StartSetup(const std::wstring& arguments = L"");
    // Takes the running program with this id as the one under test.
    void AttachTo(DWORD processId);
    // Runs the installed setup copy with the registered "UninstallString",
    // as the list of installed apps does; that copy hands over to the
    // temporary uninstall copy and ends with 0, and the temporary copy
    // becomes the program under test once its window shows.
    void StartRegisteredUninstall();

    std::vector<testing_support::DrawnText> Drawn() const;
    // The text the window drew last inside rect; none when nothing was drawn
    // there yet.
    std::optional<std::wstring> Shown(const RECT& rect) const;
    // Waits until the text the window drew last inside rect is text.
    bool WaitUntilShown(const RECT& rect, const std::wstring& text,
                        DWORD timeoutMs = kFlowTimeoutMs) const;

    // Saves a picture of the window as build output (build/test/screenshots,
    // named after the test and phase) and reads it back.
    testing_support::Screenshot Shot(const std::string& phase);

    // A key pressed on the window ("Return", "Escape").
    void PressKey(const std::string& key);
    // A left click at a point of the window's client area.
    void Click(POINT client);
    void ClickPrimaryButton();

    // Waits until one package file in the temporary folder holds at least
    // bytes; fails the test when none does in time.
    bool WaitForDownloadedBytes(std::uintmax_t bytes) const;

    // Waits for the program under test to end; its exit code, or STILL_ACTIVE.
    DWORD WaitForSetupExit(DWORD timeoutMs = kFlowTimeoutMs);

    // The one process running from path, waiting up to timeoutMs for it; 0 when none.
    static DWORD WaitForProcess(const std::wstring& imagePath, DWORD timeoutMs = kFlowTimeoutMs);

    testing_support::TempFolder folder_;
    const std::wstring exe_ = folder_ / L"MovoraSetup.exe";
    const std::wstring log_ = folder_ / L"text.log";
    testing_support::StartedProcess setup_;
    HWND window_ = nullptr;

  private:
    static void EndUninstallCopies();
};

} // namespace e2e_testing
