#include "system/stop_app.h"

#include "install/fs_calls.h"
#include "install/locations.h"
#include "shell/app_state.h"
#include "shell/scoped.h"

#include <tlhelp32.h>

#include <algorithm>

namespace {

constexpr DWORD kPollIntervalMs = 250;
// The first pause before a held executable is probed again within a poll.
constexpr DWORD kFirstProbePauseMs = 20;
constexpr int kFirstPhasePolls = 60;
constexpr int kFirstForcedStopPoll = 12;
constexpr int kSecondPhasePolls = 20;
constexpr UINT kTerminatedExitCode = 1;
constexpr DWORD kTerminateWaitMs = 4000;
constexpr DWORD kImagePathChars = 520;
constexpr wchar_t kQuitPipeName[] = L"\\\\.\\pipe\\MovoraInstance";
constexpr char kQuitMessage[] = {'q', 'u', 'i', 't'};

// An existence test that cannot be answered (access denied on a parent, for
// example) counts as "there": the polls and the exclusive-open probe decide.
bool ExistsOrUnknown(const std::wstring& path) {
    try {
        return raising::Exists(path);
    } catch (const FileError&) {
        return true;
    }
}

// The full Win32 path of the executable of an open process; empty when it
// cannot be queried.
std::wstring ImagePathOf(HANDLE process) {
    wchar_t buffer[kImagePathChars];
    DWORD size = kImagePathChars;
    if (!QueryFullProcessImageNameW(process, 0, buffer, &size)) {
        return std::wstring();
    }
    return std::wstring(buffer, size);
}

// True when the open process's executable lies inside appFolder. A folder
// that cannot be made absolute contains nothing.
bool RunsFrom(HANDLE process, const std::wstring& appFolder) {
    const std::wstring imagePath = ImagePathOf(process);
    try {
        return !imagePath.empty() && IsPathInside(imagePath, appFolder);
    } catch (const FileError&) {
        return false;
    }
}

// Waits out one poll interval. When no process of the app folder runs and
// only the executable is held (by a virus scanner or the indexer for a
// moment, say: no running app), the file is probed again at growing pauses
// within the interval, as the file layer does for held files, so a moment's
// hold costs a moment. True when the file came free (the next poll then
// looks again, processes and file); false after the interval, or at once
// when a cancel comes.
bool FileFreeWithinInterval(bool processesRunning, const std::wstring& appExePath) {
    if (processesRunning) {
        Sleep(kPollIntervalMs);
        return false;
    }
    DWORD waited = 0;
    for (DWORD pause = kFirstProbePauseMs; waited < kPollIntervalMs; pause *= 2) {
        const DWORD step = std::min(pause, kPollIntervalMs - waited);
        Sleep(step);
        waited += step;
        if (g_app.cancelRequested.load()) {
            return false;
        }
        if (IsFileFree(appExePath)) {
            return true;
        }
    }
    return false;
}

} // namespace

bool StopRunningApp(const std::wstring& appExePath) {
    const std::wstring appFolder = ParentPath(appExePath);
    if (!ExistsOrUnknown(appExePath)) {
        return true;
    }
    // A cancel is the window going away: nothing would start the app again,
    // so it is not asked to quit for a run that ends anyway.
    if (g_app.cancelRequested.load()) {
        return false;
    }
    SetJobProgress(L"Closing Movora", 100);
    SendQuitMessage();

    for (int poll = 0; poll < kFirstPhasePolls; ++poll) {
        if (g_app.cancelRequested.load()) {
            return false;
        }
        const std::vector<DWORD> processes = FindAppProcesses(appFolder);
        if (processes.empty() && IsFileFree(appExePath)) {
            return true;
        }
        if (poll == kFirstForcedStopPoll) {
            TerminateProcesses(processes, appFolder);
        }
        FileFreeWithinInterval(!processes.empty(), appExePath);
    }

    TerminateProcesses(FindAppProcesses(appFolder), appFolder);

    for (int poll = 0; poll < kSecondPhasePolls; ++poll) {
        if (g_app.cancelRequested.load()) {
            return false;
        }
        const std::vector<DWORD> processes = FindAppProcesses(appFolder);
        if (processes.empty() && IsFileFree(appExePath)) {
            return true;
        }
        FileFreeWithinInterval(!processes.empty(), appExePath);
    }
    return false;
}

void SendQuitMessage() {
    // Identification level: a server impersonating this client can learn who
    // it is, but cannot act with the user's rights.
    UniqueHandle pipe(CreateFileW(kQuitPipeName, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (!Valid(pipe)) {
        return;
    }
    DWORD written = 0;
    WriteFile(pipe.get(), kQuitMessage, sizeof(kQuitMessage), &written, nullptr);
}

std::vector<DWORD> FindAppProcesses(const std::wstring& appFolder) {
    std::vector<DWORD> processIds;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!Valid(snapshot)) {
        return processIds;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == GetCurrentProcessId()) {
            continue;
        }
        const std::wstring imagePath = GetProcessImagePath(entry.th32ProcessID);
        if (imagePath.empty()) {
            continue;
        }
        try {
            if (IsPathInside(imagePath, appFolder)) {
                processIds.push_back(entry.th32ProcessID);
            }
        } catch (const FileError&) {
            // The folder cannot be made absolute, so no process can be matched
            // to it: as with a failed snapshot, the file probe alone decides.
            return {};
        }
    }
    return processIds;
}

std::wstring GetProcessImagePath(DWORD processId) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    return process ? ImagePathOf(process.get()) : std::wstring();
}

void TerminateProcesses(const std::vector<DWORD>& processIds, const std::wstring& appFolder) {
    for (const DWORD processId : processIds) {
        UniqueHandle process(OpenProcess(
            PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
        if (!process || !RunsFrom(process.get(), appFolder)) {
            continue;
        }
        TerminateProcess(process.get(), kTerminatedExitCode);
        WaitForSingleObject(process.get(), kTerminateWaitMs);
    }
}

namespace {

// Opens the file with no sharing and closes it again; on failure leaves the
// Windows error in error.
bool OpensExclusively(const std::wstring& filePath, DWORD access, DWORD& error) {
    UniqueHandle file(CreateFileW(filePath.c_str(), access, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    error = Valid(file) ? ERROR_SUCCESS : GetLastError();
    return Valid(file);
}

bool IsInUseError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

} // namespace

bool IsFileFree(const std::wstring& filePath) {
    if (!ExistsOrUnknown(filePath)) {
        return true;
    }
    DWORD error = ERROR_SUCCESS;
    if (OpensExclusively(filePath, GENERIC_READ | GENERIC_WRITE, error)) {
        return true;
    }
    if (IsInUseError(error)) {
        return false;
    }
    // A read-only or write-denied file refuses the read-write open before any
    // sharing test, so ask again for reading alone: still exclusive, it fails
    // with a sharing violation only while another handle is open.
    return OpensExclusively(filePath, GENERIC_READ, error) || !IsInUseError(error);
}
