// High contrast: the paint with the colours the user chose (system colours
// set for the test with SetSysColors) lands each colour where the fixed
// palette's counterpart goes, in the same layout; and the window repaints
// when the setting or the colours change.
#include "shell/window/layout.h"
#include "shell/window/paint.h"
#include "shell/window/palette.h"
#include "tests/support/canvas.h"
#include "tests/window/window_fixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>

using testing_support::Canvas;
using window_testing::DpiFonts;
using window_testing::PaintInputsFor;
using window_testing::SetupWindowTest;

namespace {

// A high-contrast scheme of the user's: every colour different from the
// others and from the fixed palette, so each pixel tells which role drew it.
constexpr int kElements[] = {COLOR_WINDOW,        COLOR_WINDOWTEXT, COLOR_HIGHLIGHT,
                             COLOR_HIGHLIGHTTEXT, COLOR_GRAYTEXT,   COLOR_BTNFACE};
constexpr COLORREF kWindow = RGB(0, 0, 0);
constexpr COLORREF kWindowText = RGB(255, 255, 0);
constexpr COLORREF kHighlight = RGB(0, 255, 255);
constexpr COLORREF kHighlightText = RGB(0, 0, 160);
constexpr COLORREF kGrayText = RGB(0, 255, 0);
constexpr COLORREF kButtonFace = RGB(96, 0, 96);
constexpr COLORREF kScheme[] = {kWindow,        kWindowText, kHighlight,
                                kHighlightText, kGrayText,   kButtonFace};

// Sets the scheme for the test and puts the previous colours back.
class UserColours {
  public:
    UserColours() {
        for (int i = 0; i < 6; ++i) {
            saved_[i] = GetSysColor(kElements[i]);
        }
        set_ = SetSysColors(6, kElements, kScheme) != FALSE;
    }
    ~UserColours() { SetSysColors(6, kElements, saved_); }
    UserColours(const UserColours&) = delete;
    UserColours& operator=(const UserColours&) = delete;
    bool set() const { return set_; }

