#include "tests/support/http_test_server.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

namespace testing_support {

namespace {

bool SendAll(SOCKET socket, const char* data, size_t size) {
    while (size > 0) {
        const int piece = static_cast<int>(std::min<size_t>(size, 64 * 1024));
        const int sent = send(socket, data, piece, 0);
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool SendText(SOCKET socket, const std::string& text) {
    return SendAll(socket, text.data(), text.size());
}

// Closes with a reset instead of an orderly shutdown: the client sees the
// connection break, not an end of data.
void ResetConnection(SOCKET socket) {
    linger hard{1, 0};
    setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
    closesocket(socket);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(tolower(c)); });
    return text;
}

std::string ReasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

RecordedRequest ParseRequest(const std::string& head) {
    RecordedRequest request;
    const size_t lineEnd = head.find("\r\n");
    request.requestLine = head.substr(0, lineEnd);
    const size_t firstSpace = request.requestLine.find(' ');
    const size_t lastSpace = request.requestLine.rfind(' ');
    if (firstSpace != std::string::npos && lastSpace > firstSpace) {
        request.method = request.requestLine.substr(0, firstSpace);
        request.target = request.requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    }
    if (lineEnd == std::string::npos) {
        return request;
    }
    request.rawHeaders = head.substr(lineEnd + 2);
    size_t start = lineEnd + 2;
    while (start < head.size()) {
        size_t end = head.find("\r\n", start);
        if (end == std::string::npos) {
            end = head.size();
        }
        const std::string line = head.substr(start, end - start);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            size_t valueStart = colon + 1;
            while (valueStart < line.size() && line[valueStart] == ' ') {
                ++valueStart;
            }
            request.headers.emplace_back(line.substr(0, colon), line.substr(valueStart));
        }
        start = end + 2;
    }
    return request;
}

} // namespace

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& header : headers) {
        if (Lower(header.first) == Lower(name)) {
            return header.second;
        }
    }
    return std::string();
}

bool RecordedRequest::HasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& header) { return Lower(header.first) == Lower(name); });
}

std::string PatternBytes(size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 0x12345678u;
    for (size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

HttpTestServer::HttpTestServer() {
    WSADATA data{};
    WSAStartup(MAKEWORD(2, 2), &data);
    stopEvent_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

HttpTestServer::~HttpTestServer() {
    Stop();
    CloseHandle(stopEvent_);
    WSACleanup();
}

bool HttpTestServer::Start(std::uint16_t port, const char* listenAddress) {
    ResetEvent(stopEvent_);
    in_addr boundAddress{};
    if (inet_pton(AF_INET, listenAddress, &boundAddress) != 1) {
        return false;
    }
    address_ = listenAddress;
    const ULONGLONG deadline = GetTickCount64() + 5000;
    for (;;) {
        SOCKET listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (listener == INVALID_SOCKET) {
            return false;
        }
        // Earlier connections on a fixed port linger in TIME_WAIT; they must
        // not keep the next test's server from listening there.
        BOOL reuse = TRUE;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse),
                   sizeof(reuse));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr = boundAddress;
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            listen(listener, SOMAXCONN) == 0) {
            int length = sizeof(address);
            getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
            listener_ = listener;
            port_ = ntohs(address.sin_port);
            break;
        }
        closesocket(listener);
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(100);
    }
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void HttpTestServer::Stop() {
    SetEvent(stopEvent_);
    if (listener_ != INVALID_SOCKET) {
        closesocket(listener_);
        listener_ = INVALID_SOCKET;
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

std::wstring HttpTestServer::Url(const std::string& pathAndQuery) const {
    std::wstring url =
        L"http://" + std::wstring(address_.begin(), address_.end()) + L":" + std::to_wstring(port_);
    return url + std::wstring(pathAndQuery.begin(), pathAndQuery.end());
}

void HttpTestServer::Script(const std::string& path, ScriptedResponse response) {
    std::lock_guard<std::mutex> lock(mutex_);
    scripts_[path] = std::move(response);
}

std::vector<RecordedRequest> HttpTestServer::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

bool HttpTestServer::Wait(DWORD ms) {
    return WaitForSingleObject(stopEvent_, ms) == WAIT_TIMEOUT;
}

// Connections are answered one after another; the tests make one request at
// a time.
void HttpTestServer::Serve() {
    for (;;) {
        SOCKET client = accept(listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET) {
            return; // the listener was closed by Stop
        }
        DWORD timeoutMs = 15000;
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs),
                   sizeof(timeoutMs));
        setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeoutMs),
                   sizeof(timeoutMs));
        Answer(client);
        if (WaitForSingleObject(stopEvent_, 0) == WAIT_OBJECT_0) {
            return;
        }
    }
}

