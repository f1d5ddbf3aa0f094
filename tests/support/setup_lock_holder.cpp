// setup_lock_holder.exe <event name>: a second setup process, as far as the
// setup lock goes. Takes the lock with the code the setup program uses, sets
// the named event (created by the test) once it holds it, and keeps it until
// it is ended; a test that kills it leaves the lock abandoned. Exits with 2
// at once when the lock is taken already.
#include "install/setup_lock.h"

#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        return 1;
    }
    const SetupLock lock = TryAcquireSetupLock();
    if (!lock) {
        return 2;
    }
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[1]);
    if (ready == nullptr) {
        return 1;
    }
    SetEvent(ready);
    CloseHandle(ready);
    for (;;) {
        Sleep(INFINITE);
    }
}
