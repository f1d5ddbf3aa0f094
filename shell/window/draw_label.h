// Drawing one piece of text of the window.
#pragma once

#include <windows.h>

#include <string>

// The text formats of the window. Every one turns prefix processing off: an
// "&" in release notes, a version or a status text from the server is drawn
// as itself, never as an underline under the next letter. No ellipsis: text
// beyond its rectangle is clipped.
inline constexpr UINT kSingleLine = DT_SINGLELINE | DT_NOPREFIX;
inline constexpr UINT kSingleLineMiddle = DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
inline constexpr UINT kCentred = DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX;
inline constexpr UINT kWrapped = DT_WORDBREAK | DT_NOPREFIX;

// Draws text in rect with a transparent background, in colour, with font
// selected into dc (the previous font is not restored: every label selects
// its own). A null font leaves the context's current font in place.
void DrawLabel(HDC dc, HFONT font, COLORREF colour, const RECT& rect, const std::wstring& text,
               UINT format);
