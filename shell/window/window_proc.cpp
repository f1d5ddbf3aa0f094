#include "shell/window/window_proc.h"

#include "shell/app_state.h"
#include "shell/jobs.h"
#include "shell/window/accessible.h"
#include "shell/window/fonts.h"
#include "shell/window/hit_test.h"
#include "shell/window/labels.h"
#include "shell/window/paint.h"
#include "shell/window/primary_action.h"

#include <windowsx.h>

namespace {

constexpr UINT_PTR kStatusTimerId = 1;

// The first job waits for the first frame. Started inside creation, its thread
// bound the transfer's system libraries while the UI thread painted, and the
// first frame came late. So creation only sets the job's first status (the
// first frame and the accessible object show it, and the starter later sets
// the same one), and the job starts right after the first paint.
//
// This timer is pending from creation until the job starts: whoever kills it
// first, the first paint or the timer itself, starts the job, so it starts
// once. Timer messages come only when nothing is left to paint, so the timer
// wins only in a window that has nothing to paint (started hidden or
// minimised), which then starts its job as soon as its messages are read.
constexpr UINT_PTR kFirstJobTimerId = 2;

// The whole window is painted on every WM_PAINT, so nothing needs erasing.
void RepaintAll(HWND window) {
    InvalidateRect(window, nullptr, FALSE);
}

POINT PointFromLParam(LPARAM lParam) {
    return POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
}

// The job that the window opens with, by mode; uninstall mode has none.
void StartFirstJob() {
    StartCheckOrInstallJob(CurrentWindowMode() == WindowMode::Update);
}

// Called after every paint and by the first-job timer: starts the first job
// if it still waits (see kFirstJobTimerId).
void StartFirstJobIfWaiting(HWND window) {
    if (KillTimer(window, kFirstJobTimerId)) {
        StartFirstJob();
    }
}

// Shows the first job's status, then lets the first paint start the job.
// Without a timer nothing would start it in a window that is never painted:
// it then starts at once.
void AwaitFirstPaint(HWND window, JobPhase phase, const wchar_t* message) {
    SetJobResult(phase, message);
    if (SetTimer(window, kFirstJobTimerId, USER_TIMER_MINIMUM, nullptr) == 0) {
        StartFirstJob();
    }
}

// Sets what the first frame shows; the first job starts after that frame.
LRESULT OnCreate(HWND window) {
    // A notification left pending by an earlier window will never arrive.
    TakeStatusNotification();
    g_app.statusTakenAt = 0;
    g_app.window = window;
    g_app.dpi = GetDpiForWindow(window);
    CreateFonts();
    switch (CurrentWindowMode()) {
    case WindowMode::Uninstall:
        SetJobResult(Ready, L"");
        break;
    case WindowMode::Update:
        AwaitFirstPaint(window, Working, L"Downloading");
        break;
    case WindowMode::Install:
        AwaitFirstPaint(window, Checking, L"Looking up the current version.");
        break;
    }
    // What the window first shows is the baseline of later announcements.
    AnnounceStatusChange(window);
    return 0;
}

// Joins the worker before the window handle goes away: a job may still post
// to it until it has returned.
LRESULT OnDestroy(HWND window) {
    DetachAccessible(window);
    g_app.spacePressed = false;
    CancelAndJoinWorker();
    g_app.window = nullptr;
    PostQuitMessage(0);
    return 0;
}

LRESULT OnNcHitTest(HWND window, LPARAM lParam) {
    POINT point = PointFromLParam(lParam);
    ScreenToClient(window, &point);
    return HitTestClientPoint(point);
}

// Bit 30 of a key message's lParam: the key was already down, so a key-down
// is the keyboard's auto-repeat.
constexpr LPARAM kKeyWasDown = LPARAM{1} << 30;

// Keys act on the primary button as on a Windows button: Enter when it goes
// down, Space when it comes up after going down in this window; a held key's
// repeats do nothing more.
LRESULT OnKeyDown(HWND window, WPARAM key, LPARAM lParam) {
    if (key == VK_ESCAPE) {
        DestroyWindow(window);
    } else if ((lParam & kKeyWasDown) != 0) {
        return 0;
    } else if (key == VK_RETURN) {
        PrimaryAction();
    } else if (key == VK_SPACE) {
        g_app.spacePressed = true;
    }
    return 0;
}

LRESULT OnKeyUp(HWND window, WPARAM key, LPARAM lParam) {
    if (key != VK_SPACE || !g_app.spacePressed) {
        return DefWindowProcW(window, WM_KEYUP, key, lParam);
    }
    g_app.spacePressed = false;
    PrimaryAction();
    return 0;
}

// The system gives an activated window the keyboard focus in DefWindowProcW
// (and raises its own focus event for the window there); the button's event
// follows, so screen readers land on the button.
LRESULT OnActivate(HWND window, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = DefWindowProcW(window, WM_ACTIVATE, wParam, lParam);
    if (LOWORD(wParam) != WA_INACTIVE) {
        AnnounceFocus(window);
    }
    return result;
}

LRESULT OnMouseMove(HWND window, LPARAM lParam) {
    const POINT point = PointFromLParam(lParam);
    const bool overPrimary = PointInRect(g_app.primaryButtonRect, point);
    const bool overClose = PointInRect(g_app.closeButtonRect, point);
    if (overPrimary != g_app.primaryHover || overClose != g_app.closeHover) {
        g_app.primaryHover = overPrimary;
        g_app.closeHover = overClose;
        RepaintAll(window);
    }
    // Asked on every move: the system drops the request after each leave.
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof(track);
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = window;
    track.dwHoverTime = 0;
    TrackMouseEvent(&track);
    return 0;
}

// A click acts on release inside a rectangle; the close box wins.
LRESULT OnLButtonUp(HWND window, LPARAM lParam) {
    const POINT point = PointFromLParam(lParam);
    if (PointInRect(g_app.closeButtonRect, point)) {
        DestroyWindow(window);
    } else if (PointInRect(g_app.primaryButtonRect, point)) {
        PrimaryAction();
    }
    return 0;
}

LRESULT OnMouseLeave(HWND window) {
    g_app.primaryHover = false;
    g_app.closeHover = false;
    RepaintAll(window);
    return 0;
}

LRESULT OnDpiChanged(HWND window, WPARAM wParam, LPARAM lParam) {
    g_app.dpi = HIWORD(wParam);
    CreateFonts();
    const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(window, nullptr, suggested->left, suggested->top,
                 suggested->right - suggested->left, suggested->bottom - suggested->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    RepaintAll(window);
    return 0;
}

// Takes the pending notification, then repaints from the newest status. In
// update mode a finished install starts the new app once and closes the
// window, with no click.
void TakeStatusChange(HWND window) {
    g_app.statusTakenAt = GetTickCount64();
    TakeStatusNotification();
    RepaintAll(window);
    AnnounceStatusChange(window);
    if (CurrentWindowMode() != WindowMode::Update || g_app.appLaunched) {
        return;
    }
    JobPhase phase = Checking;
    bool hasApp = false;
    {
        StatusGuard lock(g_app.statusMutex);
        phase = g_app.phase;
        hasApp = !g_app.appExePath.empty();
    }
    if (phase == Done && hasApp) {
        g_app.appLaunched = true;
        StartAppFromItsFolder();
        DestroyWindow(window);
    }
}

// A notification that comes within kStatusIntervalMs of the last one taken
// waits on the timer (without a timer it is taken at once). Meanwhile it stays pending, so the
// worker posts no more and every change it makes is read when the timer takes it.
LRESULT OnStatusChanged(HWND window) {
    const ULONGLONG sinceLast = GetTickCount64() - g_app.statusTakenAt;
    if (sinceLast < kStatusIntervalMs &&
        SetTimer(window, kStatusTimerId, static_cast<UINT>(kStatusIntervalMs - sinceLast),
                 nullptr) != 0) {
        return 0;
    }
    TakeStatusChange(window);
    return 0;
}

LRESULT OnTimer(HWND window, WPARAM timerId) {
    if (timerId == kStatusTimerId) {
        KillTimer(window, kStatusTimerId);
        TakeStatusChange(window);
    } else if (timerId == kFirstJobTimerId) {
        StartFirstJobIfWaiting(window);
    }
    return 0;
}

} // namespace

LRESULT CALLBACK SetupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        return OnCreate(window);
    case WM_DESTROY:
        return OnDestroy(window);
    case WM_NCDESTROY:
        EndAccessibleWindow();
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_PAINT:
        // The paint has ended (EndPaint hands the frame to the display), so
        // the job's thread starts after the frame, not alongside it.
        PaintWindow(window);
        StartFirstJobIfWaiting(window);
        return 0;
    case WM_NCHITTEST:
        return OnNcHitTest(window, lParam);
    case WM_KEYDOWN:
        return OnKeyDown(window, wParam, lParam);
    case WM_KEYUP:
        return OnKeyUp(window, wParam, lParam);
    case WM_KILLFOCUS:
        // A Space press ends with the keyboard focus: its release goes elsewhere.
        g_app.spacePressed = false;
        return DefWindowProcW(window, message, wParam, lParam);
    case WM_ACTIVATE:
        return OnActivate(window, wParam, lParam);
    case WM_MOUSEMOVE:
        return OnMouseMove(window, lParam);
    case WM_LBUTTONUP:
        return OnLButtonUp(window, lParam);
    case WM_MOUSELEAVE:
        return OnMouseLeave(window);
    case WM_DPICHANGED:
        return OnDpiChanged(window, wParam, lParam);
    case WM_STATUS_CHANGED:
        return OnStatusChanged(window);
    case WM_TIMER:
        return OnTimer(window, wParam);
    case WM_GETOBJECT:
        return AnswerGetObject(window, wParam, lParam);
    case WM_ACCESSIBLE_ACTION:
        RunAccessibleAction(window, wParam);
        return 0;
    case WM_SETTINGCHANGE:
    case WM_SYSCOLORCHANGE:
        // High contrast may have been switched, or its colours changed.
        RepaintAll(window);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
