// The window's accessible object in this process, on a real window of the
// test thread: the live setting of the status line (through the seam of the
// accessibility library's calls), the keyboard focus on the primary button and
// its events, requests that come while the window is being destroyed, and the
// VARIANTs the object hands out.
#include "shell/scoped.h"
#include "shell/window/accessible.h"
#include "shell/window/oleacc_calls.h"
#include "tests/support/x_input.h"
#include "tests/window/accessible_client.h"
#include "tests/window/window_fixture.h"

#include <gtest/gtest.h>

#include <oleacc.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

using namespace testing_support;
using namespace window_testing;
using namespace accessible_client;

namespace {

std::wstring NameOf(IAccessible* object, LONG id) {
    BSTR name = nullptr;
    object->get_accName(Child(id), &name);
    return TakeText(name);
}

LONG StateOf(IAccessible* object, LONG id) {
    VARIANT state{};
    return SUCCEEDED(object->get_accState(Child(id), &state)) && state.vt == VT_I4 ? state.lVal
                                                                                   : -1;
}

// The real setup window on this thread, which is a single-threaded COM
// apartment as the program's UI thread is.
class AccessibleObjectTest : public SetupWindowTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        SetupWindowTest::SetUp();
    }
    void TearDown() override {
        SetupWindowTest::TearDown();
        CoUninitialize();
    }

    AccessiblePtr Object() const {
        IAccessible* object = nullptr;
        EXPECT_EQ(AccessibleObjectFromWindow(window_, static_cast<DWORD>(OBJID_CLIENT),
                                             IID_IAccessible, reinterpret_cast<void**>(&object)),
                  S_OK);
        return AccessiblePtr(object);
    }

    // Sets the job status and lets the window take it, as after a worker's
    // report.
    void ShowStatus(JobPhase phase, const std::wstring& message, int percent = 0) {
        SetStatus(phase, message, L"");
        {
            StatusGuard lock(g_app.statusMutex);
            g_app.progressPercent = percent;
        }
        Send(WM_STATUS_CHANGED);
        PumpFor(100); // a status within the window's interval waits on a timer
    }
};

// ---------------------------------------------------------------------------
// The status line's live setting.

// UI Automation's LiveSetting property and its Polite value, as documented.
constexpr GUID kDocumentedLiveSetting = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG kDocumentedPolite = 1;

// One call of the property services as the window made it, with the answer of
// the real call it was passed on to.
struct PropertyCall {
    HWND window;
    DWORD objectId;
    DWORD childId;
    GUID property;
    VARIANT value;
    HRESULT answer;
};

struct WatchedCalls {
    OleaccCalls bound;
    std::vector<PropertyCall> sets;
    std::vector<PropertyCall> clears;
};
WatchedCalls* watched = nullptr;

HRESULT WatchSet(HWND window, DWORD objectId, DWORD childId, const MSAAPROPID& property,
                 const VARIANT& value) {
    const HRESULT answer = watched->bound.setHwndProp(window, objectId, childId, property, value);
    watched->sets.push_back(PropertyCall{window, objectId, childId, property, value, answer});
    return answer;
}

HRESULT WatchClear(HWND window, DWORD objectId, DWORD childId, const MSAAPROPID& property) {
    const HRESULT answer = watched->bound.clearHwndProp(window, objectId, childId, property);
    watched->clears.push_back(PropertyCall{window, objectId, childId, property, {}, answer});
    return answer;
}

// For its life, the window's property-services calls are recorded on their
// way to the real ones.
class WatchPropertyServices {
  public:
    WatchPropertyServices() {
        const OleaccCalls* bound = GetOleaccCalls();
        if (bound == nullptr) {
            return;
        }
        calls_.bound = *bound;
        replacement_ = *bound;
        replacement_.setHwndProp = WatchSet;
        replacement_.clearHwndProp = WatchClear;
        watched = &calls_;
        ReplaceOleaccCalls(&replacement_);
    }
    ~WatchPropertyServices() {
        ReplaceOleaccCalls(nullptr);
        watched = nullptr;
    }
    WatchPropertyServices(const WatchPropertyServices&) = delete;
    WatchPropertyServices& operator=(const WatchPropertyServices&) = delete;

