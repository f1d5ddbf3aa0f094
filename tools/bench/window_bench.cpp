// The Windows side of tools/bench/window-bench: watches the real setup window
// from another process, as a user would see it on the screen.
//
//   window_bench.exe first-paint <rounds> <setup exe> <minimal exe> <setup arguments>
//       Per round, one line each: "paint_setup <s>" and "paint_minimal <s>",
//       the time from just before CreateProcessW to the first complete paint
//       seen on the screen; the two alternate which goes first.
//   window_bench.exe responsiveness <setup exe> <minimal exe> <setup arguments>
//       Waits for "Ready", presses Enter (posted), and while the install runs
//       sends WM_NULL every 2 ms to the setup window and, from a second
//       thread, to an idle minimal window; prints the round trips of both
//       ("setup_..." and "idle_..."), each one over 10 ms with when it was
//       sent, and "install_seconds", or "failed <reason>".
//
// "First complete paint" is read from the screen: the window's top-left pixel
// in the border colour and its centre pixel in the background colour. Both
// programs cover every pixel of the window in one go (the setup program
// copies one off-screen bitmap with one BitBlt; the minimal program fills and
// frames its client area in one paint, and the screen behind a new window is
// black), so the first poll that sees both sees the whole first paint. Polls
// come every millisecond or so.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr COLORREF kBackground = RGB(8, 8, 8);
constexpr COLORREF kLine = RGB(36, 36, 36);
constexpr COLORREF kAccent = RGB(53, 214, 154);
constexpr COLORREF kAccentHover = RGB(61, 228, 166);
constexpr COLORREF kDisabled = RGB(20, 20, 20);
constexpr COLORREF kError = RGB(240, 113, 120);
constexpr DWORD kTimeoutMs = 30000;

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency.QuadPart;
}

LARGE_INTEGER Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now;
}

struct Child {
    HANDLE process = nullptr;
    DWORD id = 0;
};

Child Start(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    Child child;
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
        CloseHandle(info.hThread);
        child.process = info.hProcess;
        child.id = info.dwProcessId;
    }
    return child;
}

// Ends the child and waits until its window is off the screen's window list.
void End(Child& child, const wchar_t* className) {
    if (child.process == nullptr) {
        return;
    }
    TerminateProcess(child.process, 0);
    WaitForSingleObject(child.process, kTimeoutMs);
    CloseHandle(child.process);
    child.process = nullptr;
    for (int i = 0; i < 1000 && FindWindowW(className, nullptr) != nullptr; ++i) {
        Sleep(5);
    }
    Sleep(200); // the screen behind the window is black again
}

// The visible window of the class, or null.
HWND VisibleWindow(const wchar_t* className) {
    HWND window = FindWindowW(className, nullptr);
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

// A pixel of the window at a client point, read from the screen.
COLORREF ScreenPixel(HDC screen, HWND window, int x, int y) {
    POINT point{x, y};
    ClientToScreen(window, &point);
    return GetPixel(screen, point.x, point.y);
}

bool LooksPainted(HDC screen, HWND window) {
    RECT client;
    GetClientRect(window, &client);
    return ScreenPixel(screen, window, 0, 0) == kLine &&
           ScreenPixel(screen, window, client.right / 2, client.bottom / 2) == kBackground;
}

// Seconds from process start to the first complete paint; negative on a time-out.
double TimeToFirstPaint(const std::wstring& exe, const std::wstring& arguments,
                        const wchar_t* className) {
    HDC screen = GetDC(nullptr);
    const LARGE_INTEGER start = Now();
    Child child = Start(exe, arguments);
    double seconds = -1;
    const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
    while (child.process != nullptr && GetTickCount64() < deadline) {
        HWND window = VisibleWindow(className);
        if (window != nullptr && LooksPainted(screen, window)) {
            seconds = Seconds(start, Now());
            break;
        }
        Sleep(1);
    }
    ReleaseDC(nullptr, screen);
    End(child, className);
    return seconds;
}

int FirstPaint(int rounds, const std::wstring& setup, const std::wstring& minimal,
               const std::wstring& arguments) {
    for (int round = 0; round < rounds; ++round) {
        // Alternating which goes first evens out a machine that warms up.
        const bool setupFirst = round % 2 == 0;
        for (int i = 0; i < 2; ++i) {
            const bool isSetup = (i == 0) == setupFirst;
            const double seconds = isSetup ? TimeToFirstPaint(setup, arguments, L"MovoraSetup")
                                           : TimeToFirstPaint(minimal, L"", L"MinimalWindow");
            if (seconds < 0) {
                std::printf("failed no paint of %s\n",
                            isSetup ? "the setup window" : "the minimal window");
                return 1;
            }
            std::printf("%s %.6f\n", isSetup ? "paint_setup" : "paint_minimal", seconds);
            std::fflush(stdout);
        }
    }
    return 0;
}

COLORREF ButtonPixel(HDC screen, HWND window) {
    const UINT dpi = GetDpiForWindow(window);
    RECT client;
    GetClientRect(window, &client);
    // Just inside the button's top-left corner, away from its label.
    return ScreenPixel(screen, window, MulDiv(28, dpi, 96) + 2,
                       client.bottom - MulDiv(64, dpi, 96) + 2);
}

bool StatusLooksFailed(HDC screen, HWND window) {
    const UINT dpi = GetDpiForWindow(window);
    RECT client;
    GetClientRect(window, &client);
    const int top = client.bottom - MulDiv(118, dpi, 96);
    for (int y = top; y < top + MulDiv(16, dpi, 96); ++y) {
        for (int x = MulDiv(28, dpi, 96); x < MulDiv(200, dpi, 96); ++x) {
            if (ScreenPixel(screen, window, x, y) == kError) {
                return true;
            }
        }
    }
    return false;
}

bool ButtonEnabled(COLORREF colour) {
    return colour == kAccent || colour == kAccentHover;
}

// The answers of one window, pinged from a thread of its own every 2 ms.
struct Pinger {
    HWND window = nullptr;
    LARGE_INTEGER start{};
    std::vector<double> roundTrips; // ms
    std::vector<double> sentAt;     // s since start
    double gapMax = 0;              // ms between two answers
    bool answered = true;           // false: a WM_NULL went unanswered for 5 s

    void Run(const std::atomic<bool>& stop) {
        LARGE_INTEGER lastAnswer = start;
        while (!stop.load()) {
            const LARGE_INTEGER sent = Now();
            DWORD_PTR result = 0;
            if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) {
                answered = false;
                return;
            }
            const LARGE_INTEGER answer = Now();
            roundTrips.push_back(Seconds(sent, answer) * 1000);
            sentAt.push_back(Seconds(start, sent));
            gapMax = std::max(gapMax, Seconds(lastAnswer, answer) * 1000);
            lastAnswer = answer;
            Sleep(2);
        }
    }

    // Figures, and every round trip over 10 ms with when it was sent.
    void Print(const char* prefix) const {
        std::vector<double> sorted = roundTrips;
        std::sort(sorted.begin(), sorted.end());
        std::printf("%s_pings %zu\n", prefix, sorted.size());
        std::printf("%s_roundtrip_max_ms %.3f\n", prefix, sorted.back());
        std::printf("%s_roundtrip_p99_ms %.3f\n", prefix, sorted[sorted.size() * 99 / 100]);
        std::printf("%s_roundtrip_median_ms %.3f\n", prefix, sorted[sorted.size() / 2]);
        std::printf("%s_gap_max_ms %.3f\n", prefix, gapMax);
        for (size_t i = 0; i < roundTrips.size(); ++i) {
            if (roundTrips[i] > 10) {
                std::printf("%s_slow %.3f %.3f\n", prefix, roundTrips[i], sentAt[i]);
            }
        }
    }
};

