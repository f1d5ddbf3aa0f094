#include "tests/support/scanner.h"

#include <gtest/gtest.h>

namespace testing_support {

StartedProcess HoldForAMoment(const std::vector<std::wstring>& files, unsigned holdMs) {
    static unsigned counter = 0;
    const std::wstring eventName = L"MovoraScannerReady-" + std::to_wstring(GetCurrentProcessId()) +
                                   L"-" + std::to_wstring(++counter);
    UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    if (!ready) {
        ADD_FAILURE() << "cannot create the ready event: " << GetLastError();
        return StartedProcess();
    }
    std::wstring commandLine = L"\"" + BuiltProgram(L"scanner_standin.exe") + L"\" " + eventName +
                               L" " + std::to_wstring(holdMs);
    for (const std::wstring& file : files) {
        commandLine += L" \"" + file + L"\"";
    }
    StartedProcess scanner = StartProcess(commandLine);
    if (!scanner.process) {
        return scanner;
    }
    const HANDLE waits[] = {ready.get(), scanner.process.get()};
    if (WaitForMultipleObjects(2, waits, FALSE, 20000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the scanner stand-in did not take hold of its files (exit code "
                      << WaitForExitCode(scanner.process.get(), 0) << ")";
        KillProcess(scanner.id);
        return StartedProcess();
    }
    return scanner;
}

} // namespace testing_support
