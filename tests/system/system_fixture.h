// Shared set-up for the tests of stopping the app, registration and the
// uninstall sequence: a clean install root, stand-in app processes that are
// always ended, and readers for the registry and the quit pipe.
#pragma once

#include "shell/scoped.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace system_testing {

// LocalAppData\Movora, LocalAppData\Movora\app and the app executable in it.
std::wstring InstallRootPath();
std::wstring AppFolderPath();
std::wstring AppExePath();

// Copies the built stand-in Movora.exe to exePath (creating its folder) and
// writes the variant file next to it, one option a line (none: no file).
void PlaceApp(const std::wstring& exePath, const std::vector<std::string>& variant = {});

// Starts the program at exePath. With waitForWindow, waits until its window is
// up (and so its pipe is served); otherwise until it shows in the process list.
testing_support::StartedProcess StartApp(const std::wstring& exePath, bool waitForWindow = true);

// Removes a folder tree the test made, read-only entries included.
void RemoveTestTree(const std::wstring& path);

// Makes link a link to the folder target: a Windows symbolic link where the
// platform makes one, otherwise (under Wine, whose call does nothing) a
// symbolic link of the host system, which Wine shows as a reparse point.
// False when neither can be made.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);

// Removes a link a test made or the code under test had to leave (Wine cannot
// remove a host link through its own calls, and the library's tree removal
// would follow it into its target).
void RemoveLeftLink(const std::wstring& link);

// The Start menu programs folder and the desktop folder.
std::wstring ProgramsFolder();
std::wstring DesktopFolder();

// One registry value as stored.
struct RegistryValue {
    bool found = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    std::wstring Text() const; // a REG_SZ value without its terminating null
    DWORD Dword() const;
};
RegistryValue ReadRegistryValue(const wchar_t* keyPath, const wchar_t* name,
                                HKEY root = HKEY_CURRENT_USER);
bool RegistryKeyExists(const wchar_t* keyPath);
void WriteRegistryString(const wchar_t* keyPath, const wchar_t* name, const std::wstring& text);

// One delayed rename or deletion that Windows keeps for the next restart:
// source and target as stored ("\\??\\C:\\..."), a deletion's target empty.
using RestartOperation = std::pair<std::wstring, std::wstring>;

// The delayed renames and deletions as stored in the value. The strings are
// read one by one up to a null each, since a deletion's empty target looks
// like the end of an ordinary string list.
std::vector<RestartOperation> ParseRestartOperations(const RegistryValue& value);

// One line per operation, for failure messages.
std::string DescribeRestartOperations(const std::vector<RestartOperation>& operations);

// Windows (and Wine, which runs with administrator rights) records deletions
// at restart in PendingFileRenameOperations under the Session Manager key.
// The object saves that value when it is made and puts it back when it goes
// away, so what a test schedules does not stay in the prefix.
class RestartOperationsGuard {
  public:
    RestartOperationsGuard();
    ~RestartOperationsGuard();
    RestartOperationsGuard(const RestartOperationsGuard&) = delete;
    RestartOperationsGuard& operator=(const RestartOperationsGuard&) = delete;
    // False when this account cannot write the value (no deletion at restart).
    bool usable() const { return static_cast<bool>(key_); }
    // The operations added since the object was made.
    std::vector<RestartOperation> Added() const;

  private:
    UniqueKey key_;
    RegistryValue before_;
};

// A server instance of "\\.\pipe\MovoraInstance" standing in for the app,
// so a test sees what a client sent, or that no client came at all.
class PipeListener {
  public:
    PipeListener();
    ~PipeListener();
    PipeListener(const PipeListener&) = delete;
    PipeListener& operator=(const PipeListener&) = delete;
    // True once a client has connected (waiting up to timeoutMs).
    bool Connected(DWORD timeoutMs);
    // Everything the connected client wrote before it closed its end.
    std::string ReadAll();
    // The impersonation level the client allowed; false when this platform
    // cannot impersonate a pipe client.
    bool ClientImpersonationLevel(SECURITY_IMPERSONATION_LEVEL& level);

  private:
    UniqueHandle pipe_;
    UniqueHandle event_;
    OVERLAPPED overlapped_{};
};

// Opens the file for reading, sharing only reading, as another program
// holding it would; the file cannot be written, deleted or opened exclusively
// while the handle lives.
UniqueHandle HoldOpen(const std::wstring& path);

// Resets the job status and the cancel flag, ends every process started from
// the install root (stand-in apps and the helpers they start, whatever the
// test's result) and removes the install root before and after each test; also
// removes the Uninstall entry, the autostart value and both shortcuts. Each
// test starts with the real time for held files and no status observer, and
// leaves them so.
class SystemTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    void CleanUp();
    // Sets a status text no operation under test uses, to see whether one changed it.
    void MarkStatus();
    std::wstring StatusText();
    int StatusPercent();
};

// A SystemTest with COM initialised apartment-threaded, as the worker jobs do.
class ComSystemTest : public SystemTest {
  protected:
    void SetUp() override;
    void TearDown() override;
};

} // namespace system_testing
