#include "feed/http_get.h"

#include "feed/winhttp_calls.h"
#include "install/fs_calls.h"
#include "shell/app_state.h"
#include "shell/scoped.h"

#include <winhttp.h>

#include <cstdint>
#include <iterator>
#include <memory>
#include <type_traits>

namespace {

constexpr wchar_t kUserAgent[] = L"MovoraSetup/0.1.0";
constexpr wchar_t kProgressLabel[] = L"Downloading";
constexpr int kResolveTimeoutMs = 8000;
constexpr int kConnectTimeoutMs = 8000;
constexpr int kSendTimeoutMs = 20000;
constexpr int kReceiveTimeoutMs = 20000;
constexpr int kHighestPercent = 99;

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
    std::wstring host;
    std::wstring pathAndQuery;
    INTERNET_PORT port = 0;
    bool secure = false;
    if (!CheckDownloadUrl(url, host, pathAndQuery, port, secure, transfer.error)) {
        return false;
    }

    // Declared in opening order, so they close request first, session last.
    UniqueInternet session(http->open(kUserAgent, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                      WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        transfer.error = L"Could not open a connection.";
        return false;
    }
    http->setTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                      kReceiveTimeoutMs);
    UniqueInternet connection(http->connect(session.get(), host.c_str(), port, 0));
    UniqueInternet request;
    if (connection) {
        request.reset(http->openRequest(connection.get(), L"GET", pathAndQuery.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                        secure ? WINHTTP_FLAG_SECURE : 0));
    }
    if (!request ||
        !http->sendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                           0, 0, 0) ||
        !http->receiveResponse(request.get(), nullptr)) {
        transfer.error = L"Could not reach the download server.";
        return false;
    }

    const DWORD status = QueryNumberHeader(*http, request.get(), WINHTTP_QUERY_STATUS_CODE);
    if (status < 200 || status > 299) {
        transfer.error = L"The server returned an error.";
        return false;
    }
    const std::uint32_t contentLength =
        QueryNumberHeader(*http, request.get(), WINHTTP_QUERY_CONTENT_LENGTH);

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
        if (!http->queryDataAvailable(request.get(), &available)) {
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
        if (!http->readData(request.get(), chunk.data(), available, &read)) {
            transfer.error = L"The download stopped.";
            return false;
        }
        if (transfer.toFile) {
            // A failed write is not examined here: a short package fails its
            // checksum or its unpacking.
            DWORD written = 0;
            WriteFile(file.get(), chunk.data(), read, &written, nullptr);
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
