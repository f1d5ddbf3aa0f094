#include "shell/window/layout.h"

#include "shell/window/scale.h"

#include <algorithm>

WindowLayout ComputeLayout(int width, int height, UINT dpi) {
    const auto px = [dpi](int logical) { return ScalePxAt(logical, dpi); };
    const int margin = px(28);
    const int right = width - margin;

    WindowLayout layout{};
    layout.mark = RECT{margin, px(16), margin + px(16), px(16) + px(16)};
    layout.markArm = px(5);
    layout.name = RECT{layout.mark.right + px(8), px(12), width - px(48), px(34)};
    layout.closeBox = RECT{width - px(40), 0, width, px(40)};
    layout.modeWord = RECT{margin, px(78), right, px(96)};
    layout.headline = RECT{margin, px(104), right, px(150)};
    layout.description = RECT{margin, px(162), right, px(230)};
    layout.version = RECT{margin, px(236), right, px(258)};
    layout.notes = RECT{margin, px(260), right, px(320)};
    layout.track = RECT{margin, height - px(132), right, height - px(128)};
    layout.status = RECT{margin, height - px(118), right, height - px(78)};
    layout.button = RECT{margin, height - px(64), margin + px(148), height - px(28)};
    layout.letterSpace = px(2);
    return layout;
}

int ProgressFillWidth(int trackWidth, JobPhase phase, int percent) {
    if (phase == Done) {
        return trackWidth;
    }
    if (phase != Working) {
        return 0;
    }
    return trackWidth * std::clamp(percent, 0, 100) / 100;
}
