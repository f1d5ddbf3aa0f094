// One HTTP GET over WinHTTP: the URL rule for the address and every redirect,
// the transfer into memory or into a file, cancellation between chunks and
// progress reports.
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

// Fetches url with one GET, following up to five redirects (301, 302, 303,
// 307, 308) itself: each Location, read against the URL that answered, must
// pass CheckDownloadUrl (with its sentence) before its request is made, and a
// hop from HTTPS to plain HTTP fails with "The download has to use HTTPS.".
// A sixth redirect fails with "The download server redirected too many
// times."; a redirect without a Location with "The server returned an
// error.". Memory mode appends the final body to transfer.body (at most
// kMemoryBodyCap bytes); file mode streams it into transfer.filePath, which is
// created or truncated only once a 2xx status has arrived, and a chunk that
// cannot be written whole (a full disk) fails with "Could not save the
// download.". With reportProgress, "Downloading" and 0..99 percent go to
// SetJobProgress after every chunk. The cancel flag is checked before every
// redirect hop and every chunk.
// Returns true when the whole body arrived. On failure transfer.error holds one
// sentence; a partial file stays on disk for the caller to remove, and body
// keeps what was appended. Every WinHTTP handle is closed on every path.
bool HttpGet(const std::wstring& url, HttpTransfer& transfer, bool reportProgress);