void HttpTestServer::Answer(SOCKET client) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 64 * 1024) {
        const int received = recv(client, buffer, sizeof(buffer), 0);
        if (received <= 0) {
            closesocket(client);
            return;
        }
        head.append(buffer, static_cast<size_t>(received));
    }
    RecordedRequest request = ParseRequest(head.substr(0, head.find("\r\n\r\n")));
    const std::string path = request.target.substr(0, request.target.find('?'));
    ScriptedResponse response;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        auto found = scripts_.find(request.target);
        if (found == scripts_.end()) {
            found = scripts_.find(path);
        }
        if (found != scripts_.end()) {
            response = found->second;
        } else {
            response.status = 404;
        }
    }

    if (response.stallBeforeHeadersMs > 0) {
        Wait(response.stallBeforeHeadersMs);
        closesocket(client);
        return;
    }

    if (response.delayBeforeHeadersMs > 0 && !Wait(response.delayBeforeHeadersMs)) {
        closesocket(client);
        return;
    }

    const std::string statusLine = "HTTP/1.1 " + std::to_string(response.status) + " " +
                                   ReasonPhrase(response.status) + "\r\n";
    if (response.endlessHeaders || response.endlessBody) {
        SendEndlessly(client, statusLine, response);
        return;
    }

    std::string headers = statusLine;
    headers += response.chunked
                   ? "Transfer-Encoding: chunked\r\n"
                   : "Content-Length: " +
                         (response.contentLength.empty() ? std::to_string(response.body.size())
                                                         : response.contentLength) +
                         "\r\n";
    headers += response.extraHeaders;
    headers += "Connection: close\r\n\r\n";
    if (!SendText(client, headers)) {
        closesocket(client);
        return;
    }

    const std::string& body = response.body;
    const size_t chunkSize = std::max<size_t>(response.chunkSize, 1);
    size_t sent = 0;
    while (sent < body.size()) {
        size_t piece = std::min(chunkSize, body.size() - sent);
        // Cut the piece so a drop or a stall happens at its exact byte.
        for (size_t mark : {response.dropAfter, response.stallAfter}) {
            if (mark > sent && mark < sent + piece) {
                piece = mark - sent;
            }
        }
        if (sent == response.dropAfter) {
            ResetConnection(client);
            return;
        }
        if (sent == response.stallAfter && !Wait(response.stallMs)) {
            closesocket(client);
            return;
        }
        if (sent > 0 && response.pauseBetweenPiecesMs > 0 && !Wait(response.pauseBetweenPiecesMs)) {
            closesocket(client);
            return;
        }
        bool ok = true;
        if (response.chunked) {
            char size[32];
            snprintf(size, sizeof(size), "%zx\r\n", piece);
            ok = SendText(client, size) && SendAll(client, body.data() + sent, piece) &&
                 SendText(client, "\r\n");
        } else {
            ok = SendAll(client, body.data() + sent, piece);
        }
        if (!ok) {
            closesocket(client);
            return;
        }
        sent += piece;
    }
    if (response.dropAfter != kWholeBody && response.dropAfter >= body.size()) {
        ResetConnection(client);
        return;
    }
    if (response.chunked) {
        if (body.empty()) {
            // Wine 8's WinHTTP fails WinHttpQueryDataAvailable with error 122
            // in about one run of four when the headers and the last chunk of
            // an empty chunked body arrive in one read; Windows does not. Let
            // them arrive apart, so the test sees the program, not that defect.
            Sleep(50);
        }
        SendText(client, "0\r\n\r\n");
    }
    shutdown(client, SD_SEND);
    // Let the client read everything before the socket goes away.
    while (recv(client, buffer, sizeof(buffer), 0) > 0) {
    }
    closesocket(client);
}

// The hostile answers: header lines or body pieces until the client stops
// taking them (a failed send), the server stops, or the byte limit is reached.
void HttpTestServer::SendEndlessly(SOCKET client, const std::string& statusLine,
                                   const ScriptedResponse& response) {
    size_t sent = 0;
    auto sendCounted = [&](const std::string& text) {
        sent += text.size();
        return WaitForSingleObject(stopEvent_, 0) == WAIT_TIMEOUT &&
               sent <= response.hostileLimitBytes && SendText(client, text);
    };
    if (response.endlessHeaders) {
        const std::string filler(100, 'x');
        if (sendCounted(statusLine)) {
            for (size_t line = 0;; ++line) {
                if (!sendCounted("X-Filler-" + std::to_string(line) + ": " + filler + "\r\n")) {
                    break;
                }
            }
        }
        closesocket(client);
        return;
    }

    std::string headers = statusLine;
    if (response.chunked) {
        headers += "Transfer-Encoding: chunked\r\n";
    } else if (!response.contentLength.empty()) {
        headers += "Content-Length: " + response.contentLength + "\r\n";
    }
    headers += "Connection: close\r\n\r\n";
    const std::string body = response.body.empty() ? std::string(1, 'x') : response.body;
    const size_t chunkSize = std::max<size_t>(response.chunkSize, 1);
    bool going = sendCounted(headers);
    for (size_t at = 0, pieces = 0; going; ++pieces) {
        if (pieces > 0 && response.pauseBetweenPiecesMs > 0 &&
            !Wait(response.pauseBetweenPiecesMs)) {
            break;
        }
        std::string piece = body.substr(at, chunkSize);
        at = (at + piece.size()) % body.size();
        if (response.chunked) {
            char size[32];
            snprintf(size, sizeof(size), "%zx\r\n", piece.size());
            piece = size + piece + "\r\n";
        }
        going = sendCounted(piece);
    }
    ResetConnection(client);
}

} // namespace testing_support
