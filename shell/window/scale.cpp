#include "shell/window/scale.h"

#include "shell/app_state.h"

int ScalePxAt(int value, UINT dpi) {
    return MulDiv(value, static_cast<int>(dpi), 96);
}

int ScalePx(int value) {
    return ScalePxAt(value, g_app.dpi);
}
