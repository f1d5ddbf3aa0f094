// The Uninstall entry, the shortcuts and the autostart value, read back from
// the real registry and real link files.
#include "system/autostart.h"
#include "system/shortcuts.h"
#include "system/uninstall_entry.h"

#include "tests/system/system_fixture.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <filesystem>

namespace fs = std::filesystem;
using namespace system_testing;

namespace {

std::wstring Today() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    wchar_t text[16] = {};
    swprintf(text, 16, L"%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
    return text;
}

class UninstallEntryTest : public SystemTest {
  protected:
    RegistryValue Value(const wchar_t* name) { return ReadRegistryValue(kUninstallEntryKey, name); }

    // A REG_SZ value stored with its terminating null, as (characters + 1) x 2 bytes.
    void ExpectText(const wchar_t* name, const std::wstring& expected) {
        const RegistryValue value = Value(name);
        ASSERT_TRUE(value.found) << fs::path(name).string();
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << fs::path(name).string();
        EXPECT_EQ(value.bytes.size(), (expected.size() + 1) * 2) << fs::path(name).string();
        EXPECT_EQ(value.Text(), expected) << fs::path(name).string();
    }

    void ExpectDword(const wchar_t* name, DWORD expected) {
        const RegistryValue value = Value(name);
        ASSERT_TRUE(value.found) << fs::path(name).string();
        EXPECT_EQ(value.type, static_cast<DWORD>(REG_DWORD));
        EXPECT_EQ(value.bytes.size(), 4u);
        EXPECT_EQ(value.Dword(), expected) << fs::path(name).string();
    }

    testing_support::TempFolder folder_;
};

TEST_F(UninstallEntryTest, WritesEveryValueWithItsTypeAndSize) {
    const std::wstring appFolder = folder_ / L"Local Data\\Movora\\app";
    const std::wstring appExe = appFolder + L"\\Movora.exe";
    const std::wstring setupExe = folder_ / L"Local Data\\Movora\\MovoraSetup.exe";
    fs::create_directories(appFolder);
    testing_support::WriteFileBytes(appExe, std::string(5000, 'x'));

    const std::wstring before = Today();
    WriteUninstallEntry(appExe, setupExe, L"2.4.1");
    const std::wstring after = Today();

    ExpectText(L"DisplayName", L"Movora");
    ExpectText(L"DisplayVersion", L"2.4.1");
    ExpectText(L"Publisher", L"Movora");
    ExpectText(L"InstallLocation", appFolder);
    ExpectText(L"DisplayIcon", appExe + L",0");
    // The path with spaces stays one argument.
    ExpectText(L"UninstallString", L"\"" + setupExe + L"\" --uninstall");
    const std::wstring date = Value(L"InstallDate").Text();
    EXPECT_EQ(date.size(), 8u);
    EXPECT_TRUE(date == before || date == after) << fs::path(date).string();
    ExpectText(L"InstallDate", date);
    ExpectDword(L"NoModify", 1);
    ExpectDword(L"NoRepair", 1);
    ExpectDword(L"EstimatedSize", 4); // 5000 bytes, rounded down
}

TEST_F(UninstallEntryTest, EmptyVersionNamesTheSetupVersion) {
    const std::wstring appExe = folder_ / L"app\\Movora.exe";
    WriteUninstallEntry(appExe, folder_ / L"MovoraSetup.exe", L"");
    ExpectText(L"DisplayVersion", L"0.1.3");
}

// The version the program installed last, read back as the floor below which
// a build with release keys installs nothing: whole however long, also when
// stored without its terminating null, and nothing from a value of another
// type or a missing entry.
TEST_F(UninstallEntryTest, InstalledVersionReadsTheDisplayVersionBack) {
    EXPECT_EQ(ReadInstalledVersion(), L"") << "no entry";
    const std::wstring appExe = folder_ / L"app\\Movora.exe";
    WriteUninstallEntry(appExe, folder_ / L"MovoraSetup.exe", L"4.2.0-beta");
    EXPECT_EQ(ReadInstalledVersion(), L"4.2.0-beta");
    const std::wstring longVersion = L"7." + std::wstring(600, L'1');
    WriteUninstallEntry(appExe, folder_ / L"MovoraSetup.exe", longVersion);
    EXPECT_EQ(ReadInstalledVersion(), longVersion) << "a long version was cut";

    const auto store = [](DWORD type, const void* data, DWORD bytes) {
        ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kUninstallEntryKey, L"DisplayVersion", type,
                                  data, bytes),
                  ERROR_SUCCESS);
    };
    store(REG_SZ, L"5.1", 3 * sizeof(wchar_t));
    EXPECT_EQ(ReadInstalledVersion(), L"5.1") << "stored without its null";
    const DWORD number = 6;
    store(REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(ReadInstalledVersion(), L"") << "a number is no version text";
    store(REG_BINARY, L"6.0", 4 * sizeof(wchar_t));
    EXPECT_EQ(ReadInstalledVersion(), L"") << "bytes are no version text";
}

