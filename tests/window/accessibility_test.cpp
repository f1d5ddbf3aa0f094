// The window as a screen reader finds it: this test process reads the real
// MovoraSetup.exe's accessible object from outside, as assistive technology
// does (names, roles, states, values, locations, hit tests, default actions
// and events), and holds it across the window's end.
#include "shell/app_state.h"
#include "shell/scoped.h"
#include "shell/window/accessible.h"
#include "shell/window/window_proc.h"
#include "tests/e2e/flow_fixture.h"
#include "tests/support/x_input.h"
#include "tests/window/accessible_client.h"
#include "tests/window/window_fixture.h"

#include <gtest/gtest.h>

#include <oleacc.h>

#include <algorithm>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>

using namespace testing_support;
using namespace install_testing;
using namespace e2e_testing;
using namespace accessible_client;

namespace {

// One element as the client read it; location in screen pixels.
struct Seen {
    HRESULT nameResult = E_FAIL;
    LONG role = 0;
    LONG state = 0;
    std::wstring name, value, action;
    RECT location{};
};

Seen ReadElement(IAccessible* object, LONG id) {
    Seen seen;
    BSTR text = nullptr;
    seen.nameResult = object->get_accName(Child(id), &text);
    seen.name = TakeText(text);
    VARIANT answer{};
    if (SUCCEEDED(object->get_accRole(Child(id), &answer)) && answer.vt == VT_I4) {
        seen.role = answer.lVal;
    }
    if (SUCCEEDED(object->get_accState(Child(id), &answer)) && answer.vt == VT_I4) {
        seen.state = answer.lVal;
    }
    text = nullptr;
    object->get_accValue(Child(id), &text);
    seen.value = TakeText(text);
    text = nullptr;
    object->get_accDefaultAction(Child(id), &text);
    seen.action = TakeText(text);
    long left = 0, top = 0, width = 0, height = 0;
    if (SUCCEEDED(object->accLocation(&left, &top, &width, &height, Child(id)))) {
        seen.location = RECT{left, top, left + width, top + height};
    }
    return seen;
}

// The child the object names at a screen point: a child id, CHILDID_SELF, or
// -1 when the point is outside.
LONG HitAt(IAccessible* object, POINT screen) {
    VARIANT hit{};
    const HRESULT hr = object->accHitTest(screen.x, screen.y, &hit);
    if (hr != S_OK || hit.vt != VT_I4) {
        return -1;
    }
    return hit.lVal;
}

POINT Centre(const RECT& rect) {
    return POINT{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

RECT Offset(RECT rect, POINT by) {
    OffsetRect(&rect, by.x, by.y);
    return rect;
}

// The real program under test, with COM on this thread for its object.
class AccessibilityTest : public SetupFlowTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        SetupFlowTest::SetUp();
    }
    void TearDown() override {
        SetupFlowTest::TearDown();
        CoUninitialize();
    }

    AccessiblePtr Object() const {
        IAccessible* object = nullptr;
        const HRESULT hr =
            AccessibleObjectFromWindow(window_, static_cast<DWORD>(OBJID_CLIENT), IID_IAccessible,
                                       reinterpret_cast<void**>(&object));
        EXPECT_EQ(hr, S_OK) << "no accessible object for the client area";
        return AccessiblePtr(object);
    }

    POINT WindowOrigin() const {
        POINT origin{0, 0};
        ClientToScreen(window_, &origin);
        return origin;
    }

    // Waits, pumping, until the object names text for a child.
    bool WaitForName(IAccessible* object, LONG id, const std::wstring& text,
                     DWORD timeoutMs = kFlowTimeoutMs) const {
        return PumpUntil([&] { return ReadElement(object, id).name == text; }, timeoutMs);
    }

    // Serves release, starts the program and takes its object once the
    // window says "Ready to install."; returns the package's path.
    std::string StartReady(const TestRelease& release, AccessiblePtr& object) {
        const std::string packagePath = ServeRelease(release);
        StartSetup();
        if (window_ != nullptr) {
            object = Object();
        }
        EXPECT_TRUE(object && WaitForName(object.get(), kStatusChild, L"Ready to install."))
            << "the window never became ready";
        return packagePath;
    }

    // A release whose package stops half-way for stallMs, so the window is
    // seen working; returns the package's path.
    std::string ServeStallingRelease(DWORD stallMs) {
        const TestRelease release = MakeRelease("2.1.0", Layout::Top);
        ScriptedResponse package;
        package.body = ZipBytes(release.entries);
        package.stallAfter = package.body.size() / 2;
        stallBytes_ = package.stallAfter;
        package.stallMs = stallMs;
        return ServeRelease(release, package);
    }

    // Starts the install at "Ready to install." and waits until half the
    // package is on disk, the window showing it.
    void ReachWorking(IAccessible* object) {
        ASSERT_TRUE(WaitForName(object, kStatusChild, L"Ready to install."));
        PressKey("Return");
        ASSERT_TRUE(WaitForDownloadedBytes(stallBytes_));
        ASSERT_TRUE(PumpUntil([&] { return ReadElement(object, kProgressChild).value != L"0%"; }))
            << "the progress bar never moved";
    }

    size_t stallBytes_ = 0;
};

// One phase of the window and what a screen reader must find in it.
struct TreeCase {
    const char* name;
    bool uninstall;
    JobPhase phase; // Ready, Working or Failed
    UINT dpi;
    const wchar_t* modeWord;
    const wchar_t* headline;
    const wchar_t* status;
    const wchar_t* button;
    bool enabled;
    bool versionAndNotes;
};

void PrintTo(const TreeCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr wchar_t kInstallDescription[] =
    L"This downloads the current build and sets Movora up for this Windows account.";
constexpr wchar_t kUninstallDescription[] =
    L"Removes Movora from this Windows account. Clips in your Videos folder stay.";

class TreeTest : public AccessibilityTest, public ::testing::WithParamInterface<TreeCase> {};

TEST_P(TreeTest, NamesRolesStatesValuesAndLocationsAreWhatThePaintShows) {
    const TreeCase& c = GetParam();
    const SystemDpi dpi(c.dpi);
    const int scale = static_cast<int>(c.dpi);
    const auto px = [scale](int logical) { return MulDiv(logical, scale, 96); };

    if (c.phase == Failed) {
        // No release list: the check ends with the server's error.
    } else {
        ServeStallingRelease(6000);
    }
    ASSERT_NO_FATAL_FAILURE(StartSetup(c.uninstall ? L" --uninstall" : L""));
    AccessiblePtr object = Object();
    ASSERT_TRUE(object);
    if (c.phase == Working) {
        ASSERT_NO_FATAL_FAILURE(ReachWorking(object.get()));
    }
    ASSERT_TRUE(WaitForName(object.get(), kStatusChild, c.status))
        << "status read: " << Narrow(ReadElement(object.get(), kStatusChild).name);
    // The paint follows the status at its own pace: wait until the status
    // line shows it where the layout puts it, so the trace holds this paint.
    const int height = px(560);
    const int width = px(480);
    if (*c.status != L'\0') {
        ASSERT_TRUE(WaitUntilShown(RECT{px(28), height - px(118), width - px(28), height - px(78)},
                                   c.status));
    }

    // The client area: the window's title, its whole rectangle.
    const Seen client = ReadElement(object.get(), CHILDID_SELF);
    EXPECT_EQ(client.role, ROLE_SYSTEM_CLIENT);
    EXPECT_EQ(client.name, L"Movora Setup");
    RECT windowRect{};
    GetWindowRect(window_, &windowRect);
    EXPECT_EQ(client.location, windowRect);
    EXPECT_EQ(windowRect.right - windowRect.left, px(480));
    long count = 0;
    ASSERT_EQ(object->get_accChildCount(&count), S_OK);
    ASSERT_EQ(count, kAccessibleChildCount);

    // Reading order: the visible children, first to last.
    std::vector<std::wstring> expected = {
        c.modeWord, c.headline, c.uninstall ? kUninstallDescription : kInstallDescription};
    if (c.versionAndNotes) {
        expected.push_back(L"Version 2.1.0");
        expected.push_back(L"Quicker start & smaller clips.");
    }
    for (const wchar_t* name : {L"Progress", c.status, c.button, L"Close"}) {
        expected.push_back(name);
    }
    std::vector<Seen> children;
    std::vector<std::wstring> visible;
    for (LONG id = 1; id <= count; ++id) {
        children.push_back(ReadElement(object.get(), id));
        EXPECT_EQ(children.back().nameResult, S_OK) << id;
        if (!(children.back().state & STATE_SYSTEM_INVISIBLE)) {
            visible.push_back(children.back().name);
        }
    }
    EXPECT_EQ(visible, expected) << Describe(visible);
    // Navigation walks the same order, skipping what is not shown.
    std::vector<std::wstring> walked;
    VARIANT at{};
    HRESULT step = object->accNavigate(NAVDIR_FIRSTCHILD, Child(CHILDID_SELF), &at);
    while (step == S_OK && at.vt == VT_I4 && walked.size() <= expected.size()) {
        walked.push_back(ReadElement(object.get(), at.lVal).name);
        step = object->accNavigate(NAVDIR_NEXT, Child(at.lVal), &at);
    }
    EXPECT_EQ(walked, expected) << Describe(walked);

    // Roles and states.
    const Seen& progress = children[kProgressChild - 1];
    const Seen& button = children[kPrimaryButtonChild - 1];
    const Seen& close = children[kCloseButtonChild - 1];
    EXPECT_EQ(progress.role, ROLE_SYSTEM_PROGRESSBAR);
    EXPECT_EQ(button.role, ROLE_SYSTEM_PUSHBUTTON);
    EXPECT_EQ(close.role, ROLE_SYSTEM_PUSHBUTTON);
    for (LONG id : {kModeWordChild, kHeadlineChild, kDescriptionChild, kStatusChild}) {
        EXPECT_EQ(children[id - 1].role, ROLE_SYSTEM_STATICTEXT) << id;
    }
    EXPECT_EQ((button.state & STATE_SYSTEM_UNAVAILABLE) != 0, !c.enabled);
    EXPECT_NE(button.state & STATE_SYSTEM_DEFAULT, 0);
    EXPECT_EQ(button.action, L"Press");
    EXPECT_EQ(close.action, L"Press");
    EXPECT_EQ(close.state & STATE_SYSTEM_UNAVAILABLE, 0);

    // The value: the percentage of the track the paint fills.
    if (c.phase == Working) {
        ASSERT_EQ(progress.value.back(), L'%') << Narrow(progress.value);
        // Half the package is in; the paint fills as much of the track.
        const int percent = std::stoi(progress.value);
        EXPECT_GE(percent, 40);
        EXPECT_LE(percent, 60);
        if (c.dpi == 96) {
            const int track = kProgressTrackRect.right - kProgressTrackRect.left;
            EXPECT_EQ(ProgressFillWidth(Shot("working")), track * percent / 100);
        }
    } else {
        EXPECT_EQ(progress.value, L"0%");
    }

    // Locations: each text where the paint drew it (the text trace's
    // rectangles, client pixels), the buttons where clicks act, the track at
    // its reference place scaled by the DPI.
    const POINT origin = WindowOrigin();
    const std::vector<DrawnText> drawn = Drawn();
    const auto drawnAt = [&](const std::wstring& text) -> std::optional<RECT> {
        for (auto it = drawn.rbegin(); it != drawn.rend(); ++it) {
            if (it->text == text) {
                return it->rect;
            }
        }
        return std::nullopt;
    };
    for (LONG id = kModeWordChild; id <= kCloseButtonChild; ++id) {
        const Seen& child = children[id - 1];
        if ((child.state & STATE_SYSTEM_INVISIBLE) || id == kProgressChild || child.name.empty()) {
            continue;
        }
        const std::optional<RECT> rect = drawnAt(id == kCloseButtonChild ? L"\u00D7" : child.name);
        ASSERT_TRUE(rect.has_value()) << Narrow(child.name) << " was never drawn";
        EXPECT_EQ(child.location, Offset(*rect, origin)) << Narrow(child.name);
    }
    EXPECT_EQ(progress.location,
              Offset(RECT{px(28), height - px(132), width - px(28), height - px(128)}, origin));
    EXPECT_EQ(button.location,
              Offset(RECT{px(28), height - px(64), px(28) + px(148), height - px(28)}, origin));

    // Hit tests agree with the window's own: the buttons exactly where a
    // click acts (right and bottom edges outside), the rest of the top band
    // drags the window and is the client area itself.
    const auto nonClient = [&](POINT screen) {
        return SendMessageW(window_, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
    };
    for (LONG id = kModeWordChild; id <= kCloseButtonChild; ++id) {
        const Seen& child = children[id - 1];
        if (!(child.state & STATE_SYSTEM_INVISIBLE) && id != kProgressChild) {
            EXPECT_EQ(HitAt(object.get(), Centre(child.location)), id) << Narrow(child.name);
        }
    }
    const POINT lastButtonPixel{button.location.right - 1, button.location.bottom - 1};
    EXPECT_EQ(HitAt(object.get(), lastButtonPixel), kPrimaryButtonChild);
    EXPECT_EQ(nonClient(lastButtonPixel), HTCLIENT);
    EXPECT_NE(HitAt(object.get(), POINT{button.location.right, lastButtonPixel.y}),
              kPrimaryButtonChild);
    EXPECT_EQ(HitAt(object.get(), Centre(close.location)), kCloseButtonChild);
    EXPECT_EQ(nonClient(Centre(close.location)), HTCLIENT);
    const POINT band{origin.x + width / 2, origin.y + px(5)};
    EXPECT_EQ(HitAt(object.get(), band), CHILDID_SELF);
    EXPECT_EQ(nonClient(band), HTCAPTION);
    EXPECT_EQ(HitAt(object.get(), POINT{windowRect.right + 5, windowRect.top + 5}), -1);

    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, TreeTest,
    ::testing::Values(TreeCase{"InstallReady", false, Ready, 96, L"INSTALL", L"Movora",
                               L"Ready to install.", L"Install", true, true},
                      TreeCase{"InstallWorking", false, Working, 96, L"INSTALL", L"Movora",
                               L"Downloading", L"Working", false, true},
                      TreeCase{"InstallFailed", false, Failed, 96, L"INSTALL", L"Stopped",
                               L"The server returned an error.", L"Try again", true, false},
                      TreeCase{"UninstallReady", true, Ready, 96, L"UNINSTALL", L"Movora", L"",
                               L"Uninstall", true, false},
                      TreeCase{"InstallReadyAt144Dpi", false, Ready, 144, L"INSTALL", L"Movora",
                               L"Ready to install.", L"Install", true, true},
                      TreeCase{"InstallWorkingAt144Dpi", false, Working, 144, L"INSTALL", L"Movora",
                               L"Downloading", L"Working", false, true},
                      TreeCase{"UninstallReadyAt144Dpi", true, Ready, 144, L"UNINSTALL", L"Movora",
                               L"", L"Uninstall", true, false}),
    [](const ::testing::TestParamInfo<TreeCase>& info) { return info.param.name; });

// The default action of each button against a click or key on the real window.
using ActionTest = AccessibilityTest;

TEST_F(ActionTest, PressOnTheEnabledButtonStartsTheInstallAsAClickDoes) {
    const TestRelease release = MakeRelease("2.1.0", Layout::Top);
    AccessiblePtr object;
    const std::string packagePath = StartReady(release, object);
    ASSERT_FALSE(HasFailure());
    const int listsBefore = RequestsFor(kListPath);
    EXPECT_EQ(RequestsFor(packagePath), 0);

    EXPECT_EQ(object->accDoDefaultAction(Child(kPrimaryButtonChild)), S_OK);
    ASSERT_TRUE(WaitForName(object.get(), kStatusChild, L"Movora is installed."));
    EXPECT_EQ(RequestsFor(kListPath), listsBefore + 1) << "the install reads the list again";
    EXPECT_EQ(RequestsFor(packagePath), 1);
    EXPECT_EQ(DigestTree(AppFolder()), release.expectedApp);
    EXPECT_EQ(ReadElement(object.get(), kPrimaryButtonChild).name, L"Open Movora");
    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
}

TEST_F(ActionTest, PressOnTheDisabledButtonDoesNothing) {
    const std::string packagePath = ServeStallingRelease(6000);
    ASSERT_NO_FATAL_FAILURE(StartSetup());
    AccessiblePtr object = Object();
    ASSERT_TRUE(object);
    ASSERT_NO_FATAL_FAILURE(ReachWorking(object.get()));
    const Seen before = ReadElement(object.get(), kPrimaryButtonChild);
    ASSERT_NE(before.state & STATE_SYSTEM_UNAVAILABLE, 0) << "the button is not disabled";
    const int lists = RequestsFor(kListPath);
    const int packages = RequestsFor(packagePath);

    object->accDoDefaultAction(Child(kPrimaryButtonChild));
    PumpFor(1000);
    EXPECT_EQ(RequestsFor(kListPath), lists);
    EXPECT_EQ(RequestsFor(packagePath), packages);
    EXPECT_EQ(ReadElement(object.get(), kStatusChild).name, L"Downloading");
    EXPECT_TRUE(IsWindow(window_));
    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
}

TEST_F(ActionTest, PressOnCloseClosesTheWindowAsEscapeDoes) {
    AccessiblePtr object;
    StartReady(MakeRelease("2.1.0", Layout::Top), object);
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(object->accDoDefaultAction(Child(kCloseButtonChild)), S_OK);
    EXPECT_EQ(WaitForSetupExit(), 0u);
}

TEST_F(ActionTest, TextsHaveNoDefaultAction) {
    AccessiblePtr object;
    StartReady(MakeRelease("2.1.0", Layout::Top), object);
    ASSERT_FALSE(HasFailure());
    for (LONG id :
         {LONG{CHILDID_SELF}, LONG{kHeadlineChild}, LONG{kStatusChild}, LONG{kProgressChild}}) {
        EXPECT_EQ(object->accDoDefaultAction(Child(id)), DISP_E_MEMBERNOTFOUND) << id;
    }
    EXPECT_EQ(object->accDoDefaultAction(Child(kAccessibleChildCount + 1)), E_INVALIDARG);
    PumpFor(500);
    EXPECT_EQ(ReadElement(object.get(), kStatusChild).name, L"Ready to install.");
    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
}

TEST_F(ActionTest, SpacePressesTheButtonAsEnterDoes) {
    AccessiblePtr object;
    const std::string packagePath = StartReady(MakeRelease("2.1.0", Layout::Top), object);
    ASSERT_FALSE(HasFailure());
    PressKey("space");
    ASSERT_TRUE(WaitForName(object.get(), kStatusChild, L"Movora is installed."));
    EXPECT_EQ(RequestsFor(packagePath), 1);
    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
}

// WinEvents of the setup process, recorded as they arrive (callbacks may run
// nested while this thread waits on a call), with the name the element had
// when the event was handled.
struct RecordedEvent {
    DWORD event;
    HWND window;
    LONG object;
    LONG child;
    std::wstring name;
};
std::vector<RecordedEvent>* recordedEvents = nullptr;

void CALLBACK RecordEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                          DWORD) {
    RecordedEvent recorded{event, window, object, child, {}};
    IAccessible* source = nullptr;
    VARIANT sourceChild{};
    if (event != EVENT_OBJECT_VALUECHANGE &&
        SUCCEEDED(AccessibleObjectFromEvent(window, object, child, &source, &sourceChild)) &&
        source != nullptr) {
        BSTR name = nullptr;
        source->get_accName(sourceChild, &name);
        recorded.name = TakeText(name);
        source->Release();
    }
    if (recordedEvents != nullptr) {
        recordedEvents->push_back(recorded);
    }
}

TEST_F(AccessibilityTest, AnInstallAnnouncesItsStepsAndTheFinalSentence) {
    AccessiblePtr object;
    StartReady(MakeRelease("2.1.0", Layout::Top), object);
    ASSERT_FALSE(HasFailure());

    std::vector<RecordedEvent> events;
    recordedEvents = &events;
    const ScopeExit stopRecording([] { recordedEvents = nullptr; });
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_LIVEREGIONCHANGED,
                                         nullptr, RecordEvent, setup_.id, 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    const ScopeExit unhook([hook] { UnhookWinEvent(hook); });

    PressKey("Return");
    const auto has = [&](DWORD event, LONG child, const std::wstring& name) {
        return std::any_of(events.begin(), events.end(), [&](const RecordedEvent& e) {
            return e.event == event && e.child == child && (name.empty() || e.name == name);
        });
    };
    EXPECT_TRUE(PumpUntil(
        [&] { return has(EVENT_OBJECT_LIVEREGIONCHANGED, kStatusChild, L"Movora is installed."); },
        kFlowTimeoutMs))
        << "the final sentence was not announced";
    PumpFor(500);

    EXPECT_TRUE(has(EVENT_OBJECT_NAMECHANGE, kStatusChild, L"Movora is installed."));
    EXPECT_TRUE(has(EVENT_OBJECT_NAMECHANGE, kHeadlineChild, L"Ready"));
    EXPECT_TRUE(has(EVENT_OBJECT_NAMECHANGE, kPrimaryButtonChild, L"Open Movora"));
    // Disabled while working, enabled again when done.
    EXPECT_GE(std::count_if(events.begin(), events.end(),
                            [](const RecordedEvent& e) {
                                return e.event == EVENT_OBJECT_STATECHANGE &&
                                       e.child == kPrimaryButtonChild;
                            }),
              2);
    EXPECT_TRUE(has(EVENT_OBJECT_VALUECHANGE, kProgressChild, L""));
    // Every event names an element of this window's client area, and only
    // the progress bar's value changes.
    for (const RecordedEvent& e : events) {
        EXPECT_EQ(e.window, window_);
        EXPECT_EQ(e.object, OBJID_CLIENT);
        if (e.event == EVENT_OBJECT_VALUECHANGE) {
            EXPECT_EQ(e.child, kProgressChild);
        }
        if (e.event == EVENT_OBJECT_LIVEREGIONCHANGED) {
            EXPECT_EQ(e.child, kStatusChild);
        }
    }
    // Nothing announced a change that did not happen: the mode word and the
    // description stay.
    EXPECT_FALSE(has(EVENT_OBJECT_NAMECHANGE, kModeWordChild, L""));
    EXPECT_FALSE(has(EVENT_OBJECT_NAMECHANGE, kDescriptionChild, L""));
    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
}

TEST_F(AccessibilityTest, TheWindowOpensWithTheFocusOnItsButtonAndKeepsItThroughTheJob) {
    // Every process's focus events from before the start: the window takes
    // the focus as it shows, before its process id is known here.
    std::vector<RecordedEvent> events;
    recordedEvents = &events;
    const ScopeExit stopRecording([] { recordedEvents = nullptr; });
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr,
                                         RecordEvent, 0, 0, WINEVENT_OUTOFCONTEXT);
    ASSERT_NE(hook, nullptr);
    const ScopeExit unhook([hook] { UnhookWinEvent(hook); });
    const auto ofWindow = [&] {
        std::vector<RecordedEvent> own;
        std::copy_if(events.begin(), events.end(), std::back_inserter(own),
                     [&](const RecordedEvent& e) { return e.window == window_; });
        return own;
    };
    const auto onButton = [](const RecordedEvent& e) {
        return e.object == OBJID_CLIENT && e.child == kPrimaryButtonChild;
    };

    // Uninstall mode opens at Ready: the button never changes on the way, so
    // what is announced comes from the activation alone.
    ASSERT_NO_FATAL_FAILURE(StartSetup(L" --uninstall"));
    AccessiblePtr object = Object();
    ASSERT_TRUE(object);
    PumpFor(1000);
    const std::vector<RecordedEvent> opened = ofWindow();
    ASSERT_FALSE(opened.empty()) << "no focus event when the window opened";
    // The last word is the button's, read as the screen reader reads it.
    EXPECT_TRUE(onButton(opened.back()));
    EXPECT_EQ(opened.back().name, L"Uninstall");
    const Seen button = ReadElement(object.get(), kPrimaryButtonChild);
    EXPECT_EQ(button.state & (STATE_SYSTEM_FOCUSED | STATE_SYSTEM_FOCUSABLE),
              STATE_SYSTEM_FOCUSED | STATE_SYSTEM_FOCUSABLE);
    EXPECT_EQ(button.state & STATE_SYSTEM_UNAVAILABLE, 0);
    VARIANT focus{};
    EXPECT_EQ(object->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.vt, VT_I4);
    EXPECT_EQ(focus.lVal, kPrimaryButtonChild);

    // "Working", then "Close": each is a focus event on the button.
    PressKey("Return");
    ASSERT_TRUE(WaitForName(object.get(), kPrimaryButtonChild, L"Close"));
    PumpFor(500);
    const std::vector<RecordedEvent> all = ofWindow();
    const std::vector<RecordedEvent> job(all.begin() + static_cast<std::ptrdiff_t>(opened.size()),
                                         all.end());
    EXPECT_GE(std::count_if(job.begin(), job.end(), onButton), 2);
    ASSERT_FALSE(job.empty());
    EXPECT_TRUE(onButton(job.back()));
    EXPECT_EQ(job.back().name, L"Close");
    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
}

// Wine takes a DLL found beside a program before its own copy only for the
// names it is told to; these per-program overrides tell it, for programs
// started while the object lives, as Windows does for every DLL that is not
// a known one.
class PreferDllsBeside {
  public:
    PreferDllsBeside(std::vector<std::wstring> programs, const std::vector<std::wstring>& dlls)
        : programs_(std::move(programs)) {
        for (const std::wstring& program : programs_) {
            HKEY key = nullptr;
            if (RegCreateKeyExW(HKEY_CURRENT_USER, OverridesKey(program).c_str(), 0, nullptr, 0,
                                KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
                ADD_FAILURE() << "cannot write Wine's overrides for " << Narrow(program);
                continue;
            }
            const UniqueKey owner(key);
            for (const std::wstring& dll : dlls) {
                const wchar_t order[] = L"native,builtin";
                RegSetValueExW(key, dll.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(order),
                               sizeof(order));
            }
        }
    }
    ~PreferDllsBeside() {
        for (const std::wstring& program : programs_) {
            RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + program).c_str());
        }
    }
    PreferDllsBeside(const PreferDllsBeside&) = delete;
    PreferDllsBeside& operator=(const PreferDllsBeside&) = delete;

