// The tar stand-in in the test prefix. Wine has no tar tool in its system
// folder; the setup program runs "<system folder>\tar.exe" to unpack its
// package, so tests put the stand-in built from tests/support/tar/ there
// (Wine runs as administrator, so the copy works), and take it away again to
// see the program without one.
#pragma once

#include <string>

namespace testing_support {

// GetSystemDirectoryW followed by "\tar.exe": the path the setup program runs.
std::wstring SystemTarPath();

// Under Wine: copies the stand-in built next to the test executable to
// SystemTarPath(), replacing a copy that is there. On Windows the system's own
// tar tool is used and left alone. Fails the current test and returns false
// when no tar tool is there afterwards.
bool InstallTarStandIn();

// Under Wine: deletes SystemTarPath(); one that is not there is fine. Fails the
// current test and returns false when it stays. On Windows the system's own
// tool cannot be taken away: returns false without a failure, so the caller
// can skip.
bool RemoveTarStandIn();

} // namespace testing_support