    bool watching() const { return watched == &calls_; }
    const std::vector<PropertyCall>& sets() const { return calls_.sets; }
    const std::vector<PropertyCall>& clears() const { return calls_.clears; }

  private:
    WatchedCalls calls_{};
    OleaccCalls replacement_{};
};

// The property services answer S_OK on Windows; Wine 8 has the object but
// answers E_NOTIMPL. Anything else (no such class, no COM) means the call
// never reached the library's object.
bool ReachedThePropertyServices(HRESULT answer) {
    return answer == S_OK || answer == E_NOTIMPL;
}

TEST_F(AccessibleObjectTest, TheStatusLineIsMadePoliteBeforeAnyClientReadsItAndClearedAtTheEnd) {
    const WatchPropertyServices calls;
    ASSERT_TRUE(calls.watching());

    CreateSetupWindow(WindowMode::Install);
    EXPECT_TRUE(calls.sets().empty()) << "annotated before any client asked";
    AccessiblePtr first = Object();
    AccessiblePtr second = Object();
    ASSERT_TRUE(first && second);

    ASSERT_EQ(calls.sets().size(), 1u) << "one annotation for the window's one object";
    const PropertyCall& set = calls.sets()[0];
    EXPECT_EQ(set.window, window_);
    EXPECT_EQ(set.objectId, static_cast<DWORD>(OBJID_CLIENT));
    EXPECT_EQ(set.childId, static_cast<DWORD>(kStatusChild));
    EXPECT_TRUE(IsEqualGUID(set.property, kDocumentedLiveSetting));
    EXPECT_EQ(set.value.vt, VT_I4);
    EXPECT_EQ(set.value.lVal, kDocumentedPolite);
    EXPECT_TRUE(ReachedThePropertyServices(set.answer)) << std::hex << set.answer;
    // Whatever the platform answered, the object serves.
    EXPECT_EQ(NameOf(first.get(), kStatusChild), CurrentStatus().message);
    EXPECT_EQ(NameOf(first.get(), kPrimaryButtonChild), L"Install");
    EXPECT_TRUE(calls.clears().empty());

    DestroyWindow(window_);
    ASSERT_EQ(calls.clears().size(), 1u);
    const PropertyCall& clear = calls.clears()[0];
    EXPECT_EQ(clear.window, set.window);
    EXPECT_EQ(clear.objectId, set.objectId);
    EXPECT_EQ(clear.childId, set.childId);
    EXPECT_TRUE(IsEqualGUID(clear.property, kDocumentedLiveSetting));
    EXPECT_TRUE(ReachedThePropertyServices(clear.answer)) << std::hex << clear.answer;
}

TEST_F(AccessibleObjectTest, AWindowNobodyReadsIsNeverAnnotated) {
    const WatchPropertyServices calls;
    ASSERT_TRUE(calls.watching());

    CreateSetupWindow(WindowMode::Install);
    // Requests for the system's own objects make no object of the window's.
    Send(WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_WINDOW));
    ShowStatus(Failed, L"The server returned an error.");
    DestroyWindow(window_);
    EXPECT_TRUE(calls.sets().empty());
    EXPECT_TRUE(calls.clears().empty());
}

// ---------------------------------------------------------------------------
// Requests while the window is being destroyed.

WNDPROC procUnderTest = nullptr;
LRESULT lateAnswer = 0;
IAccessible* lateObject = nullptr;

