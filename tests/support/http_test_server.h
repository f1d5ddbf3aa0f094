// A small HTTP/1.1 server for tests, running on a thread of the test process
// (Winsock), listening on 127.0.0.1. Each request path gets a scripted answer;
// every request is recorded as the client sent it.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

inline constexpr size_t kWholeBody = static_cast<size_t>(-1);

// What the server answers for one path.
struct ScriptedResponse {
    int status = 200;
    std::string body;
    // false: a Content-Length header; true: no length, chunked encoding.
    bool chunked = false;
    size_t chunkSize = 4096;
    // Body bytes sent before the connection is reset; kWholeBody sends all.
    size_t dropAfter = kWholeBody;
    // Waits this long before sending anything, then closes without an answer.
    DWORD stallBeforeHeadersMs = 0;
    // Waits this long before sending anything, then answers as scripted.
    DWORD delayBeforeHeadersMs = 0;
    // Sends the headers and stallAfter body bytes, then waits stallMs before
    // going on with the rest.
    size_t stallAfter = kWholeBody;
    DWORD stallMs = 0;
    // Pause between two pieces of chunkSize bytes, so the client sees them
    // arrive one by one.
    DWORD pauseBetweenPiecesMs = 0;
    // Sent as the Content-Length value instead of the body's size (without
    // chunked encoding); empty sends the real size.
    std::string contentLength{};

    // Hostile answers. Each runs until the client goes away, the server
    // stops, or hostileLimitBytes have gone out, whichever comes first; the
    // limit keeps a client that never gives up from tying the test down.
    // endlessHeaders: the status line, then header lines without end (the
    // empty line that ends the headers never comes).
    bool endlessHeaders = false;
    // endlessBody: headers without a length (chunked encoding when chunked is
    // set; contentLength, when given, is announced but not kept to), then body
    // repeated without end, in pieces of chunkSize bytes with
    // pauseBetweenPiecesMs between them.
    bool endlessBody = false;
    size_t hostileLimitBytes = 256u << 20;

    // Further header lines, each ending in CRLF ("Location: /b\r\n").
    std::string extraHeaders{};
};

// One request as it arrived.
struct RecordedRequest {
    std::string requestLine; // e.g. "GET /a?b=1 HTTP/1.1"
    std::string method;
    std::string target;     // path and query exactly as sent
    std::string rawHeaders; // the header lines, CRLF-separated, as sent
    std::vector<std::pair<std::string, std::string>> headers;

    // Value of the first header of that name (any letter case); empty if none.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

class HttpTestServer {
  public:
    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    // Listens on listenAddress:port (0 picks a free port), retrying a busy port
    // for a few seconds. Returns false when it cannot listen. Any address of
    // 127.0.0.0/8 is this machine.
    bool Start(std::uint16_t port = 0, const char* listenAddress = "127.0.0.1");
    // Closes the listener, ends a stall and waits for the server thread.
    void Stop();

    std::uint16_t port() const { return port_; }
    // "http://<address>:<port>" followed by path.
    std::wstring Url(const std::string& pathAndQuery) const;

    // The answer for a path (the target without its query), or for one
    // whole target with its query, which goes first. Paths without a script
    // get 404 with an empty body.
    void Script(const std::string& path, ScriptedResponse response);
    std::vector<RecordedRequest> Requests() const;

  private:
    void Serve();
    void Answer(SOCKET client);
    void SendEndlessly(SOCKET client, const std::string& statusLine,
                       const ScriptedResponse& response);
    bool Wait(DWORD ms);

    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    std::string address_ = "127.0.0.1";
    HANDLE stopEvent_ = nullptr;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::map<std::string, ScriptedResponse> scripts_;
    std::vector<RecordedRequest> requests_;
};

// Bytes of a recognisable pattern, for bodies whose content matters.
std::string PatternBytes(size_t size);

} // namespace testing_support
