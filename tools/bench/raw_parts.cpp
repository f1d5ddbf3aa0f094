#include "tools/bench/raw_parts.h"

#include "shell/scoped.h"

#include <bcrypt.h>

#include <vector>

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The plain WinHTTP query/read loop, writing with WriteFile as HttpGet does.
bool RawDownload(INTERNET_PORT port, const std::wstring& path, const std::wstring& target) {
    HINTERNET session = WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = WinHttpConnect(session, L"127.0.0.1", port, 0);
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    bool ok = WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                 0, 0, 0) &&
              WinHttpReceiveResponse(request, nullptr);
    UniqueHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    ok = ok && Valid(file);
    std::vector<char> buffer;
    while (ok) {
        DWORD available = 0;
        if (!WinHttpQueryDataAvailable(request, &available)) {
            ok = false;
            break;
        }
        if (available == 0) {
            break;
        }
        buffer.resize(available);
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer.data(), available, &read)) {
            ok = false;
            break;
        }
        DWORD written = 0;
        WriteFile(file.get(), buffer.data(), read, &written, nullptr);
    }
    WinHttpCloseHandle(request);
    WinHttpCloseHandle(connection);
    WinHttpCloseHandle(session);
    return ok;
}

// The plain CNG loop with the same 256 KiB reads, through ReadFile.
bool RawHash(const std::wstring& path) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0 ||
        BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) {
        return false;
    }
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::vector<UCHAR> buffer(0x40000);
    DWORD read = 0;
    while (ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) &&
           read > 0) {
        BCryptHashData(hash, buffer.data(), read, 0);
    }
    UCHAR digest[32];
    const bool ok = BCryptFinishHash(hash, digest, sizeof(digest), 0) == 0;
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    return ok;
}

bool RawRemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    bool ok = true;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            ok = ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                      ? RawRemoveTree(path)
                      : DeleteFileW(path.c_str()) != FALSE) &&
                 ok;
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    return RemoveDirectoryW(folder.c_str()) != FALSE && ok;
}
