#include "tests/install/sequence_fixture.h"

#include "install/fs_calls.h"
#include "install/install_sequence.h"
#include "shell/app_state.h"
#include "system/shortcuts.h"
#include "system/uninstall_entry.h"
#include "tests/support/tar_standin.h"

#include <bcrypt.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;
using namespace testing_support;
using namespace system_testing;

namespace install_testing {

const char kFolderMark[] = "<folder>";

namespace {

const std::string& AppBytes() {
    static const std::string bytes = ReadFileBytes(BuiltProgram(L"Movora.exe"));
    return bytes;
}

// The release's own files, relative to its folder, '/' between names.
std::vector<std::pair<std::string, std::string>> ReleaseFiles(const std::string& version) {
    std::string codec = "codec of " + version + "\n";
    while (codec.size() < 70000) {
        codec += codec.substr(0, 997) + version;
    }
    return {{"Movora.exe", AppBytes()},
            {"release.txt", "Movora " + version + "\n"},
            {"lib/codec.dll", codec},
            {"lib/empty.dat", ""},
            {"docs/read me.txt", "Notes for " + version + "\n"}};
}

std::wstring Widen(const std::string& text) {
    return fs::u8path(text).wstring();
}

// The tree that files make below one folder.
Tree TreeOf(const std::vector<std::pair<std::string, std::string>>& files) {
    Tree tree;
    for (const auto& [name, bytes] : files) {
        std::wstring relative = Widen(name);
        for (wchar_t& c : relative) {
            if (c == L'/') {
                c = L'\\';
            }
        }
        tree[relative] = Sha256Hex(bytes);
        for (size_t slash = relative.find(L'\\'); slash != std::wstring::npos;
             slash = relative.find(L'\\', slash + 1)) {
            tree[relative.substr(0, slash)] = kFolderMark;
        }
    }
    return tree;
}

void AddFiles(std::vector<ZipEntry>& entries, const std::string& prefix,
              const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [name, bytes] : files) {
        entries.push_back(ZipFile(prefix + name, bytes));
    }
}

} // namespace

Tree DigestTree(const std::wstring& folder) {
    Tree tree;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::wstring relative = it->path().lexically_relative(folder).wstring();
        for (wchar_t& c : relative) {
            if (c == L'/') {
                c = L'\\';
            }
        }
        tree[relative] = it->is_directory() ? std::string(kFolderMark)
                                            : Sha256Hex(ReadFileBytes(it->path().wstring()));
    }
    return tree;
}

std::string Sha256Hex(const std::string& bytes) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[32] = {};
    const bool ok =
        BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) == 0 &&
        BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) == 0 &&
        BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                       static_cast<ULONG>(bytes.size()), 0) == 0 &&
        BCryptFinishHash(hash, digest, sizeof(digest), 0) == 0;
    if (hash != nullptr) {
        BCryptDestroyHash(hash);
    }
    if (algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    EXPECT_TRUE(ok) << "CNG could not hash";
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 15];
    }
    return hex;
}

RegistryPicture PictureOfKey(const wchar_t* keyPath) {
    RegistryPicture picture;
    HKEY rawKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, &rawKey) != ERROR_SUCCESS) {
        return picture;
    }
    UniqueKey key(rawKey);
    for (DWORD index = 0;; ++index) {
        wchar_t name[256] = {};
        DWORD nameLength = 256;
        DWORD type = 0;
        BYTE data[4096] = {};
        DWORD size = sizeof(data);
        if (RegEnumValueW(key.get(), index, name, &nameLength, nullptr, &type, data, &size) !=
            ERROR_SUCCESS) {
            break;
        }
        picture[name] = {type, std::vector<BYTE>(data, data + size)};
    }
    return picture;
}

