// What the primary button and the Enter key do, and starting the app.
#pragma once

#include "shell/app_state.h"
#include "shell/window/labels.h"

#include <string>

// The effect of the primary action in one mode and phase.
enum class PrimaryEffect {
    Nothing,         // Checking, Working
    StartCheck,      // "Try again" before a release list was read
    StartInstall,    // "Install", "Update", "Try again" after a failed install
    StartUninstall,  // "Uninstall", "Try again" in uninstall mode
    OpenAppAndClose, // "Open Movora"
    Close,           // "Close" after a removal
};

// The table of the primary action. hasPackage: a package URL is known (the
// release list was read), so "Try again" repeats the install, not the check.
PrimaryEffect ChoosePrimaryEffect(WindowMode mode, JobPhase phase, bool hasPackage);

// The primary button or Enter: reads the phase and whether a package URL is
// known under statusMutex, then acts by the table without holding it. UI
// thread only; may destroy the window.
void PrimaryAction();

// path without its last component ("C:\a\b.exe" gives "C:\a"; a root keeps
// its separator, "C:\b.exe" gives "C:\"); empty when path has no separator.
std::wstring ParentFolder(const std::wstring& path);

// Starts the installed app (appExePath, copied under statusMutex) from its own
// folder as working directory. Does nothing when no path is known; a failed
// start is not reported.
void StartAppFromItsFolder();
