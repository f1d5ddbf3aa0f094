// A setup program is usually started from a Downloads folder, where a web page
// can drop files named like system DLLs. The real program runs a whole install
// from such a folder, with Wine told to prefer DLLs found there, and no
// planted DLL may ever be loaded.
#include "install/locations.h"
#include "system/uninstall_entry.h"
#include "tests/install/sequence_fixture.h"
#include "tests/support/https_servers.h"
#include "tests/support/pe_image.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace install_testing;
using testing_support::BuiltProgram;
using testing_support::TempFolder;

// Names of DLLs that the program, or the system DLLs it uses, load besides
// the known ones: each would be found in the program's folder first if the
// search were not kept to the system folder.
const wchar_t* const kPlantedNames[] = {
    L"winhttp.dll",         L"bcrypt.dll",   L"version.dll",
    L"uxtheme.dll",         L"dwmapi.dll",   L"cryptbase.dll",
    L"comctl32.dll",        L"winmm.dll",    L"userenv.dll",
    L"propsys.dll",         L"profapi.dll",  L"cryptsp.dll",
    L"rsaenh.dll",          L"ncrypt.dll",   L"secur32.dll",
    L"sspicli.dll",         L"iphlpapi.dll", L"dnsapi.dll",
    L"netapi32.dll",        L"mswsock.dll",  L"winnsi.dll",
    L"schannel.dll",        L"crypt32.dll",  L"wintrust.dll",
    L"msasn1.dll",          L"dhcpcsvc.dll", L"oleacc.dll",
    L"msimg32.dll",         L"dwrite.dll",   L"textinputframework.dll",
    L"windows.storage.dll", L"wldp.dll",     L"ntmarta.dll",
    L"apphelp.dll",         L"mpr.dll"};

// Runs commandLine in folder and waits for its exit code (STILL_ACTIVE when it
// is still running after timeoutMs, and then it is ended).
DWORD RunIn(const std::wstring& commandLine, const std::wstring& folder, DWORD timeoutMs) {
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                        &startup, &info)) {
        ADD_FAILURE() << "cannot start the program: " << GetLastError();
        return STILL_ACTIVE;
    }
    UniqueHandle process(info.hProcess);
    CloseHandle(info.hThread);
    const DWORD code = testing_support::WaitForExitCode(process.get(), timeoutMs);
    if (code == STILL_ACTIVE) {
        testing_support::KillProcess(info.dwProcessId);
    }
    return code;
}

class PlantedDllTest : public SequenceTest {
  protected:
    // The release's package and a list naming it with its checksum, both
    // served over TLS, as the real origins serve them. Returns the list's URL.
    std::wstring ServeOverTls(const TestRelease& release) {
        const std::string package = ZipBytes(release.entries);
        testing_support::WriteFileBytes(https_.FilesFolder() + L"\\Movora.zip", package);
        const std::wstring packageUrl = https_.TrustedUrl(L"/files/Movora.zip");
        testing_support::WriteFileBytes(https_.FilesFolder() + L"\\latest.json",
                                        "{\"version\": \"" + release.version +
                                            "\", \"package\": \"" +
                                            std::string(packageUrl.begin(), packageUrl.end()) +
                                            "\", \"sha256\": \"" + Sha256Hex(package) + "\"}");
        return https_.TrustedUrl(L"/files/latest.json");
    }

    void SetUp() override {
        SequenceTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(https_.Start());
        for (const wchar_t* name : kPlantedNames) {
            ASSERT_TRUE(CopyFileW(BuiltProgram(L"planted_marker.dll").c_str(),
                                  (downloads_ / name).c_str(), FALSE));
        }
    }

    // The planted names whose marker says they were loaded.
    std::vector<std::string> LoadedPlants() const {
        std::vector<std::string> loaded;
        for (const wchar_t* name : kPlantedNames) {
            if (GetFileAttributesW((downloads_ / (std::wstring(name) + L".loaded")).c_str()) !=
                INVALID_FILE_ATTRIBUTES) {
                const std::wstring wide = name;
                loaded.emplace_back(wide.begin(), wide.end());
            }
        }
        return loaded;
    }

    void RemoveMarkers() const {
        for (const wchar_t* name : kPlantedNames) {
            DeleteFileW((downloads_ / (std::wstring(name) + L".loaded")).c_str());
        }
    }

    TempFolder downloads_;
    testing_support::HttpsServers https_;
};

