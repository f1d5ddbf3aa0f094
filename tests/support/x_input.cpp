#include "tests/support/x_input.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

int g_quitCode = -1;

} // namespace

bool TakeQuitMessage(int& exitCode) {
    MSG message{};
    if (PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        g_quitCode = static_cast<int>(message.wParam);
    }
    exitCode = g_quitCode;
    g_quitCode = -1;
    return exitCode != -1;
}

bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= deadline) {
            return done();
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        PumpMessages();
    }
    return true;
}

void PumpFor(DWORD ms) {
    const ULONGLONG until = GetTickCount64() + ms;
    PumpUntil([until] { return GetTickCount64() >= until; }, ms + 1000);
}

void PumpMessages() {
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            g_quitCode = static_cast<int>(message.wParam);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool RunXdotool(const std::string& arguments, DWORD timeoutMs) {
    // The host program's end cannot be waited for, nor its status read: it
    // writes its status into a file, renamed into place when complete.
    TempFolder folder;
    const std::wstring marker = folder / L"status";
    const std::string hostMarker = HostPath(marker);
    if (hostMarker.empty()) {
        ADD_FAILURE() << "no host path for the status file";
        return false;
    }
    const std::string script = "xdotool " + arguments + " >/dev/null 2>&1; echo $? >'" +
                               hostMarker + ".part'; mv '" + hostMarker + ".part' '" + hostMarker +
                               "'";
    std::error_code ignored;
    const bool ended = RunHostProgram(
        "/bin/sh -c \"" + script + "\"",
        [&] {
            PumpMessages();
            return fs::exists(fs::path(marker), ignored);
        },
        timeoutMs);
    if (!ended) {
        ADD_FAILURE() << "xdotool " << arguments << " did not finish";
        return false;
    }
    std::ifstream in{fs::path(marker)};
    int status = -1;
    in >> status;
    EXPECT_EQ(status, 0) << "xdotool " << arguments;
    return status == 0;
}

unsigned long XWindowOf(HWND window) {
    return static_cast<unsigned long>(
        reinterpret_cast<ULONG_PTR>(GetPropW(window, L"__wine_x11_whole_window")));
}

std::string ScreenArgs(HWND window, POINT client) {
    ClientToScreen(window, &client);
    return std::to_string(client.x) + " " + std::to_string(client.y);
}

} // namespace testing_support
