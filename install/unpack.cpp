#include "install/unpack.h"

#include "install/fs_calls.h"
#include "install/locations.h"
#include "install/tar_tool_calls.h"
#include "shell/scoped.h"

namespace {

constexpr wchar_t kTarMissingSentence[] =
    L"Windows tar was not found, so the download could not be unpacked.";
constexpr wchar_t kUnpackFailedSentence[] = L"The download could not be unpacked.";

// How long a terminated tar tool is waited for before giving up on it.
constexpr DWORD kTerminatedTarWaitMs = 10000;

// The tar tool's path in the system folder; empty when the folder is unknown
// (a bare "\tar.exe" would name a file at the root of the current drive).
std::wstring SystemTarPath(const TarToolCalls& calls) {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = calls.getSystemDirectory(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    return std::wstring(buffer, length) + L"\\tar.exe";
}

} // namespace

bool UnpackPackage(const std::wstring& packagePath, const std::wstring& folder, std::wstring& error,
                   DWORD timeoutMs) {
    const TarToolCalls& calls = GetTarToolCalls();
    const std::wstring tarPath = SystemTarPath(calls);
    if (tarPath.empty() || !raising::Exists(tarPath)) {
        error = kTarMissingSentence;
        return false;
    }

    // Each path between double quotes, unescaped: spaces are fine, and no
    // Windows path can hold a double quote.
    std::wstring commandLine =
        L"\"" + tarPath + L"\" -xf \"" + packagePath + L"\" -C \"" + folder + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!calls.createProcess(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &startup, &info)) {
        error = kUnpackFailedSentence;
        return false;
    }
    UniqueHandle thread(info.hThread);
    UniqueHandle process(info.hProcess);

    if (calls.waitForSingleObject(process.get(), timeoutMs) != WAIT_OBJECT_0) {
        // Failed either way; the caller leaves the staging folder alone on
        // this path, so a tool that outlives even this wait (stuck in a
        // driver, say) writes into a folder nobody is removing meanwhile.
        calls.terminateProcess(process.get(), 1);
        calls.waitForSingleObject(process.get(), kTerminatedTarWaitMs);
        error = kUnpackFailedSentence;
        return false;
    }
    DWORD exitCode = 1;
    calls.getExitCodeProcess(process.get(), &exitCode);
    if (exitCode != 0) {
        error = kUnpackFailedSentence;
        return false;
    }
    return true;
}

std::wstring FindAppExecutable(const std::wstring& folder) {
    if (raising::Exists(JoinPath(folder, kAppExeName))) {
        return folder;
    }
    for (const std::wstring& name : raising::ListFolder(folder)) {
        const std::wstring entry = JoinPath(folder, name);
        // A vanished entry is no folder; IsFolder says so without raising.
        if (raising::IsFolder(entry) && raising::Exists(JoinPath(entry, kAppExeName))) {
            return entry;
        }
    }
    return std::wstring();
}