// Wine reads its DLL overrides from the host environment when a process
// starts, so the test run sets them (MOVORA_EXTRA_DLLOVERRIDES, see
// tests/CMakeLists.txt). The planted names missing from the overrides.
std::vector<std::string> NamesWithoutNativeOverride() {
    wchar_t buffer[4096] = {};
    GetEnvironmentVariableW(L"WINEDLLOVERRIDES", buffer, 4096);
    std::wstring overrides = buffer;
    for (wchar_t& c : overrides) {
        c = static_cast<wchar_t>(towlower(c));
    }
    std::vector<std::string> missing;
    for (const wchar_t* name : kPlantedNames) {
        std::wstring base = name;
        base.resize(base.size() - 4); // ".dll"
        if (overrides.find(base) == std::wstring::npos) {
            missing.emplace_back(base.begin(), base.end());
        }
    }
    return missing;
}

TEST_F(PlantedDllTest, AWholeInstallFromTheDownloadsFolderLoadsNoneOfThem) {
    ASSERT_EQ(NamesWithoutNativeOverride(), std::vector<std::string>{})
        << "run through ctest, which has Wine prefer DLLs next to a program for these names";

    // First the proof that this planting catches a program that imports
    // WinHTTP through its import table, as the setup program must not.
    const std::wstring probe = downloads_ / L"static_import_probe.exe";
    ASSERT_TRUE(CopyFileW(BuiltProgram(L"static_import_probe.exe").c_str(), probe.c_str(), FALSE));
    RunIn(L"\"" + probe + L"\"", downloads_.path(), 30000);
    ASSERT_EQ(LoadedPlants(), std::vector<std::string>{"winhttp.dll"})
        << "the planted winhttp.dll was not loaded by a program that imports it";
    RemoveMarkers();
    DeleteFileW(probe.c_str());

    // What the platform itself loads while it maps the setup program's
    // imports, before the program's first line: a twin with the same import
    // table and no work shows it. These plants must go, or the platform runs
    // them in the setup program too (and, lacking their entry points, stops).
    const std::wstring twin = downloads_ / L"import_twin.exe";
    ASSERT_TRUE(CopyFileW(BuiltProgram(L"import_twin.exe").c_str(), twin.c_str(), FALSE));
    ASSERT_EQ(testing_support::ImportedDlls(twin),
              testing_support::ImportedDlls(BuiltProgram(L"MovoraSetup.exe")))
        << "the twin no longer imports what the setup program imports";
    RunIn(L"\"" + twin + L"\"", downloads_.path(), 30000);
    const std::vector<std::string> platformLoads = LoadedPlants();
    // A plant the twin loads because the setup program names it in its own
    // import table is the program's fault, not the platform's.
    const std::vector<std::string> ownImports =
        testing_support::ImportedDlls(BuiltProgram(L"MovoraSetup.exe"));
    for (const std::string& name : platformLoads) {
        EXPECT_EQ(std::count(ownImports.begin(), ownImports.end(), name), 0)
            << name << " is loaded because the setup program imports it";
    }
    std::string listed;
    for (const std::string& name : platformLoads) {
        listed += " " + name;
        DeleteFileW((downloads_ / std::wstring(name.begin(), name.end())).c_str());
    }
    RecordProperty("LoadedByThePlatformBeforeTheProgram", listed);
    std::cout << "[          ] loaded by the platform before any program code:"
              << (listed.empty() ? " none" : listed) << "\n";
    RemoveMarkers();

    const std::wstring setup = downloads_ / L"MovoraSetup.exe";
    ASSERT_TRUE(CopyFileW(BuiltProgram(L"MovoraSetup.exe").c_str(), setup.c_str(), FALSE));
    const TestRelease release = MakeRelease("2.0.0", Layout::Top);
    const std::wstring feed = ServeOverTls(release);

    // Update mode installs at once, starts the app and closes: a whole
    // install with TLS and its certificate check, the checksum, the
    // unpacking and the shortcuts.
    const DWORD code =
        RunIn(L"\"" + setup + L"\" --update --feed " + feed, downloads_.path(), 90000);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(DigestTree(AppFolder()), release.expectedApp);
    EXPECT_EQ(system_testing::ReadRegistryValue(kUninstallEntryKey, L"DisplayVersion").Text(),
              L"2.0.0");
    EXPECT_NE(GetFileAttributesW((system_testing::ProgramsFolder() + L"\\Movora.lnk").c_str()),
              INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LoadedPlants(), std::vector<std::string>{});
}

} // namespace
