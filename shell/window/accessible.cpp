#include "shell/window/accessible.h"

#include "shell/scoped.h"
#include "shell/window/hit_test.h"
#include "shell/window/labels.h"
#include "shell/window/layout.h"
#include "shell/window/oleacc_calls.h"
#include "shell/window/paint.h"
#include "shell/window/primary_action.h"

#include <new>
#include <string>

namespace {

// One element as a client sees it. rect is in client pixels; an empty name and
// rectangle go with STATE_SYSTEM_INVISIBLE.
struct Element {
    LONG role = ROLE_SYSTEM_STATICTEXT;
    std::wstring name;
    std::wstring value;
    LONG state = STATE_SYSTEM_READONLY;
    RECT rect{};
    const wchar_t* action = nullptr;
    const wchar_t* shortcut = nullptr;
};

// What the window shows at one moment: the paint's own snapshot (the job
// status copied under statusMutex) and the paint's own layout.
struct View {
    HWND window;
    PaintInputs in;
    WindowLayout layout;
    WindowMode mode;
    ButtonLook look;
    bool focused;
};

View TakeView(HWND window) {
    View view{window, TakePaintInputs(), {}, WindowMode::Install, {}, GetFocus() == window};
    RECT client{};
    GetClientRect(window, &client);
    view.layout = ComputeLayout(client.right, client.bottom, view.in.dpi);
    view.mode = ModeFromFlags(view.in.uninstallMode, view.in.updateMode);
    view.look = PrimaryButtonLook(view.mode, view.in.phase);
    return view;
}

// The percentage of the track the paint fills: of a track 100 wide.
int ShownPercent(const View& view) {
    return ProgressFillWidth(100, view.in.phase, view.in.progressPercent);
}

// "0%" to "100%", without the printf machinery a number format would link in.
std::wstring PercentText(int percent) {
    std::wstring text = L"%";
    do {
        text.insert(text.begin(), static_cast<wchar_t>(L'0' + percent % 10));
        percent /= 10;
    } while (percent > 0);
    return text;
}

Element Text(const std::wstring& name, const RECT& rect) {
    Element element;
    element.name = name;
    element.rect = rect;
    return element;
}

// A text the paint draws only in some phases.
Element ShownText(bool shown, const std::wstring& name, const RECT& rect) {
    if (!shown) {
        Element hidden;
        hidden.state |= STATE_SYSTEM_INVISIBLE;
        return hidden;
    }
    return Text(name, rect);
}

Element Button(const wchar_t* name, const RECT& rect, const wchar_t* shortcut, bool hover) {
    Element element;
    element.role = ROLE_SYSTEM_PUSHBUTTON;
    element.name = name;
    element.state = hover ? STATE_SYSTEM_HOTTRACKED : 0;
    element.rect = rect;
    element.action = L"Press";
    element.shortcut = shortcut;
    return element;
}

Element DescribeElement(const View& view, LONG child) {
    const PaintInputs& in = view.in;
    const WindowLayout& layout = view.layout;
    switch (child) {
    case kModeWordChild:
        return Text(ModeWord(view.mode), layout.modeWord);
    case kHeadlineChild:
        return Text(HeadlineText(view.mode, in.phase), layout.headline);
    case kDescriptionChild:
        return Text(DescriptionText(view.mode), layout.description);
    case kVersionChild: {
        const bool phaseShows = in.phase == Ready || in.phase == Working || in.phase == Done;
        return ShownText(phaseShows && !in.latestVersion.empty(), L"Version " + in.latestVersion,
                         layout.version);
    }
    case kNotesChild:
        return ShownText(in.phase != Failed && !in.releaseNotes.empty(), in.releaseNotes,
                         layout.notes);
    case kProgressChild: {
        Element bar = Text(L"Progress", layout.track);
        bar.role = ROLE_SYSTEM_PROGRESSBAR;
        bar.value = PercentText(ShownPercent(view));
        return bar;
    }
    case kStatusChild:
        return Text(in.statusMessage, layout.status);
    case kPrimaryButtonChild: {
        // Enter and Space go to this button in every phase, so it holds the
        // keyboard whenever the window does, also while it cannot act.
        Element button =
            Button(view.look.label, layout.button, L"Enter", in.primaryHover && view.look.enabled);
        button.state |= STATE_SYSTEM_DEFAULT | STATE_SYSTEM_FOCUSABLE |
                        (view.focused ? STATE_SYSTEM_FOCUSED : 0) |
                        (view.look.enabled ? 0 : STATE_SYSTEM_UNAVAILABLE);
        return button;
    }
    case kCloseButtonChild:
        return Button(L"Close", layout.closeBox, L"Escape", in.closeHover);
    default: {
        // The client area itself, named as the window is.
        wchar_t title[64] = {};
        GetWindowTextW(view.window, title, 64);
        Element client;
        client.role = ROLE_SYSTEM_CLIENT;
        client.name = title;
        client.state = STATE_SYSTEM_FOCUSABLE | (view.focused ? STATE_SYSTEM_FOCUSED : 0);
        GetClientRect(view.window, &client.rect);
        return client;
    }
    }
}

// The child under a client point, testing the two buttons first as clicks do;
// CHILDID_SELF for the rest of the client area.
LONG ChildAt(const View& view, POINT point) {
    for (LONG child = kCloseButtonChild; child >= kModeWordChild; --child) {
        const Element element = DescribeElement(view, child);
        if (!(element.state & STATE_SYSTEM_INVISIBLE) && PointInRect(element.rect, point)) {
            return child;
        }
    }
    return CHILDID_SELF;
}

// VT_EMPTY with every byte set: a client may copy the whole VARIANT.
VARIANT EmptyVariant() {
    VARIANT result;
    ZeroMemory(&result, sizeof(result));
    return result;
}

// A VT_I4 VARIANT: a child id, a role or a state.
VARIANT LongVariant(LONG value) {
    VARIANT result = EmptyVariant();
    result.vt = VT_I4;
    result.lVal = value;
    return result;
}

// A BSTR copy of text; S_FALSE with null for an absent text.
HRESULT ReturnText(const wchar_t* text, BSTR* out) {
    if (out == nullptr) {
        return E_POINTER;
    }
    *out = nullptr;
    if (text == nullptr) {
        return S_FALSE;
    }
    *out = SysAllocString(text);
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The client area of the setup window as an accessible object whose children
// are simple elements. Every answer is computed afresh from the window's
// snapshot and layout; the object keeps only the window handle, which
// WM_DESTROY clears. It answers on the window's thread only, the one that may
// read the window's state.
class ClientAccessible final : public IAccessible {
  public:
    explicit ClientAccessible(HWND window) : window_(window), thread_(GetCurrentThreadId()) {}
    ClientAccessible(const ClientAccessible&) = delete;
    ClientAccessible& operator=(const ClientAccessible&) = delete;

    void Detach() { window_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID_IAccessible) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            delete this;
        }
        return left;
    }

