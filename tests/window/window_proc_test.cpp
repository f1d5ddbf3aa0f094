// The window procedure with real windows on the test thread: creation by mode,
// the primary action table, keys, clicks, hover, dragging, DPI changes and the
// update-mode launch. Real input comes from xdotool on the virtual display.
#include "shell/worker_thread.h"
#include "shell/jobs.h"
#include "shell/window/hit_test.h"
#include "shell/window/paint.h"
#include "shell/window/palette.h"
#include "shell/window/primary_action.h"
#include "shell/window/window_proc.h"
#include "tests/support/canvas.h"
#include "tests/support/test_support.h"
#include "tests/support/x_input.h"
#include "tests/window/window_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <ostream>
#include <vector>

namespace fs = std::filesystem;
using namespace testing_support;
using namespace window_testing;

namespace {

constexpr const wchar_t* kServerError = L"The server returned an error.";

// ---------------------------------------------------------------------------
// Plain helpers.

TEST(PointInRectTest, IncludesLeftAndTopEdgesAndExcludesRightAndBottom) {
    const RECT r{10, 20, 30, 40};
    struct Case {
        POINT point;
        bool inside;
    };
    for (const Case& c :
         {Case{{10, 20}, true}, Case{{29, 39}, true}, Case{{30, 25}, false}, Case{{15, 40}, false},
          Case{{9, 25}, false}, Case{{15, 19}, false}, Case{{-5, -5}, false}}) {
        EXPECT_EQ(PointInRect(r, c.point), c.inside) << c.point.x << "," << c.point.y;
    }
    EXPECT_FALSE(PointInRect(RECT{}, POINT{0, 0})) << "an empty rectangle holds nothing";
}

TEST(ParentFolderTest, DropsTheLastComponent) {
    struct Case {
        const wchar_t* path;
        const wchar_t* folder;
    };
    for (const Case& c :
         {Case{L"C:\\Users\\a\\AppData\\Local\\Movora\\app\\Movora.exe",
               L"C:\\Users\\a\\AppData\\Local\\Movora\\app"},
          Case{L"C:/apps/Movora.exe", L"C:/apps"}, Case{L"C:\\Movora.exe", L"C:\\"},
          Case{L"\\\\server\\share\\Movora.exe", L"\\\\server\\share"}, Case{L"Movora.exe", L""}}) {
        EXPECT_EQ(ParentFolder(c.path), c.folder) << Narrow(c.path);
    }
}

// ---------------------------------------------------------------------------
// Creation by mode.

TEST_F(SetupWindowTest, InstallModeChecksTheReleaseOnCreation) {
    CreateSetupWindow(WindowMode::Install);
    EXPECT_EQ(g_app.window, window_);
    EXPECT_EQ(g_app.dpi, 96u);
    EXPECT_NE(g_app.titleFont, nullptr);
    EXPECT_NE(g_app.buttonFont, nullptr);
    EXPECT_EQ(RequestsFor(kFeedPath), 1);
    EXPECT_EQ(RequestsFor(kPackagePath), 0);
    const Status status = CurrentStatus();
    EXPECT_EQ(status.phase, Ready);
    EXPECT_EQ(status.message, L"Ready to install.");
}

TEST_F(SetupWindowTest, UpdateModeInstallsAtOnceOnCreation) {
    CreateSetupWindow(WindowMode::Update);
    EXPECT_EQ(RequestsFor(kFeedPath), 1);
    EXPECT_EQ(RequestsFor(kPackagePath), 1);
    const Status status = CurrentStatus();
    EXPECT_EQ(status.phase, Failed);
    EXPECT_EQ(status.message, kServerError);
}

TEST_F(SetupWindowTest, UninstallModeWaitsAtReadyWithAnEmptyStatusLine) {
    CreateSetupWindow(WindowMode::Uninstall);
    EXPECT_EQ(server_.Requests().size(), 0u);
    EXPECT_FALSE(WorkerThreadStarted()) << "no job may start in uninstall mode";
    const Status status = CurrentStatus();
    EXPECT_EQ(status.phase, Ready);
    EXPECT_EQ(status.message, L"");
}

TEST_F(SetupWindowTest, BothModeFlagsOpenInUninstallMode) {
    g_app.updateMode = true;
    g_app.uninstallMode = true;
    CreateSetupWindow(WindowMode::Uninstall);
    g_app.updateMode = true; // CreateSetupWindow set the flags by the mode
    EXPECT_EQ(server_.Requests().size(), 0u);
    EXPECT_EQ(CurrentStatus().phase, Ready);
}

TEST_F(SetupWindowTest, DestructionClearsTheWindowAndQuitsWithCodeZero) {
    CreateSetupWindow(WindowMode::Uninstall);
    DestroyWindow(window_);
    EXPECT_EQ(g_app.window, nullptr);
    EXPECT_FALSE(WorkerThreadStarted());
    int exitCode = -1;
    ASSERT_TRUE(TakeQuitMessage(exitCode));
    EXPECT_EQ(exitCode, 0);
}

// Closing while the release list trickles in: destruction raises the cancel
// flag, waits for the job, which ends with "Cancelled.", long before the
// transfer would have finished.
TEST_F(SetupWindowTest, ClosingDuringATransferCancelsAndJoinsTheJob) {
    CreateSetupWindow(WindowMode::Install);
    ScriptedResponse slow{200, FeedDocument() + std::string(4000, ' ')};
    slow.chunkSize = 100;
    slow.pauseBetweenPiecesMs = 500; // about 20 s in all
    server_.Script(kFeedPath, slow);
    Send(WM_KEYDOWN, VK_RETURN); // Ready: the install job fetches the list again
    ASSERT_TRUE(PumpUntil([] { return CurrentStatus().message == L"Downloading"; }));
    Sleep(300);
    EXPECT_TRUE(g_app.jobActive.load());

    const ULONGLONG start = GetTickCount64();
    DestroyWindow(window_);
    EXPECT_LT(GetTickCount64() - start, 10000u) << "the job did not notice the cancel flag";
    EXPECT_FALSE(g_app.jobActive.load());
    EXPECT_FALSE(WorkerThreadStarted());
    EXPECT_EQ(CurrentStatus().phase, Failed);
    EXPECT_EQ(CurrentStatus().message, L"Cancelled.");
}

// ---------------------------------------------------------------------------
// The first job starts after the first frame: that frame already shows the
// job's first status, and the job's thread does not compete with its paint.

struct FirstFrameCase {
    const char* name;
    WindowMode mode;
    JobPhase phase;
    const wchar_t* message;
    bool startsJob;
};

void PrintTo(const FirstFrameCase& c, std::ostream* out) {
    *out << c.name;
}

class FirstPaintTest : public SetupWindowTest {
  protected:
    // Notes what the window's first WM_PAINT draws and whether a job had
    // started by then, then passes every message on.
    static LRESULT CALLBACK WatchingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_PAINT && !painted_) {
            painted_ = true;
            firstFrame_ = TakePaintInputs();
            startedBeforeThePaint_ = WorkerThreadStarted();
        }
        return CallWindowProcW(original_, window, message, wParam, lParam);
    }

    void WatchTheFirstPaint() {
        painted_ = false;
        original_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WatchingProc)));
    }

    static inline WNDPROC original_ = nullptr;
    static inline bool painted_ = false;
    static inline PaintInputs firstFrame_;
    static inline bool startedBeforeThePaint_ = false;
};

