// A program that imports WinHTTP the ordinary way, through its import table:
// what the setup program must never do. A planting test runs it to show that
// it would catch such a program.
#include <windows.h>
#include <winhttp.h>

int wmain() {
    return WinHttpCheckPlatform() ? 0 : 1;
}
