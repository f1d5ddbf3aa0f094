#include "shell/window/primary_action.h"

#include "shell/jobs.h"

#include <shellapi.h>

PrimaryEffect ChoosePrimaryEffect(WindowMode mode, JobPhase phase, bool hasPackage) {
    const bool uninstall = mode == WindowMode::Uninstall;
    switch (phase) {
    case Ready:
        return uninstall ? PrimaryEffect::StartUninstall : PrimaryEffect::StartInstall;
    case Done:
        return uninstall ? PrimaryEffect::Close : PrimaryEffect::OpenAppAndClose;
    case Failed:
        if (uninstall) {
            return PrimaryEffect::StartUninstall;
        }
        return hasPackage ? PrimaryEffect::StartInstall : PrimaryEffect::StartCheck;
    default:
        return PrimaryEffect::Nothing;
    }
}

void PrimaryAction() {
    JobPhase phase = Checking;
    bool hasPackage = false;
    {
        StatusGuard lock(g_app.statusMutex);
        phase = g_app.phase;
        hasPackage = !g_app.packageUrl.empty();
    }

    switch (ChoosePrimaryEffect(CurrentWindowMode(), phase, hasPackage)) {
    case PrimaryEffect::StartCheck:
        StartCheckOrInstallJob(false);
        break;
    case PrimaryEffect::StartInstall:
        StartCheckOrInstallJob(true);
        break;
    case PrimaryEffect::StartUninstall:
        StartUninstallJob();
        break;
    case PrimaryEffect::OpenAppAndClose:
        StartAppFromItsFolder();
        DestroyWindow(g_app.window);
        break;
    case PrimaryEffect::Close:
        DestroyWindow(g_app.window);
        break;
    case PrimaryEffect::Nothing:
        break;
    }
}

std::wstring ParentFolder(const std::wstring& path) {
    const size_t separator = path.find_last_of(L"\\/");
    if (separator == std::wstring::npos) {
        return std::wstring();
    }
    // "C:\Movora.exe": the folder is the root "C:\", not the drive-relative "C:".
    if (separator == 2 && path[1] == L':') {
        return path.substr(0, 3);
    }
    return path.substr(0, separator);
}

void StartAppFromItsFolder() {
    std::wstring exePath;
    {
        StatusGuard lock(g_app.statusMutex);
        exePath = g_app.appExePath;
    }
    if (exePath.empty()) {
        return;
    }
    const std::wstring folder = ParentFolder(exePath);
    ShellExecuteW(nullptr, L"open", exePath.c_str(), nullptr,
                  folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL);
}
