#include "shell/window/draw_label.h"

void DrawLabel(HDC dc, HFONT font, COLORREF colour, const RECT& rect, const std::wstring& text,
               UINT format) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, colour);
    if (font != nullptr) {
        SelectObject(dc, font);
    }
    RECT box = rect;
    DrawTextW(dc, text.c_str(), -1, &box, format);
}
