#include "tests/support/scanner.h"

#include "shell/app_state.h"

#include <gtest/gtest.h>

#include <utility>

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

namespace {
HoldAtStatus* g_holdAtStatus = nullptr;
} // namespace

HoldAtStatus::HoldAtStatus(std::wstring status, std::vector<std::wstring> files, unsigned holdMs)
    : status_(std::move(status)), files_(std::move(files)), holdMs_(holdMs) {
    g_holdAtStatus = this;
    SetStatusObserver(&HoldAtStatus::Observe);
}

HoldAtStatus::~HoldAtStatus() {
    SetStatusObserver(nullptr);
    g_holdAtStatus = nullptr;
}

void HoldAtStatus::Observe(const std::wstring& message) {
    HoldAtStatus* self = g_holdAtStatus;
    if (self != nullptr && message == self->status_ && !self->scanner_.process) {
        self->scanner_ = HoldForAMoment(self->files_, self->holdMs_);
    }
}

} // namespace testing_support
