// The window's four fonts, owned by g_app and remade whenever the DPI changes.
#pragma once

#include <windows.h>

inline constexpr wchar_t kFontFace[] = L"Segoe UI Variable Text";

// A new font of the given character height in device pixels (already scaled)
// and weight. Null when the system cannot make one; text drawn with a null
// font uses the device context's current font.
HFONT MakeFont(int pixelHeight, int weight);

// Deletes the four fonts of g_app and makes them anew for g_app.dpi: title 32
// px light, body 15 px normal, small 12 px normal, button 13 px semibold
// (logical pixels). UI thread only.
void CreateFonts();

// Deletes the four fonts of g_app that exist and leaves their fields null.
void DeleteFonts();
