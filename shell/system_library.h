// Binding Windows DLLs from the system folder alone.
//
// A setup program usually starts from a Downloads folder, where any web page
// can drop a file named like a system DLL. The executable therefore imports
// only DLLs that Windows always takes from its known-DLL list, and binds every
// other system DLL it uses at first use, from the system folder and nowhere
// else.
#pragma once

#include <windows.h>

// Makes every later library load of this process (its own and those the
// system DLLs make) search the system folder only. The program's first act.
// Returns false when Windows refuses, which changes nothing else.
bool RestrictDllSearchToSystemFolder();

// Loads name from the system folder only, never from the program's folder or
// the current folder. Null when it is not there or cannot be loaded. The DLL
// stays loaded until the process ends.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Loads name as LoadSystemLibrary does, after first loading from the system
// folder each of lateLoads: the DLLs that name itself loads by name only when
// a feature first needs them. A DLL already in memory is found by its name, so
// those later loads can no longer reach a planted file, even where the system
// does not keep loads made by its own DLLs to the system folder. A late load
// that is missing from the system folder is skipped; the library may not need
// it. Null when name itself cannot be loaded.
HMODULE LoadSystemLibraryAndLateLoads(const wchar_t* name, const wchar_t* const* lateLoads,
                                      size_t lateLoadCount);

// Sets target to the entry point name of module; false (target null) when the
// module has no such entry point.
template <typename Function>
bool BindEntryPoint(HMODULE module, const char* name, Function& target) {
    target = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return target != nullptr;
}

// Binds a table of entry points once per process: the first caller runs
// bind(calls) while any other caller waits for it; every caller then gets
// &calls when bind returned true, null when it returned false (never tried
// again). Windows' one-time initialisation keeps the answer, rather than a
// guarded local static, whose C++ library support brings in its POSIX threads
// layer.
template <typename Calls>
const Calls* BindOnce(INIT_ONCE& once, Calls& calls, bool (*bind)(Calls&)) {
    struct Context {
        Calls* calls;
        bool (*bind)(Calls&);
    };
    Context context{&calls, bind};
    void* answer = nullptr; // &calls or null: aligned, as the stored value must be
    const BOOL ran = InitOnceExecuteOnce(
        &once,
        [](INIT_ONCE*, void* parameter, void** stored) -> BOOL {
            auto* context = static_cast<Context*>(parameter);
            *stored = context->bind(*context->calls) ? context->calls : nullptr;
            return TRUE;
        },
        &context, &answer);
    return ran ? static_cast<const Calls*>(answer) : nullptr;
}
