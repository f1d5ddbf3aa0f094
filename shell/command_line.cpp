#include "shell/command_line.h"

#include "shell/app_state.h"

#include <windows.h>
#include <shellapi.h>

#include <memory>

namespace {

struct LocalFreeDeleter {
    void operator()(LPWSTR* argv) const { LocalFree(argv); }
};

bool IsOption(const wchar_t* argument, const wchar_t* option) {
    return _wcsicmp(argument, option) == 0;
}

} // namespace

void ApplyCommandLine(const wchar_t* commandLine) {
    int count = 0;
    std::unique_ptr<LPWSTR, LocalFreeDeleter> argv(CommandLineToArgvW(commandLine, &count));
    if (!argv) {
        return;
    }
    LPWSTR* args = argv.get();
    for (int i = 1; i < count; ++i) {
        if (IsOption(args[i], L"--update")) {
            g_app.updateMode = true;
        } else if (IsOption(args[i], L"--uninstall")) {
            g_app.uninstallMode = true;
        } else if (IsOption(args[i], L"--feed") && i + 1 < count) {
            g_app.feedUrl = args[++i];
        }
    }
}
