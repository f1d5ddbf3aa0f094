#include "tests/support/test_support.h"

#include "system/stop_app.h"

#include <gtest/gtest.h>

#include <tlhelp32.h>
#include <winternl.h>

#include <filesystem>
#include <fstream>
#include <cstring>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace testing_support {

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return fs::path(path).parent_path().wstring();
}

std::wstring BuiltProgram(const std::wstring& fileName) {
    return (fs::path(ExeFolder()) / fileName).wstring();
}

namespace {

void SetLogPixels(DWORD dpi) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", 0, nullptr, 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const UniqueKey owner(key);
    ASSERT_EQ(RegSetValueExW(key, L"LogPixels", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dpi),
                             sizeof(dpi)),
              ERROR_SUCCESS);
}

} // namespace

SystemDpi::SystemDpi(DWORD dpi) {
    SetLogPixels(dpi);
}

SystemDpi::~SystemDpi() {
    SetLogPixels(96);
}

TempFolder::TempFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    static unsigned counter = 0;
    for (;;) {
        fs::path candidate =
            fs::path(temp) / (L"movora-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++counter));
        std::error_code error;
        if (fs::create_directory(candidate, error)) {
            path_ = candidate.wstring();
            return;
        }
        if (error) {
            ADD_FAILURE() << "cannot create a temporary folder: " << error.message();
            return;
        }
    }
}

TempFolder::~TempFolder() {
    if (path_.empty()) {
        return;
    }
    std::error_code ignored;
    // Read-only entries would stop the removal: clear them first.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(path_, ignored);
}

std::wstring TempFolder::operator/(const std::wstring& name) const {
    return (fs::path(path_) / name).wstring();
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    std::ofstream out(fs::path(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << "cannot write " << fs::path(path).string();
}

std::string ReadFileBytes(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

StartedProcess StartProcess(const std::wstring& commandLine) {
    StartedProcess started;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::wstring mutableLine = commandLine;
    if (!CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW failed with " << GetLastError();
        return started;
    }
    CloseHandle(info.hThread);
    started.process.reset(info.hProcess);
    started.id = info.dwProcessId;
    return started;
}

DWORD WaitForExitCode(HANDLE process, DWORD timeoutMs) {
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        return STILL_ACTIVE;
    }
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process, &code);
    return code;
}

namespace {

struct WindowSearch {
    DWORD processId;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (owner == search->processId && wcscmp(className, search->className) == 0 &&
        IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

HWND WaitForProcessWindow(DWORD processId, const wchar_t* className, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    do {
        WindowSearch search{processId, className, nullptr};
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr) {
            return search.found;
        }
        Sleep(50);
    } while (GetTickCount64() < deadline);
    return nullptr;
}

std::vector<DWORD> FindProcessesByImage(const std::wstring& imagePath) {
    std::vector<DWORD> ids;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!Valid(snapshot)) {
        return ids;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(GetProcessImagePath(entry.th32ProcessID).c_str(), imagePath.c_str()) == 0) {
            ids.push_back(entry.th32ProcessID);
        }
    }
    return ids;
}

// Reads the command line from the process's own parameter block, which works
// the same on Windows and under Wine.
namespace {

// One text of another process's start-up parameters, read from its memory;
// empty when it cannot be read. pick chooses the field.
template <typename Pick> std::wstring ReadProcessParameter(DWORD processId, Pick pick) {
    using QueryFn = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    UniqueHandle process(
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (query == nullptr || !process) {
        return std::wstring();
    }
    PROCESS_BASIC_INFORMATION basic{};
    ULONG length = 0;
    if (query(process.get(), ProcessBasicInformation, &basic, sizeof(basic), &length) != 0) {
        return std::wstring();
    }
    PEB peb{};
    RTL_USER_PROCESS_PARAMETERS parameters{};
    if (!ReadProcessMemory(process.get(), basic.PebBaseAddress, &peb, sizeof(peb), nullptr) ||
        !ReadProcessMemory(process.get(), peb.ProcessParameters, &parameters, sizeof(parameters),
                           nullptr)) {
        return std::wstring();
    }
    const UNICODE_STRING field = pick(parameters);
    std::wstring text(field.Length / sizeof(wchar_t), L'\0');
    if (!ReadProcessMemory(process.get(), field.Buffer, text.data(), field.Length, nullptr)) {
        return std::wstring();
    }
    return text;
}

} // namespace

std::wstring GetProcessCommandLine(DWORD processId) {
    return ReadProcessParameter(processId,
                                [](const RTL_USER_PROCESS_PARAMETERS& p) { return p.CommandLine; });
}

std::wstring GetProcessCurrentDirectory(DWORD processId) {
    // The public header hides the field: on x64 the current directory's path
    // follows the flags (16 bytes) and five handles.
    return ReadProcessParameter(processId, [](const RTL_USER_PROCESS_PARAMETERS& p) {
        UNICODE_STRING directory{};
        memcpy(&directory, &p.Reserved2[5], sizeof(directory));
        return directory;
    });
}

void KillProcess(DWORD processId) {
    UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, processId));
    if (process) {
        TerminateProcess(process.get(), 1);
        WaitForSingleObject(process.get(), 5000);
    }
}