  private:
    static std::wstring OverridesKey(const std::wstring& program) {
        return L"Software\\Wine\\AppDefaults\\" + program + L"\\DllOverrides";
    }
    std::vector<std::wstring> programs_;
};

TEST_F(AccessibilityTest, ReadingTheWindowLoadsNoAccessibilityDllPlantedBesideTheProgram) {
    const std::vector<std::wstring> planted = {L"oleacc.dll", L"oleaccrc.dll"};
    for (const std::wstring& name : planted) {
        ASSERT_TRUE(CopyFileW(BuiltProgram(L"planted_marker.dll").c_str(), (folder_ / name).c_str(),
                              FALSE));
    }
    const std::wstring probe = folder_ / L"oleacc_load_probe.exe";
    ASSERT_TRUE(CopyFileW(BuiltProgram(L"oleacc_load_probe.exe").c_str(), probe.c_str(), FALSE));
    const PreferDllsBeside overrides({L"MovoraSetup.exe", L"oleacc_load_probe.exe"},
                                     {L"oleacc", L"oleaccrc"});
    const auto loaded = [&](const std::wstring& name) {
        return GetFileAttributesW((folder_ / (name + L".loaded")).c_str()) !=
               INVALID_FILE_ATTRIBUTES;
    };

    // The planting is seen: a program that loads the library by name takes
    // the planted copy.
    StartedProcess control = StartProcess(L"\"" + probe + L"\"");
    ASSERT_TRUE(control.process);
    EXPECT_EQ(WaitForExitCode(control.process.get(), kFlowTimeoutMs), 0u);
    ASSERT_TRUE(loaded(L"oleacc.dll")) << "the planted DLL is not taken even by the probe";
    ASSERT_TRUE(DeleteFileW((folder_ / L"oleacc.dll.loaded").c_str()));

    // The setup program answers a screen reader from the system's copy.
    AccessiblePtr object;
    StartReady(MakeRelease("2.1.0", Layout::Top), object);
    ASSERT_FALSE(HasFailure());
    EXPECT_EQ(ReadElement(object.get(), kPrimaryButtonChild).name, L"Install");
    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
    for (const std::wstring& name : planted) {
        EXPECT_FALSE(loaded(name)) << Narrow(name) << " planted beside the program was loaded";
    }
}

