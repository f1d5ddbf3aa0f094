// The texts of the window by mode and job phase.
#pragma once

#include "shell/app_state.h"

enum class WindowMode { Install, Update, Uninstall };

// The mode the window works in. Uninstall governs when both flags are set:
// no install runs then, so nothing of update mode applies.
WindowMode ModeFromFlags(bool uninstallMode, bool updateMode);

// The mode of this run, from g_app's flags.
WindowMode CurrentWindowMode();

// "INSTALL", "UPDATE" or "UNINSTALL".
const wchar_t* ModeWord(WindowMode mode);

// "Ready" or "Removed" when the job is done, "Stopped" when it failed,
// otherwise "Movora".
const wchar_t* HeadlineText(WindowMode mode, JobPhase phase);

// The one line of description under the headline.
const wchar_t* DescriptionText(WindowMode mode);

// What the primary button says and whether it acts.
struct ButtonLook {
    const wchar_t* label;
    bool enabled;
};
ButtonLook PrimaryButtonLook(WindowMode mode, JobPhase phase);