// The window's own procedure, then, right after WM_DESTROY, a client's
// request for the client object, as one may arrive before WM_NCDESTROY.
LRESULT CALLBACK AskAfterDestroy(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = CallWindowProcW(procUnderTest, window, message, wParam, lParam);
    if (message == WM_DESTROY) {
        lateAnswer = SendMessageW(window, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
        if (lateAnswer > 0) {
            ObjectFromLresult(lateAnswer, IID_IAccessible, 0,
                              reinterpret_cast<void**>(&lateObject));
        }
    }
    return result;
}

TEST_F(AccessibleObjectTest, ARequestAfterTheObjectWasDetachedGetsNoObjectOfTheWindows) {
    CreateSetupWindow(WindowMode::Install);
    AccessiblePtr held = Object();
    ASSERT_TRUE(held);
    lateAnswer = 0;
    lateObject = nullptr;
    procUnderTest = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AskAfterDestroy)));
    DestroyWindow(window_);
    const AccessiblePtr late(lateObject);

    EXPECT_EQ(lateAnswer, 0) << "the closing window handed out an object";
    if (late) {
        long count = 0;
        EXPECT_TRUE(FAILED(late->get_accChildCount(&count)))
            << "an object made after the detach still answers for the dead window";
    }
    long count = 0;
    EXPECT_EQ(held->get_accChildCount(&count), RPC_E_DISCONNECTED);

    // The next window hands out its own object again.
    CreateSetupWindow(WindowMode::Uninstall);
    AccessiblePtr next = Object();
    ASSERT_TRUE(next);
    EXPECT_EQ(next->get_accChildCount(&count), S_OK);
    EXPECT_EQ(count, kAccessibleChildCount);
    EXPECT_EQ(NameOf(next.get(), kPrimaryButtonChild), L"Uninstall");
}

// ---------------------------------------------------------------------------
// VARIANTs handed out: every byte set, not only the type and the value.

struct VariantCase {
    const char* name;
    HRESULT (*call)(IAccessible* object, HWND window, VARIANT* out);
    HRESULT result;
    VARTYPE type;
};

void PrintTo(const VariantCase& c, std::ostream* out) {
    *out << c.name;
}

POINT ScreenCentreOfButton(HWND window) {
    POINT centre{(g_app.primaryButtonRect.left + g_app.primaryButtonRect.right) / 2,
                 (g_app.primaryButtonRect.top + g_app.primaryButtonRect.bottom) / 2};
    ClientToScreen(window, &centre);
    return centre;
}

class VariantTest : public AccessibleObjectTest,
                    public ::testing::WithParamInterface<VariantCase> {};