    // IDispatch: clients of this object use its IAccessible methods only.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (parent == nullptr) {
            return E_POINTER;
        }
        *parent = nullptr;
        const OleaccCalls* calls = GetOleaccCalls();
        if (const HRESULT hr = Usable(); hr != S_OK) {
            return hr;
        }
        return calls != nullptr ? calls->objectFromWindow(window_, OBJID_WINDOW, IID_IDispatch,
                                                          reinterpret_cast<void**>(parent))
                                : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        if (const HRESULT hr = Usable(); hr != S_OK) {
            return hr;
        }
        *count = kAccessibleChildCount;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        LONG id = 0;
        if (const HRESULT hr = Child(child, id); hr != S_OK) {
            return hr;
        }
        // Simple elements: the caller asks this object about them by id.
        return id == CHILDID_SELF ? E_INVALIDARG : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        return AnswerText(child, name, [](const Element& element) -> const wchar_t* {
            return element.name.c_str();
        });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return AnswerText(child, value, [](const Element& element) -> const wchar_t* {
            return element.value.empty() ? nullptr : element.value.c_str();
        });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return AnswerText(child, text, [](const Element&) -> const wchar_t* { return nullptr; });
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        return AnswerNumber(child, role, [](const Element& element) { return element.role; });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return AnswerNumber(child, state, [](const Element& element) { return element.state; });
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return AnswerText(child, help, [](const Element&) -> const wchar_t* { return nullptr; });
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        if (topic != nullptr) {
            *topic = 0;
        }
        return AnswerText(child, file, [](const Element&) -> const wchar_t* { return nullptr; });
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return AnswerText(child, shortcut, [](const Element& element) { return element.shortcut; });
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        if (focus == nullptr) {
            return E_POINTER;
        }
        *focus = EmptyVariant();
        if (const HRESULT hr = Usable(); hr != S_OK) {
            return hr;
        }
        if (!TakeView(window_).focused) {
            return S_FALSE;
        }
        // Enter and Space act on the primary button: it holds the keyboard.
        *focus = LongVariant(kPrimaryButtonChild);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        if (selection == nullptr) {
            return E_POINTER;
        }
        *selection = EmptyVariant();
        const HRESULT hr = Usable();
        return hr != S_OK ? hr : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return AnswerText(child, action, [](const Element& element) { return element.action; });
    }
    HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT child) override {
        LONG id = 0;
        const HRESULT hr = Child(child, id);
        return hr != S_OK ? hr : DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
            return E_POINTER;
        }
        *left = *top = *width = *height = 0;
        LONG id = 0;
        if (const HRESULT hr = Child(child, id); hr != S_OK) {
            return hr;
        }
        const Element element = DescribeElement(TakeView(window_), id);
        POINT origin{element.rect.left, element.rect.top};
        ClientToScreen(window_, &origin);
        *left = origin.x;
        *top = origin.y;
        *width = element.rect.right - element.rect.left;
        *height = element.rect.bottom - element.rect.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        if (end == nullptr) {
            return E_POINTER;
        }
        *end = EmptyVariant();
        LONG id = 0;
        if (const HRESULT hr = Child(start, id); hr != S_OK) {
            return hr;
        }
        LONG step = 0;
        LONG from = id;
        if (direction == NAVDIR_FIRSTCHILD || direction == NAVDIR_LASTCHILD) {
            if (id != CHILDID_SELF) {
                return E_INVALIDARG;
            }
            step = direction == NAVDIR_FIRSTCHILD ? 1 : -1;
            from = direction == NAVDIR_FIRSTCHILD ? 0 : kAccessibleChildCount + 1;
        } else if ((direction == NAVDIR_NEXT || direction == NAVDIR_PREVIOUS) &&
                   id != CHILDID_SELF) {
            step = direction == NAVDIR_NEXT ? 1 : -1;
        } else {
            return DISP_E_MEMBERNOTFOUND;
        }
        const View view = TakeView(window_);
        for (LONG next = from + step; next >= 1 && next <= kAccessibleChildCount; next += step) {
            if (!(DescribeElement(view, next).state & STATE_SYSTEM_INVISIBLE)) {
                *end = LongVariant(next);
                return S_OK;
            }
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* hit) override {
        if (hit == nullptr) {
            return E_POINTER;
        }
        *hit = EmptyVariant();
        if (const HRESULT hr = Usable(); hr != S_OK) {
            return hr;
        }
        POINT point{x, y};
        ScreenToClient(window_, &point);
        const View view = TakeView(window_);
        RECT client{};
        GetClientRect(window_, &client);
        if (!PointInRect(client, point)) {
            return S_FALSE;
        }
        *hit = LongVariant(ChildAt(view, point));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        LONG id = 0;
        if (const HRESULT hr = Child(child, id); hr != S_OK) {
            return hr;
        }
        if (id != kPrimaryButtonChild && id != kCloseButtonChild) {
            return DISP_E_MEMBERNOTFOUND;
        }
        return PostMessageW(window_, WM_ACCESSIBLE_ACTION, static_cast<WPARAM>(id), 0) ? S_OK
                                                                                       : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override { return E_NOTIMPL; }

  private:
    // S_OK while the window lives and the call runs on its thread.
    HRESULT Usable() const {
        if (window_ == nullptr) {
            return RPC_E_DISCONNECTED;
        }
        return GetCurrentThreadId() == thread_ ? S_OK : RPC_E_WRONG_THREAD;
    }

    // The child id of a VARIANT (CHILDID_SELF for the object itself);
    // E_INVALIDARG for anything that names no element.
    HRESULT Child(const VARIANT& child, LONG& id) const {
        if (const HRESULT hr = Usable(); hr != S_OK) {
            return hr;
        }
        if (child.vt != VT_I4 || child.lVal < CHILDID_SELF || child.lVal > kAccessibleChildCount) {
            return E_INVALIDARG;
        }
        id = child.lVal;
        return S_OK;
    }

    // One answer for every text and number of an element; plain function
    // pointers keep it one copy in the program.
    HRESULT AnswerText(const VARIANT& child, BSTR* out,
                       const wchar_t* (*pick)(const Element& element)) {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        LONG id = 0;
        if (const HRESULT hr = Child(child, id); hr != S_OK) {
            return hr;
        }
        const Element element = DescribeElement(TakeView(window_), id);
        return ReturnText(pick(element), out);
    }

    HRESULT AnswerNumber(const VARIANT& child, VARIANT* out, LONG (*pick)(const Element& element)) {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = EmptyVariant();
        LONG id = 0;
        if (const HRESULT hr = Child(child, id); hr != S_OK) {
            return hr;
        }
        *out = LongVariant(pick(DescribeElement(TakeView(window_), id)));
        return S_OK;
    }

    LONG references_ = 1;
    HWND window_;
    const DWORD thread_;
};

