// What the real MovoraSetup.exe draws, read from Wine's text trace: every
// text, its rectangle and its format flags, and a screenshot of the screen.
#include "tests/support/drawn_text.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

constexpr DWORD kTimeoutMs = 20000;

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

const DrawnText* Find(const std::vector<DrawnText>& drawn, const std::wstring& text) {
    const auto it = std::find_if(drawn.rbegin(), drawn.rend(),
                                 [&](const DrawnText& d) { return d.text == text; });
    return it == drawn.rend() ? nullptr : &*it;
}

TEST(DrawnTextTest, ParsesWineTraceLinesWithTheirEscapes) {
    const std::string log =
        "010c:trace:text:DrawTextExW L\"MOVORA\", -1, [(52,12)-(432,34)] 00000824\n"
        "010c:trace:text:DrawTextExW Params: iTabLength=0, iLeftMargin=0, iRightMargin=0\n"
        "010c:trace:text:DrawTextExW L\"\\00d7\", -1, [(440,0)-(480,40)] 00000825\n"
        "0110:trace:text:DrawTextExW L\"say \\\"A&B\\\"\\nnext \\\\ [(1,1)-(2,2)] 1\", -1, "
        "[(28,442)-(452,482)] 00000810\n"
        "0110:fixme:other:thing L\"not a text\" [(0,0)-(1,1)] 0\n";
    const std::vector<DrawnText> drawn = ParseTextTrace(log);
    ASSERT_EQ(drawn.size(), 3u);
    EXPECT_EQ(drawn[0].text, L"MOVORA");
    EXPECT_EQ(drawn[0].rect.left, 52);
    EXPECT_EQ(drawn[0].rect.bottom, 34);
    EXPECT_EQ(drawn[0].format, 0x824u);
    EXPECT_EQ(drawn[1].text, L"\u00D7");
    EXPECT_EQ(drawn[2].text, L"say \"A&B\"\nnext \\ [(1,1)-(2,2)] 1");
    EXPECT_EQ(drawn[2].rect.top, 442);
    EXPECT_EQ(drawn[2].format, 0x810u);
}

// The release list carries "&" in its version and notes: the window draws
// them as they are, and no text of the window is drawn with prefix
// processing.
TEST(WindowTextTest, TheRealWindowDrawsEveryTextLiterallyInItsPlace) {
    HttpTestServer server;
    ASSERT_TRUE(server.Start());
    server.Script("/latest.json",
                  ScriptedResponse{200, R"({"version": "2.4.1 R&D", "package": ")" +
                                            Narrow(server.Url("/p.zip")) +
                                            R"(", "notes": "Faster start & smaller clips."})"});
    TempFolder folder;
    const std::wstring log = folder / L"text.log";
    // A copy of its own, so no other setup process is taken for it.
    const std::wstring exe = folder / L"MovoraSetup.exe";
    ASSERT_TRUE(CopyFileW(BuiltProgram(L"MovoraSetup.exe").c_str(), exe.c_str(), FALSE));
    StartedProcess setup = StartWithTextTrace(exe, L"--feed " + server.Url("/latest.json"), log);
    ASSERT_TRUE(setup.process);
    HWND window = WaitForProcessWindow(setup.id, L"MovoraSetup", kTimeoutMs);
    ASSERT_NE(window, nullptr);
    const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
    while (Find(ReadTextTrace(log), L"Ready to install.") == nullptr &&
           GetTickCount64() < deadline) {
        Sleep(50);
    }
    EXPECT_TRUE(CaptureScreen(folder / L"ready.png"));
    PostMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_EQ(WaitForExitCode(setup.process.get(), kTimeoutMs), 0u);

    const std::vector<DrawnText> drawn = ReadTextTrace(log);
    ASSERT_FALSE(drawn.empty()) << "no text trace: is this Wine?";
    for (const DrawnText& d : drawn) {
        EXPECT_TRUE(d.format & DT_NOPREFIX) << Narrow(d.text) << " drawn with prefixes";
    }
    struct Expected {
        const wchar_t* text;
        RECT rect;
        UINT format;
    };
    const Expected expected[] = {
        {L"MOVORA", {52, 12, 432, 34}, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX},
        {L"\u00D7", {440, 0, 480, 40}, DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX},
        {L"INSTALL", {28, 78, 452, 96}, DT_SINGLELINE | DT_NOPREFIX},
        {L"Movora", {28, 104, 452, 150}, DT_SINGLELINE | DT_NOPREFIX},
        {L"Version 2.4.1 R&D", {28, 236, 452, 258}, DT_SINGLELINE | DT_NOPREFIX},
        {L"Faster start & smaller clips.", {28, 260, 452, 320}, DT_WORDBREAK | DT_NOPREFIX},
        {L"Ready to install.", {28, 442, 452, 482}, DT_WORDBREAK | DT_NOPREFIX},
        {L"Install", {28, 496, 176, 532}, DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_NOPREFIX},
    };
    for (const Expected& e : expected) {
        const DrawnText* d = Find(drawn, e.text);
        ASSERT_NE(d, nullptr) << Narrow(e.text) << " was never drawn";
        EXPECT_TRUE(EqualRect(&d->rect, &e.rect)) << Narrow(e.text);
        EXPECT_EQ(d->format, e.format) << Narrow(e.text);
    }
    std::error_code ignored;
    EXPECT_GT(fs::file_size(fs::path(folder / L"ready.png"), ignored), 0u);
}

} // namespace