TEST_P(VariantTest, EveryByteBesidesTheValueIsZero) {
    const VariantCase& c = GetParam();
    CreateSetupWindow(WindowMode::Install);
    ASSERT_EQ(GetFocus(), window_);
    AccessiblePtr object = Object();
    ASSERT_TRUE(object);

    VARIANT out;
    std::memset(&out, 0xA5, sizeof(out));
    EXPECT_EQ(c.call(object.get(), window_, &out), c.result);
    EXPECT_EQ(out.vt, c.type);
    // The bytes a VT_I4 carries: the type and the 32-bit value.
    unsigned char bytes[sizeof(VARIANT)];
    std::memcpy(bytes, &out, sizeof(out));
    const size_t valueAt = offsetof(VARIANT, lVal);
    for (size_t i = sizeof(VARTYPE); i < sizeof(bytes); ++i) {
        if (c.type == VT_I4 && i >= valueAt && i < valueAt + sizeof(LONG)) {
            continue;
        }
        EXPECT_EQ(bytes[i], 0) << "byte " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, VariantTest,
    ::testing::Values(
        VariantCase{"Role",
                    [](IAccessible* o, HWND, VARIANT* out) {
                        return o->get_accRole(Child(kStatusChild), out);
                    },
                    S_OK, VT_I4},
        VariantCase{"State",
                    [](IAccessible* o, HWND, VARIANT* out) {
                        return o->get_accState(Child(kPrimaryButtonChild), out);
                    },
                    S_OK, VT_I4},
        VariantCase{"Focus",
                    [](IAccessible* o, HWND, VARIANT* out) { return o->get_accFocus(out); }, S_OK,
                    VT_I4},
        VariantCase{"Navigate",
                    [](IAccessible* o, HWND, VARIANT* out) {
                        return o->accNavigate(NAVDIR_FIRSTCHILD, Child(CHILDID_SELF), out);
                    },
                    S_OK, VT_I4},
        VariantCase{"HitTest",
                    [](IAccessible* o, HWND window, VARIANT* out) {
                        const POINT at = ScreenCentreOfButton(window);
                        return o->accHitTest(at.x, at.y, out);
                    },
                    S_OK, VT_I4},
        VariantCase{"Selection",
                    [](IAccessible* o, HWND, VARIANT* out) { return o->get_accSelection(out); },
                    S_FALSE, VT_EMPTY},
        VariantCase{"RoleOfNoSuchChild",
                    [](IAccessible* o, HWND, VARIANT* out) {
                        return o->get_accRole(Child(kAccessibleChildCount + 1), out);
                    },
                    E_INVALIDARG, VT_EMPTY},
        VariantCase{"NavigatePastTheLast",
                    [](IAccessible* o, HWND, VARIANT* out) {
                        return o->accNavigate(NAVDIR_NEXT, Child(kCloseButtonChild), out);
                    },
                    S_FALSE, VT_EMPTY},
        VariantCase{"HitTestOutside",
                    [](IAccessible* o, HWND window, VARIANT* out) {
                        RECT rect{};
                        GetWindowRect(window, &rect);
                        return o->accHitTest(rect.right + 5, rect.top + 5, out);
                    },
                    S_FALSE, VT_EMPTY}),
    [](const ::testing::TestParamInfo<VariantCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// The keyboard focus: the primary button holds it whenever the window does.

// A second top-level window of this thread that takes the activation.
class OtherWindow {
  public:
    OtherWindow()
        : window_(CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 500, 0, 50, 50,
                                  nullptr, nullptr, nullptr, nullptr)) {}
    ~OtherWindow() { DestroyWindow(window_); }
    OtherWindow(const OtherWindow&) = delete;
    OtherWindow& operator=(const OtherWindow&) = delete;
    HWND get() const { return window_; }

  private:
    HWND window_;
};

struct FocusCase {
    const char* name;
    JobPhase phase;
    bool enabled;
};

void PrintTo(const FocusCase& c, std::ostream* out) {
    *out << c.name;
}

class FocusStateTest : public AccessibleObjectTest,
                       public ::testing::WithParamInterface<FocusCase> {};

TEST_P(FocusStateTest, TheButtonIsFocusedExactlyWhenTheWindowHasTheKeyboard) {
    const FocusCase& c = GetParam();
    CreateSetupWindow(WindowMode::Install);
    AccessiblePtr object = Object();
    ASSERT_TRUE(object);
    ShowStatus(c.phase, L"Marker.");
    OtherWindow other;
    ASSERT_NE(other.get(), nullptr);

    for (const bool focused : {true, false}) {
        SCOPED_TRACE(focused ? "window focused" : "other window focused");
        SetActiveWindow(focused ? window_ : other.get());
        ASSERT_EQ(GetFocus() == window_, focused);
        const LONG button = StateOf(object.get(), kPrimaryButtonChild);
        ASSERT_NE(button, -1);
        EXPECT_NE(button & STATE_SYSTEM_FOCUSABLE, 0);
        EXPECT_EQ((button & STATE_SYSTEM_FOCUSED) != 0, focused);
        EXPECT_EQ((button & STATE_SYSTEM_UNAVAILABLE) == 0, c.enabled);
        const LONG client = StateOf(object.get(), CHILDID_SELF);
        EXPECT_EQ((client & STATE_SYSTEM_FOCUSED) != 0, focused);
        // Nothing else claims the focus.
        for (LONG id = kModeWordChild; id <= kAccessibleChildCount; ++id) {
            if (id != kPrimaryButtonChild) {
                EXPECT_EQ(StateOf(object.get(), id) & STATE_SYSTEM_FOCUSED, 0) << id;
            }
        }
        VARIANT focus{};
        EXPECT_EQ(object->get_accFocus(&focus), focused ? S_OK : S_FALSE);
        EXPECT_EQ(focus.vt, focused ? VT_I4 : VT_EMPTY);
        if (focused) {
            EXPECT_EQ(focus.lVal, kPrimaryButtonChild);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Phases, FocusStateTest,
    ::testing::Values(FocusCase{"Checking", Checking, false}, FocusCase{"Ready", Ready, true},
                      FocusCase{"Working", Working, false}, FocusCase{"Done", Done, true},
                      FocusCase{"Failed", Failed, true}),
    [](const ::testing::TestParamInfo<FocusCase>& info) { return info.param.name; });

// Focus events of this process, as a screen reader's hook receives them.
struct FocusEvent {
    HWND window;
    LONG object;
    LONG child;
};
std::vector<FocusEvent>* focusEvents = nullptr;

void CALLBACK RecordFocus(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD,
                          DWORD) {
    if (focusEvents != nullptr) {
        focusEvents->push_back(FocusEvent{window, object, child});
    }
}

class FocusEventTest : public AccessibleObjectTest {
  protected:
    void SetUp() override {
        AccessibleObjectTest::SetUp();
        focusEvents = &events_;
        hook_ = SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, RecordFocus,
                                GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
        ASSERT_NE(hook_, nullptr);
    }
    void TearDown() override {
        UnhookWinEvent(hook_);
        focusEvents = nullptr;
        AccessibleObjectTest::TearDown();
    }

    // The focus events of the setup window since the last call, after
    // letting them arrive.
    std::vector<FocusEvent> TakeEvents() {
        PumpFor(300);
        std::vector<FocusEvent> taken;
        for (const FocusEvent& e : events_) {
            if (e.window == window_) {
                taken.push_back(e);
            }
        }
        events_.clear();
        return taken;
    }

    static size_t ButtonEvents(const std::vector<FocusEvent>& events) {
        return static_cast<size_t>(
            std::count_if(events.begin(), events.end(), [](const FocusEvent& e) {
                return e.object == OBJID_CLIENT && e.child == kPrimaryButtonChild;
            }));
    }

    std::vector<FocusEvent> events_;
    HWINEVENTHOOK hook_ = nullptr;
};

TEST_F(FocusEventTest, ActivationEndsOnTheButton) {
    CreateSetupWindow(WindowMode::Install);
    std::vector<FocusEvent> events = TakeEvents();
    ASSERT_FALSE(events.empty()) << "no focus event when the window opened";
    EXPECT_EQ(events.back().object, OBJID_CLIENT);
    EXPECT_EQ(events.back().child, kPrimaryButtonChild);

    OtherWindow other;
    SetActiveWindow(other.get());
    EXPECT_EQ(ButtonEvents(TakeEvents()), 0u) << "the button announced while the window lost focus";
    SetActiveWindow(window_);
    events = TakeEvents();
    ASSERT_FALSE(events.empty()) << "no focus event when the window was activated again";
    // Whatever the system raises for the window itself comes first; the
    // last event is the button's, so a screen reader ends there.
    EXPECT_EQ(events.back().object, OBJID_CLIENT);
    EXPECT_EQ(events.back().child, kPrimaryButtonChild);
    EXPECT_EQ(ButtonEvents(events), 1u);
}

TEST_F(FocusEventTest, TheButtonIsAnnouncedWhenItsLabelOrStateChangesAndNotOtherwise) {
    CreateSetupWindow(WindowMode::Install); // Ready: "Install", enabled
    TakeEvents();
    struct Step {
        const char* what;
        JobPhase phase;
        const wchar_t* status;
        int percent;
        size_t buttonEvents;
    };
    const Step steps[] = {
        {"Working: label and state", Working, L"Downloading", 0, 1},
        {"progress only", Working, L"Downloading", 40, 0},
        {"a new step's label only", Working, L"Checking the download", 99, 0},
        {"Done: label and state", Done, L"Movora is installed.", 100, 1},
        {"Failed: label only", Failed, L"The server returned an error.", 100, 1},
        {"the same button again", Failed, L"Another failure.", 100, 0},
    };
    for (const Step& step : steps) {
        ShowStatus(step.phase, step.status, step.percent);
        EXPECT_EQ(ButtonEvents(TakeEvents()), step.buttonEvents) << step.what;
    }

    // A change while another window has the keyboard is not a focus change.
    OtherWindow other;
    SetActiveWindow(other.get());
    TakeEvents();
    ShowStatus(Ready, L"Ready to install.");
    EXPECT_EQ(ButtonEvents(TakeEvents()), 0u);
}

} // namespace