// The window's object, from the first WM_GETOBJECT to WM_DESTROY; this holds
// one reference. UI thread only.
UniqueCom<ClientAccessible> clientObject;

// From WM_DESTROY to WM_NCDESTROY: no object is made any more, as nothing
// would detach it.
bool windowClosing = false;

// What the last announcement reported, so the next one names only changes.
struct Announced {
    bool valid = false;
    std::wstring texts[kAccessibleChildCount + 1];
    LONG states[kAccessibleChildCount + 1] = {};
};
Announced announced;

} // namespace

LRESULT AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam) {
    // Other object ids (the window's frame, UI Automation's root) are the
    // system's; the library is loaded only when a client asks for the client.
    const bool client = static_cast<LONG>(static_cast<DWORD>(lParam)) == OBJID_CLIENT;
    const OleaccCalls* calls = client && !windowClosing ? GetOleaccCalls() : nullptr;
    if (!clientObject && calls != nullptr) {
        clientObject.reset(new (std::nothrow) ClientAccessible(window));
        if (clientObject) {
            // Before any client can read the status line: without the live
            // setting, UI Automation clients take its live-region events
            // for an element that is not live. Where the platform does not
            // know the property (Wine answers E_NOTIMPL) the object still
            // serves, so the answer is not used.
            VARIANT polite = LongVariant(kLiveSettingPolite);
            calls->setHwndProp(window, OBJID_CLIENT, kStatusChild, kLiveSettingProperty, polite);
        }
    }
    if (calls == nullptr || !clientObject) {
        return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
    }
    return calls->lresultFromObject(IID_IAccessible, wParam, clientObject.get());
}

