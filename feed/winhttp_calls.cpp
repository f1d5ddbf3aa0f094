#include "feed/winhttp_calls.h"

#include "shell/system_library.h"

namespace {

// What WinHTTP loads by name on its first connection: the certificate store,
// the TLS provider and the logon packages it asks for, and the name and
// address look-ups. Some of these loads are made after the program's own
// search rule has been set aside for loads made by system DLLs.
const wchar_t* const kWinHttpLateLoads[] = {L"crypt32.dll",  L"secur32.dll",  L"schannel.dll",
                                            L"kerberos.dll", L"msv1_0.dll",   L"netapi32.dll",
                                            L"dnsapi.dll",   L"iphlpapi.dll", L"nsi.dll"};

bool BindWinHttp(WinHttpCalls& calls) {
    HMODULE module =
        LoadSystemLibraryAndLateLoads(L"winhttp.dll", kWinHttpLateLoads,
                                      sizeof(kWinHttpLateLoads) / sizeof(kWinHttpLateLoads[0]));
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