  private:
    COLORREF saved_[6]{};
    bool set_ = false;
};

struct ContrastCase {
    const char* name;
    JobPhase phase;
    bool primaryHover;
    bool closeHover;
    COLORREF buttonFace;
    COLORREF buttonLabel;
    int fillPercent; // of the progress track, drawn in highlight
};

void PrintTo(const ContrastCase& c, std::ostream* out) {
    *out << c.name;
}

class HighContrastPaintTest : public ::testing::TestWithParam<ContrastCase> {
  protected:
    void SetUp() override {
        ASSERT_TRUE(colours_.set()) << "SetSysColors failed: " << GetLastError();
        ASSERT_EQ(GetSysColor(COLOR_HIGHLIGHT), kHighlight);
    }
    DpiFonts fonts_{96};
    UserColours colours_;
};

// The palette by high-contrast state, part by part: off, the window's own
// colours; on, the colour of the user's scheme that each part takes.
struct PartColours {
    const char* part;
    COLORREF Palette::*field;
    COLORREF fixed;
    COLORREF userScheme;
};

const PartColours kPartColours[] = {
    {"background", &Palette::background, colours::kBackground, kWindow},
    {"line", &Palette::line, colours::kLine, kWindowText},
    {"bright", &Palette::bright, colours::kBright, kWindowText},
    {"closeHover", &Palette::closeHover, colours::kCloseHover, kHighlight},
    {"closeGlyph", &Palette::closeGlyph, colours::kDim, kWindowText},
    {"closeGlyphHover", &Palette::closeGlyphHover, colours::kBright, kHighlightText},
    {"dim", &Palette::dim, colours::kDim, kWindowText},
    {"mid", &Palette::mid, colours::kMid, kWindowText},
    {"progressFill", &Palette::progressFill, colours::kAccent, kHighlight},
    {"button", &Palette::button, colours::kAccent, kHighlight},
    {"buttonHover", &Palette::buttonHover, colours::kAccentHover, kHighlight},
    {"buttonText", &Palette::buttonText, colours::kButtonText, kHighlightText},
    {"buttonDisabled", &Palette::buttonDisabled, colours::kDisabled, kButtonFace},
    {"disabledText", &Palette::disabledText, colours::kDim, kGrayText},
    {"error", &Palette::error, colours::kError, kWindowText},
};

TEST(PaletteChoiceTest, EachPartTakesTheColourOfTheHighContrastState) {
    UserColours scheme;
    ASSERT_TRUE(scheme.set()) << "SetSysColors failed: " << GetLastError();
    for (const bool highContrast : {false, true}) {
        const Palette palette = PaletteFor(highContrast);
        for (const PartColours& c : kPartColours) {
            EXPECT_EQ(palette.*c.field, highContrast ? c.userScheme : c.fixed)
                << c.part << (highContrast ? " with" : " without") << " high contrast";
        }
    }
}

std::unique_ptr<Canvas> PaintWith(const PaintInputs& in) {
    auto canvas = std::make_unique<Canvas>(480, 560);
    EXPECT_TRUE(canvas->valid());
    DrawWindowContents(canvas->dc(), 480, 560, in);
    return canvas;
}

TEST_P(HighContrastPaintTest, EachPartTakesItsSystemColourInTheSameLayout) {
    const ContrastCase& c = GetParam();
    PaintInputs in = PaintInputsFor(WindowMode::Install, c.phase);
    in.latestVersion = L"2.4.1";
    in.releaseNotes = L"Faster start and smaller clips.";
    in.progressPercent = 50;
    in.primaryHover = c.primaryHover;
    in.closeHover = c.closeHover;
    in.palette = PaletteFor(false);
    const std::unique_ptr<Canvas> fixed = PaintWith(in);
    in.palette = PaletteFor(true);
    const std::unique_ptr<Canvas> contrast = PaintWith(in);
    const WindowLayout layout = ComputeLayout(480, 560, 96);
    const RECT whole{0, 0, 480, 560};

    // Nothing of the fixed palette is left.
    for (COLORREF own : {colours::kBackground, colours::kLine, colours::kBright, colours::kMid,
                         colours::kDim, colours::kAccent, colours::kError, colours::kDisabled}) {
        EXPECT_EQ(contrast->Count(whole, own), 0) << std::hex << own;
    }
    // Panel, border and texts.
    EXPECT_EQ(contrast->Pixel(240, 60), kWindow);
    EXPECT_EQ(contrast->Pixel(0, 0), kWindowText);
    EXPECT_EQ(contrast->Pixel(479, 559), kWindowText);
    for (const RECT& text : {layout.modeWord, layout.headline, layout.description, layout.status}) {
        EXPECT_GT(contrast->Count(text, kWindowText), 0) << text;
        // The same letters in the same places.
        EXPECT_EQ(contrast->Ink(text, kWindow), fixed->Ink(text, colours::kBackground)) << text;
    }
    // The primary button: highlight when it acts, button face when it does not.
    const RECT& button = layout.button;
    EXPECT_EQ(contrast->Pixel(button.left, button.top), c.buttonFace);
    EXPECT_EQ(contrast->Pixel(button.right - 1, button.bottom - 1), c.buttonFace);
    EXPECT_GT(contrast->Count(button, c.buttonLabel), 0);
    EXPECT_EQ(contrast->Ink(button, c.buttonFace),
              fixed->Ink(button, fixed->Pixel(button.left, button.top)));
    // Progress: the done part in highlight, the rest of the track in text colour.
    const RECT& track = layout.track;
    const int fill = (track.right - track.left) * c.fillPercent / 100;
    EXPECT_EQ(contrast->Count(track, kHighlight), fill * (track.bottom - track.top));
    EXPECT_EQ(contrast->Pixel(track.right - 1, track.top),
              c.fillPercent == 100 ? kHighlight : kWindowText);
    // The close box lights up in highlight under the mouse.
    const RECT& box = layout.closeBox;
    EXPECT_EQ(contrast->Pixel(box.left + 1, box.top + 1), c.closeHover ? kHighlight : kWindow);
    EXPECT_GT(contrast->Count(box, c.closeHover ? kHighlightText : kWindowText), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Phases, HighContrastPaintTest,
    ::testing::Values(
        ContrastCase{"Checking", Checking, false, false, kButtonFace, kGrayText, 0},
        ContrastCase{"ReadyHovered", Ready, true, true, kHighlight, kHighlightText, 0},
        ContrastCase{"WorkingHalfWay", Working, true, false, kButtonFace, kGrayText, 50},
        ContrastCase{"Done", Done, false, false, kHighlight, kHighlightText, 100},
        ContrastCase{"Failed", Failed, false, false, kHighlight, kHighlightText, 0}),
    [](const ::testing::TestParamInfo<ContrastCase>& info) { return info.param.name; });

// A change of the setting or of the system colours makes the window paint
// everything again, so a switch to or from high contrast shows at once.
struct SettingCase {
    const char* name;
    UINT message;
    WPARAM wParam;
};

void PrintTo(const SettingCase& c, std::ostream* out) {
    *out << c.name;
}

class SettingRepaintTest : public SetupWindowTest,
                           public ::testing::WithParamInterface<SettingCase> {};

TEST_P(SettingRepaintTest, TheWholeWindowIsPaintedAgain) {
    ASSERT_NO_FATAL_FAILURE(CreateSetupWindow(WindowMode::Uninstall));
    RECT pending{};
    ASSERT_FALSE(GetUpdateRect(window_, &pending, FALSE)) << "painted already";
    SendMessageW(window_, GetParam().message, GetParam().wParam, 0);
    ASSERT_TRUE(GetUpdateRect(window_, &pending, FALSE));
    RECT client{};
    GetClientRect(window_, &client);
    EXPECT_EQ(pending, client);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, SettingRepaintTest,
    ::testing::Values(SettingCase{"HighContrastSwitched", WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST},
                      SettingCase{"SystemColoursChanged", WM_SYSCOLORCHANGE, 0}),
    [](const ::testing::TestParamInfo<SettingCase>& info) { return info.param.name; });

} // namespace
