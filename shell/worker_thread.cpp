#include "shell/worker_thread.h"

#include "shell/app_state.h"

#include <windows.h>

namespace {

DWORD WINAPI RunBody(void* body) {
    reinterpret_cast<void (*)()>(body)();
    return 0;
}

} // namespace

bool StartWorkerThread(void (*body)()) {
    // The default stack size of the executable (1 MB) is what std::thread gave.
    g_app.worker.reset(
        CreateThread(nullptr, 0, RunBody, reinterpret_cast<void*>(body), 0, nullptr));
    return Valid(g_app.worker);
}

bool WorkerThreadStarted() {
    return Valid(g_app.worker);
}

void JoinWorkerThread() {
    if (Valid(g_app.worker)) {
        WaitForSingleObject(g_app.worker.get(), INFINITE);
    }
    g_app.worker.reset();
}
