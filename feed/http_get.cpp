#include "feed/http_get.h"

#include "feed/resolve_location.h"
#include "feed/winhttp_calls.h"
#include "install/fs_calls.h"
#include "shell/app_state.h"
#include "shell/scoped.h"

#include <winhttp.h>

#include <cstdint>
#include <iterator>
#include <memory>
#include <type_traits>
#include <vector>

namespace {

constexpr wchar_t kUserAgent[] = L"MovoraSetup/0.1.0";
constexpr wchar_t kProgressLabel[] = L"Downloading";
constexpr int kResolveTimeoutMs = 8000;
constexpr int kConnectTimeoutMs = 8000;
constexpr int kSendTimeoutMs = 20000;
constexpr int kReceiveTimeoutMs = 20000;
constexpr int kHighestPercent = 99;
// A chain of redirects longer than this ends the transfer; it also ends a
// server that sends the client round in a circle.
constexpr int kMostRedirects = 5;

constexpr DWORD kHostBufferChars = 256;
constexpr DWORD kPathBufferChars = 2048;
constexpr DWORD kExtraBufferChars = 1024;

struct InternetCloser {
    void operator()(HINTERNET handle) const { GetWinHttpCalls()->closeHandle(handle); }
};
using UniqueInternet = std::unique_ptr<std::remove_pointer_t<HINTERNET>, InternetCloser>;

// Whole-text comparisons: WinHttpCrackUrl keeps a NUL inside the host, and a
// C-string comparison would stop there and take "localhost\0.evil" as local.
bool IsLocalHost(const std::wstring& host) {
    constexpr wchar_t kLocalHost[] = L"localhost";
    return (host.size() == std::size(kLocalHost) - 1 && _wcsicmp(host.c_str(), kLocalHost) == 0) ||
           host == L"127.0.0.1";
}

// A numeric response header; 0 when the query fails or the header is absent.
DWORD QueryNumberHeader(const WinHttpCalls& http, HINTERNET request, DWORD infoLevel) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    http.queryHeaders(request, infoLevel | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                      &value, &size, WINHTTP_NO_HEADER_INDEX);
    return value;
}

int ProgressPercent(std::uint32_t total, std::uint32_t contentLength) {
    if (contentLength == 0) {
        return 0;
    }
    const std::uint64_t percent = static_cast<std::uint64_t>(total) * 100u / contentLength;
    return percent > kHighestPercent ? kHighestPercent : static_cast<int>(percent);
}

// Where one request goes, as CheckDownloadUrl splits a URL.
struct Target {
    std::wstring host;
    std::wstring pathAndQuery;
    INTERNET_PORT port = 0;
    bool secure = false;
};

// The handles of one request; the request closes before its connection.
struct Exchange {
    UniqueInternet connection;
    UniqueInternet request;
};

// Connects to target, sends the GET and receives the response headers.
// Returns false when any of that fails; the handles opened so far stay in
// exchange for its owner to close.
bool OpenExchange(const WinHttpCalls& http, HINTERNET session, const Target& target,
                  Exchange& exchange) {
    exchange.connection.reset(http.connect(session, target.host.c_str(), target.port, 0));
    if (!exchange.connection) {
        return false;
    }
    exchange.request.reset(http.openRequest(
        exchange.connection.get(), L"GET", target.pathAndQuery.c_str(), nullptr, WINHTTP_NO_REFERER,
        WINHTTP_DEFAULT_ACCEPT_TYPES, target.secure ? WINHTTP_FLAG_SECURE : 0));
    return exchange.request &&
           http.sendRequest(exchange.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
           http.receiveResponse(exchange.request.get(), nullptr);
}

bool IsRedirectStatus(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The Location header of a redirect. Returns false when it is missing or
// empty. Its length is bounded by the stack's limit on response headers; one
// too long for the URL rule is refused there.
bool QueryLocation(const WinHttpCalls& http, HINTERNET request, std::wstring& location) {
    DWORD size = 0;
    // Without a buffer the query can only fail; asking for more room is what
    // says the header is there.
    if (http.queryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX, nullptr,
                          &size, WINHTTP_NO_HEADER_INDEX) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size < sizeof(wchar_t)) {
        return false;
    }
    location.assign(size / sizeof(wchar_t), L'\0');
    if (!http.queryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                           location.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    location.resize(size / sizeof(wchar_t));
    return !location.empty();
}

} // namespace

bool CheckDownloadUrl(const std::wstring& url, std::wstring& host, std::wstring& pathAndQuery,
                      INTERNET_PORT& port, bool& secure, std::wstring& error) {
    wchar_t hostBuffer[kHostBufferChars] = {};
    wchar_t pathBuffer[kPathBufferChars] = {};
    wchar_t extraBuffer[kExtraBufferChars] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = hostBuffer;
    parts.dwHostNameLength = kHostBufferChars;
    parts.lpszUrlPath = pathBuffer;
    parts.dwUrlPathLength = kPathBufferChars;
    parts.lpszExtraInfo = extraBuffer;
    parts.dwExtraInfoLength = kExtraBufferChars;
    // Scheme name, user name and password stay unrequested: credentials in a
    // URL are never used.
    const WinHttpCalls* http = GetWinHttpCalls();
    if (http == nullptr ||
        !http->crackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts)) {
        error = L"The download address is not valid.";
        return false;
    }
    std::wstring crackedHost(hostBuffer, parts.dwHostNameLength);
    bool isSecure = false;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
        isSecure = true;
    } else if (parts.nScheme != INTERNET_SCHEME_HTTP || !IsLocalHost(crackedHost)) {
        error = L"The download has to use HTTPS.";
        return false;
    }
    host = std::move(crackedHost);
    pathAndQuery.assign(pathBuffer, parts.dwUrlPathLength);
    pathAndQuery.append(extraBuffer, parts.dwExtraInfoLength);
    port = parts.nPort;
    secure = isSecure;
    return true;
}

