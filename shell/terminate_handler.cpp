// What std::terminate does in the shipped program: end the process at once.
//
// The C++ runtime's default handler prints the type of an uncaught exception,
// demangled, to standard error. A windowed program has no standard error for
// anyone to read, and the demangler behind it is about 58 KB of the
// executable. Linked into MovoraSetup.exe only; tests keep the default.
#include <cstdlib> // also tells which C++ runtime this is

#if defined(__GLIBCXX__)

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::abort();
}

} // namespace __gnu_cxx

#endif
