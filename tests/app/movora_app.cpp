// Movora.exe, the stand-in for the installed app used by the demo and the
// tests. It shows a small window with its version, serves the quit pipe
// "\\.\pipe\MovoraInstance" and exits with code 0 soon after it reads "quit".
//
// The setup program starts the app without parameters, so behaviour is chosen
// by an optional file next to the executable, named like it with the ending
// ".variant" (Movora.exe reads Movora.variant). One option a line:
//   ignore-quit        read "quit" and keep running
//   exit-delay-ms N    wait N ms after "quit" before exiting
//   start NAME         at start, run the program NAME from the same folder
//   no-pipe            serve no pipe (a helper process of the app)
//   no-window          show no window
//   version TEXT       show "Movora TEXT" instead of the built-in version, so
//                      two releases of the stand-in can be told apart
#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#ifndef MOVORA_APP_VERSION
#define MOVORA_APP_VERSION L"1.0.0"
#endif

namespace {

constexpr wchar_t kPipeName[] = L"\\\\.\\pipe\\MovoraInstance";
constexpr wchar_t kWindowClass[] = L"MovoraApp";

// What the window shows: "Movora <version>".
std::wstring g_windowText;

struct Variant {
    bool ignoreQuit = false;
    DWORD exitDelayMs = 0;
    std::wstring startName;
    bool servePipe = true;
    bool showWindow = true;
    std::wstring version = MOVORA_APP_VERSION;
};

std::wstring OwnPath() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring FolderOf(const std::wstring& path) {
    return path.substr(0, path.find_last_of(L"\\/"));
}

Variant ReadVariant() {
    Variant variant;
    std::wstring path = OwnPath();
    path = path.substr(0, path.find_last_of(L'.')) + L".variant";
    std::wifstream in(path.c_str());
    std::wstring line;
    while (std::getline(in, line)) {
        std::wistringstream words(line);
        std::wstring option;
        words >> option;
        if (option == L"ignore-quit") {
            variant.ignoreQuit = true;
        } else if (option == L"exit-delay-ms") {
            words >> variant.exitDelayMs;
        } else if (option == L"start") {
            words >> variant.startName;
        } else if (option == L"no-pipe") {
            variant.servePipe = false;
        } else if (option == L"no-window") {
            variant.showWindow = false;
        } else if (option == L"version") {
            words >> variant.version;
        }
    }
    return variant;
}

HANDLE CreatePipeInstance() {
    return CreateNamedPipeW(kPipeName, PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                            PIPE_UNLIMITED_INSTANCES, 0, 64, 0, nullptr);
}

// Serves one connection after another; each client writes one message and
// closes its end.
void ServePipe(HANDLE pipe, Variant variant) {
    while (pipe != INVALID_HANDLE_VALUE) {
        if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
            std::string message;
            char buffer[16];
            DWORD read = 0;
            while (message.size() < 64 && ReadFile(pipe, buffer, sizeof(buffer), &read, nullptr) &&
                   read > 0) {
                message.append(buffer, read);
            }
            if (message == "quit" && !variant.ignoreQuit) {
                Sleep(variant.exitDelayMs);
                ExitProcess(0);
            }
        }
        DisconnectNamedPipe(pipe);
    }
}

void StartCompanion(const std::wstring& name) {
    std::wstring commandLine = L"\"" + FolderOf(OwnPath()) + L"\\" + name + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
}

LRESULT CALLBACK AppWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client;
        GetClientRect(window, &client);
        DrawTextW(dc, g_windowText.c_str(), -1, &client, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    const Variant variant = ReadVariant();
    g_windowText = L"Movora " + variant.version;
    if (!variant.startName.empty()) {
        StartCompanion(variant.startName);
    }
    // The first pipe instance exists before the window shows, so a window on
    // screen means the app is ready for "quit".
    if (variant.servePipe) {
        std::thread(ServePipe, CreatePipeInstance(), variant).detach();
    }
    if (!variant.showWindow) {
        for (;;) {
            Sleep(INFINITE);
        }
    }

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = AppWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, kWindowClass, L"Movora", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 320, 160, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    ShowWindow(window, SW_SHOW);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
