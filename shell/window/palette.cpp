#include "shell/window/palette.h"

Palette SystemColourPalette() {
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    const COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    const COLORREF highlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
    Palette palette{};
    palette.background = window;
    palette.line = text;
    palette.bright = text;
    palette.closeHover = highlight;
    palette.closeGlyph = text;
    palette.closeGlyphHover = highlightText;
    palette.dim = text;
    palette.mid = text;
    palette.progressFill = highlight;
    palette.button = highlight;
    palette.buttonHover = highlight;
    palette.buttonText = highlightText;
    palette.buttonDisabled = GetSysColor(COLOR_BTNFACE);
    palette.disabledText = GetSysColor(COLOR_GRAYTEXT);
    // The failure sentence keeps the text colour: the headline "Stopped"
    // says it failed, and high contrast has no colour of its own for errors.
    palette.error = text;
    return palette;
}

bool HighContrastOn() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) != FALSE &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

Palette PaletteFor(bool highContrast) {
    return highContrast ? SystemColourPalette() : kFixedPalette;
}

Palette CurrentPalette() {
    return PaletteFor(HighContrastOn());
}
