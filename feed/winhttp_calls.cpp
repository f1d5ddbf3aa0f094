#include "feed/winhttp_calls.h"

#include "shell/system_library.h"

namespace {

// What WinHTTP loads by name on its first connection (the certificate
// functions) and its first TLS connection (the security packages), on
// platforms that do not hold those loads of a system DLL to the program's
// search rule. What these two load in turn comes from the system folder,
// as they do.
const wchar_t* const kWinHttpLateLoads[] = {L"crypt32.dll", L"secur32.dll"};

bool BindWinHttp(WinHttpCalls& calls) {
    HMODULE module =
        LoadSystemLibraryAndLateLoads(L"winhttp.dll", kWinHttpLateLoads,
                                      sizeof(kWinHttpLateLoads) / sizeof(kWinHttpLateLoads[0]));
    return module != nullptr && BindEntryPoint(module, "WinHttpCrackUrl", calls.crackUrl) &&
           BindEntryPoint(module, "WinHttpOpen", calls.open) &&
           BindEntryPoint(module, "WinHttpSetTimeouts", calls.setTimeouts) &&
           BindEntryPoint(module, "WinHttpSetOption", calls.setOption) &&
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
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    return BindOnce(once, calls, BindWinHttp);
}
