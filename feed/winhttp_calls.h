// The WinHTTP entry points the transfer uses, bound at first use from the
// system folder (winhttp.dll is not on Windows' known-DLL list, so importing
// it would let a planted copy next to the program load instead).
#pragma once

#include <windows.h>
#include <winhttp.h>

struct WinHttpCalls {
    decltype(&WinHttpCrackUrl) crackUrl = nullptr;
    decltype(&WinHttpOpen) open = nullptr;
    decltype(&WinHttpSetTimeouts) setTimeouts = nullptr;
    decltype(&WinHttpSetOption) setOption = nullptr;
    decltype(&WinHttpConnect) connect = nullptr;
    decltype(&WinHttpOpenRequest) openRequest = nullptr;
    decltype(&WinHttpSendRequest) sendRequest = nullptr;
    decltype(&WinHttpReceiveResponse) receiveResponse = nullptr;
    decltype(&WinHttpQueryHeaders) queryHeaders = nullptr;
    decltype(&WinHttpQueryDataAvailable) queryDataAvailable = nullptr;
    decltype(&WinHttpReadData) readData = nullptr;
    decltype(&WinHttpCloseHandle) closeHandle = nullptr;
};

// The bound entry points; null when winhttp.dll or one of them cannot be
// loaded from the system folder. The first call binds them; safe from any
// thread.
const WinHttpCalls* GetWinHttpCalls();