// Calls a client may make on an object it holds, each with the answer a
// detached object must give.
struct HeldCall {
    const char* name;
    HRESULT (*call)(IAccessible* object);
};

const HeldCall kHeldCalls[] = {
    {"get_accName",
     [](IAccessible* o) {
         BSTR name = nullptr;
         const HRESULT hr = o->get_accName(Child(kStatusChild), &name);
         SysFreeString(name);
         return hr;
     }},
    {"get_accChildCount",
     [](IAccessible* o) {
         long count = 0;
         return o->get_accChildCount(&count);
     }},
    {"get_accState",
     [](IAccessible* o) {
         VARIANT state{};
         return o->get_accState(Child(kPrimaryButtonChild), &state);
     }},
    {"get_accValue",
     [](IAccessible* o) {
         BSTR value = nullptr;
         const HRESULT hr = o->get_accValue(Child(kProgressChild), &value);
         SysFreeString(value);
         return hr;
     }},
    {"accLocation",
     [](IAccessible* o) {
         long l = 0, t = 0, w = 0, h = 0;
         return o->accLocation(&l, &t, &w, &h, Child(kPrimaryButtonChild));
     }},
    {"accHitTest",
     [](IAccessible* o) {
         VARIANT hit{};
         return o->accHitTest(10, 10, &hit);
     }},
    {"accNavigate",
     [](IAccessible* o) {
         VARIANT end{};
         return o->accNavigate(NAVDIR_FIRSTCHILD, Child(CHILDID_SELF), &end);
     }},
    {"get_accFocus",
     [](IAccessible* o) {
         VARIANT focus{};
         return o->get_accFocus(&focus);
     }},
    {"get_accParent",
     [](IAccessible* o) {
         IDispatch* parent = nullptr;
         const HRESULT hr = o->get_accParent(&parent);
         if (parent != nullptr) {
             parent->Release();
         } else if (hr == S_OK) {
             return E_POINTER; // a success must name the window's object
         }
         return hr;
     }},
    {"accDoDefaultAction",
     [](IAccessible* o) { return o->accDoDefaultAction(Child(kPrimaryButtonChild)); }},
};

