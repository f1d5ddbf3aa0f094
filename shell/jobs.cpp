#include "shell/jobs.h"

#include "shell/app_state.h"

void CancelAndJoinWorker() {
    g_app.cancelRequested.exchange(true);
    if (g_app.worker.joinable()) {
        g_app.worker.join();
    }
}