TestRelease MakeRelease(const std::string& version, Layout layout, const std::string& folderName) {
    TestRelease release;
    release.version = version;
    const auto files = ReleaseFiles(version);
    const std::vector<std::pair<std::string, std::string>> loose = {
        {"README.txt", "Read me first.\n"}, {"extras/notes.txt", "Not part of the app.\n"}};
    switch (layout) {
    case Layout::Top:
        AddFiles(release.entries, "", files);
        release.expectedApp = TreeOf(files);
        break;
    case Layout::OneFolderDown:
        AddFiles(release.entries, "", loose);
        AddFiles(release.entries, folderName + "/", files);
        release.expectedApp = TreeOf(files);
        break;
    case Layout::TwoLevelsDown:
        AddFiles(release.entries, "outer/" + folderName + "/", files);
        break;
    case Layout::TwoSubfolders:
        AddFiles(release.entries, "first/", files);
        AddFiles(release.entries, "second/", ReleaseFiles(version + "-second"));
        break;
    case Layout::NoApp:
        AddFiles(release.entries, "", loose);
        break;
    }
    return release;
}

void AddSetupProgram(TestRelease& release, const std::string& bytes) {
    const std::string app = "Movora.exe";
    const auto beside =
        std::find_if(release.entries.begin(), release.entries.end(), [&](const ZipEntry& e) {
            const size_t folder = e.name.size() - std::min(e.name.size(), app.size());
            return e.name.compare(folder, std::string::npos, app) == 0 &&
                   (folder == 0 || e.name[folder - 1] == '/');
        });
    if (beside == release.entries.end()) {
        ADD_FAILURE() << "the release has no Movora.exe to put a setup program beside";
        return;
    }
    const std::string folder = beside->name.substr(0, beside->name.size() - app.size());
    release.entries.push_back(ZipFile(folder + "MovoraSetup.exe", bytes));
    if (!release.expectedApp.empty()) {
        release.expectedApp[L"MovoraSetup.exe"] = Sha256Hex(bytes);
    }
}

Tree PlaceRelease(const TestRelease& release, const std::wstring& folder) {
    for (const ZipEntry& entry : release.entries) {
        const fs::path path = fs::path(folder) / fs::u8path(entry.name);
        fs::create_directories(path.parent_path());
        WriteFileBytes(path.wstring(), entry.data);
    }
    return DigestTree(folder);
}

std::string ZipBytes(const std::vector<ZipEntry>& entries) {
    TempFolder folder;
    const std::wstring path = folder / L"package.zip";
    WriteZip(path, entries);
    return ReadFileBytes(path);
}

std::wstring TempFolderPath() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return temp;
}