TEST_F(AccessibilityTest, AnObjectHeldPastTheWindowFailsEveryCallAndTheProcessExitsZero) {
    AccessiblePtr object;
    StartReady(MakeRelease("2.1.0", Layout::Top), object);
    ASSERT_FALSE(HasFailure());
    for (const HeldCall& held : kHeldCalls) {
        if (std::string(held.name) != "accDoDefaultAction") {
            EXPECT_TRUE(SUCCEEDED(held.call(object.get()))) << held.name;
        }
    }

    PressKey("Escape");
    EXPECT_EQ(WaitForSetupExit(), 0u);
    for (const HeldCall& held : kHeldCalls) {
        EXPECT_TRUE(FAILED(held.call(object.get()))) << held.name;
    }
}

// A setup window of this process on a thread of its own (a single-threaded
// apartment with its own message loop), which goes on pumping after the
// window is gone, so calls still reach the object.
class WindowThread {
  public:
    WindowThread() {
        thread_ = std::thread([this] { Run(); });
        while (ready_ == 0) {
            Sleep(10);
        }
    }
    ~WindowThread() {
        stop_ = 1;
        PostThreadMessageW(threadId_, WM_NULL, 0, 0);
        thread_.join();
    }
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    HWND window() const { return window_; }

  private:
    void Run() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        threadId_ = GetCurrentThreadId();
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = SetupWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"MovoraSetupOnItsThread";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(WS_EX_APPWINDOW, windowClass.lpszClassName, L"Movora Setup",
                                  WS_POPUP | WS_VISIBLE, 0, 0, 480, 560, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
        ready_ = 1;
        MSG message{};
        while (stop_ == 0) {
            // The quit message of the window's end does not end this loop.
            if (GetMessageW(&message, nullptr, 0, 0) > 0) {
                DispatchMessageW(&message);
            }
        }
        CoUninitialize();
    }