void DetachAccessible(HWND window) {
    windowClosing = true;
    if (clientObject) {
        if (const OleaccCalls* calls = GetOleaccCalls()) {
            calls->clearHwndProp(window, OBJID_CLIENT, kStatusChild, kLiveSettingProperty);
        }
        clientObject->Detach();
        clientObject.reset();
    }
    announced = Announced{};
}

void EndAccessibleWindow() {
    windowClosing = false;
}

void AnnounceFocus(HWND window) {
    if (GetFocus() == window) {
        NotifyWinEvent(EVENT_OBJECT_FOCUS, window, OBJID_CLIENT, kPrimaryButtonChild);
    }
}

void AnnounceStatusChange(HWND window) {
    const View view = TakeView(window);
    Announced now;
    now.valid = true;
    for (LONG child = kModeWordChild; child <= kAccessibleChildCount; ++child) {
        const Element element = DescribeElement(view, child);
        now.texts[child] = element.role == ROLE_SYSTEM_PROGRESSBAR ? element.value : element.name;
        // Hover and focus come and go with the mouse and keyboard, not the job.
        now.states[child] = element.state & ~(STATE_SYSTEM_HOTTRACKED | STATE_SYSTEM_FOCUSED);
    }
    if (announced.valid) {
        for (LONG child = kModeWordChild; child <= kAccessibleChildCount; ++child) {
            if (now.states[child] != announced.states[child]) {
                NotifyWinEvent(EVENT_OBJECT_STATECHANGE, window, OBJID_CLIENT, child);
            }
            if (now.texts[child] == announced.texts[child]) {
                continue;
            }
            if (child == kProgressChild) {
                NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, window, OBJID_CLIENT, child);
                continue;
            }
            NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, child);
            // The status line is a live region: screen readers speak the new
            // sentence without the user moving there.
            if (child == kStatusChild) {
                NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, window, OBJID_CLIENT, child);
            }
        }
        // The button holds the keyboard: a new label or state of it is told
        // as a focus event, which screen readers speak at once.
        if (now.texts[kPrimaryButtonChild] != announced.texts[kPrimaryButtonChild] ||
            now.states[kPrimaryButtonChild] != announced.states[kPrimaryButtonChild]) {
            AnnounceFocus(window);
        }
    }
    announced = std::move(now);
}

void RunAccessibleAction(HWND window, WPARAM childId) {
    if (childId == kPrimaryButtonChild) {
        PrimaryAction();
    } else if (childId == kCloseButtonChild) {
        DestroyWindow(window);
    }
}
