// The setup copy in the install root: the program that the Uninstall entry
// and update mode start, kept current by every install.
#pragma once

#include <string>

// Makes installRoot\MovoraSetup.exe a byte copy of the setup program that the
// installed release carries beside Movora.exe in the app folder, whichever
// program runs the install; a release without one gets a copy of the running
// program instead, unless that runs from the setup copy itself (then nothing
// changes).
//
// A running program cannot be overwritten, only renamed, so a carried setup
// program is copied in under a name of its own ("MovoraSetup.new"), the
// current setup copy is renamed aside to "MovoraSetup.old" and the new
// one renamed to its place; when that last rename is refused, the current one
// is renamed back. The file aside is removed at once, or, while it still
// runs, by a later install or the uninstall. A setup copy that an interrupted
// run left only aside is put back first.
//
// Best effort: reports nothing. On every single refused call the setup copy
// is whole at its name, the old program or the new one, and no ".new" stays;
// only when renaming back is refused too does the old program wait aside,
// where the next install puts it back. Throws FileError when a step is
// refused; the caller ignores it.
void RefreshSetupCopy(const std::wstring& installRoot);
