#include "tests/system/system_fixture.h"

#include "install/fs_calls.h"
#include "install/locations.h"
#include "shell/app_state.h"

#include <objbase.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <system_error>

namespace fs = std::filesystem;
using testing_support::StartedProcess;

namespace system_testing {

namespace {

// Through the older folder interface on purpose, as a second opinion on the
// known folders the code under test resolves.
std::wstring ShellFolder(int csidl) {
    wchar_t folder[MAX_PATH] = {};
    EXPECT_TRUE(SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, folder)));
    return folder;
}

bool IsRunning(DWORD processId) {
    UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == processId) {
            return true;
        }
    }
    return false;
}

} // namespace

std::wstring InstallRootPath() {
    return ShellFolder(CSIDL_LOCAL_APPDATA) + L"\\Movora";
}

std::wstring AppFolderPath() {
    return InstallRootPath() + L"\\app";
}

std::wstring AppExePath() {
    return AppFolderPath() + L"\\Movora.exe";
}

void PlaceApp(const std::wstring& exePath, const std::vector<std::string>& variant) {
    const fs::path exe(exePath);
    fs::create_directories(exe.parent_path());
    ASSERT_TRUE(
        CopyFileW(testing_support::BuiltProgram(L"Movora.exe").c_str(), exePath.c_str(), FALSE))
        << "cannot copy the stand-in app: " << GetLastError();
    if (!variant.empty()) {
        std::ofstream out(fs::path(exe).replace_extension(L".variant"));
        for (const std::string& line : variant) {
            out << line << "\n";
        }
    }
}

StartedProcess StartApp(const std::wstring& exePath, bool waitForWindow) {
    StartedProcess started = testing_support::StartProcess(L"\"" + exePath + L"\"");
    if (!started.process) {
        return started;
    }
    if (waitForWindow) {
        EXPECT_NE(testing_support::WaitForProcessWindow(started.id, L"MovoraApp", 10000), nullptr)
            << "the stand-in app showed no window";
    } else {
        const ULONGLONG deadline = GetTickCount64() + 10000;
        while (!IsRunning(started.id) && GetTickCount64() < deadline) {
            Sleep(20);
        }
    }
    return started;
}

void RemoveTestTree(const std::wstring& path) {
    std::error_code ignored;
    for (auto it = fs::recursive_directory_iterator(path, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove_all(path, ignored);
}

namespace {

bool IsReparsePoint(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

} // namespace

bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
    CreateSymbolicLinkW(link.c_str(), target.c_str(),
                        SYMBOLIC_LINK_FLAG_DIRECTORY |
                            SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
    if (IsReparsePoint(link)) {
        return true;
    }
    if (!testing_support::RunningUnderWine()) {
        return false;
    }
    return testing_support::RunHostProgram("Z:\\usr\\bin\\ln -s " +
                                               testing_support::HostPath(target) + " " +
                                               testing_support::HostPath(link),
                                           [&] { return IsReparsePoint(link); });
}

void RemoveLeftLink(const std::wstring& link) {
    if (IsReparsePoint(link) && testing_support::RunningUnderWine()) {
        testing_support::RunHostProgram("Z:\\usr\\bin\\rm " + testing_support::HostPath(link), [&] {
            return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES;
        });
    }
}

std::wstring ProgramsFolder() {
    return ShellFolder(CSIDL_PROGRAMS);
}

std::wstring DesktopFolder() {
    return ShellFolder(CSIDL_DESKTOPDIRECTORY);
}

std::wstring RegistryValue::Text() const {
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
    if (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
    return text;
}

DWORD RegistryValue::Dword() const {
    DWORD value = 0;
    if (bytes.size() == sizeof(value)) {
        memcpy(&value, bytes.data(), sizeof(value));
    }
    return value;
}

RegistryValue ReadRegistryValue(const wchar_t* keyPath, const wchar_t* name, HKEY root) {
    RegistryValue value;
    HKEY rawKey = nullptr;
    if (RegOpenKeyExW(root, keyPath, 0, KEY_QUERY_VALUE, &rawKey) != ERROR_SUCCESS) {
        return value;
    }
    UniqueKey key(rawKey);
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
        return value;
    }
    value.bytes.resize(size);
    value.found = RegQueryValueExW(key.get(), name, nullptr, &value.type, value.bytes.data(),
                                   &size) == ERROR_SUCCESS;
    value.bytes.resize(size);
    return value;
}

bool RegistryKeyExists(const wchar_t* keyPath) {
    HKEY rawKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, &rawKey) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(rawKey);
    return true;
}

void WriteRegistryString(const wchar_t* keyPath, const wchar_t* name, const std::wstring& text) {
    HKEY rawKey = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, keyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &rawKey, nullptr),
              ERROR_SUCCESS);
    UniqueKey key(rawKey);
    ASSERT_EQ(RegSetValueExW(key.get(), name, 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

namespace {

const wchar_t kSessionManagerKey[] = L"System\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValue[] = L"PendingFileRenameOperations";

} // namespace

std::vector<RestartOperation> ParseRestartOperations(const RegistryValue& value) {
    std::vector<std::wstring> strings;
    const wchar_t* text = reinterpret_cast<const wchar_t*>(value.bytes.data());
    const size_t length = value.bytes.size() / sizeof(wchar_t);
    for (size_t start = 0; start < length;) {
        const size_t end = std::find(text + start, text + length, L'\0') - text;
        strings.emplace_back(text + start, end - start);
        start = end + 1;
    }
    std::vector<RestartOperation> operations;
    for (size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2) {
        operations.emplace_back(strings[i], strings[i + 1]);
    }
    return operations;
}

std::string DescribeRestartOperations(const std::vector<RestartOperation>& operations) {
    std::string text;
    for (const RestartOperation& operation : operations) {
        text += fs::path(operation.first).string() + " -> \"" +
                fs::path(operation.second).string() + "\"\n";
    }
    return text;
}

RestartOperationsGuard::RestartOperationsGuard() {
    HKEY rawKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      &rawKey) == ERROR_SUCCESS) {
        key_.reset(rawKey);
        before_ = ReadRegistryValue(kSessionManagerKey, kPendingValue, HKEY_LOCAL_MACHINE);
    }
}

RestartOperationsGuard::~RestartOperationsGuard() {
    if (!key_) {
        return;
    }
    if (before_.found) {
        RegSetValueExW(key_.get(), kPendingValue, 0, before_.type, before_.bytes.data(),
                       static_cast<DWORD>(before_.bytes.size()));
    } else {
        RegDeleteValueW(key_.get(), kPendingValue);
    }
}

std::vector<RestartOperation> RestartOperationsGuard::Added() const {
    std::vector<RestartOperation> added = ParseRestartOperations(
        ReadRegistryValue(kSessionManagerKey, kPendingValue, HKEY_LOCAL_MACHINE));
    for (const RestartOperation& old : ParseRestartOperations(before_)) {
        const auto found = std::find(added.begin(), added.end(), old);
        if (found != added.end()) {
            added.erase(found);
        }
    }
    return added;
}

PipeListener::PipeListener()
    : pipe_(CreateNamedPipeW(L"\\\\.\\pipe\\MovoraInstance",
                             PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE | PIPE_WAIT,
                             1, 0, 64, 0, nullptr)),
      event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    EXPECT_TRUE(Valid(pipe_)) << "cannot serve the quit pipe: " << GetLastError();
    overlapped_.hEvent = event_.get();
    if (Valid(pipe_) && !ConnectNamedPipe(pipe_.get(), &overlapped_) &&
        GetLastError() == ERROR_PIPE_CONNECTED) {
        SetEvent(event_.get());
    }
}

