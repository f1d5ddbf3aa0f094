// A 32-bit off-screen bitmap with a memory device context, for tests that
// draw with real GDI and read the pixels back.
#pragma once

#include "shell/scoped.h"

#include <windows.h>

#include <cstdint>

namespace testing_support {

class Canvas {
  public:
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_.get(); }
    int width() const { return width_; }
    int height() const { return height_; }
    bool valid() const { return bits_ != nullptr; }

    // The colour at (x, y) as RGB(r, g, b).
    COLORREF Pixel(int x, int y) const;
    // How many pixels of rect have exactly this colour.
    int Count(const RECT& rect, COLORREF colour) const;
    // The smallest rectangle holding every pixel of rect that differs from
    // background; empty (all zero) when there is none.
    RECT Ink(const RECT& rect, COLORREF background) const;
    // True when both canvases hold the same pixels inside rect.
    bool SameAs(const Canvas& other, const RECT& rect) const;
    // Copies the screen pixels of a window's client area into this canvas.
    bool CopyFromWindow(HWND window);

  private:
    int width_;
    int height_;
    UniqueDc dc_;
    UniqueGdi<HBITMAP> bitmap_;
    HGDIOBJ previous_ = nullptr;
    std::uint32_t* bits_ = nullptr;
};

} // namespace testing_support
