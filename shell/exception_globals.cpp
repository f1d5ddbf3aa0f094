// Where the C++ runtime keeps each thread's exceptions in flight, in the
// shipped program: fiber-local storage of Windows.
//
// The runtime's own record is a thread-local variable, which this compiler
// emulates through the POSIX threads layer (its keys and once-calls, about
// 20 KB with the layer's thread support). The two functions below answer the
// same record from Windows' fiber-local storage instead; the record is made at
// a thread's first exception and freed when the thread ends.
//
// Linked into MovoraSetup.exe only, in place of the runtime's definitions
// (whose object is then never linked); tests keep the runtime's own.
#include <cstdlib> // also tells which C++ runtime this is

#if defined(__GLIBCXX__)

#include <windows.h>

#include <exception>

namespace {

// The runtime's per-thread record (its layout on this target): the stack of
// caught exceptions and the count of thrown, not yet caught ones. Zero is the
// state of a thread that has seen none.
struct ExceptionGlobals {
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};

void WINAPI FreeGlobals(void* globals) {
    if (globals != nullptr) {
        HeapFree(GetProcessHeap(), 0, globals);
    }
}

// The storage index, allocated by the first thread that asks;
// FLS_OUT_OF_INDEXES when Windows has none left (asked again next time).
DWORD StorageIndex() {
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    void* index = nullptr;
    const BOOL allocated = InitOnceExecuteOnce(
        &once,
        [](INIT_ONCE*, void*, void** stored) -> BOOL {
            const DWORD allocated = FlsAlloc(FreeGlobals);
            // Stored shifted: the low bits of the stored value are reserved.
            *stored = reinterpret_cast<void*>(static_cast<ULONG_PTR>(allocated) << 2);
            return allocated != FLS_OUT_OF_INDEXES;
        },
        nullptr, &index);
    if (!allocated) {
        return FLS_OUT_OF_INDEXES;
    }
    return static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(index) >> 2);
}

} // namespace

// The calling thread's record, made on first use. Without storage (no index
// or no memory) exceptions cannot work at all, so the process ends, as the
// runtime's own version does.
extern "C" ExceptionGlobals* __cxa_get_globals() noexcept {
    const DWORD index = StorageIndex();
    if (index == FLS_OUT_OF_INDEXES) {
        std::abort();
    }
    auto* globals = static_cast<ExceptionGlobals*>(FlsGetValue(index));
    if (globals == nullptr) {
        globals = static_cast<ExceptionGlobals*>(
            HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(ExceptionGlobals)));
        if (globals == nullptr || !FlsSetValue(index, globals)) {
            std::abort();
        }
    }
    return globals;
}

extern "C" ExceptionGlobals* __cxa_get_globals_fast() noexcept {
    return __cxa_get_globals();
}

#endif
