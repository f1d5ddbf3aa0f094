// What a test needs to read an accessible object as a client does: an owner of
// the interface, a child id as a VARIANT and a BSTR taken into a string.
#pragma once

#include "shell/scoped.h"

#include <windows.h>
#include <oleacc.h>

#include <string>

namespace accessible_client {

using AccessiblePtr = UniqueCom<IAccessible>;

inline VARIANT Child(LONG id) {
    VARIANT child{};
    child.vt = VT_I4;
    child.lVal = id;
    return child;
}

// The text, with the BSTR freed.
inline std::wstring TakeText(BSTR text) {
    std::wstring copy = text != nullptr ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return copy;
}

} // namespace accessible_client