// The app folder's size decides EstimatedSize; an app folder too small to
// count (or missing) writes none and leaves an earlier value alone.
struct SizeCase {
    const char* name;
    std::vector<std::pair<const wchar_t*, size_t>> files; // below the app folder
    bool createFolder;
    DWORD expected; // 0: no value written, the earlier 77 stays
    // A folder link "linked" in the app folder leading to 10 KiB elsewhere,
    // which must not count.
    bool linkedFolder = false;
};

void PrintTo(const SizeCase& c, std::ostream* out) {
    *out << c.name;
}

class EstimatedSizeTest : public UninstallEntryTest,
                          public ::testing::WithParamInterface<SizeCase> {};

TEST_P(EstimatedSizeTest, FollowsTheAppFolder) {
    const SizeCase& c = GetParam();
    const std::wstring appFolder = folder_ / L"app";
    if (c.createFolder) {
        fs::create_directories(appFolder);
    }
    for (const auto& [name, size] : c.files) {
        const fs::path file = fs::path(appFolder) / name;
        fs::create_directories(file.parent_path());
        testing_support::WriteFileBytes(file.wstring(), std::string(size, 'x'));
    }
    const std::wstring link = appFolder + L"\\linked";
    ScopeExit removeLink([&] { RemoveLeftLink(link); });
    if (c.linkedFolder) {
        const std::wstring elsewhere = folder_ / L"elsewhere";
        fs::create_directories(elsewhere);
        testing_support::WriteFileBytes(elsewhere + L"\\behind.bin", std::string(10240, 'x'));
        if (!MakeFolderLink(link, elsewhere)) {
            GTEST_SKIP() << "this platform makes no folder links";
        }
        ASSERT_TRUE(fs::exists(link + L"\\behind.bin")) << "the link does not lead to its target";
    }
    {
        HKEY rawKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallEntryKey, 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &rawKey, nullptr),
                  ERROR_SUCCESS);
        UniqueKey key(rawKey);
        const DWORD earlier = 77;
        RegSetValueExW(key.get(), L"EstimatedSize", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&earlier), sizeof(earlier));
    }

    WriteUninstallEntry(appFolder + L"\\Movora.exe", folder_ / L"MovoraSetup.exe", L"1.0");
    ExpectDword(L"EstimatedSize", c.expected != 0 ? c.expected : 77);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EstimatedSizeTest,
    ::testing::Values(
        SizeCase{"FiveThousandBytes", {{L"Movora.exe", 5000}}, true, 4},
        SizeCase{"NestedFilesCount", {{L"Movora.exe", 1024}, {L"a\\b\\c.dat", 2048}}, true, 3},
        SizeCase{"BelowOneKiB", {{L"Movora.exe", 1023}}, true, 0},
        SizeCase{"EmptyFolder", {}, true, 0}, SizeCase{"MissingFolder", {}, false, 0},
        SizeCase{"LinkedFolderIsNotEntered", {{L"Movora.exe", 2048}}, true, 2, true}),
    [](const ::testing::TestParamInfo<SizeCase>& info) { return info.param.name; });