    std::thread thread_;
    DWORD threadId_ = 0;
    HWND window_ = nullptr;
    volatile LONG ready_ = 0;
    volatile LONG stop_ = 0;
};

TEST(DetachedObjectTest, EveryCallAfterTheWindowsEndAnswersDisconnected) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    const ScopeExit endCom([] { CoUninitialize(); });
    window_testing::StatusSnapshot snapshot;
    g_app.uninstallMode = true;
    g_app.updateMode = false;
    AccessiblePtr object;
    {
        WindowThread thread;
        ASSERT_NE(thread.window(), nullptr);
        IAccessible* raw = nullptr;
        ASSERT_EQ(AccessibleObjectFromWindow(thread.window(), static_cast<DWORD>(OBJID_CLIENT),
                                             IID_IAccessible, reinterpret_cast<void**>(&raw)),
                  S_OK);
        object.reset(raw);
        EXPECT_EQ(ReadElement(object.get(), kPrimaryButtonChild).name, L"Uninstall");

        PostMessageW(thread.window(), WM_CLOSE, 0, 0);
        ASSERT_TRUE(PumpUntil([&] { return IsWindow(thread.window()) == FALSE; }));
        for (const HeldCall& held : kHeldCalls) {
            EXPECT_EQ(held.call(object.get()), RPC_E_DISCONNECTED) << held.name;
        }
    }
    // The window's thread and apartment are gone too: still an error, no crash.
    for (const HeldCall& held : kHeldCalls) {
        EXPECT_TRUE(FAILED(held.call(object.get()))) << held.name;
    }
}

} // namespace
