// Where each part of the window goes, in device pixels.
#pragma once

#include "shell/app_state.h"

#include <windows.h>

// The rectangles of one paint. Every logical length is scaled on its own, so
// a sum such as 16 + 16 is two scaled values added; width and height are the
// client size in device pixels, used unchanged.
struct WindowLayout {
    RECT mark;     // the square whose corners the frame mark brackets
    int markArm;   // length of each bracket arm
    RECT name;     // "MOVORA"
    RECT closeBox; // the close glyph box, also its hit rectangle
    RECT modeWord;
    RECT headline;
    RECT description;
    RECT version;
    RECT notes;
    RECT track; // the progress track
    RECT status;
    RECT button;     // the primary button, also its hit rectangle
    int letterSpace; // extra space between the letters of the mode word
};

// The layout of a client area of width x height at dpi. At 96 DPI and 480 x
// 560: mark 28..44 x 16..32, name 52..432 x 12..34, close box 440..480 x
// 0..40, mode word 28..452 x 78..96, headline 28..452 x 104..150, description
// 28..452 x 162..230, version 28..452 x 236..258, notes 28..452 x 260..320,
// track 28..452 x 428..432, status 28..452 x 442..482, button 28..176 x
// 496..532.
WindowLayout ComputeLayout(int width, int height, UINT dpi);

// Width of the progress fill in a track trackWidth wide: the whole track when
// the job is done, percent (limited to 0..100) of it, truncated, while it
// works, none in any other phase.
int ProgressFillWidth(int trackWidth, JobPhase phase, int percent);
