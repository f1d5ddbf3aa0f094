// Helpers for tests that work with real files, processes and windows.
#pragma once

#include "shell/scoped.h"

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// Folder of the running test executable; MovoraSetup.exe and the test
// programs are built into the same folder.
std::wstring ExeFolder();

// Full path of a program built next to the test executable.
std::wstring BuiltProgram(const std::wstring& fileName);

// A fresh, empty folder below the temporary folder, removed with everything in
// it when the object goes away.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const;

  private:
    std::wstring path_;
};

// Sets the system DPI ("LogPixels") of the test prefix for the programs
// started while the object lives, and 96 again afterwards.
class SystemDpi {
  public:
    explicit SystemDpi(DWORD dpi);
    ~SystemDpi();
    SystemDpi(const SystemDpi&) = delete;
    SystemDpi& operator=(const SystemDpi&) = delete;
};

// Writes bytes to a file, replacing it. Fails the current test when it cannot.
void WriteFileBytes(const std::wstring& path, const std::string& bytes);

// The whole content of a file; empty when it cannot be read.
std::string ReadFileBytes(const std::wstring& path);

// A started process; its handles are closed when the object goes away (the
// process itself is left alone).
struct StartedProcess {
    UniqueHandle process;
    DWORD id = 0;
};

// Starts commandLine (the program path quoted inside it as needed). Fails the
// current test and returns an empty record when it cannot.
StartedProcess StartProcess(const std::wstring& commandLine);

// Waits up to timeoutMs for the process to end. Returns its exit code, or
// STILL_ACTIVE when it did not end in time.
DWORD WaitForExitCode(HANDLE process, DWORD timeoutMs);

// The first visible top-level window of the given class that belongs to the
// process, waiting up to timeoutMs for it; null when none appears.
HWND WaitForProcessWindow(DWORD processId, const wchar_t* className, DWORD timeoutMs);

// Ids of the running processes whose image path equals imagePath (case-insensitive).
std::vector<DWORD> FindProcessesByImage(const std::wstring& imagePath);

// The command line another process was started with; empty when it cannot be read.
std::wstring GetProcessCommandLine(DWORD processId);

// The current directory of another process (with its trailing backslash, as
// Windows keeps it); empty when it cannot be read.
std::wstring GetProcessCurrentDirectory(DWORD processId);

// Ends a process that a test started and waits for it; for clean-up only.
void KillProcess(DWORD processId);

// wide as UTF-8, for messages and for values a test writes as UTF-8.
std::string Utf8Text(const std::wstring& wide);

// True when the tests run under Wine rather than on Windows.
bool RunningUnderWine();

// Under Wine, the host system's path of a Windows path (Wine's own
// translation); empty elsewhere.
std::string HostPath(const std::wstring& path);

// Under Wine, starts a program of the host system ("Z:\usr\bin\ln -s a b")
// and polls done() every 50 ms for up to timeoutMs: a host program's end
// cannot be waited for through its handle, nor its exit code read. Returns
// done()'s last answer, or false when the program could not be started. The
// default is generous: a host program can take seconds to start on a loaded
// machine.
bool RunHostProgram(const std::string& commandLine, const std::function<bool()>& done,
                    DWORD timeoutMs = 20000);

// Ends every process whose executable lies inside folder (or a folder below
// it), whoever started it, and waits for each. It asks the system for the
// image paths itself and compares them itself, so clean-up still works when
// the program's own process matching is what a test caught failing.
void KillProcessesInside(const std::wstring& folder);

// A parameterised case's name for the test list, made from free text (a
// description, a command line, a URL): its ASCII letters and digits, each
// word after a space or sign starting with a capital, at most maxLength
// characters; "Empty" for text without any. GoogleTest refuses two equal
// names in one table, so a table whose texts could meet within maxLength
// puts the case's index in front.
std::string CaseName(std::wstring_view text, size_t maxLength = 48);
std::string CaseName(std::string_view text, size_t maxLength = 48);

} // namespace testing_support