class FirstFrameTest : public FirstPaintTest,
                       public ::testing::WithParamInterface<FirstFrameCase> {};

// Fails where creation starts the job: the worker is there before any paint.
TEST_P(FirstFrameTest, ShowsTheFirstStatusAndStartsTheJobOnceAfterThePaint) {
    const FirstFrameCase& c = GetParam();
    SetStatus(Failed, L"Left by an earlier window.", L"");
    ASSERT_NO_FATAL_FAILURE(OpenSetupWindow(c.mode));
    EXPECT_FALSE(WorkerThreadStarted()) << "a job started before the first paint";
    EXPECT_EQ(CurrentStatus().phase, c.phase);
    EXPECT_EQ(CurrentStatus().message, c.message);

    WatchTheFirstPaint();
    UpdateWindow(window_);
    ASSERT_TRUE(painted_);
    EXPECT_EQ(firstFrame_.phase, c.phase);
    EXPECT_EQ(firstFrame_.statusMessage, c.message);
    EXPECT_FALSE(startedBeforeThePaint_);
    EXPECT_EQ(WorkerThreadStarted(), c.startsJob) << "the first paint starts the first job";

    // Later paints, and the time for the creation's timer to have fired,
    // start nothing more.
    ASSERT_TRUE(WaitForJobEnd());
    InvalidateRect(window_, nullptr, FALSE);
    UpdateWindow(window_);
    PumpFor(200);
    EXPECT_FALSE(g_app.jobActive.load());
    EXPECT_EQ(RequestsFor(kFeedPath), c.startsJob ? 1 : 0);
    if (c.mode == WindowMode::Install) {
        EXPECT_EQ(CurrentStatus().message, L"Ready to install.");
    } else if (c.mode == WindowMode::Update) {
        EXPECT_EQ(RequestsFor(kPackagePath), 1);
        EXPECT_EQ(CurrentStatus().message, kServerError);
    }
}

// A window with nothing to paint, started hidden or minimised, starts its job
// all the same, and once: being shown and painted later starts no second one.
TEST_F(FirstPaintTest, AWindowNeverPaintedStillChecksOnce) {
    for (const DWORD style : {DWORD{0}, DWORD{WS_VISIBLE | WS_MINIMIZE}}) {
        const int before = RequestsFor(kFeedPath);
        ASSERT_NO_FATAL_FAILURE(OpenSetupWindow(WindowMode::Install, style));
        WatchTheFirstPaint();
        ASSERT_TRUE(PumpUntil([] { return WorkerThreadStarted(); })) << "style " << style;
        EXPECT_FALSE(painted_) << "style " << style;
        ASSERT_TRUE(WaitForJobEnd());
        EXPECT_EQ(CurrentStatus().message, L"Ready to install.");

        ShowWindow(window_, SW_SHOWNORMAL);
        UpdateWindow(window_);
        PumpFor(200);
        EXPECT_FALSE(g_app.jobActive.load());
        EXPECT_EQ(RequestsFor(kFeedPath) - before, 1) << "style " << style;
        DestroyWindow(window_);
        int exitCode = -1;
        EXPECT_TRUE(TakeQuitMessage(exitCode));
    }
}

