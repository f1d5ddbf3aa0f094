// Painting into real GDI bitmaps: the layout at 96, 144 and 192 DPI, where
// each colour lands, the texts by mode and phase, and the whole paint of a
// real window.
#include "shell/window/draw_label.h"
#include "shell/window/fonts.h"
#include "shell/window/labels.h"
#include "shell/window/layout.h"
#include "shell/window/paint.h"
#include "shell/window/palette.h"
#include "tests/support/canvas.h"
#include "tests/window/window_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

using testing_support::Canvas;
using window_testing::DpiFonts;
using window_testing::PaintInputsFor;
using window_testing::ShortName;

namespace {

constexpr COLORREF kBackground = RGB(8, 8, 8);

RECT Scaled(const RECT& r, UINT dpi) {
    const int factor = static_cast<int>(dpi);
    return RECT{r.left * factor / 96, r.top * factor / 96, r.right * factor / 96,
                r.bottom * factor / 96};
}

// The client size of the window at a DPI, as start-up makes it.
SIZE ClientSize(UINT dpi) {
    return SIZE{MulDiv(480, static_cast<int>(dpi), 96), MulDiv(560, static_cast<int>(dpi), 96)};
}

// Paints the whole client area for inputs into a new canvas.
std::unique_ptr<Canvas> Paint(const PaintInputs& in, HitRects* hits = nullptr) {
    const SIZE size = ClientSize(in.dpi);
    auto canvas = std::make_unique<Canvas>(size.cx, size.cy);
    EXPECT_TRUE(canvas->valid());
    const HitRects drawn = DrawWindowContents(canvas->dc(), size.cx, size.cy, in);
    if (hits != nullptr) {
        *hits = drawn;
    }
    return canvas;
}

// ---------------------------------------------------------------------------
// The reference layout, exact at 96 DPI, and every distance scaled at 144 and
// 192 DPI (all reference coordinates are even, so 1.5 times is exact too).

struct NamedRect {
    const char* name;
    RECT WindowLayout::*field;
    RECT reference;
};

const NamedRect kReferenceLayout[] = {
    {"mark", &WindowLayout::mark, {28, 16, 44, 32}},
    {"name", &WindowLayout::name, {52, 12, 432, 34}},
    {"close box", &WindowLayout::closeBox, {440, 0, 480, 40}},
    {"mode word", &WindowLayout::modeWord, {28, 78, 452, 96}},
    {"headline", &WindowLayout::headline, {28, 104, 452, 150}},
    {"description", &WindowLayout::description, {28, 162, 452, 230}},
    {"version", &WindowLayout::version, {28, 236, 452, 258}},
    {"notes", &WindowLayout::notes, {28, 260, 452, 320}},
    {"progress track", &WindowLayout::track, {28, 428, 452, 432}},
    {"status", &WindowLayout::status, {28, 442, 452, 482}},
    {"button", &WindowLayout::button, {28, 496, 176, 532}},
};

class LayoutTest : public ::testing::TestWithParam<UINT> {};

TEST_P(LayoutTest, EveryRectangleIsTheReferenceScaledByTheDpi) {
    const UINT dpi = GetParam();
    const SIZE size = ClientSize(dpi);
    const WindowLayout layout = ComputeLayout(size.cx, size.cy, dpi);
    for (const NamedRect& r : kReferenceLayout) {
        EXPECT_EQ(layout.*r.field, Scaled(r.reference, dpi)) << r.name;
    }
    EXPECT_EQ(layout.markArm, MulDiv(5, static_cast<int>(dpi), 96));
}

TEST_P(LayoutTest, ThePaintReportsTheCloseBoxAndTheButtonAsHitRectangles) {
    DpiFonts fonts(GetParam());
    HitRects hits{};
    Paint(PaintInputsFor(WindowMode::Install, Ready), &hits);
    EXPECT_EQ(hits.closeButton, Scaled(RECT{440, 0, 480, 40}, GetParam()));
    EXPECT_EQ(hits.primaryButton, Scaled(RECT{28, 496, 176, 532}, GetParam()));
}

// Strokes are 1 device pixel at every DPI: the border, and each arm of the
// four corner brackets of the frame mark.
TEST_P(LayoutTest, BorderAndFrameMarkStayOneDevicePixelWide) {
    const UINT dpi = GetParam();
    DpiFonts fonts(dpi);
    const std::unique_ptr<Canvas> canvas = Paint(PaintInputsFor(WindowMode::Install, Checking));
    const int w = canvas->width();
    const int h = canvas->height();
    const int midY = h * 2 / 3; // between the notes and the progress track
    const int midX = w / 2;
    for (POINT edge : {POINT{0, midY}, POINT{w - 1, midY}, POINT{midX, 0}, POINT{midX, h - 1}}) {
        EXPECT_EQ(canvas->Pixel(edge.x, edge.y), colours::kLine) << edge.x << "," << edge.y;
    }
    for (POINT inside : {POINT{1, midY}, POINT{w - 2, midY}, POINT{midX, 1}, POINT{midX, h - 2}}) {
        EXPECT_EQ(canvas->Pixel(inside.x, inside.y), kBackground) << inside.x << "," << inside.y;
    }

    const WindowLayout layout = ComputeLayout(w, h, dpi);
    const RECT& sq = layout.mark;
    struct Corner {
        int x, y, dx, dy; // the corner and the direction its arms run in
    };
    for (const Corner& c :
         {Corner{sq.left, sq.top, 1, 1}, Corner{sq.right, sq.top, -1, 1},
          Corner{sq.left, sq.bottom, 1, -1}, Corner{sq.right, sq.bottom, -1, -1}}) {
        SCOPED_TRACE(::testing::Message() << "corner " << c.x << "," << c.y);
        const int along = 2; // a point on each arm, away from the corner
        EXPECT_EQ(canvas->Pixel(c.x, c.y), colours::kBright);
        // The vertical arm, and its neighbours left and right.
        EXPECT_EQ(canvas->Pixel(c.x, c.y + c.dy * along), colours::kBright);
        EXPECT_EQ(canvas->Pixel(c.x - 1, c.y + c.dy * along), kBackground);
        EXPECT_EQ(canvas->Pixel(c.x + 1, c.y + c.dy * along), kBackground);
        // The horizontal arm, and its neighbours above and below.
        EXPECT_EQ(canvas->Pixel(c.x + c.dx * along, c.y), colours::kBright);
        EXPECT_EQ(canvas->Pixel(c.x + c.dx * along, c.y - 1), kBackground);
        EXPECT_EQ(canvas->Pixel(c.x + c.dx * along, c.y + 1), kBackground);
        // The arms end near their length; the brackets do not join.
        EXPECT_EQ(canvas->Pixel(c.x, c.y + c.dy * (layout.markArm + 2)), kBackground);
        EXPECT_EQ(canvas->Pixel(c.x + c.dx * (layout.markArm + 2), c.y), kBackground);
    }
    EXPECT_EQ(canvas->Pixel((sq.left + sq.right) / 2, (sq.top + sq.bottom) / 2), kBackground);
}

INSTANTIATE_TEST_SUITE_P(Dpi, LayoutTest, ::testing::Values(96u, 144u, 192u),
                         [](const ::testing::TestParamInfo<UINT>& info) {
                             return "Dpi" + std::to_string(info.param);
                         });

// ---------------------------------------------------------------------------
// The progress bar.

struct ProgressCase {
    const char* name;
    UINT dpi;
    JobPhase phase;
    int percent;
    int expectedFill; // device pixels
};

void PrintTo(const ProgressCase& c, std::ostream* out) {
    *out << c.name;
}

class ProgressTest : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(ProgressTest, FillsTheTrackByPhaseAndClampedPercent) {
    const ProgressCase& c = GetParam();
    DpiFonts fonts(c.dpi);
    PaintInputs in = PaintInputsFor(WindowMode::Install, c.phase);
    in.progressPercent = c.percent;
    const std::unique_ptr<Canvas> canvas = Paint(in);
    const WindowLayout layout = ComputeLayout(canvas->width(), canvas->height(), c.dpi);
    const RECT& track = layout.track;
    const int rows = track.bottom - track.top;
    const int trackWidth = track.right - track.left;

