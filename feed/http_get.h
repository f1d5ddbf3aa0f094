// One HTTP GET over WinHTTP: the URL rule, the transfer into memory or into a
// file, cancellation between chunks and progress reports.
#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>
#include <vector>

// What a caller hands to HttpGet and finds there afterwards.
struct HttpTransfer {
    std::wstring error;     // passed empty; one sentence after a failure
    std::vector<char> body; // memory mode: the received bytes, in arrival order
    std::wstring filePath;  // file mode: the file that receives the bytes
    bool toFile = false;    // true: file mode, false: memory mode
};

// Largest body that memory mode accepts; one byte more fails the transfer.
inline constexpr size_t kMemoryBodyCap = 0x200000;

// Splits url and applies the transport rule: HTTPS towards any host, plain
// HTTP only towards "localhost" (any letter case) or exactly "127.0.0.1".
// Returns true and sets host, pathAndQuery (path followed by the query or
// fragment), port and secure; user name and password in the URL are dropped.
// On failure only error is set: "The download address is not valid." or
// "The download has to use HTTPS.".
bool CheckDownloadUrl(const std::wstring& url, std::wstring& host, std::wstring& pathAndQuery,
                      INTERNET_PORT& port, bool& secure, std::wstring& error);

// Fetches url with one GET. Memory mode appends the body to transfer.body (at
// most kMemoryBodyCap bytes); file mode streams it into transfer.filePath,
// which is created or truncated only once a 2xx status has arrived. With
// reportProgress, "Downloading" and 0..99 percent go to SetJobProgress after
// every chunk. The cancel flag is checked before every chunk.
// Returns true when the whole body arrived. On failure transfer.error holds one
// sentence; a partial file stays on disk for the caller to remove, and body
// keeps what was appended. Every WinHTTP handle is closed on every path.
bool HttpGet(const std::wstring& url, HttpTransfer& transfer, bool reportProgress);
