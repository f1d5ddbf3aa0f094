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
#include "tests/window/window_fixture.h"

#include <gtest/gtest.h>

#include <oleacc.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <thread>

using namespace testing_support;
using namespace install_testing;
using namespace e2e_testing;

namespace {

struct ComReleaser {
    void operator()(IUnknown* object) const { object->Release(); }
};
using AccessiblePtr = std::unique_ptr<IAccessible, ComReleaser>;

VARIANT Child(LONG id) {
    VARIANT child;
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

std::wstring TakeText(BSTR text) {
    std::wstring copy = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return copy;
}

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

// Sets the system DPI of the test prefix for programs started while it lives.
class SystemDpi {
  public:
    explicit SystemDpi(DWORD dpi) { Set(dpi); }
    ~SystemDpi() { Set(96); }
    SystemDpi(const SystemDpi&) = delete;
    SystemDpi& operator=(const SystemDpi&) = delete;

  private:
    static void Set(DWORD dpi) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const UniqueKey owner(key);
        RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                       sizeof(dpi));
    }
};

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

    // A release whose package stops half-way for stallMs, so the window is
    // seen working; returns the package's path.
    std::string ServeStallingRelease(DWORD stallMs) {
        const TestRelease release = MakeRelease("2.1.0", Layout::Top);
        ScriptedResponse package;
        package.body = ZipBytes(release.entries);
        package.stallAfter = package.body.size() / 2;
        package.stallMs = stallMs;
        return ServeRelease(release, package);
    }

    // Starts the install at "Ready to install." and waits until half the
    // package is on disk, the window showing it.
    void ReachWorking(IAccessible* object) {
        ASSERT_TRUE(WaitForName(object, kStatusChild, L"Ready to install."));
        PressKey("Return");
        ASSERT_TRUE(WaitForDownloadedBytes(1));
        Sleep(500); // the window takes status changes at its own pace
    }
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
    Sleep(300); // the paint of the last change, for the trace's rectangles

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
        const int percent = std::stoi(progress.value);
        EXPECT_GE(percent, 30);
        EXPECT_LE(percent, 70);
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
    const int height = px(560);
    const int width = px(480);
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

} // namespace
