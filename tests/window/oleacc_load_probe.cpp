// A program that loads the accessibility library by name the ordinary way,
// so the search starts in its own folder: what the setup program must never
// do. A test runs it to show that a planted copy would be caught.
#include <windows.h>

int wmain() {
    return LoadLibraryW(L"oleacc.dll") != nullptr ? 0 : 1;
}
