// Which part of the window a point falls on.
#pragma once

#include <windows.h>

// left <= x < right and top <= y < bottom: right and bottom edges excluded.
bool PointInRect(const RECT& rect, POINT point);

// The answer to WM_NCHITTEST for a point in client coordinates: HTCLIENT on
// the close box and the primary button (as last painted), HTCAPTION elsewhere
// in the top band of 48 logical pixels (so the window can be dragged there),
// HTCLIENT everywhere else. Never a sizing border. UI thread only.
LRESULT HitTestClientPoint(POINT client);
