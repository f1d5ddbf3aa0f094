// The accessibility library's calls the window makes, bound at first use from
// the system folder (oleacc.dll is not on Windows' known-DLL list, so
// importing it would let a planted copy next to the program load instead).
#pragma once

#include <windows.h>
#include <oleacc.h>

// UI Automation's live-setting property and its polite value: a screen reader
// speaks a new text of the element once it has finished what it is saying.
// The toolchain's headers do not define them.
inline constexpr GUID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
inline constexpr LONG kLiveSettingPolite = 1;

// IAccPropServices::SetHwndProp, and ClearHwndProps of one property, on a
// property-services object of the library (CLSID_AccPropServices, which needs
// COM on the calling thread) made for the call and released after it. Each
// returns the method's answer, or the creation's error.
using SetHwndPropCall = HRESULT (*)(HWND window, DWORD objectId, DWORD childId,
                                    const MSAAPROPID& property, const VARIANT& value);
using ClearHwndPropCall = HRESULT (*)(HWND window, DWORD objectId, DWORD childId,
                                      const MSAAPROPID& property);

struct OleaccCalls {
    decltype(&LresultFromObject) lresultFromObject = nullptr;
    decltype(&AccessibleObjectFromWindow) objectFromWindow = nullptr;
    SetHwndPropCall setHwndProp = nullptr;
    ClearHwndPropCall clearHwndProp = nullptr;
};

// The calls; null when oleacc.dll or one of its entry points cannot be loaded
// from the system folder. The first call binds them. UI thread only.
const OleaccCalls* GetOleaccCalls();

// Test seam: while calls is set, GetOleaccCalls answers with it (a test copies
// the bound calls first and replaces the ones it watches); null puts the bound
// calls back. Inert unless a test sets it.
void ReplaceOleaccCalls(const OleaccCalls* calls);
