// The window's colours. The window is flat and dark; accent marks what acts.
#pragma once

#include <windows.h>

namespace colours {

inline constexpr COLORREF kBackground = RGB(8, 8, 8);       // whole client area
inline constexpr COLORREF kLine = RGB(36, 36, 36);          // border, progress track
inline constexpr COLORREF kBright = RGB(242, 242, 242);     // mark, name, headline
inline constexpr COLORREF kCloseHover = RGB(28, 28, 28);    // close box under the mouse
inline constexpr COLORREF kDim = RGB(98, 98, 98);           // close glyph, mode word, notes
inline constexpr COLORREF kMid = RGB(146, 146, 146);        // description, version, status
inline constexpr COLORREF kAccent = RGB(53, 214, 154);      // progress fill, enabled button
inline constexpr COLORREF kAccentHover = RGB(61, 228, 166); // enabled button under the mouse
inline constexpr COLORREF kDisabled = RGB(20, 20, 20);      // disabled button
inline constexpr COLORREF kButtonText = RGB(7, 20, 15);     // label of an enabled button
inline constexpr COLORREF kError = RGB(240, 113, 120);      // status line when a job failed

} // namespace colours
