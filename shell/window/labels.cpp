#include "shell/window/labels.h"

WindowMode ModeFromFlags(bool uninstallMode, bool updateMode) {
    if (uninstallMode) {
        return WindowMode::Uninstall;
    }
    return updateMode ? WindowMode::Update : WindowMode::Install;
}

WindowMode CurrentWindowMode() {
    return ModeFromFlags(g_app.uninstallMode, g_app.updateMode);
}

const wchar_t* ModeWord(WindowMode mode) {
    switch (mode) {
    case WindowMode::Uninstall:
        return L"UNINSTALL";
    case WindowMode::Update:
        return L"UPDATE";
    default:
        return L"INSTALL";
    }
}

const wchar_t* HeadlineText(WindowMode mode, JobPhase phase) {
    switch (phase) {
    case Done:
        return mode == WindowMode::Uninstall ? L"Removed" : L"Ready";
    case Failed:
        return L"Stopped";
    default:
        return L"Movora";
    }
}

const wchar_t* DescriptionText(WindowMode mode) {
    switch (mode) {
    case WindowMode::Uninstall:
        return L"Removes Movora from this Windows account. Clips in your Videos folder stay.";
    case WindowMode::Update:
        return L"The installed copy will be replaced. Clips and settings stay where they are.";
    default:
        return L"This downloads the current build and sets Movora up for this Windows account.";
    }
}

ButtonLook PrimaryButtonLook(WindowMode mode, JobPhase phase) {
    const bool uninstall = mode == WindowMode::Uninstall;
    switch (phase) {
    case Checking:
        // A check in update mode (only ever a retry) keeps the label "Install".
        return {uninstall ? L"Uninstall" : L"Install", false};
    case Ready:
        if (uninstall) {
            return {L"Uninstall", true};
        }
        return {mode == WindowMode::Update ? L"Update" : L"Install", true};
    case Working:
        return {L"Working", false};
    case Done:
        return {uninstall ? L"Close" : L"Open Movora", true};
    default:
        return {L"Try again", true};
    }
}
