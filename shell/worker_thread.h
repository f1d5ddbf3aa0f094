// The worker thread: one Windows thread at a time, owned by g_app.worker.
//
// A Windows thread rather than std::thread, so the shipped program carries no
// POSIX threads layer of the C++ library (about 27 KB with its error classes).
#pragma once

// Starts body on a new thread and keeps its handle in g_app.worker, which must
// be empty. Returns false, with g_app.worker still empty, when the system
// cannot create the thread; body has not run then.
bool StartWorkerThread(void (*body)());

// True while g_app.worker holds a thread that has not been joined, whether or
// not it has ended.
bool WorkerThreadStarted();

// Waits for the thread in g_app.worker, if any, to end and closes its handle;
// leaves g_app.worker empty. Must not be called from the worker itself.
void JoinWorkerThread();
