// What the C++ library's strings and containers raise in the shipped program.
//
// The library's own raising helpers throw std::length_error, std::out_of_range
// and their relatives, whose messages are copy-on-write strings: linking them
// brings in the library's whole string instantiations and error classes (about
// 45 KB) for errors that no user ever reads. Here the helpers throw one small
// exception without a message instead; the jobs catch it as they catch any
// other and end with their fallback sentence, as before. The helpers without a
// message (bad_alloc and the like) throw what the library throws.
//
// Linked into MovoraSetup.exe only, in place of the library's helpers (the
// library's object that defines them is then never linked); tests keep the
// library's own.
#include <cstdlib> // also tells which C++ runtime this is

#if defined(__GLIBCXX__)

#include <bits/functexcept.h>

#include <exception>
#include <new>
#include <typeinfo>

namespace {

// A request that the library refused: a length past max_size(), an index out
// of range, an invalid argument.
struct LibraryRequestRefused final : std::exception {
    const char* what() const noexcept override { return "request refused by the C++ library"; }
};

[[noreturn]] void Refuse() {
    throw LibraryRequestRefused();
}

} // namespace

namespace std {

void __throw_bad_alloc() {
    throw bad_alloc();
}
void __throw_bad_array_new_length() {
    throw bad_array_new_length();
}
void __throw_bad_cast() {
    throw bad_cast();
}
void __throw_bad_typeid() {
    throw bad_typeid();
}
void __throw_bad_exception() {
    throw bad_exception();
}
void __throw_logic_error(const char*) {
    Refuse();
}
void __throw_domain_error(const char*) {
    Refuse();
}
void __throw_invalid_argument(const char*) {
    Refuse();
}
void __throw_length_error(const char*) {
    Refuse();
}
void __throw_out_of_range(const char*) {
    Refuse();
}
void __throw_out_of_range_fmt(const char*, ...) {
    Refuse();
}
void __throw_runtime_error(const char*) {
    Refuse();
}
void __throw_range_error(const char*) {
    Refuse();
}
void __throw_overflow_error(const char*) {
    Refuse();
}
void __throw_underflow_error(const char*) {
    Refuse();
}

} // namespace std

#endif
