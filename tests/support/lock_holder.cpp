#include "tests/support/lock_holder.h"

#include <gtest/gtest.h>

#include <string>

namespace testing_support {

StartedProcess StartLockHolder() {
    static unsigned counter = 0;
    const std::wstring eventName = L"MovoraLockHolderReady-" +
                                   std::to_wstring(GetCurrentProcessId()) + L"-" +
                                   std::to_wstring(++counter);
    UniqueHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    if (!ready) {
        ADD_FAILURE() << "cannot create the ready event: " << GetLastError();
        return StartedProcess();
    }
    StartedProcess holder =
        StartProcess(L"\"" + BuiltProgram(L"setup_lock_holder.exe") + L"\" " + eventName);
    if (!holder.process) {
        return holder;
    }
    const HANDLE waits[] = {ready.get(), holder.process.get()};
    if (WaitForMultipleObjects(2, waits, FALSE, 20000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "the lock holder did not take the setup lock (exit code "
                      << WaitForExitCode(holder.process.get(), 0) << ")";
        KillProcess(holder.id);
        return StartedProcess();
    }
    return holder;
}

} // namespace testing_support