TEST_F(UninstallEntryTest, FolderOverFourTebibytesIsClamped) {
    const std::wstring big = folder_ / L"big.bin";
    UniqueHandle file(CreateFileW(big.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(Valid(file));
    LARGE_INTEGER size{};
    size.QuadPart = 5LL << 40; // 5 TiB, sparse on the host's file system
    if (!SetFilePointerEx(file.get(), size, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
        GTEST_SKIP() << "this file system cannot hold a 5 TiB file";
    }
    file.reset();
    EXPECT_EQ(GetFolderSizeKiB(folder_.path()), 0xFFFFFFFFu);
}

TEST_F(UninstallEntryTest, FolderSizeOfAFileOrMissingPath) {
    EXPECT_EQ(GetFolderSizeKiB(folder_ / L"missing"), 0u);
    testing_support::WriteFileBytes(folder_ / L"single.bin", std::string(4096, 'x'));
    EXPECT_EQ(GetFolderSizeKiB(folder_.path()), 4u);
}

class ShortcutTest : public ComSystemTest {
  protected:
    // The link's properties as the shell reads them back.
    struct Link {
        std::wstring target, folder, description, icon;
        int iconIndex = -1;
    };
    static Link ReadLink(const std::wstring& path) {
        Link link;
        IShellLinkW* shellLink = nullptr;
        EXPECT_TRUE(
            SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IShellLinkW, reinterpret_cast<void**>(&shellLink))));
        if (shellLink == nullptr) {
            return link;
        }
        IPersistFile* file = nullptr;
        shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
        EXPECT_TRUE(file != nullptr && SUCCEEDED(file->Load(path.c_str(), STGM_READ)))
            << "cannot load " << fs::path(path).string();
        wchar_t text[MAX_PATH] = {};
        if (SUCCEEDED(shellLink->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) {
            link.target = text;
        }
        if (SUCCEEDED(shellLink->GetWorkingDirectory(text, MAX_PATH))) {
            link.folder = text;
        }
        if (SUCCEEDED(shellLink->GetDescription(text, MAX_PATH))) {
            link.description = text;
        }
        if (SUCCEEDED(shellLink->GetIconLocation(text, MAX_PATH, &link.iconIndex))) {
            link.icon = text;
        }
        if (file != nullptr) {
            file->Release();
        }
        shellLink->Release();
        return link;
    }
};

TEST_F(ShortcutTest, StartMenuAndDesktopLinksPointAtTheApp) {
    PlaceApp(AppExePath());
    CreateAppShortcut(AppExePath());
    for (const std::wstring& folder : {ProgramsFolder(), DesktopFolder()}) {
        const std::wstring path = folder + L"\\Movora.lnk";
        ASSERT_TRUE(fs::exists(path)) << fs::path(path).string();
        const Link link = ReadLink(path);
        EXPECT_EQ(_wcsicmp(link.target.c_str(), AppExePath().c_str()), 0)
            << fs::path(link.target).string();
        EXPECT_EQ(_wcsicmp(link.folder.c_str(), AppFolderPath().c_str()), 0)
            << fs::path(link.folder).string();
        EXPECT_EQ(link.description, L"Movora");
        EXPECT_EQ(_wcsicmp(link.icon.c_str(), AppExePath().c_str()), 0);
        EXPECT_EQ(link.iconIndex, 0);
    }
}

TEST_F(ShortcutTest, WriteCreatesTheFolderAndOverwrites) {
    testing_support::TempFolder folder;
    const std::wstring link = folder / L"new\\deeper\\Movora.lnk";
    WriteShortcutFile(link, L"C:\\first\\Movora.exe");
    WriteShortcutFile(link, L"C:\\second\\Movora.exe");
    const Link read = ReadLink(link);
    EXPECT_EQ(read.target, L"C:\\second\\Movora.exe");
    EXPECT_EQ(read.folder, L"C:\\second");
}

TEST_F(ShortcutTest, RemovingTwiceRemovesBothLinksThenNothing) {
    PlaceApp(AppExePath());
    CreateAppShortcut(AppExePath());
    // An unrelated link in the same folder stays.
    const std::wstring other = ProgramsFolder() + L"\\Other.lnk";
    WriteShortcutFile(other, AppExePath());
    ScopeExit removeOther([&] { DeleteFileW(other.c_str()); });

    RemoveAppShortcut();
    EXPECT_FALSE(fs::exists(ProgramsFolder() + L"\\Movora.lnk"));
    EXPECT_FALSE(fs::exists(DesktopFolder() + L"\\Movora.lnk"));
    EXPECT_TRUE(fs::exists(other));
    RemoveAppShortcut();
    EXPECT_TRUE(fs::exists(other));
    // A missing link is passed over.
    DeleteShortcutFile(ProgramsFolder() + L"\\Movora.lnk");
}

class AutostartTest : public SystemTest {};

TEST_F(AutostartTest, DeletesOnlyTheMovoraValue) {
    WriteRegistryString(kRunKey, kAutostartValueName, L"\"C:\\x\\Movora.exe\" --tray");
    WriteRegistryString(kRunKey, L"MovoraTestNeighbour", L"C:\\other.exe");
    ScopeExit removeNeighbour([] {
        HKEY run = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRunKey, 0, KEY_SET_VALUE, &run) == ERROR_SUCCESS) {
            RegDeleteValueW(run, L"MovoraTestNeighbour");
            RegCloseKey(run);
        }
    });

    RemoveAutostartValue();
    EXPECT_FALSE(ReadRegistryValue(kRunKey, kAutostartValueName).found);
    EXPECT_EQ(ReadRegistryValue(kRunKey, L"MovoraTestNeighbour").Text(), L"C:\\other.exe");
    // A missing value: nothing happens, the neighbour still stays.
    RemoveAutostartValue();
    EXPECT_EQ(ReadRegistryValue(kRunKey, L"MovoraTestNeighbour").Text(), L"C:\\other.exe");
}

