// Stopping a running copy of the app before its folder is moved or removed.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// Makes sure no process runs from the app folder (the parent of appExePath)
// and the app executable is free. Asks the app to quit through its pipe, polls
// every 250 ms, terminates whatever still runs from the app folder at the 13th
// poll and again after the 60th, and gives up 20 polls later. While no
// process of the app folder runs and only the executable is held (a virus
// scanner or the indexer holding it for a moment is no running app), it is
// probed again at growing pauses within each poll's 250 ms, so the call
// returns a moment after the file comes free.
// Returns true at once, with no status text and no quit message, when the
// executable is not there; true once nothing runs from the app folder and the
// file is free; false when the cancel flag is seen or the app outlasts the
// polls. A cancel flag already raised when it starts gives false before the
// status text and the quit message, so the running app is left alone. Sets
// the progress "Closing Movora" (100) and no error text: callers choose their
// own failure sentence. Never throws.
bool StopRunningApp(const std::wstring& appExePath);

// Writes the 4 bytes "quit" to the app's pipe if an instance is listening;
// otherwise does nothing. The pipe is opened at identification level, so
// whatever serves that name cannot act as the user.
void SendQuitMessage();

// Ids of the running processes whose executable lies inside appFolder (or a
// folder below it), in snapshot order. Processes that cannot be queried are
// skipped; a failed snapshot gives an empty list. The setup program itself is
// never listed: a release carries it in the app folder, and a copy started
// from there must not end itself (its swap then fails with a sentence).
std::vector<DWORD> FindAppProcesses(const std::wstring& appFolder);

// The full Win32 path of the process's executable; empty when the process
// cannot be opened or queried.
std::wstring GetProcessImagePath(DWORD processId);

// Terminates each listed process that still runs from appFolder (exit code 1)
// and waits up to 4000 ms for each. Each id is opened once, and the image path
// is read through that very handle before it is terminated: an id from an
// earlier snapshot may by now belong to an unrelated process, which is left
// alone. Ids that cannot be opened or queried are passed over.
void TerminateProcesses(const std::vector<DWORD>& processIds, const std::wstring& appFolder);

// True when the file is not there or nothing holds it: false only when an
// exclusive open fails with a sharing or lock violation. Any other refusal (a
// read-only or write-denied file) says nothing about use and counts as free.
bool IsFileFree(const std::wstring& filePath);