bool HttpGet(const std::wstring& url, HttpTransfer& transfer, bool reportProgress) {
    const WinHttpCalls* http = GetWinHttpCalls();
    if (http == nullptr) {
        transfer.error = L"Could not open a connection.";
        return false;
    }
    Target target;
    if (!CheckDownloadUrl(url, target.host, target.pathAndQuery, target.port, target.secure,
                          transfer.error)) {
        return false;
    }

    // Declared before the exchange, so the session closes last.
    UniqueInternet session(http->open(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    // Redirects are taken here, one hop at a time, so that every address the
    // transfer goes to passes the URL rule; the stack must never follow one.
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    if (!session || !http->setOption(session.get(), WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                                     sizeof(redirectPolicy))) {
        transfer.error = L"Could not open a connection.";
        return false;
    }
    http->setTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                      kReceiveTimeoutMs);

    std::wstring currentUrl = url;
    Exchange exchange;
    DWORD status = 0;
    for (int redirects = 0;; ++redirects) {
        // The first request goes out whatever the flag says (the chunk loop
        // reads it); a further hop is not started once cancelled.
        if (redirects > 0 && g_app.cancelRequested.load()) {
            transfer.error = L"Cancelled.";
            return false;
        }
        // The previous hop's handles close first, request before connection.
        exchange.request.reset();
        exchange.connection.reset();
        if (!OpenExchange(*http, session.get(), target, exchange)) {
            transfer.error = L"Could not reach the download server.";
            return false;
        }
        status = QueryNumberHeader(*http, exchange.request.get(), WINHTTP_QUERY_STATUS_CODE);
        if (!IsRedirectStatus(status)) {
            break;
        }
        if (redirects == kMostRedirects) {
            transfer.error = L"The download server redirected too many times.";
            return false;
        }
        std::wstring location;
        if (!QueryLocation(*http, exchange.request.get(), location)) {
            transfer.error = L"The server returned an error.";
            return false;
        }
        currentUrl = ResolveLocation(currentUrl, location);
        const bool wasSecure = target.secure;
        if (!CheckDownloadUrl(currentUrl, target.host, target.pathAndQuery, target.port,
                              target.secure, transfer.error)) {
            return false;
        }
        // Once on TLS, a hop back to plain HTTP would expose the rest of the
        // transfer, even towards this machine.
        if (wasSecure && !target.secure) {
            transfer.error = L"The download has to use HTTPS.";
            return false;
        }
    }
    HINTERNET request = exchange.request.get();

    if (status < 200 || status > 299) {
        transfer.error = L"The server returned an error.";
        return false;
    }
    const std::uint32_t contentLength =
        QueryNumberHeader(*http, request, WINHTTP_QUERY_CONTENT_LENGTH);

    // The file is created (or truncated) only now, after an accepted status;
    // others may read and write it meanwhile.
    UniqueHandle file;
    if (transfer.toFile) {
        file.reset(CreateFileW(WindowsPathArgument(transfer.filePath).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!Valid(file)) {
            transfer.error = L"Could not save the download.";
            return false;
        }
    }

    // One buffer, resized to whatever each pass announces.
    std::vector<char> chunk;
    std::uint32_t total = 0;
    for (;;) {
        if (g_app.cancelRequested.load()) {
            transfer.error = L"Cancelled.";
            return false;
        }
        DWORD available = 0;
        if (!http->queryDataAvailable(request, &available)) {
            transfer.error = L"The download stopped.";
            return false;
        }
        if (available == 0) {
            // A connection that breaks part-way can look like the end of the
            // body to the HTTP stack; an announced length tells them apart.
            if (contentLength != 0 && total != contentLength) {
                transfer.error = L"The download stopped.";
                return false;
            }
            return true;
        }
        chunk.resize(available);
        DWORD read = 0;
        if (!http->readData(request, chunk.data(), available, &read)) {
            transfer.error = L"The download stopped.";
            return false;
        }
        if (transfer.toFile) {
            // A full disk must not pass for a complete download: a short file
            // would otherwise be blamed on the checksum, or unpacked as it is
            // when the list carries none.
            DWORD written = 0;
            if (!WriteFile(file.get(), chunk.data(), read, &written, nullptr) || written != read) {
                transfer.error = L"Could not save the download.";
                return false;
            }
        } else {
            transfer.body.insert(transfer.body.end(), chunk.data(), chunk.data() + read);
        }
        total += read;
        if (reportProgress) {
            SetJobProgress(kProgressLabel, ProgressPercent(total, contentLength));
        }
        if (!transfer.toFile && transfer.body.size() > kMemoryBodyCap) {
            transfer.error = L"The release file was larger than expected.";
            return false;
        }
    }
}
