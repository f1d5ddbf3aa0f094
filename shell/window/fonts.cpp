#include "shell/window/fonts.h"

#include "shell/app_state.h"
#include "shell/window/scale.h"

HFONT MakeFont(int pixelHeight, int weight) {
    // A negative height asks for the character height, not the cell height.
    return CreateFontW(-pixelHeight, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, kFontFace);
}

void CreateFonts() {
    DeleteFonts();
    g_app.titleFont = MakeFont(ScalePx(32), FW_LIGHT);
    g_app.bodyFont = MakeFont(ScalePx(15), FW_NORMAL);
    g_app.smallFont = MakeFont(ScalePx(12), FW_NORMAL);
    g_app.buttonFont = MakeFont(ScalePx(13), FW_SEMIBOLD);
}

void DeleteFonts() {
    for (HFONT* font : {&g_app.titleFont, &g_app.bodyFont, &g_app.smallFont, &g_app.buttonFont}) {
        if (*font != nullptr) {
            DeleteObject(*font);
            *font = nullptr;
        }
    }
}