    EXPECT_EQ(canvas->Count(track, colours::kAccent), c.expectedFill * rows);
    EXPECT_EQ(canvas->Count(track, colours::kLine), (trackWidth - c.expectedFill) * rows);
    // The fill starts at the left end of the track and is one block.
    if (c.expectedFill > 0) {
        EXPECT_EQ(canvas->Pixel(track.left, track.top), colours::kAccent);
        EXPECT_EQ(canvas->Pixel(track.left + c.expectedFill - 1, track.bottom - 1),
                  colours::kAccent);
    }
    // Nothing beyond the track.
    EXPECT_EQ(canvas->Pixel(track.right, track.top), kBackground);
    EXPECT_EQ(canvas->Pixel(track.left, track.top - 1), kBackground);
    EXPECT_EQ(canvas->Pixel(track.left, track.bottom), kBackground);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ProgressTest,
    ::testing::Values(ProgressCase{"WorkingAtZero", 96, Working, 0, 0},
                      ProgressCase{"WorkingHalf", 96, Working, 50, 212},
                      ProgressCase{"WorkingTruncates", 96, Working, 33, 139},
                      ProgressCase{"WorkingFull", 96, Working, 100, 424},
                      ProgressCase{"WorkingAbove100IsFull", 96, Working, 150, 424},
                      ProgressCase{"WorkingBelowZeroIsEmpty", 96, Working, -5, 0},
                      ProgressCase{"DoneIsFullWhateverThePercent", 96, Done, 7, 424},
                      ProgressCase{"DoneBelowZeroIsFull", 96, Done, -5, 424},
                      ProgressCase{"CheckingShowsNone", 96, Checking, 80, 0},
                      ProgressCase{"ReadyShowsNone", 96, Ready, 80, 0},
                      ProgressCase{"FailedShowsNone", 96, Failed, 57, 0},
                      ProgressCase{"WorkingAt144Dpi", 144, Working, 33, 636 * 33 / 100},
                      ProgressCase{"WorkingAt192Dpi", 192, Working, 50, 424}),
    [](const ::testing::TestParamInfo<ProgressCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// The status line, the version line and the notes, by phase.

struct PhaseCase {
    JobPhase phase;
    bool statusInError;
    bool versionShown;
    bool notesShown;
};

void PrintTo(const PhaseCase& c, std::ostream* out) {
    *out << c.phase;
}

class PhaseTextTest : public ::testing::TestWithParam<PhaseCase> {
  protected:
    DpiFonts fonts_{96};
};

TEST_P(PhaseTextTest, StatusColourVersionAndNotesFollowThePhase) {
    const PhaseCase& c = GetParam();
    PaintInputs in = PaintInputsFor(WindowMode::Install, c.phase);
    in.statusMessage = L"Something happened.";
    in.latestVersion = L"2.4.1";
    in.releaseNotes = L"Faster start and smaller clips.";
    const std::unique_ptr<Canvas> canvas = Paint(in);
    const WindowLayout layout = ComputeLayout(480, 560, 96);

    const int errorPixels = canvas->Count(layout.status, colours::kError);
    const int midPixels = canvas->Count(layout.status, colours::kMid);
    if (c.statusInError) {
        EXPECT_GT(errorPixels, 0);
        EXPECT_EQ(midPixels, 0);
    } else {
        EXPECT_EQ(errorPixels, 0);
        EXPECT_GT(midPixels, 0);
    }
    EXPECT_EQ(canvas->Count(layout.version, colours::kMid) > 0, c.versionShown);
    EXPECT_EQ(canvas->Count(layout.notes, colours::kDim) > 0, c.notesShown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PhaseTextTest,
    ::testing::Values(PhaseCase{Checking, false, false, true}, PhaseCase{Ready, false, true, true},
                      PhaseCase{Working, false, true, true}, PhaseCase{Done, false, true, true},
                      PhaseCase{Failed, true, false, false}),
    [](const ::testing::TestParamInfo<PhaseCase>& info) { return ShortName(info.param.phase); });

TEST(PaintTest, EmptyVersionNotesAndStatusDrawNothing) {
    DpiFonts fonts(96);
    PaintInputs in = PaintInputsFor(WindowMode::Uninstall, Ready);
    in.statusMessage.clear();
    const std::unique_ptr<Canvas> canvas = Paint(in);
    const WindowLayout layout = ComputeLayout(480, 560, 96);
    for (const RECT& r : {layout.version, layout.notes, layout.status}) {
        EXPECT_EQ(canvas->Ink(r, kBackground), RECT{}) << r;
    }
}

// Notes and status that need more lines than their rectangle are cut at its
// bottom edge instead of running into the bar or the button.
TEST(PaintTest, LongNotesAndStatusAreCutAtTheirBottomEdge) {
    DpiFonts fonts(96);
    PaintInputs in = PaintInputsFor(WindowMode::Install, Ready);
    std::wstring lines;
    for (int i = 1; i <= 9; ++i) {
        lines += L"Line " + std::to_wstring(i) + L"\n";
    }
    in.releaseNotes = lines;
    in.statusMessage = lines;
    const std::unique_ptr<Canvas> canvas = Paint(in);
    const WindowLayout layout = ComputeLayout(480, 560, 96);
    const int lineHeight = 16;

    EXPECT_GT(canvas->Ink(layout.notes, kBackground).bottom, layout.notes.bottom - lineHeight)
        << "the notes should fill their rectangle";
    const RECT belowNotes{1, layout.notes.bottom, 479, layout.track.top};
    EXPECT_EQ(canvas->Ink(belowNotes, kBackground), RECT{});
    EXPECT_GT(canvas->Ink(layout.status, kBackground).bottom, layout.status.bottom - lineHeight);
    const RECT belowStatus{1, layout.status.bottom, 479, layout.button.top};
    EXPECT_EQ(canvas->Ink(belowStatus, kBackground), RECT{});
}

// An "&" from the server is drawn as itself: "A&B" is wider than "AB" and
// has no underline below it, which prefix processing would draw instead.
TEST(PaintTest, AnAmpersandInServerTextsIsDrawnNotTurnedIntoAnUnderline) {
    DpiFonts fonts(96);
    const WindowLayout layout = ComputeLayout(480, 560, 96);
    struct Field {
        const char* name;
        std::wstring PaintInputs::*text;
        RECT rect;
    };
    for (const Field& f : {Field{"version", &PaintInputs::latestVersion, layout.version},
                           Field{"notes", &PaintInputs::releaseNotes, layout.notes},
                           Field{"status", &PaintInputs::statusMessage, layout.status}}) {
        PaintInputs plain = PaintInputsFor(WindowMode::Install, Ready);
        PaintInputs ampersand = plain;
        plain.*f.text = L"AB";
        ampersand.*f.text = L"A&B";
        const RECT plainInk = Paint(plain)->Ink(f.rect, kBackground);
        const RECT ampersandInk = Paint(ampersand)->Ink(f.rect, kBackground);
        EXPECT_GT(ampersandInk.right - ampersandInk.left, plainInk.right - plainInk.left + 2)
            << f.name;
        EXPECT_EQ(ampersandInk.bottom, plainInk.bottom) << f.name;
    }
}

// ---------------------------------------------------------------------------
// Close box and primary button colours.

TEST(PaintTest, TheCloseBoxLightsUpOnlyWhileHovered) {
    DpiFonts fonts(96);
    const RECT box{440, 0, 480, 40};
    const RECT inner{441, 1, 479, 39}; // inside the window border
    PaintInputs in = PaintInputsFor(WindowMode::Install, Ready);

    const std::unique_ptr<Canvas> calm = Paint(in);
    EXPECT_EQ(calm->Pixel(box.left + 2, box.top + 2), kBackground);
    EXPECT_GT(calm->Count(inner, colours::kDim), 0);
    EXPECT_EQ(calm->Count(inner, colours::kBright), 0);

    in.closeHover = true;
    const std::unique_ptr<Canvas> hovered = Paint(in);
    EXPECT_EQ(hovered->Pixel(box.left + 2, box.top + 2), colours::kCloseHover);
    EXPECT_EQ(hovered->Pixel(box.left, box.bottom - 1), colours::kCloseHover);
    EXPECT_EQ(hovered->Pixel(box.left - 1, box.top + 2), kBackground);
    EXPECT_GT(hovered->Count(inner, colours::kBright), 0);
    EXPECT_EQ(hovered->Count(inner, colours::kDim), 0);
}

struct HoverCase {
    const char* name;
    JobPhase phase;
    bool hover;
    COLORREF face;
    COLORREF text;
};

void PrintTo(const HoverCase& c, std::ostream* out) {
    *out << c.name;
}

class ButtonHoverTest : public ::testing::TestWithParam<HoverCase> {
  protected:
    DpiFonts fonts_{96};
};

TEST_P(ButtonHoverTest, OnlyAnEnabledButtonLightsUp) {
    const HoverCase& c = GetParam();
    PaintInputs in = PaintInputsFor(WindowMode::Install, c.phase);
    in.primaryHover = c.hover;
    const std::unique_ptr<Canvas> canvas = Paint(in);
    const RECT button{28, 496, 176, 532};
    EXPECT_EQ(canvas->Pixel(button.left, button.top), c.face);
    EXPECT_EQ(canvas->Pixel(button.right - 1, button.bottom - 1), c.face);
    EXPECT_EQ(canvas->Pixel(button.right, button.top), kBackground);
    EXPECT_EQ(canvas->Pixel(button.left, button.bottom), kBackground);
    EXPECT_GT(canvas->Count(button, c.text), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ButtonHoverTest,
    ::testing::Values(
        HoverCase{"ReadyCalm", Ready, false, colours::kAccent, colours::kButtonText},
        HoverCase{"ReadyHovered", Ready, true, colours::kAccentHover, colours::kButtonText},
        HoverCase{"FailedHovered", Failed, true, colours::kAccentHover, colours::kButtonText},
        HoverCase{"DoneCalm", Done, false, colours::kAccent, colours::kButtonText},
        HoverCase{"WorkingHoveredStaysDisabled", Working, true, colours::kDisabled, colours::kDim},
        HoverCase{"CheckingHoveredStaysDisabled", Checking, true, colours::kDisabled,
                  colours::kDim}),
    [](const ::testing::TestParamInfo<HoverCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// The texts by mode and phase, compared with the expected text drawn by hand
// with the same font into the same place.

struct TextCase {
    WindowMode mode;
    JobPhase phase;
    const wchar_t* headline;
    const wchar_t* button;
    bool enabled;
};

void PrintTo(const TextCase& c, std::ostream* out) {
    *out << ShortName(c.mode) << ShortName(c.phase);
}

// text drawn the way the window draws labels, into the same rectangle of a
// copy of the painted canvas with that rectangle refilled.
bool RegionShowsText(const Canvas& painted, const RECT& rect, COLORREF fill, HFONT font,
                     COLORREF colour, const std::wstring& text, UINT format, int letterSpace = 0) {
    Canvas expected(painted.width(), painted.height());
    UniqueGdi<HBRUSH> brush(CreateSolidBrush(fill));
    FillRect(expected.dc(), &rect, brush.get());
    SetBkMode(expected.dc(), TRANSPARENT);
    SetTextColor(expected.dc(), colour);
    SelectObject(expected.dc(), font);
    SetTextCharacterExtra(expected.dc(), letterSpace);
    RECT box = rect;
    DrawTextW(expected.dc(), text.c_str(), static_cast<int>(text.size()), &box,
              format | DT_NOPREFIX);
    return painted.SameAs(expected, rect);
}

class TextTableTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextTableTest, HeadlineModeWordAndButtonFollowTheTables) {
    const TextCase& c = GetParam();
    for (UINT dpi : {96u, 192u}) {
        SCOPED_TRACE(::testing::Message() << "dpi " << dpi);
        DpiFonts fonts(dpi);
        PaintInputs in = PaintInputsFor(c.mode, c.phase);
        const std::unique_ptr<Canvas> canvas = Paint(in);
        const WindowLayout layout = ComputeLayout(canvas->width(), canvas->height(), dpi);

        EXPECT_TRUE(RegionShowsText(*canvas, layout.headline, kBackground, in.titleFont,
                                    colours::kBright, c.headline, DT_SINGLELINE));
        const wchar_t* modeWord = c.mode == WindowMode::Uninstall ? L"UNINSTALL"
                                  : c.mode == WindowMode::Update  ? L"UPDATE"
                                                                  : L"INSTALL";
        EXPECT_TRUE(RegionShowsText(*canvas, layout.modeWord, kBackground, in.smallFont,
                                    colours::kDim, modeWord, DT_SINGLELINE,
                                    MulDiv(2, static_cast<int>(dpi), 96)));
        EXPECT_TRUE(RegionShowsText(*canvas, layout.button,
                                    c.enabled ? colours::kAccent : colours::kDisabled,
                                    in.buttonFont, c.enabled ? colours::kButtonText : colours::kDim,
                                    c.button, DT_SINGLELINE | DT_VCENTER | DT_CENTER))
            << "button " << std::string(c.button, c.button + wcslen(c.button));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TextTableTest,
    ::testing::Values(TextCase{WindowMode::Install, Checking, L"Movora", L"Install", false},
                      TextCase{WindowMode::Install, Ready, L"Movora", L"Install", true},
                      TextCase{WindowMode::Install, Working, L"Movora", L"Working", false},
                      TextCase{WindowMode::Install, Done, L"Ready", L"Open Movora", true},
                      TextCase{WindowMode::Install, Failed, L"Stopped", L"Try again", true},
                      TextCase{WindowMode::Update, Checking, L"Movora", L"Install", false},
                      TextCase{WindowMode::Update, Ready, L"Movora", L"Update", true},
                      TextCase{WindowMode::Update, Working, L"Movora", L"Working", false},
                      TextCase{WindowMode::Update, Done, L"Ready", L"Open Movora", true},
                      TextCase{WindowMode::Update, Failed, L"Stopped", L"Try again", true},
                      TextCase{WindowMode::Uninstall, Checking, L"Movora", L"Uninstall", false},
                      TextCase{WindowMode::Uninstall, Ready, L"Movora", L"Uninstall", true},
                      TextCase{WindowMode::Uninstall, Working, L"Movora", L"Working", false},
                      TextCase{WindowMode::Uninstall, Done, L"Removed", L"Close", true},
                      TextCase{WindowMode::Uninstall, Failed, L"Stopped", L"Try again", true}),
    [](const ::testing::TestParamInfo<TextCase>& info) {
        return ShortName(info.param.mode) + ShortName(info.param.phase);
    });

// Both mode flags set: uninstall governs the words of the window.
TEST(PaintTest, UninstallGovernsWhenBothModeFlagsAreSet) {
    EXPECT_EQ(ModeFromFlags(true, true), WindowMode::Uninstall);
    DpiFonts fonts(96);
    PaintInputs both = PaintInputsFor(WindowMode::Uninstall, Done);
    both.updateMode = true;
    const std::unique_ptr<Canvas> canvas = Paint(both);
    const WindowLayout layout = ComputeLayout(480, 560, 96);
    EXPECT_TRUE(RegionShowsText(*canvas, layout.headline, kBackground, both.titleFont,
                                colours::kBright, L"Removed", DT_SINGLELINE));
    EXPECT_TRUE(RegionShowsText(*canvas, layout.button, colours::kAccent, both.buttonFont,
                                colours::kButtonText, L"Close",
                                DT_SINGLELINE | DT_VCENTER | DT_CENTER));
}

// ---------------------------------------------------------------------------
// PaintWindow on a real window: what reaches the screen is the whole drawing,
// and the hit rectangles are stored for the hit tests.

LRESULT CALLBACK PaintOnlyProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PaintWindow(window);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST(PaintWindowTest, CopiesTheWholeDrawingToTheWindowAndStoresTheHitRectangles) {
    DpiFonts fonts(96);
    window_testing::StatusSnapshot saved;
    {
        StatusGuard lock(g_app.statusMutex);
        g_app.phase = Working;
        g_app.statusMessage = L"Downloading";
        g_app.progressPercent = 40;
        g_app.latestVersion = L"3.0";
        g_app.releaseNotes = L"Notes.";
    }
    g_app.closeButtonRect = RECT{};
    g_app.primaryButtonRect = RECT{};

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PaintOnlyProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PaintOnlyTestWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"PaintOnlyTestWindow", L"", WS_POPUP | WS_VISIBLE, 0, 0, 480,
                                  560, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    UpdateWindow(window);

    Canvas onScreen(480, 560);
    ASSERT_TRUE(onScreen.CopyFromWindow(window));
    const std::unique_ptr<Canvas> expected = Paint(TakePaintInputs());
    EXPECT_TRUE(onScreen.SameAs(*expected, RECT{0, 0, 480, 560}));
    EXPECT_EQ(g_app.closeButtonRect, (RECT{440, 0, 480, 40}));
    EXPECT_EQ(g_app.primaryButtonRect, (RECT{28, 496, 176, 532}));
    DestroyWindow(window);
}

} // namespace
