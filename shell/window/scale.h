// Logical pixels to device pixels by the window's DPI.
#pragma once

#include <windows.h>

// value logical pixels at dpi: MulDiv(value, dpi, 96), rounded to nearest.
int ScalePxAt(int value, UINT dpi);

// value logical pixels at the window's current DPI (g_app.dpi). UI thread only.
int ScalePx(int value);
