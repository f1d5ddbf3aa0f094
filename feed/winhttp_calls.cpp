#include "feed/winhttp_calls.h"

#include "shell/system_library.h"

namespace {

bool BindWinHttp(WinHttpCalls& calls) {
    HMODULE module = LoadSystemLibrary(L"winhttp.dll");
    return module != nullptr && BindEntryPoint(module, "WinHttpCrackUrl", calls.crackUrl) &&
           BindEntryPoint(module, "WinHttpOpen", calls.open) &&
           BindEntryPoint(module, "WinHttpSetTimeouts", calls.setTimeouts) &&
           BindEntryPoint(module, "WinHttpConnect", calls.connect) &&
           BindEntryPoint(module, "WinHttpOpenRequest", calls.openRequest) &&
           BindEntryPoint(module, "WinHttpSendRequest", calls.sendRequest) &&
           BindEntryPoint(module, "WinHttpReceiveResponse", calls.receiveResponse) &&
           BindEntryPoint(module, "WinHttpQueryHeaders", calls.queryHeaders) &&
           BindEntryPoint(module, "WinHttpQueryDataAvailable", calls.queryDataAvailable) &&
           BindEntryPoint(module, "WinHttpReadData", calls.readData) &&
           BindEntryPoint(module, "WinHttpCloseHandle", calls.closeHandle);
}

} // namespace

const WinHttpCalls* GetWinHttpCalls() {
    static WinHttpCalls calls;
    static const bool bound = BindWinHttp(calls);
    return bound ? &calls : nullptr;
}
