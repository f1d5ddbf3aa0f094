// Shared set-up for the tests of unpacking and of the install sequence: the
// tar stand-in in the system folder, a loopback release server, packages
// built from the real stand-in app, and before-and-after pictures of the app
// folder and the Uninstall entry.
#pragma once

#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"
#include "tests/system/system_fixture.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace install_testing {

// A folder's contents: relative path -> SHA-256 of the file's bytes, or
// kFolderMark for a folder. Two equal trees hold byte-identical releases.
using Tree = std::map<std::wstring, std::string>;
extern const char kFolderMark[];

Tree DigestTree(const std::wstring& folder);
std::string Sha256Hex(const std::string& bytes); // lowercase, computed with CNG here

// Every value of a registry key below HKEY_CURRENT_USER: name -> type and bytes.
using RegistryPicture = std::map<std::wstring, std::pair<DWORD, std::vector<BYTE>>>;
RegistryPicture PictureOfKey(const wchar_t* keyPath);

// How a package lays out its release.
enum class Layout {
    Top,           // Movora.exe at the top of the zip
    OneFolderDown, // inside one folder, with loose files and a second folder beside it
    TwoLevelsDown, // two folders down: not found
    TwoSubfolders, // two folders that each hold Movora.exe
    NoApp,         // no Movora.exe at all
};

// A release made for a test: the zip's entries and what the app folder must
// hold once it is installed.
struct TestRelease {
    std::string version;
    std::vector<testing_support::ZipEntry> entries;
    Tree expectedApp; // empty for layouts that cannot be installed
};

// A release of the real stand-in app (so it can run) with a few files whose
// bytes depend on version. folderName is the wrapping folder where the layout
// has one.
TestRelease MakeRelease(const std::string& version, Layout layout,
                        const std::string& folderName = "Movora release");

// Adds a setup program of bytes to the package as "MovoraSetup.exe" beside its
// first Movora.exe, and to the app folder the release installs.
void AddSetupProgram(TestRelease& release, const std::string& bytes);

// Writes a release's files straight into folder, as an earlier install left
// them, and returns what that folder holds then.
Tree PlaceRelease(const TestRelease& release, const std::wstring& folder);

// The bytes of a zip of entries.
std::string ZipBytes(const std::vector<testing_support::ZipEntry>& entries);

// The temporary folder (with its trailing backslash) and the package files
// "Movora-*.zip" in it.
std::wstring TempFolderPath();
std::vector<std::wstring> PackageFilesInTemp();

// Records every status text the engines set, in order, through the job
// status' observer (the window itself may skip texts that are replaced
// before it repaints). One recorder at a time.
class StatusRecorder {
  public:
    StatusRecorder();
    ~StatusRecorder();
    StatusRecorder(const StatusRecorder&) = delete;
    StatusRecorder& operator=(const StatusRecorder&) = delete;
    // The texts set so far, consecutive repeats dropped.
    std::vector<std::wstring> Texts();
    bool Saw(const std::wstring& text);

  private:
    static void Record(const std::wstring& message);
};

// The install root clean, the tar stand-in in place, the stand-in processes
// ended, no package files in the temporary folder, no file fault armed and an
// empty release in g_app, before and after every test; a loopback server on a
// free port.
class SequenceTest : public system_testing::ComSystemTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::wstring Root(const std::wstring& relative) const;
    std::wstring AppFolder() const { return Root(L"app"); }
    std::wstring Previous() const { return Root(L"app.previous"); }
    std::wstring Staging() const { return Root(L"staging"); }

    // Serves the release's zip at urlPath (default /releases/Movora-<version>.zip)
    // on server and names it in g_app with its SHA-256.
    void Publish(const TestRelease& release) { Publish(release, server_); }
    void Publish(const TestRelease& release, testing_support::HttpTestServer& server,
                 std::string urlPath = std::string());
    // The checksum text g_app gives for the package.
    static void SetChecksum(const std::wstring& sha256);
    // The version text g_app gives for the release.
    static void SetVersion(const std::wstring& version);
    static void SetRelease(const std::wstring& packageUrl, const std::wstring& version,
                           const std::wstring& sha256);
    static std::wstring AppExePathInState();

    // An earlier install of release: its files in the app folder, its
    // Uninstall entry and shortcuts. Returns the app folder's tree.
    Tree InstallEarlier(const TestRelease& release);

    // Runs RunInstall and returns its result, keeping the sentence in error_.
    bool Install();

    // The outcome of a failed update: the old release as it was, the entry
    // as it was, no package file left.
    void ExpectOldReleaseKept(const Tree& oldApp, const RegistryPicture& oldEntry);
    // The outcome of a successful install of release.
    void ExpectInstalled(const TestRelease& release);

    testing_support::HttpTestServer server_;
    std::wstring error_;
};

} // namespace install_testing
