// What the window tells screen readers: an accessible object of the client
// area, handed out on WM_GETOBJECT, and the events that announce changes.
#pragma once

#include <windows.h>

// Posted to the window by the accessible object when a client asks a button
// for its default action; wParam is the button's child id. Acting from the
// message loop, not inside the client's call, keeps the call short and makes
// the action exactly what a click does.
constexpr UINT WM_ACCESSIBLE_ACTION = WM_APP + 2;

// Child ids of the client object's elements, in reading order. The ids are
// fixed: an element that is not drawn in the current phase (the version, the
// notes) stays in the list, marked invisible, so an event's child id always
// names the same element.
enum AccessibleChild : LONG {
    kModeWordChild = 1,
    kHeadlineChild,
    kDescriptionChild,
    kVersionChild,
    kNotesChild,
    kProgressChild,
    kStatusChild,
    kPrimaryButtonChild,
    kCloseButtonChild,
};
constexpr LONG kAccessibleChildCount = kCloseButtonChild;

// Handles WM_GETOBJECT. For OBJID_CLIENT returns the window's accessible
// object through LresultFromObject (made on the first request and kept until
// the window is destroyed; making it also gives the status line the polite
// live setting through the library's property services); for any other
// object id, once the window is being destroyed, or when the system's
// accessibility library cannot be bound, returns what DefWindowProcW does.
LRESULT AnswerGetObject(HWND window, WPARAM wParam, LPARAM lParam);

// Called on WM_DESTROY: the object stops answering (every later call from a
// client that still holds it fails with RPC_E_DISCONNECTED), the status line's
// live setting is cleared and the window's own reference is dropped; clients'
// references keep the object itself alive. Until EndAccessibleWindow no new
// object is made.
void DetachAccessible(HWND window);

// Called on WM_NCDESTROY, the window's last message: a window created later
// hands out an object of its own again.
void EndAccessibleWindow();

// Raises the focus event of the primary button, which holds the keyboard,
// when the window has the keyboard focus; nothing otherwise. Called when the
// window is activated, after the system has given it the focus.
void AnnounceFocus(HWND window);

// Called after the window took a status change (at its own pace, not once per
// worker report): compares what the object would now report with what was
// announced last and raises name, state, value and live-region events for the
// elements that changed, and the button's focus event (AnnounceFocus) when its
// label or state changed. Cheap when nobody listens: the system drops events
// no hook asked for.
void AnnounceStatusChange(HWND window);

// The window's side of WM_ACCESSIBLE_ACTION: the primary button acts as a
// click does, the close button closes the window.
void RunAccessibleAction(HWND window, WPARAM childId);
