// Owners for Windows handles, so every handle is released on every path.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <memory>
#include <type_traits>
#include <utility>

// A kernel handle closed with CloseHandle. Both null and INVALID_HANDLE_VALUE
// count as "no handle": adopt whatever the API returned and test with Valid().
struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) {
            CloseHandle(handle);
        }
    }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

inline bool Valid(const UniqueHandle& handle) {
    return handle && handle.get() != INVALID_HANDLE_VALUE;
}

// A registry key closed with RegCloseKey.
struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// A COM interface pointer, released with Release.
struct ComReleaser {
    void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T> using UniqueCom = std::unique_ptr<T, ComReleaser>;

// A GDI object (brush, pen, bitmap, font) deleted with DeleteObject. It must
// no longer be selected into a device context when the owner goes away.
struct GdiObjectDeleter {
    void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
template <typename T> using UniqueGdi = std::unique_ptr<std::remove_pointer_t<T>, GdiObjectDeleter>;

// Runs a callable when the scope ends, for releases that have no handle type
// (CoUninitialize, restoring a selected GDI object).
template <typename F> class ScopeExit {
  public:
    explicit ScopeExit(F action) : action_(std::move(action)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() { action_(); }

  private:
    F action_;
};

// A memory device context deleted with DeleteDC. Whatever was selected into it
// must have been selected out again (or be owned elsewhere) by then.
struct DcDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;