TEST_F(AutostartTest, MissingRunKeyIsPassedOver) {
    // The Run key is copied aside, deleted for the call and copied back after.
    const wchar_t kSaved[] = L"Software\\MovoraTestSavedRun";
    RegDeleteTreeW(HKEY_CURRENT_USER, kSaved);
    const auto copyKey = [](const wchar_t* from, const wchar_t* to) {
        HKEY rawFrom = nullptr;
        HKEY rawTo = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, from, 0, KEY_READ, &rawFrom) != ERROR_SUCCESS) {
            return false;
        }
        UniqueKey source(rawFrom);
        if (RegCreateKeyExW(HKEY_CURRENT_USER, to, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &rawTo,
                            nullptr) != ERROR_SUCCESS) {
            return false;
        }
        UniqueKey target(rawTo);
        return RegCopyTreeW(source.get(), nullptr, target.get()) == ERROR_SUCCESS;
    };
    const bool hadRunKey = RegistryKeyExists(kRunKey);
    if (hadRunKey) {
        ASSERT_TRUE(copyKey(kRunKey, kSaved));
        ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, kRunKey), ERROR_SUCCESS);
    }
    ScopeExit restore([&] {
        if (hadRunKey) {
            copyKey(kSaved, kRunKey);
        }
        RegDeleteTreeW(HKEY_CURRENT_USER, kSaved);
    });
    ASSERT_FALSE(RegistryKeyExists(kRunKey));

    RemoveAutostartValue();
    EXPECT_FALSE(RegistryKeyExists(kRunKey)) << "the Run key must not be created";
}

} // namespace
