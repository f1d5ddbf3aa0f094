// The worker thread that runs the slow jobs.
#pragma once

// UI thread only. Raises the cancel flag and blocks until the worker thread, if
// any, has ended; leaves g_app.worker empty (not joinable).
void CancelAndJoinWorker();
