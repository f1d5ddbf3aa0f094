#include "shell/window/paint.h"

#include "shell/scoped.h"
#include "shell/window/draw_label.h"
#include "shell/window/labels.h"
#include "shell/window/layout.h"
#include "shell/window/palette.h"

namespace {

void FillWith(HDC dc, const RECT& rect, COLORREF colour) {
    UniqueGdi<HBRUSH> brush(CreateSolidBrush(colour));
    FillRect(dc, &rect, brush.get());
}

// A 1 device pixel pen of colour, selected into dc for the life of the object.
class SelectedPen {
  public:
    SelectedPen(HDC dc, COLORREF colour)
        : dc_(dc), pen_(CreatePen(PS_SOLID, 1, colour)), previous_(SelectObject(dc, pen_.get())) {}
    ~SelectedPen() { SelectObject(dc_, previous_); }
    SelectedPen(const SelectedPen&) = delete;
    SelectedPen& operator=(const SelectedPen&) = delete;

  private:
    HDC dc_;
    UniqueGdi<HPEN> pen_;
    HGDIOBJ previous_;
};

void DrawBorder(HDC dc, int width, int height, COLORREF line) {
    SelectedPen pen(dc, line);
    HGDIOBJ previousBrush = SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
    Rectangle(dc, 0, 0, width, height);
    SelectObject(dc, previousBrush);
}

// Four corner brackets of the square, each one move and two segments that
// meet in the corner.
void DrawFrameMark(HDC dc, const RECT& square, int arm, COLORREF bright) {
    SelectedPen pen(dc, bright);
    const auto bracket = [dc, arm](int x, int y, int dx, int dy) {
        MoveToEx(dc, x, y + dy * arm, nullptr);
        LineTo(dc, x, y);
        LineTo(dc, x + dx * arm, y);
    };
    bracket(square.left, square.top, 1, 1);
    bracket(square.right, square.top, -1, 1);
    bracket(square.left, square.bottom, 1, -1);
    bracket(square.right, square.bottom, -1, -1);
}

void DrawCloseBox(HDC dc, const RECT& box, const PaintInputs& in) {
    if (in.closeHover) {
        FillWith(dc, box, in.palette.closeHover);
    }
    DrawLabel(dc, in.bodyFont, in.closeHover ? in.palette.closeGlyphHover : in.palette.closeGlyph,
              box, L"\u00D7", kCentred);
}

void DrawModeWord(HDC dc, const RECT& rect, int letterSpace, const PaintInputs& in) {
    SetTextCharacterExtra(dc, letterSpace);
    DrawLabel(dc, in.smallFont, in.palette.dim, rect,
              ModeWord(ModeFromFlags(in.uninstallMode, in.updateMode)), kSingleLine);
    SetTextCharacterExtra(dc, 0);
}

void DrawProgress(HDC dc, const RECT& track, const PaintInputs& in) {
    FillWith(dc, track, in.palette.line);
    const int fill = ProgressFillWidth(track.right - track.left, in.phase, in.progressPercent);
    if (fill > 0) {
        FillWith(dc, RECT{track.left, track.top, track.left + fill, track.bottom},
                 in.palette.progressFill);
    }
}

void DrawPrimaryButton(HDC dc, const RECT& rect, const PaintInputs& in) {
    const ButtonLook look =
        PrimaryButtonLook(ModeFromFlags(in.uninstallMode, in.updateMode), in.phase);
    // A disabled button never lights up, whatever the mouse does.
    COLORREF face = in.palette.buttonDisabled;
    if (look.enabled) {
        face = in.primaryHover ? in.palette.buttonHover : in.palette.button;
    }
    FillWith(dc, rect, face);
    DrawLabel(dc, in.buttonFont, look.enabled ? in.palette.buttonText : in.palette.disabledText,
              rect, look.label, kCentred);
}

} // namespace

PaintInputs TakePaintInputs() {
    PaintInputs in;
    in.uninstallMode = g_app.uninstallMode;
    in.updateMode = g_app.updateMode;
    in.closeHover = g_app.closeHover;
    in.primaryHover = g_app.primaryHover;
    in.titleFont = g_app.titleFont;
    in.bodyFont = g_app.bodyFont;
    in.smallFont = g_app.smallFont;
    in.buttonFont = g_app.buttonFont;
    in.dpi = g_app.dpi;
    in.palette = CurrentPalette();
    StatusGuard lock(g_app.statusMutex);
    in.phase = g_app.phase;
    in.statusMessage = g_app.statusMessage;
    in.releaseNotes = g_app.releaseNotes;
    in.latestVersion = g_app.latestVersion;
    in.progressPercent = g_app.progressPercent;
    return in;
}

HitRects DrawWindowContents(HDC dc, int width, int height, const PaintInputs& in) {
    const WindowLayout layout = ComputeLayout(width, height, in.dpi);
    const WindowMode mode = ModeFromFlags(in.uninstallMode, in.updateMode);

    const Palette& colour = in.palette;
    FillWith(dc, RECT{0, 0, width, height}, colour.background);
    DrawBorder(dc, width, height, colour.line);
    DrawFrameMark(dc, layout.mark, layout.markArm, colour.bright);
    DrawLabel(dc, in.smallFont, colour.bright, layout.name, L"MOVORA", kSingleLineMiddle);
    DrawCloseBox(dc, layout.closeBox, in);
    DrawModeWord(dc, layout.modeWord, layout.letterSpace, in);
    DrawLabel(dc, in.titleFont, colour.bright, layout.headline, HeadlineText(mode, in.phase),
              kSingleLine);
    DrawLabel(dc, in.bodyFont, colour.mid, layout.description, DescriptionText(mode), kWrapped);

    const bool versionPhase = in.phase == Ready || in.phase == Working || in.phase == Done;
    if (!in.latestVersion.empty() && versionPhase) {
        DrawLabel(dc, in.smallFont, colour.mid, layout.version, L"Version " + in.latestVersion,
                  kSingleLine);
    }
    if (!in.releaseNotes.empty() && in.phase != Failed) {
        DrawLabel(dc, in.smallFont, colour.dim, layout.notes, in.releaseNotes, kWrapped);
    }

    DrawProgress(dc, layout.track, in);
    DrawLabel(dc, in.smallFont, in.phase == Failed ? colour.error : colour.mid, layout.status,
              in.statusMessage, kWrapped);
    DrawPrimaryButton(dc, layout.button, in);
    return HitRects{layout.closeBox, layout.button};
}

void PaintWindow(HWND window) {
    PAINTSTRUCT paint{};
    HDC windowDc = BeginPaint(window, &paint);
    ScopeExit endPaint([&] { EndPaint(window, &paint); });
    RECT client{};
    GetClientRect(window, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    const PaintInputs inputs = TakePaintInputs();

    UniqueDc memory(CreateCompatibleDC(windowDc));
    UniqueGdi<HBITMAP> bitmap(memory ? CreateCompatibleBitmap(windowDc, width, height) : nullptr);
    HitRects hits{};
    if (memory && bitmap) {
        HGDIOBJ previousBitmap = SelectObject(memory.get(), bitmap.get());
        ScopeExit restore([&] { SelectObject(memory.get(), previousBitmap); });
        hits = DrawWindowContents(memory.get(), width, height, inputs);
        BitBlt(windowDc, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
    } else {
        // Out of GDI resources (or an empty client area): a flickering paint
        // is better than none, and the hit rectangles stay current.
        hits = DrawWindowContents(windowDc, width, height, inputs);
    }
    g_app.closeButtonRect = hits.closeButton;
    g_app.primaryButtonRect = hits.primaryButton;
}