bool RunningUnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

std::string Utf8Text(const std::wstring& wide) {
    if (wide.empty()) {
        return std::string();
    }
    const int length = static_cast<int>(wide.size());
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(bytes > 0 ? bytes : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), length, text.data(), bytes, nullptr, nullptr);
    return text;
}

std::string HostPath(const std::wstring& path) {
    using ToUnixFn = char*(CDECL*)(LPCWSTR);
    const auto toUnix = reinterpret_cast<ToUnixFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* text = toUnix != nullptr ? toUnix(path.c_str()) : nullptr;
    const std::string result = text != nullptr ? text : "";
    HeapFree(GetProcessHeap(), 0, text);
    return result;
}

bool RunHostProgram(const std::string& commandLine, const std::function<bool()>& done,
                    DWORD timeoutMs) {
    std::wstring wide(commandLine.begin(), commandLine.end());
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        return false;
    }
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done() && GetTickCount64() < deadline) {
        Sleep(50);
    }
    return done();
}

namespace {

// The image path straight from the system; empty when it cannot be had.
std::wstring ImagePathForCleanUp(DWORD processId) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    std::wstring path(32768, L'\0');
    DWORD size = static_cast<DWORD>(path.size());
    if (!process || !QueryFullProcessImageNameW(process.get(), 0, path.data(), &size)) {
        return std::wstring();
    }
    path.resize(size);
    return path;
}

std::vector<DWORD> ProcessesInside(const std::wstring& folder) {
    std::wstring prefix = folder;
    while (!prefix.empty() && (prefix.back() == L'\\' || prefix.back() == L'/')) {
        prefix.pop_back();
    }
    prefix += L'\\';
    std::vector<DWORD> ids;
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Valid(snapshot) && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        const std::wstring image = ImagePathForCleanUp(entry.th32ProcessID);
        if (entry.th32ProcessID != GetCurrentProcessId() && image.size() > prefix.size() &&
            _wcsnicmp(image.c_str(), prefix.c_str(), prefix.size()) == 0) {
            ids.push_back(entry.th32ProcessID);
        }
    }
    return ids;
}

} // namespace

void KillProcessesInside(const std::wstring& folder) {
    // A few rounds: a process ended in one round may have started another
    // just before.
    for (int round = 0; round < 5; ++round) {
        const std::vector<DWORD> ids = ProcessesInside(folder);
        if (ids.empty()) {
            return;
        }
        for (const DWORD id : ids) {
            KillProcess(id);
        }
    }
}

namespace {

template <typename Char>
std::string NameFromText(std::basic_string_view<Char> text, size_t maxLength) {
    std::string name;
    bool wordStart = true;
    for (const Char c : text) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        const bool digit = c >= '0' && c <= '9';
        if (!letter && !digit) {
            wordStart = true;
            continue;
        }
        if (name.size() == maxLength) {
            break;
        }
        char ascii = static_cast<char>(c);
        if (wordStart && letter && ascii >= 'a') {
            ascii = static_cast<char>(ascii - 'a' + 'A');
        }
        name += ascii;
        wordStart = false;
    }
    return name.empty() ? std::string("Empty") : name;
}

} // namespace

std::string CaseName(std::wstring_view text, size_t maxLength) {
    return NameFromText(text, maxLength);
}

std::string CaseName(std::string_view text, size_t maxLength) {
    return NameFromText(text, maxLength);
}

} // namespace testing_support
