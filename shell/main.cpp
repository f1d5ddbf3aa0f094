#include "shell/startup.h"
#include "shell/system_library.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Before anything can load a DLL: never from this program's own folder.
    RestrictDllSearchToSystemFolder();
    return RunSetup(instance);
}
