// Painting the whole window: off-screen, from a snapshot, in one copy.
#pragma once

#include "shell/app_state.h"
#include "shell/window/palette.h"

#include <windows.h>

#include <string>

// Everything a paint depends on, taken at one moment: the mode and hover
// flags, the fonts, DPI and palette, and the five job status values copied together.
struct PaintInputs {
    bool uninstallMode = false;
    bool updateMode = false;
    bool closeHover = false;
    bool primaryHover = false;
    HFONT titleFont = nullptr;
    HFONT bodyFont = nullptr;
    HFONT smallFont = nullptr;
    HFONT buttonFont = nullptr;
    UINT dpi = 96;
    Palette palette = kFixedPalette;
    JobPhase phase = Checking;
    std::wstring statusMessage;
    std::wstring releaseNotes;
    std::wstring latestVersion;
    int progressPercent = 0;
};

// The snapshot of g_app for one paint; holds statusMutex only while it copies
// the job status. UI thread only.
PaintInputs TakePaintInputs();

// Where the two clickable areas were drawn.
struct HitRects {
    RECT closeButton;
    RECT primaryButton;
};

// Draws every pixel of a width x height client area into dc (normally a memory
// context) from inputs, and returns where the close box and the primary
// button went. Leaves the fonts of inputs selected into dc.
HitRects DrawWindowContents(HDC dc, int width, int height, const PaintInputs& inputs);

// Handles WM_PAINT: draws the whole client area off-screen, copies it to the
// window with one BitBlt and stores the hit rectangles in g_app. Should the
// off-screen bitmap be unavailable, draws straight to the window instead.
void PaintWindow(HWND window);