// Closed before its first paint, the window ran no job: nothing was asked of
// the server, no worker is left, and the status is still the first one, not
// "Cancelled.". Fails where creation starts the job.
TEST_P(FirstFrameTest, ClosingBeforeThePaintLeavesNoJob) {
    const FirstFrameCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(OpenSetupWindow(c.mode));
    DestroyWindow(window_);
    EXPECT_EQ(g_app.window, nullptr);
    int exitCode = -1;
    EXPECT_TRUE(TakeQuitMessage(exitCode));
    EXPECT_EQ(exitCode, 0);
    PumpFor(200);
    EXPECT_FALSE(WorkerThreadStarted());
    EXPECT_EQ(CurrentStatus().phase, c.phase);
    EXPECT_EQ(CurrentStatus().message, c.message);
    EXPECT_EQ(server_.Requests().size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FirstFrameTest,
    ::testing::Values(FirstFrameCase{"Install", WindowMode::Install, Checking,
                                     L"Looking up the current version.", true},
                      FirstFrameCase{"Update", WindowMode::Update, Working, L"Downloading", true},
                      FirstFrameCase{"Uninstall", WindowMode::Uninstall, Ready, L"", false}),
    [](const ::testing::TestParamInfo<FirstFrameCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// The primary action, cell by cell: the effect is seen in what the started
// job does (the requests it makes, the status it ends with) or in the window
// going away.

struct ActionCase {
    const char* name;
    WindowMode mode;
    JobPhase phase;
    bool hasPackage;
    PrimaryEffect effect;
};

void PrintTo(const ActionCase& c, std::ostream* out) {
    *out << c.name;
}

class PrimaryActionTest : public SetupWindowTest,
                          public ::testing::WithParamInterface<ActionCase> {};

TEST_P(PrimaryActionTest, EnterActsByModeAndPhase) {
    const ActionCase& c = GetParam();
    EXPECT_EQ(ChoosePrimaryEffect(c.mode, c.phase, c.hasPackage), c.effect);

    CreateSetupWindow(c.mode);
    const int feedBefore = RequestsFor(kFeedPath);
    const int packageBefore = RequestsFor(kPackagePath);
    // The app path names nothing, so "Open Movora" starts nothing here.
    {
        StatusGuard lock(g_app.statusMutex);
        g_app.appExePath = L"C:\\nowhere\\Movora.exe";
    }
    SetStatus(c.phase, L"Marker.", c.hasPackage ? PackageUrl() : L"");
    Send(WM_KEYDOWN, VK_RETURN);
    ASSERT_TRUE(WaitForJobEnd());

    const Status status = CurrentStatus();
    const int feedRequests = RequestsFor(kFeedPath) - feedBefore;
    const int packageRequests = RequestsFor(kPackagePath) - packageBefore;
    switch (c.effect) {
    case PrimaryEffect::Nothing:
        EXPECT_TRUE(WindowAlive());
        EXPECT_EQ(status.phase, c.phase);
        EXPECT_EQ(status.message, L"Marker.");
        EXPECT_EQ(feedRequests + packageRequests, 0);
        break;
    case PrimaryEffect::StartCheck:
        EXPECT_EQ(status.phase, Ready);
        EXPECT_EQ(status.message, L"Ready to install.");
        EXPECT_EQ(feedRequests, 1);
        EXPECT_EQ(packageRequests, 0);
        break;
    case PrimaryEffect::StartInstall:
        EXPECT_EQ(status.phase, Failed);
        EXPECT_EQ(status.message, kServerError);
        EXPECT_EQ(feedRequests, 1);
        EXPECT_EQ(packageRequests, 1);
        break;
    case PrimaryEffect::StartUninstall:
        EXPECT_EQ(status.phase, Done);
        EXPECT_EQ(status.message, L"Movora has been removed.");
        EXPECT_EQ(feedRequests + packageRequests, 0);
        break;
    case PrimaryEffect::OpenAppAndClose:
    case PrimaryEffect::Close:
        EXPECT_FALSE(WindowAlive());
        EXPECT_EQ(g_app.window, nullptr);
        EXPECT_EQ(feedRequests + packageRequests, 0);
        break;
    }
    if (c.effect != PrimaryEffect::OpenAppAndClose && c.effect != PrimaryEffect::Close) {
        EXPECT_TRUE(WindowAlive());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrimaryActionTest,
    ::testing::Values(
        ActionCase{"InstallChecking", WindowMode::Install, Checking, false, PrimaryEffect::Nothing},
        ActionCase{"InstallReady", WindowMode::Install, Ready, true, PrimaryEffect::StartInstall},
        ActionCase{"InstallWorking", WindowMode::Install, Working, true, PrimaryEffect::Nothing},
        ActionCase{"InstallDone", WindowMode::Install, Done, true, PrimaryEffect::OpenAppAndClose},
        ActionCase{"InstallFailedWithPackage", WindowMode::Install, Failed, true,
                   PrimaryEffect::StartInstall},
        ActionCase{"InstallFailedWithoutPackage", WindowMode::Install, Failed, false,
                   PrimaryEffect::StartCheck},
        ActionCase{"UpdateChecking", WindowMode::Update, Checking, false, PrimaryEffect::Nothing},
        ActionCase{"UpdateReady", WindowMode::Update, Ready, true, PrimaryEffect::StartInstall},
        ActionCase{"UpdateWorking", WindowMode::Update, Working, true, PrimaryEffect::Nothing},
        ActionCase{"UpdateDone", WindowMode::Update, Done, true, PrimaryEffect::OpenAppAndClose},
        ActionCase{"UpdateFailedWithPackage", WindowMode::Update, Failed, true,
                   PrimaryEffect::StartInstall},
        ActionCase{"UpdateFailedWithoutPackage", WindowMode::Update, Failed, false,
                   PrimaryEffect::StartCheck},
        ActionCase{"UninstallChecking", WindowMode::Uninstall, Checking, false,
                   PrimaryEffect::Nothing},
        ActionCase{"UninstallReady", WindowMode::Uninstall, Ready, false,
                   PrimaryEffect::StartUninstall},
        ActionCase{"UninstallWorking", WindowMode::Uninstall, Working, false,
                   PrimaryEffect::Nothing},
        ActionCase{"UninstallDone", WindowMode::Uninstall, Done, false, PrimaryEffect::Close},
        ActionCase{"UninstallFailed", WindowMode::Uninstall, Failed, true,
                   PrimaryEffect::StartUninstall}),
    [](const ::testing::TestParamInfo<ActionCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Hit tests, clicks and keys.

TEST_F(SetupWindowTest, OnlyTheTopBandOutsideTheButtonsDragsTheWindow) {
    CreateSetupWindow(WindowMode::Install);
    struct Case {
        POINT client;
        LRESULT expected;
    };
    const auto hitAt = [this](POINT client) {
        POINT screen = client;
        ClientToScreen(window_, &screen);
        return Send(WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
    };
    for (const Case& c :
         {Case{{100, 0}, HTCAPTION}, Case{{100, 47}, HTCAPTION}, Case{{100, 48}, HTCLIENT},
          Case{{439, 10}, HTCAPTION}, Case{{440, 10}, HTCLIENT}, Case{{479, 39}, HTCLIENT},
          Case{{460, 45}, HTCAPTION}, Case{{30, 500}, HTCLIENT}, Case{{300, 300}, HTCLIENT},
          Case{{0, 559}, HTCLIENT}}) {
        EXPECT_EQ(hitAt(c.client), c.expected) << c.client.x << "," << c.client.y;
    }
}

TEST_F(SetupWindowTest, HitTestReadsNegativeScreenCoordinates) {
    CreateSetupWindow(WindowMode::Install);
    // Put the window partly off the left edge of the screen.
    SetWindowPos(window_, nullptr, -200, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    POINT screen{-150, 10}; // client x 50, in the band
    EXPECT_EQ(Send(WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y)), HTCAPTION);
    POINT onClose{-200 + 450, 10};
    EXPECT_EQ(Send(WM_NCHITTEST, 0, MAKELPARAM(onClose.x, onClose.y)), HTCLIENT);
}

TEST_F(SetupWindowTest, ReleaseOnTheCloseBoxClosesAndElsewhereDoesNothing) {
    CreateSetupWindow(WindowMode::Install);
    // Outside both rectangles, and on the excluded right edge of the button.
    for (POINT p : {POINT{300, 300}, POINT{176, 510}, POINT{100, 20}}) {
        Send(WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
        EXPECT_TRUE(WindowAlive());
    }
    EXPECT_EQ(server_.Requests().size(), 1u) << "no job may have started";
    Send(WM_LBUTTONUP, 0, MAKELPARAM(440, 0));
    EXPECT_FALSE(WindowAlive());
}

TEST_F(SetupWindowTest, ReleaseOnADisabledButtonDoesNothing) {
    CreateSetupWindow(WindowMode::Install);
    SetStatus(Working, L"Downloading", PackageUrl());
    Send(WM_LBUTTONUP, 0, MAKELPARAM(30, 500));
    EXPECT_FALSE(g_app.jobActive.load());
    EXPECT_EQ(server_.Requests().size(), 1u);
    EXPECT_EQ(CurrentStatus().message, L"Downloading");
}

TEST_F(SetupWindowTest, OtherKeysDoNothingAndEscapeCloses) {
    CreateSetupWindow(WindowMode::Install);
    // Space is not among them: it presses the button when it comes up.
    for (WPARAM key : {WPARAM{'I'}, WPARAM{VK_TAB}, WPARAM{VK_SHIFT}}) {
        Send(WM_KEYDOWN, key);
    }
    EXPECT_TRUE(WindowAlive());
    EXPECT_EQ(CurrentStatus().phase, Ready);
    Send(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_FALSE(WindowAlive());
}

TEST_F(SetupWindowTest, TheSystemCloseCommandDestroysTheWindow) {
    CreateSetupWindow(WindowMode::Install);
    Send(WM_CLOSE);
    EXPECT_FALSE(WindowAlive());
    int exitCode = -1;
    EXPECT_TRUE(TakeQuitMessage(exitCode));
    EXPECT_EQ(exitCode, 0);
}

// ---------------------------------------------------------------------------
// Hover: which moves change a highlight, and so ask for a repaint.

TEST_F(SetupWindowTest, OnlyMovesThatChangeAHighlightRepaint) {
    CreateSetupWindow(WindowMode::Install);
    struct Move {
        POINT point;
        bool primary, close, repaint;
    };
    const Move moves[] = {
        {{300, 300}, false, false, false}, // nothing hovered before or after
        {{30, 500}, true, false, true},    // onto the button
        {{100, 520}, true, false, false},  // within it
        {{175, 531}, true, false, false},  // its last pixel
        {{176, 531}, false, false, true},  // off it by one pixel
        {{470, 5}, false, true, true},     // onto the close box
        {{30, 500}, true, false, true},    // straight onto the button
    };
    for (const Move& m : moves) {
        SendMessageW(window_, WM_MOUSEMOVE, 0, MAKELPARAM(m.point.x, m.point.y));
        RECT update{};
        const bool invalidated = GetUpdateRect(window_, &update, FALSE) != FALSE;
        EXPECT_EQ(g_app.primaryHover, m.primary) << m.point.x << "," << m.point.y;
        EXPECT_EQ(g_app.closeHover, m.close) << m.point.x << "," << m.point.y;
        EXPECT_EQ(invalidated, m.repaint) << m.point.x << "," << m.point.y;
        if (invalidated) {
            EXPECT_EQ(update, (RECT{0, 0, 480, 560})) << "the whole window is repainted";
        }
        UpdateWindow(window_);
    }
    Send(WM_MOUSELEAVE);
    EXPECT_FALSE(g_app.primaryHover);
    EXPECT_FALSE(g_app.closeHover);
}

// With the real pointer: hovering lights the button up on screen, and leaving
// the window, however fast, clears the highlight through the leave message.
TEST_F(SetupWindowTest, TheRealPointerLightsTheButtonAndLeavingClearsIt) {
    CreateSetupWindow(WindowMode::Install);
    ASSERT_TRUE(RunXdotool("mousemove " + ScreenArgs(window_, POINT{60, 510})));
    ASSERT_TRUE(PumpUntil([] { return g_app.primaryHover; }));
    PumpFor(100);
    Canvas screen(480, 560);
    ASSERT_TRUE(screen.CopyFromWindow(window_));
    EXPECT_EQ(screen.Pixel(29, 497), colours::kAccentHover);

    ASSERT_TRUE(RunXdotool("mousemove 900 700")); // far outside, in one jump
    ASSERT_TRUE(PumpUntil([] { return !g_app.primaryHover; }));
    PumpFor(100);
    ASSERT_TRUE(screen.CopyFromWindow(window_));
    EXPECT_EQ(screen.Pixel(29, 497), colours::kAccent);
    EXPECT_FALSE(g_app.closeHover);
}

TEST_F(SetupWindowTest, ARealClickOnInstallStartsTheInstallJob) {
    CreateSetupWindow(WindowMode::Install);
    ASSERT_TRUE(RunXdotool("mousemove " + ScreenArgs(window_, POINT{100, 514}) + " click 1"));
    ASSERT_TRUE(PumpUntil([this] { return RequestsFor(kPackagePath) == 1; }));
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(CurrentStatus().message, kServerError);
}

TEST_F(SetupWindowTest, ARealEnterKeyStartsTheInstallJob) {
    CreateSetupWindow(WindowMode::Install);
    ASSERT_NE(XWindowOf(window_), 0u);
    ASSERT_TRUE(RunXdotool("key --window " + std::to_string(XWindowOf(window_)) + " Return"));
    ASSERT_TRUE(PumpUntil([this] { return RequestsFor(kPackagePath) == 1; }));
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(CurrentStatus().phase, Failed);
}

TEST_F(SetupWindowTest, ARealEscapeKeyCloses) {
    CreateSetupWindow(WindowMode::Install);
    ASSERT_TRUE(RunXdotool("key --window " + std::to_string(XWindowOf(window_)) + " Escape"));
    EXPECT_TRUE(PumpUntil([this] { return !WindowAlive(); }));
}

// ---------------------------------------------------------------------------
// Enter and Space as a Windows button takes them: Enter acts on its press,
// Space on its release after its own press, and neither on auto-repeat.

// One step of the keyboard: a key message as the system builds it (repeat
// count 1, the key's scan code, bit 30 when the key was already down, bit 31
// on a release), or the keyboard focus going to another window and back.
struct KeyStep {
    UINT message; // WM_KEYDOWN, WM_KEYUP, or 0 for the focus step
    WPARAM key;
    bool wasDown;
};
constexpr KeyStep kEnterDown{WM_KEYDOWN, VK_RETURN, false};
constexpr KeyStep kEnterRepeat{WM_KEYDOWN, VK_RETURN, true};
constexpr KeyStep kSpaceDown{WM_KEYDOWN, VK_SPACE, false};
constexpr KeyStep kSpaceRepeat{WM_KEYDOWN, VK_SPACE, true};
constexpr KeyStep kSpaceUp{WM_KEYUP, VK_SPACE, true};
constexpr KeyStep kFocusAway{0, 0, false};

struct KeyCase {
    const char* name;
    std::vector<KeyStep> steps;
    std::vector<int> actionsAfterEachStep;
};

void PrintTo(const KeyCase& c, std::ostream* out) {
    *out << c.name;
}

class KeyTest : public SetupWindowTest, public ::testing::WithParamInterface<KeyCase> {
  protected:
    void Take(const KeyStep& step) {
        if (step.message != 0) {
            const LPARAM scan =
                static_cast<LPARAM>(MapVirtualKeyW(static_cast<UINT>(step.key), MAPVK_VK_TO_VSC));
            Send(step.message, step.key,
                 1 | (scan << 16) | (step.wasDown ? LPARAM{1} << 30 : 0) |
                     (step.message == WM_KEYUP ? LPARAM{1} << 31 : 0));
            return;
        }
        // A real second window takes the keyboard, then gives it back.
        HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 500, 0, 50, 50,
                                     nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(other, nullptr);
        SetActiveWindow(other);
        EXPECT_NE(GetFocus(), window_);
        SetActiveWindow(window_);
        EXPECT_EQ(GetFocus(), window_);
        DestroyWindow(other);
    }
};

TEST_P(KeyTest, ThePrimaryButtonActsOncePerPressAsAWindowsButtonDoes) {
    const KeyCase& c = GetParam();
    ASSERT_EQ(c.steps.size(), c.actionsAfterEachStep.size());
    CreateSetupWindow(WindowMode::Install);
    ASSERT_EQ(GetFocus(), window_);
    // "Try again" after a failed check: each action starts one check, which
    // reads the release list once. The status is put back after every step,
    // so a second action would be seen as a second request.
    const int before = RequestsFor(kFeedPath);
    for (size_t i = 0; i < c.steps.size(); ++i) {
        SetStatus(Failed, L"Marker.", L"");
        ASSERT_NO_FATAL_FAILURE(Take(c.steps[i]));
        ASSERT_TRUE(WaitForJobEnd());
        EXPECT_EQ(RequestsFor(kFeedPath) - before, c.actionsAfterEachStep[i]) << "after step " << i;
    }
    EXPECT_TRUE(WindowAlive());
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, KeyTest,
    ::testing::Values(
        KeyCase{"EnterActsOnItsPress", {kEnterDown}, {1}},
        KeyCase{"EnterHeldActsOnce", {kEnterDown, kEnterRepeat, kEnterRepeat}, {1, 1, 1}},
        KeyCase{"EnterHeldSinceAnotherWindowDoesNothing", {kEnterRepeat}, {0}},
        KeyCase{"SpaceActsOnItsRelease", {kSpaceDown, kSpaceUp}, {0, 1}},
        KeyCase{"SpaceHeldActsOnceOnRelease",
                {kSpaceDown, kSpaceRepeat, kSpaceRepeat, kSpaceUp},
                {0, 0, 0, 1}},
        KeyCase{"SpaceReleasedWithoutAPressDoesNothing", {kSpaceUp}, {0}},
        KeyCase{"SpaceHeldSinceAnotherWindowDoesNothing", {kSpaceRepeat, kSpaceUp}, {0, 0}},
        KeyCase{"SpacePressEndsWithTheFocus", {kSpaceDown, kFocusAway, kSpaceUp}, {0, 0, 0}},
        KeyCase{"TwoSpacePressesActTwice",
                {kSpaceDown, kSpaceUp, kSpaceUp, kSpaceDown, kSpaceUp},
                {0, 1, 1, 1, 2}}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

TEST_F(SetupWindowTest, ARealSpaceActsWhenItIsReleased) {
    CreateSetupWindow(WindowMode::Install);
    const std::string target = "--window " + std::to_string(XWindowOf(window_));
    ASSERT_TRUE(RunXdotool("keydown " + target + " space"));
    PumpFor(500);
    EXPECT_EQ(RequestsFor(kPackagePath), 0) << "Space acted on its press";
    ASSERT_TRUE(RunXdotool("keyup " + target + " space"));
    ASSERT_TRUE(PumpUntil([this] { return RequestsFor(kPackagePath) == 1; }));
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(CurrentStatus().phase, Failed);
}

TEST_F(SetupWindowTest, DraggingTheTopBandMovesTheWindowAndTheCloseBoxDoesNot) {
    CreateSetupWindow(WindowMode::Install);
    RECT before{};
    GetWindowRect(window_, &before);
    ASSERT_TRUE(RunXdotool("mousemove " + ScreenArgs(window_, POINT{200, 20}) +
                           " mousedown 1 mousemove 260 60 mousemove 300 100 mouseup 1"));
    ASSERT_TRUE(PumpUntil([this, &before] {
        RECT now{};
        GetWindowRect(window_, &now);
        return now.left != before.left;
    }));
    PumpFor(200);
    RECT after{};
    GetWindowRect(window_, &after);
    EXPECT_EQ(after.left - before.left, 100);
    EXPECT_EQ(after.top - before.top, 80);
    EXPECT_TRUE(WindowAlive());

    // Pressed on the close box, dragged off it and released: neither a move
    // nor a close.
    ASSERT_TRUE(RunXdotool("mousemove " + ScreenArgs(window_, POINT{460, 20}) +
                           " mousedown 1 mousemove " + ScreenArgs(window_, POINT{300, 25}) +
                           " mouseup 1"));
    PumpFor(300);
    RECT still{};
    GetWindowRect(window_, &still);
    EXPECT_EQ(still, after);
    EXPECT_TRUE(WindowAlive());

    // A plain click on it closes.
    ASSERT_TRUE(RunXdotool("mousemove " + ScreenArgs(window_, POINT{460, 20}) + " click 1"));
    EXPECT_TRUE(PumpUntil([this] { return !WindowAlive(); }));
}

// ---------------------------------------------------------------------------
// DPI changes.

TEST_F(SetupWindowTest, ADpiChangeRescalesFontsRectanglesAndTheWindow) {
    CreateSetupWindow(WindowMode::Install);
    const RECT suggested{50, 40, 50 + 960, 40 + 1120};
    Send(WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));

    EXPECT_EQ(g_app.dpi, 192u);
    RECT rect{};
    GetWindowRect(window_, &rect);
    EXPECT_EQ(rect, suggested);
    LOGFONTW body{};
    ASSERT_NE(GetObjectW(g_app.bodyFont, sizeof(body), &body), 0);
    EXPECT_EQ(body.lfHeight, -30);
    LOGFONTW title{};
    ASSERT_NE(GetObjectW(g_app.titleFont, sizeof(title), &title), 0);
    EXPECT_EQ(title.lfHeight, -64);

    UpdateWindow(window_);
    EXPECT_EQ(g_app.closeButtonRect, (RECT{880, 0, 960, 80}));
    EXPECT_EQ(g_app.primaryButtonRect, (RECT{56, 992, 352, 1064}));
    POINT band{100, 95};
    ClientToScreen(window_, &band);
    EXPECT_EQ(Send(WM_NCHITTEST, 0, MAKELPARAM(band.x, band.y)), HTCAPTION);
    POINT below{100, 96};
    ClientToScreen(window_, &below);
    EXPECT_EQ(Send(WM_NCHITTEST, 0, MAKELPARAM(below.x, below.y)), HTCLIENT);
}

// ---------------------------------------------------------------------------
// Status notifications: a burst of reports while the window is busy is one
// message, and what the window paints last is the last status.

class NotificationTest : public SetupWindowTest {
  protected:
    // Counts what reaches the setup window procedure, then passes it on.
    static LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_STATUS_CHANGED) {
            ++statusMessages_;
        } else if (message == WM_PAINT) {
            ++paints_;
        }
        return CallWindowProcW(original_, window, message, wParam, lParam);
    }

    void CountMessages() {
        statusMessages_ = 0;
        paints_ = 0;
        original_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
    }

    // The window on screen shows exactly what a paint of the current status
    // draws, with the progress fill of percent.
    void ExpectScreenShowsTheStatus(int percent) {
        Canvas screen(480, 560);
        ASSERT_TRUE(screen.CopyFromWindow(window_));
        Canvas expected(480, 560);
        DrawWindowContents(expected.dc(), 480, 560, TakePaintInputs());
        EXPECT_TRUE(screen.SameAs(expected, RECT{0, 0, 480, 560}));
        EXPECT_EQ(screen.Count(RECT{28, 428, 452, 432}, colours::kAccent), 424 * percent / 100 * 4);
    }

    static inline WNDPROC original_ = nullptr;
    static inline int statusMessages_ = 0;
    static inline int paints_ = 0;
};

TEST_F(NotificationTest, ABurstWhileTheWindowIsBusyIsOneMessageAndOnePaint) {
    CreateSetupWindow(WindowMode::Install);
    PumpFor(100);
    CountMessages();
    std::thread worker([] {
        SetJobResult(Working, L"Downloading");
        for (int i = 0; i < 5000; ++i) {
            SetJobProgress(L"Downloading", i % 100);
        }
        SetJobProgress(L"Checking the download", 73);
    });
    worker.join(); // this thread takes no message meanwhile
    PumpFor(300);
    EXPECT_EQ(statusMessages_, 1);
    EXPECT_EQ(paints_, 1);
    ExpectScreenShowsTheStatus(73);

    // The next report after the window took the message posts again.
    SetJobProgress(L"Installing", 100);
    PumpFor(300);
    EXPECT_EQ(statusMessages_, 2);
    ExpectScreenShowsTheStatus(100);
}

// While reports keep coming, the window takes a notification at most once per
// interval, so the worker posts and the window paints about that often.
TEST_F(NotificationTest, ReportsDuringALivePumpEndWithTheLastStatusOnScreen) {
    CreateSetupWindow(WindowMode::Install);
    PumpFor(100);
    CountMessages();
    const ULONGLONG start = GetTickCount64();
    std::atomic<bool> finished{false};
    std::thread worker([&finished] {
        SetJobResult(Working, L"Downloading");
        // About a second of reports, one every millisecond or so, as a fast
        // download makes them.
        for (int i = 0; i < 1000; ++i) {
            SetJobProgress(L"Downloading", i % 100);
            Sleep(1);
        }
        SetJobProgress(L"Downloading", 37);
        finished = true;
    });
    PumpUntil([&finished] { return finished.load(); }, 60000);
    worker.join();
    PumpFor(300);
    const ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_GE(statusMessages_, 1);
    EXPECT_LE(static_cast<ULONGLONG>(statusMessages_), elapsed / kStatusIntervalMs + 1)
        << "in " << elapsed << " ms";
    EXPECT_LE(paints_, statusMessages_);
    ExpectScreenShowsTheStatus(37);
}

// ---------------------------------------------------------------------------
// Starting the app: from its own folder, and in update mode without a click.

class AppLaunchTest : public SetupWindowTest {
  protected:
    void SetUp() override {
        SetupWindowTest::SetUp();
        appExe_ = folder_ / L"app\\Movora.exe";
        fs::create_directories(folder_ / L"app");
        ASSERT_TRUE(CopyFileW(BuiltProgram(L"Movora.exe").c_str(), appExe_.c_str(), FALSE));
        // No pipe: the stand-in must not answer for an installed app.
        WriteFileBytes(folder_ / L"app\\Movora.variant", "no-pipe\n");
    }
    void TearDown() override {
        for (DWORD id : FindProcessesByImage(appExe_)) {
            KillProcess(id);
        }
        SetupWindowTest::TearDown();
    }

    void SetInstalledApp(const std::wstring& path) {
        StatusGuard lock(g_app.statusMutex);
        g_app.appExePath = path;
    }
    // The started app, waiting up to timeoutMs; 0 when none is running.
    DWORD StartedApp(DWORD timeoutMs) {
        std::vector<DWORD> ids;
        PumpUntil(
            [&] {
                ids = FindProcessesByImage(appExe_);
                return !ids.empty();
            },
            timeoutMs);
        return ids.empty() ? 0 : ids.front();
    }

    TempFolder folder_;
    std::wstring appExe_;
};

TEST_F(AppLaunchTest, OpenMovoraStartsTheAppFromItsFolderAndCloses) {
    CreateSetupWindow(WindowMode::Install);
    SetInstalledApp(appExe_);
    SetJobResult(Done, L"Movora is installed.");
    PumpFor(100);
    ASSERT_TRUE(RunXdotool("mousemove " + ScreenArgs(window_, POINT{100, 514}) + " click 1"));
    ASSERT_TRUE(PumpUntil([this] { return !WindowAlive(); }));
    const DWORD app = StartedApp(15000);
    ASSERT_NE(app, 0u);
    EXPECT_EQ(fs::path(GetProcessCurrentDirectory(app)), fs::path(folder_ / L"app\\"));
    EXPECT_EQ(GetProcessCommandLine(app).find(L"--"), std::wstring::npos)
        << "the app is started without parameters";
}

TEST_F(AppLaunchTest, UpdateModeStartsTheNewAppOnceAndClosesWithoutAClick) {
    CreateSetupWindow(WindowMode::Update); // its own install job fails: no app yet
    EXPECT_TRUE(WindowAlive());
    SetInstalledApp(appExe_);
    SetJobResult(Done, L"Movora is installed.");
    ASSERT_TRUE(PumpUntil([this] { return !WindowAlive(); }));
    EXPECT_TRUE(g_app.appLaunched);
    const DWORD app = StartedApp(15000);
    ASSERT_NE(app, 0u);
    EXPECT_EQ(fs::path(GetProcessCurrentDirectory(app)), fs::path(folder_ / L"app\\"));
    PumpFor(500);
    EXPECT_EQ(FindProcessesByImage(appExe_).size(), 1u) << "the app was started twice";
}

// Done right behind a burst of progress, while the window waits out the
// interval: the waiting notification still sees Done and launches.
TEST_F(AppLaunchTest, UpdateModeLaunchesWhenDoneFollowsABurstOfProgress) {
    CreateSetupWindow(WindowMode::Update);
    SetInstalledApp(appExe_);
    std::thread worker([] {
        for (int i = 0; i < 2000; ++i) {
            SetJobProgress(L"Downloading", i % 100);
            if (i % 500 == 0) {
                Sleep(20);
            }
        }
        SetJobResult(Done, L"Movora is installed.");
    });
    ASSERT_TRUE(PumpUntil([this] { return !WindowAlive(); }, 20000));
    worker.join();
    EXPECT_NE(StartedApp(15000), 0u);
}

struct StaysCase {
    const char* name;
    WindowMode mode;
    JobPhase phase;
    bool withApp;
    bool launchedBefore;
};

void PrintTo(const StaysCase& c, std::ostream* out) {
    *out << c.name;
}

class WindowStaysTest : public AppLaunchTest, public ::testing::WithParamInterface<StaysCase> {};

TEST_P(WindowStaysTest, NoAutomaticLaunch) {
    const StaysCase& c = GetParam();
    CreateSetupWindow(c.mode);
    g_app.appLaunched = c.launchedBefore;
    SetInstalledApp(c.withApp ? appExe_ : L"");
    SetJobResult(c.phase, L"Some text.");
    PumpFor(500);
    EXPECT_TRUE(WindowAlive());
    EXPECT_TRUE(FindProcessesByImage(appExe_).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, WindowStaysTest,
    ::testing::Values(StaysCase{"UpdateFailed", WindowMode::Update, Failed, true, false},
                      StaysCase{"UpdateDoneWithoutAppPath", WindowMode::Update, Done, false, false},
                      StaysCase{"UpdateDoneAfterALaunch", WindowMode::Update, Done, true, true},
                      StaysCase{"InstallDone", WindowMode::Install, Done, true, false},
                      StaysCase{"UninstallDone", WindowMode::Uninstall, Done, true, false}),
    [](const ::testing::TestParamInfo<StaysCase>& info) { return info.param.name; });

} // namespace
