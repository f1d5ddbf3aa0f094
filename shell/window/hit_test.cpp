#include "shell/window/hit_test.h"

#include "shell/app_state.h"
#include "shell/window/scale.h"

bool PointInRect(const RECT& rect, POINT point) {
    return point.x >= rect.left && point.x < rect.right && point.y >= rect.top &&
           point.y < rect.bottom;
}

LRESULT HitTestClientPoint(POINT client) {
    if (PointInRect(g_app.closeButtonRect, client) ||
        PointInRect(g_app.primaryButtonRect, client)) {
        return HTCLIENT;
    }
    return client.y < ScalePx(48) ? HTCAPTION : HTCLIENT;
}
