#include "tests/support/canvas.h"

#include <algorithm>

namespace testing_support {

Canvas::Canvas(int width, int height)
    : width_(width), height_(height), dc_(CreateCompatibleDC(nullptr)) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down: row 0 first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_.reset(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (dc_ && bitmap_) {
        bits_ = static_cast<std::uint32_t*>(bits);
        previous_ = SelectObject(dc_.get(), bitmap_.get());
    }
}

Canvas::~Canvas() {
    if (previous_ != nullptr) {
        SelectObject(dc_.get(), previous_);
    }
}

COLORREF Canvas::Pixel(int x, int y) const {
    if (bits_ == nullptr || x < 0 || y < 0 || x >= width_ || y >= height_) {
        return CLR_INVALID;
    }
    GdiFlush();
    const std::uint32_t value = bits_[static_cast<size_t>(y) * width_ + x];
    return RGB((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

int Canvas::Count(const RECT& rect, COLORREF colour) const {
    int count = 0;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            count += Pixel(x, y) == colour ? 1 : 0;
        }
    }
    return count;
}

RECT Canvas::Ink(const RECT& rect, COLORREF background) const {
    RECT ink{rect.right, rect.bottom, rect.left, rect.top};
    bool any = false;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            if (Pixel(x, y) != background) {
                any = true;
                ink.left = std::min<LONG>(ink.left, x);
                ink.top = std::min<LONG>(ink.top, y);
                ink.right = std::max<LONG>(ink.right, x + 1);
                ink.bottom = std::max<LONG>(ink.bottom, y + 1);
            }
        }
    }
    return any ? ink : RECT{};
}

bool Canvas::SameAs(const Canvas& other, const RECT& rect) const {
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            if (Pixel(x, y) != other.Pixel(x, y)) {
                return false;
            }
        }
    }
    return true;
}

bool Canvas::CopyFromWindow(HWND window) {
    HDC windowDc = GetDC(window);
    if (windowDc == nullptr) {
        return false;
    }
    const BOOL copied = BitBlt(dc_.get(), 0, 0, width_, height_, windowDc, 0, 0, SRCCOPY);
    ReleaseDC(window, windowDc);
    GdiFlush();
    return copied != FALSE;
}

} // namespace testing_support
