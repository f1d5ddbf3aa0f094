// A second setup process holding the setup lock, for the tests of both
// sequences (setup_lock_holder.exe, built next to the tests).
#pragma once

#include "tests/support/test_support.h"

namespace testing_support {

// Starts setup_lock_holder.exe and waits until it holds the setup lock. Fails
// the current test and returns an empty record when it does not get there.
// Ending the process (KillProcess) leaves the lock abandoned.
StartedProcess StartLockHolder();

} // namespace testing_support
