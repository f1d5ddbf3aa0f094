#include "install/tar_tool_calls.h"

#include <atomic>

namespace {

std::atomic<const TarToolCalls*> g_substitute{nullptr};

} // namespace

const TarToolCalls& WindowsTarToolCalls() {
    static const TarToolCalls calls{GetSystemDirectoryW, CreateProcessW, WaitForSingleObject,
                                    GetExitCodeProcess, TerminateProcess};
    return calls;
}

const TarToolCalls& GetTarToolCalls() {
    const TarToolCalls* substitute = g_substitute.load();
    return substitute != nullptr ? *substitute : WindowsTarToolCalls();
}

void SubstituteTarToolCalls(const TarToolCalls* calls) {
    g_substitute.store(calls);
}