HWND WaitForVisibleWindow(const wchar_t* className) {
    const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
    HWND window = nullptr;
    while ((window = VisibleWindow(className)) == nullptr && GetTickCount64() < deadline) {
        Sleep(10);
    }
    return window;
}

int Responsiveness(const std::wstring& setup, const std::wstring& minimal,
                   const std::wstring& arguments) {
    // The minimal window idles beside the setup window and is pinged the same
    // way at the same time: a slow answer from both at once is the machine
    // (Wine's server, the disk), not the setup program's UI thread.
    Child idle = Start(minimal, L"");
    HWND idleWindow = WaitForVisibleWindow(L"MinimalWindow");
    HDC screen = GetDC(nullptr);
    Child child = Start(setup, arguments);
    HWND window = WaitForVisibleWindow(L"MovoraSetup");
    const ULONGLONG readyDeadline = GetTickCount64() + kTimeoutMs;
    while (window != nullptr && GetTickCount64() < readyDeadline &&
           !ButtonEnabled(ButtonPixel(screen, window))) {
        Sleep(10);
    }
    auto fail = [&](const char* reason) {
        std::printf("failed %s\n", reason);
        ReleaseDC(nullptr, screen);
        End(child, L"MovoraSetup");
        End(idle, L"MinimalWindow");
        return 1;
    };
    if (window == nullptr || idleWindow == nullptr || !ButtonEnabled(ButtonPixel(screen, window))) {
        return fail("the window never showed \"Ready to install.\"");
    }
    PostMessageW(window, WM_KEYDOWN, VK_RETURN, 0);
    while (GetTickCount64() < readyDeadline && ButtonPixel(screen, window) != kDisabled) {
        Sleep(1);
    }

    // The button's colour tells when the install has ended.
    const LARGE_INTEGER start = Now();
    Pinger setupPinger;
    setupPinger.window = window;
    setupPinger.start = start;
    Pinger idlePinger;
    idlePinger.window = idleWindow;
    idlePinger.start = start;
    std::atomic<bool> stop{false};
    std::thread setupThread([&] { setupPinger.Run(stop); });
    std::thread idleThread([&] { idlePinger.Run(stop); });
    bool done = false;
    const ULONGLONG deadline = GetTickCount64() + 600000;
    while (!done && GetTickCount64() < deadline) {
        Sleep(5);
        done = ButtonEnabled(ButtonPixel(screen, window));
    }
    const double installSeconds = Seconds(start, Now());
    stop.store(true);
    setupThread.join();
    idleThread.join();
    if (!setupPinger.answered || !idlePinger.answered) {
        return fail("a window did not answer for 5 s");
    }
    if (!done || StatusLooksFailed(screen, window)) {
        return fail("the install did not end in \"Movora is installed.\"");
    }
    ReleaseDC(nullptr, screen);
    End(child, L"MovoraSetup");
    End(idle, L"MinimalWindow");
    setupPinger.Print("setup");
    idlePinger.Print("idle");
    std::printf("install_seconds %.3f\n", installSeconds);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"first-paint" && argc >= 5) {
        return FirstPaint(_wtoi(argv[2]), argv[3], argv[4], argc > 5 ? argv[5] : L"");
    }
    if (mode == L"responsiveness" && argc >= 4) {
        return Responsiveness(argv[2], argv[3], argc > 4 ? argv[4] : L"");
    }
    std::fprintf(stderr, "usage: window_bench first-paint <rounds> <setup> <minimal> [args]\n"
                         "       window_bench responsiveness <setup> <minimal> [args]\n");
    return 2;
}
