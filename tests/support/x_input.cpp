#include "tests/support/x_input.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

// Wine starts host programs but hands back no usable process handle, so the
// command writes its status into a file that this side waits for.
std::string MarkerName() {
    static unsigned counter = 0;
    return "/tmp/movora-xdotool-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(++counter);
}

// The same host file seen through Wine's drive Z:.
fs::path HostPath(const std::string& unixPath) {
    std::wstring path = L"Z:";
    for (char c : unixPath) {
        path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    }
    return fs::path(path);
}

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
    return true;
}

void PumpFor(DWORD ms) {
    const ULONGLONG until = GetTickCount64() + ms;
    PumpUntil([until] { return GetTickCount64() >= until; }, ms + 1000);
}

bool RunXdotool(const std::string& arguments, DWORD timeoutMs) {
    const std::string marker = MarkerName();
    const std::string script = "xdotool " + arguments + " >/dev/null 2>&1; echo $? >" + marker +
                               ".part; mv " + marker + ".part " + marker;
    std::wstring commandLine = L"/bin/sh -c \"";
    for (char c : script) {
        commandLine += static_cast<wchar_t>(c);
    }
    commandLine += L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        ADD_FAILURE() << "cannot start xdotool: error " << GetLastError();
        return false;
    }
    if (info.hProcess != nullptr) {
        CloseHandle(info.hProcess);
    }
    if (info.hThread != nullptr) {
        CloseHandle(info.hThread);
    }
    const fs::path markerPath = HostPath(marker);
    std::error_code ignored;
    if (!PumpUntil([&] { return fs::exists(markerPath, ignored); }, timeoutMs)) {
        ADD_FAILURE() << "xdotool " << arguments << " did not finish";
        return false;
    }
    std::ifstream in(markerPath);
    int status = -1;
    in >> status;
    in.close();
    fs::remove(markerPath, ignored);
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
