// The window's colours. The window is flat and dark; accent marks what acts.
// With high contrast on, the same parts take the colours the user chose.
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

// The colour of each part of the window.
struct Palette {
    COLORREF background;      // whole client area
    COLORREF line;            // border, progress track
    COLORREF bright;          // frame mark, name, headline
    COLORREF closeHover;      // close box under the mouse
    COLORREF closeGlyph;      // the close glyph
    COLORREF closeGlyphHover; // the close glyph under the mouse
    COLORREF dim;             // mode word, release notes
    COLORREF mid;             // description, version, status
    COLORREF progressFill;    // done part of the progress track
    COLORREF button;          // enabled button
    COLORREF buttonHover;     // enabled button under the mouse
    COLORREF buttonText;      // label of an enabled button
    COLORREF buttonDisabled;  // disabled button
    COLORREF disabledText;    // label of a disabled button
    COLORREF error;           // status line when a job failed
};

// The window's own dark palette, each part named.
constexpr Palette FixedPalette() {
    Palette palette{};
    palette.background = colours::kBackground;
    palette.line = colours::kLine;
    palette.bright = colours::kBright;
    palette.closeHover = colours::kCloseHover;
    palette.closeGlyph = colours::kDim;
    palette.closeGlyphHover = colours::kBright;
    palette.dim = colours::kDim;
    palette.mid = colours::kMid;
    palette.progressFill = colours::kAccent;
    palette.button = colours::kAccent;
    palette.buttonHover = colours::kAccentHover;
    palette.buttonText = colours::kButtonText;
    palette.buttonDisabled = colours::kDisabled;
    palette.disabledText = colours::kDim;
    palette.error = colours::kError;
    return palette;
}
inline constexpr Palette kFixedPalette = FixedPalette();

// The user's high-contrast colours (GetSysColor): window and window text for
// the panel and every text, highlight and highlight text for what acts and
// for progress, button face and grey text for the disabled button.
Palette SystemColourPalette();

// Whether the user has high contrast on (SPI_GETHIGHCONTRAST).
bool HighContrastOn();

// The palette for a high-contrast state: the system colours when it is on,
// the fixed palette otherwise.
Palette PaletteFor(bool highContrast);

// The palette of the next paint: PaletteFor the user's current setting.
Palette CurrentPalette();