PipeListener::~PipeListener() {
    if (Valid(pipe_)) {
        CancelIo(pipe_.get());
        DWORD ignored = 0;
        GetOverlappedResult(pipe_.get(), &overlapped_, &ignored, TRUE);
    }
}

bool PipeListener::Connected(DWORD timeoutMs) {
    return Valid(pipe_) && WaitForSingleObject(event_.get(), timeoutMs) == WAIT_OBJECT_0;
}

std::string PipeListener::ReadAll() {
    std::string bytes;
    if (!Connected(0)) {
        return bytes;
    }
    for (;;) {
        char buffer[64];
        DWORD read = 0;
        OVERLAPPED readOverlapped{};
        readOverlapped.hEvent = event_.get();
        ResetEvent(event_.get());
        if (!ReadFile(pipe_.get(), buffer, sizeof(buffer), nullptr, &readOverlapped) &&
            GetLastError() != ERROR_IO_PENDING) {
            break;
        }
        if (!GetOverlappedResult(pipe_.get(), &readOverlapped, &read, TRUE) || read == 0) {
            break;
        }
        bytes.append(buffer, read);
    }
    SetEvent(event_.get());
    return bytes;
}

bool PipeListener::ClientImpersonationLevel(SECURITY_IMPERSONATION_LEVEL& level) {
    if (!Connected(0) || !ImpersonateNamedPipeClient(pipe_.get())) {
        return false;
    }
    ScopeExit revert([] { RevertToSelf(); });
    HANDLE rawToken = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &rawToken)) {
        return false;
    }
    UniqueHandle token(rawToken);
    DWORD size = 0;
    return GetTokenInformation(token.get(), TokenImpersonationLevel, &level, sizeof(level),
                               &size) != FALSE;
}

UniqueHandle HoldOpen(const std::wstring& path) {
    UniqueHandle holder(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(Valid(holder)) << "cannot hold " << fs::path(path).string();
    return holder;
}

void SystemTest::SetUp() {
    file_faults::SetHeldFileRetryMs(kHeldFileRetryMs);
    CleanUp();
}

void SystemTest::TearDown() {
    SetStatusObserver(nullptr);
    file_faults::SetHeldFileRetryMs(kHeldFileRetryMs);
    CleanUp();
}

void SystemTest::CleanUp() {
    g_app.cancelRequested = false;
    // Not through the program's own process matching: when that is what a
    // test caught failing, a process it missed would outlive the test, keep
    // the test's output open and spoil the tests after it.
    testing_support::KillProcessesInside(InstallRootPath());
    RemoveTestTree(InstallRootPath());
    RegDeleteKeyW(HKEY_CURRENT_USER,
                  L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Movora");
    HKEY run = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
        RegDeleteValueW(run, L"Movora");
        RegCloseKey(run);
    }
    for (const std::wstring& folder : {ProgramsFolder(), DesktopFolder()}) {
        DeleteFileW((folder + L"\\Movora.lnk").c_str());
    }
}

void SystemTest::MarkStatus() {
    StatusGuard lock(g_app.statusMutex);
    g_app.statusMessage = L"untouched";
    g_app.progressPercent = 7;
}

std::wstring SystemTest::StatusText() {
    StatusGuard lock(g_app.statusMutex);
    return g_app.statusMessage;
}

int SystemTest::StatusPercent() {
    StatusGuard lock(g_app.statusMutex);
    return g_app.progressPercent;
}

void ComSystemTest::SetUp() {
    SystemTest::SetUp();
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
}

void ComSystemTest::TearDown() {
    CoUninitialize();
    SystemTest::TearDown();
}

} // namespace system_testing