std::vector<std::wstring> PackageFilesInTemp() {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW((TempFolderPath() + L"Movora-*.zip").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        files.push_back(TempFolderPath() + entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return files;
}

// ---- StatusRecorder ----------------------------------------------------------

namespace {

// What the one live recorder has seen; the observer is a plain function.
std::mutex g_recordedMutex;
std::vector<std::wstring> g_recorded;

} // namespace

StatusRecorder::StatusRecorder() {
    std::lock_guard<std::mutex> lock(g_recordedMutex);
    g_recorded.clear();
    SetStatusObserver(&StatusRecorder::Record);
}

StatusRecorder::~StatusRecorder() {
    SetStatusObserver(nullptr);
}

void StatusRecorder::Record(const std::wstring& message) {
    std::lock_guard<std::mutex> lock(g_recordedMutex);
    if (g_recorded.empty() || g_recorded.back() != message) {
        g_recorded.push_back(message);
    }
}

std::vector<std::wstring> StatusRecorder::Texts() {
    std::lock_guard<std::mutex> lock(g_recordedMutex);
    return g_recorded;
}

bool StatusRecorder::Saw(const std::wstring& text) {
    for (const std::wstring& seen : Texts()) {
        if (seen == text) {
            return true;
        }
    }
    return false;
}

// ---- SequenceTest ------------------------------------------------------------

namespace {

void RemovePackageFiles() {
    for (const std::wstring& file : PackageFilesInTemp()) {
        DeleteFileW(file.c_str());
    }
}

// Ends a tar tool (or whatever stands in for it) still running from the
// system folder, so the stand-in can be put back.
void EndTarProcesses() {
    for (const DWORD id : FindProcessesByImage(SystemTarPath())) {
        KillProcess(id);
    }
}

} // namespace

void SequenceTest::SetUp() {
    ComSystemTest::SetUp();
    file_faults::Disarm();
    EndTarProcesses();
    ASSERT_TRUE(InstallTarStandIn());
    RemovePackageFiles();
    SetRelease(L"", L"", L"");
    {
        StatusGuard lock(g_app.statusMutex);
        g_app.appExePath.clear();
    }
    ASSERT_TRUE(server_.Start());
}

void SequenceTest::TearDown() {
    file_faults::Disarm();
    server_.Stop();
    g_app.window = nullptr;
    EndTarProcesses();
    const std::wstring variant =
        SystemTarPath().substr(0, SystemTarPath().size() - 4) + L".variant";
    DeleteFileW(variant.c_str());
    InstallTarStandIn();
    RemovePackageFiles();
    ComSystemTest::TearDown();
}

std::wstring SequenceTest::Root(const std::wstring& relative) const {
    return InstallRootPath() + L"\\" + relative;
}

void SequenceTest::Publish(const TestRelease& release, HttpTestServer& server,
                           std::string urlPath) {
    if (urlPath.empty()) {
        urlPath = "/releases/Movora-" + release.version + ".zip";
    }
    ScriptedResponse response;
    response.body = ZipBytes(release.entries);
    server.Script(urlPath, response);
    SetRelease(server.Url(urlPath), Widen(release.version), Widen(Sha256Hex(response.body)));
}

void SequenceTest::SetChecksum(const std::wstring& sha256) {
    StatusGuard lock(g_app.statusMutex);
    g_app.packageSha256 = sha256;
}

void SequenceTest::SetVersion(const std::wstring& version) {
    StatusGuard lock(g_app.statusMutex);
    g_app.latestVersion = version;
}

void SequenceTest::SetRelease(const std::wstring& packageUrl, const std::wstring& version,
                              const std::wstring& sha256) {
    StatusGuard lock(g_app.statusMutex);
    g_app.packageUrl = packageUrl;
    g_app.latestVersion = version;
    g_app.packageSha256 = sha256;
}

std::wstring SequenceTest::AppExePathInState() {
    StatusGuard lock(g_app.statusMutex);
    return g_app.appExePath;
}

Tree SequenceTest::InstallEarlier(const TestRelease& release) {
    const Tree tree = PlaceRelease(release, AppFolder());
    WriteUninstallEntry(AppExePath(), Root(L"MovoraSetup.exe"), Widen(release.version));
    CreateAppShortcut(AppExePath());
    return tree;
}

bool SequenceTest::Install() {
    error_.clear();
    return RunInstall(error_);
}

void SequenceTest::ExpectOldReleaseKept(const Tree& oldApp, const RegistryPicture& oldEntry) {
    EXPECT_EQ(DigestTree(AppFolder()), oldApp) << "the old release changed";
    EXPECT_EQ(PictureOfKey(kUninstallEntryKey), oldEntry) << "the Uninstall entry changed";
    EXPECT_EQ(PackageFilesInTemp(), std::vector<std::wstring>()) << "a package file stayed";
}

void SequenceTest::ExpectInstalled(const TestRelease& release) {
    EXPECT_EQ(DigestTree(AppFolder()), release.expectedApp);
    EXPECT_FALSE(fs::exists(Staging()));
    EXPECT_FALSE(fs::exists(Previous()));
    EXPECT_EQ(PackageFilesInTemp(), std::vector<std::wstring>()) << "a package file stayed";
    EXPECT_EQ(ReadRegistryValue(kUninstallEntryKey, L"DisplayVersion").Text(),
              Widen(release.version));
    EXPECT_EQ(ReadRegistryValue(kUninstallEntryKey, L"InstallLocation").Text(), AppFolder());
    EXPECT_EQ(AppExePathInState(), AppExePath());
    EXPECT_TRUE(fs::exists(ProgramsFolder() + L"\\Movora.lnk"));
    std::error_code ignored;
    EXPECT_EQ(fs::file_size(Root(L"MovoraSetup.exe"), ignored),
              fs::file_size(BuiltProgram(L"install_sequence_tests.exe"), ignored))
        << "the setup copy is not a copy of the running program";
}

} // namespace install_testing
