// Measures HttpGet (file mode) and VerifySha256 against raw loops over the
// same platform APIs, in one process, and the working set over a large
// download. Prints "key value" lines for tools/bench/feed-bench.
//
//   feed_bench.exe <port> <folder> <bench bytes> <working-set bytes> <rounds>
#include "feed/http_get.h"
#include "feed/verify.h"
#include "shell/app_state.h"
#include "shell/scoped.h"
#include "shell/window/window_proc.h"
#include "tools/bench/raw_parts.h"

#include <windows.h>
#include <bcrypt.h>
#include <psapi.h>
#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

SIZE_T WorkingSet(bool peak) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return peak ? counters.PeakWorkingSetSize : counters.WorkingSetSize;
}

// The real setup window on a UI thread of its own, painting as it does in the
// program, so the cost of the status notifications (posting, taking, painting)
// is part of HttpGet's figures. It opens in uninstall mode, so its creation
// starts no job. Notifications and paints are counted on their way in.
std::atomic<long> g_notifications{0};
std::atomic<long> g_paints{0};
constexpr UINT kDrainedMessage = WM_APP + 2;
HANDLE g_drained = nullptr;
WNDPROC g_setupProc = nullptr;

LRESULT CALLBACK CountingSetupProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_STATUS_CHANGED) {
        ++g_notifications;
    } else if (message == WM_PAINT) {
        ++g_paints;
    } else if (message == kDrainedMessage) {
        SetEvent(g_drained);
        return 0;
    }
    return CallWindowProcW(g_setupProc, window, message, wParam, lParam);
}

std::thread StartSetupWindow(HWND& window) {
    std::promise<HWND> created;
    std::future<HWND> ready = created.get_future();
    std::thread ui([&created] {
        g_app.uninstallMode = true;
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = SetupWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kWindowClassName;
        RegisterClassW(&windowClass);
        HWND setup =
            CreateWindowExW(WS_EX_APPWINDOW, kWindowClassName, kWindowTitle, WS_POPUP | WS_VISIBLE,
                            0, 0, 480, 560, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        g_setupProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(setup, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingSetupProc)));
        g_app.window = nullptr; // set again for the run that notifies it
        created.set_value(setup);
        MSG message{};
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    });
    window = ready.get();
    return ui;
}

// Waits until the window has taken every message posted so far, so a
// backlog does not slow down the next measurement.
void WaitUntilDrained(HWND window) {
    PostMessageW(window, kDrainedMessage, 0, 0);
    WaitForSingleObject(g_drained, INFINITE);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: feed_bench <port> <folder> <bytes> <ws bytes> <rounds>\n");
        return 2;
    }
    const auto port = static_cast<INTERNET_PORT>(_wtoi(argv[1]));
    const std::wstring folder = argv[2];
    const std::wstring benchPath = L"/body/" + std::wstring(argv[3]);
    const std::wstring wsPath = L"/body/" + std::wstring(argv[4]);
    const int rounds = _wtoi(argv[5]);
    const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(port);
    const std::wstring target = folder + L"\\bench.bin";

    g_drained = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HWND setupWindow = nullptr;
    std::thread setupUi = StartSetupWindow(setupWindow);

    // Working set first, before anything else could raise the peak.
    {
        const SIZE_T before = WorkingSet(false);
        HttpTransfer transfer;
        transfer.toFile = true;
        transfer.filePath = folder + L"\\ws.bin";
        const auto start = std::chrono::steady_clock::now();
        const bool ok = HttpGet(base + wsPath, transfer, true);
        const double seconds = Seconds(start);
        std::printf("ws_ok %d\nws_seconds %.3f\nws_before %zu\nws_peak %zu\nws_after %zu\n",
                    ok ? 1 : 0, seconds, before, WorkingSet(true), WorkingSet(false));
        DeleteFileW(transfer.filePath.c_str());
    }

    for (int round = 0; round < rounds; ++round) {
        // Rotate the order so no variant always runs on a warm cache. HttpGet
        // runs once with nobody to notify and once with the setup window live.
        static const char* const kVariants[] = {"get_ours", "get_ours_window", "get_raw"};
        for (int turn = 0; turn < 3; ++turn) {
            const char* variant = kVariants[(round + turn) % 3];
            const bool ours = variant != kVariants[2];
            const bool live = variant == kVariants[1];
            if (live) {
                SetJobResult(Working, L"Downloading"); // the bar is drawn while it works
                g_app.window = setupWindow;
            }
            const long paintsBefore = g_paints.load();
            const auto start = std::chrono::steady_clock::now();
            bool ok;
            if (ours) {
                HttpTransfer transfer;
                transfer.toFile = true;
                transfer.filePath = target;
                ok = HttpGet(base + benchPath, transfer, true);
            } else {
                ok = RawDownload(port, benchPath, target);
            }
            const double seconds = Seconds(start);
            const long paints = g_paints.load() - paintsBefore;
            g_app.window = nullptr;
            WaitUntilDrained(setupWindow);
            std::printf("%s %.3f %d\n", variant, seconds, ok ? 1 : 0);
            if (live) {
                std::printf("paints_per_second %.1f\n", paints / seconds);
            }
        }
        for (int turn = 0; turn < 2; ++turn) {
            const bool ours = (round + turn) % 2 == 0;
            const auto start = std::chrono::steady_clock::now();
            bool ok;
            if (ours) {
                std::wstring digest;
                std::wstring error;
                ok = VerifySha256(target, digest, error);
            } else {
                ok = RawHash(target);
            }
            std::printf("%s %.3f %d\n", ours ? "hash_ours" : "hash_raw", Seconds(start),
                        ok ? 1 : 0);
        }
        std::fflush(stdout);
    }

    PostMessageW(setupWindow, WM_CLOSE, 0, 0);
    setupUi.join();
    CloseHandle(g_drained);
    std::printf("notifications %ld\n", g_notifications.load());
    return 0;
}
