#include "shell/window/palette.h"

Palette SystemColourPalette() {
    const COLORREF window = GetSysColor(COLOR_WINDOW);
    const COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
    const COLORREF highlight = GetSysColor(COLOR_HIGHLIGHT);
    const COLORREF highlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
    // The failure sentence keeps the text colour: the headline "Stopped"
    // says it failed, and high contrast has no colour of its own for errors.
    return Palette{window,
                   text,
                   text,
                   highlight,
                   text,
                   highlightText,
                   text,
                   text,
                   highlight,
                   highlight,
                   highlight,
                   highlightText,
                   GetSysColor(COLOR_BTNFACE),
                   GetSysColor(COLOR_GRAYTEXT),
                   text};
}

bool HighContrastOn() {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) != FALSE &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0;
}

Palette CurrentPalette() {
    return HighContrastOn() ? SystemColourPalette() : kFixedPalette;
}
