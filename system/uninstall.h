// The uninstall sequence: removes the app, its data and its registration.
#pragma once

#include <string>

// Stops the app, removes the shortcuts, the autostart value, the app folders,
// the data folders and files, the setup copies, then the install root and the
// Uninstall entry, and schedules the running executable for deletion at
// restart when it belongs to the install (see ChooseRestartDeletion).
// Returns true when the app executable is gone; message is then untouched.
// Returns false with message "Another Movora setup is running." (another
// setup process holds the setup lock), "Cancelled.", "Movora is still
// running, so it was not removed." (nothing removed in these three cases) or
// "Some Movora files are still in use." (a partial removal; the install root
// and the Uninstall entry stay). Each removal tries again for a few seconds
// while another program (a virus scanner, the indexer) holds a file, so that
// sentence comes only once that time is up; a cancel ends those waits, and
// the sequence then runs to its end with one attempt for each entry that is
// still held. The setup lock is held for the whole
// sequence. A filesystem error that cannot be passed over (the install root
// cannot be created or examined) gives false with an empty message. Never
// throws.
bool RunUninstall(std::wstring& message);

// The file to schedule for deletion at restart, given the running executable:
// itself when it is the uninstall copy (uninstallCopyPath) or lies inside
// installRoot; otherwise empty, so a setup program started with --uninstall
// from anywhere else never has the user's own file deleted. An empty or
// truncated running path gives empty too.
std::wstring ChooseRestartDeletion(const std::wstring& runningExePath,
                                   const std::wstring& installRoot,
                                   const std::wstring& uninstallCopyPath);
