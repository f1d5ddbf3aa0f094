// RunInstall end to end: packages from the loopback server, the tar stand-in,
// the real stand-in app, the real install root, registry and shortcuts.
#include "install/install_sequence.h"

#include "feed/origins.h"
#include "feed/release_signature.h"
#include "install/fs_calls.h"
#include "install/paths.h"
#include "shell/app_state.h"
#include "shell/jobs.h"
#include "shell/text.h"
#include "system/uninstall_entry.h"
#include "tests/install/sequence_fixture.h"
#include "tests/support/release_signing.h"
#include "tests/support/scanner.h"
#include "tests/support/small_volume.h"
#include "tests/support/tar_standin.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;
using namespace install_testing;
using namespace system_testing;
using testing_support::HttpTestServer;
using testing_support::ScriptedResponse;
using testing_support::StartedProcess;

namespace {

using testing_support::Utf8Text;

class InstallSequenceTest : public SequenceTest {};

// ---- Fresh installs and updates ----------------------------------------------

struct LayoutCase {
    const char* name;
    Layout layout;
    const char* folderName;
};

void PrintTo(const LayoutCase& c, std::ostream* out) {
    *out << c.name;
}

class FreshInstallTest : public SequenceTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(FreshInstallTest, InstallsAndRegistersWithoutClosingAnything) {
    const TestRelease release = MakeRelease("2.0", GetParam().layout, GetParam().folderName);
    Publish(release);
    StatusRecorder recorder;

    ASSERT_TRUE(Install()) << Utf8Text(error_);
    EXPECT_EQ(error_, L"");
    ExpectInstalled(release);
    EXPECT_TRUE(fs::exists(DesktopFolder() + L"\\Movora.lnk"));
    EXPECT_TRUE(recorder.Saw(L"Installing"));
    EXPECT_FALSE(recorder.Saw(L"Closing Movora")) << "nothing was installed to close";
    const std::vector<std::wstring> texts = recorder.Texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), L"Downloading");
}

INSTANTIATE_TEST_SUITE_P(
    Packages, FreshInstallTest,
    ::testing::Values(LayoutCase{"AppAtTheTop", Layout::Top, ""},
                      LayoutCase{"AppOneFolderDown", Layout::OneFolderDown, "Movora-2.0"},
                      LayoutCase{"FolderWithSpaces", Layout::OneFolderDown, "Movora 2.0 for you"}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

TEST_F(InstallSequenceTest, TwoSubfoldersInstallOneWholeAndDropTheRest) {
    TestRelease release = MakeRelease("2.0", Layout::TwoSubfolders);
    Publish(release);
    ASSERT_TRUE(Install()) << Utf8Text(error_);
    // Exactly one of the two folders, whole: the one Windows listed first.
    const Tree first = PlaceRelease(MakeRelease("2.0", Layout::Top), Root(L"expected-first"));
    const Tree second =
        PlaceRelease(MakeRelease("2.0-second", Layout::Top), Root(L"expected-second"));
    const Tree installed = DigestTree(AppFolder());
    EXPECT_TRUE(installed == first || installed == second);
    EXPECT_FALSE(fs::exists(Staging()));
}

TEST_F(InstallSequenceTest, UpdateOverARunningAppThatQuits) {
    InstallEarlier(MakeRelease("1.0", Layout::Top));
    const TestRelease release = MakeRelease("2.0", Layout::OneFolderDown);
    Publish(release);
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(app.process);
    StatusRecorder recorder;

    ASSERT_TRUE(Install()) << Utf8Text(error_);
    EXPECT_EQ(testing_support::WaitForExitCode(app.process.get(), 0), 0u) << "it should have quit";
    EXPECT_TRUE(recorder.Saw(L"Closing Movora"));
    // The wrapping folder became the app folder; the loose files beside it went.
    ExpectInstalled(release);
    EXPECT_FALSE(fs::exists(AppFolder() + L"\\README.txt"));
}

TEST_F(InstallSequenceTest, UpdateKeepsTheAppsDataAndExtraEntries) {
    InstallEarlier(MakeRelease("1.0", Layout::Top));
    for (const wchar_t* file : {L"logs\\a.log", L"settings.json", L"MovoraSetup.exe.old"}) {
        fs::create_directories(fs::path(Root(file)).parent_path());
        testing_support::WriteFileBytes(Root(file), "kept");
    }
    Publish(MakeRelease("2.0", Layout::Top));
    ASSERT_TRUE(Install()) << Utf8Text(error_);
    for (const wchar_t* file : {L"logs\\a.log", L"settings.json", L"MovoraSetup.exe.old"}) {
        EXPECT_EQ(testing_support::ReadFileBytes(Root(file)), "kept") << Utf8Text(file);
    }
}

// ---- Checksums -----------------------------------------------------------------

enum class Checksum { Lowercase, Uppercase, Empty, Wrong, TrailingLineBreak };

struct ChecksumCase {
    const char* name;
    Checksum checksum;
    bool installs;
    bool checks; // "Checking the download" is shown
};

void PrintTo(const ChecksumCase& c, std::ostream* out) {
    *out << c.name;
}

class ChecksumTest : public SequenceTest, public ::testing::WithParamInterface<ChecksumCase> {};

TEST_P(ChecksumTest, DecidesWhetherThePackageIsUsed) {
    const ChecksumCase& c = GetParam();
    const Tree old = InstallEarlier(MakeRelease("1.0", Layout::Top));
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    const TestRelease release = MakeRelease("2.0", Layout::Top);
    Publish(release);
    std::wstring sha = Utf8ToWide(Sha256Hex(ZipBytes(release.entries)));
    switch (c.checksum) {
    case Checksum::Lowercase:
        break;
    case Checksum::Uppercase:
        for (wchar_t& ch : sha) {
            ch = static_cast<wchar_t>(towupper(ch));
        }
        break;
    case Checksum::Empty:
        sha.clear();
        break;
    case Checksum::Wrong:
        sha[10] = sha[10] == L'0' ? L'1' : L'0';
        break;
    case Checksum::TrailingLineBreak:
        sha += L"\n";
        break;
    }
    SetChecksum(sha);
    fs::create_directories(Staging());
    testing_support::WriteFileBytes(Staging() + L"\\earlier.txt", "left by an earlier run");
    StatusRecorder recorder;

    EXPECT_EQ(Install(), c.installs) << Utf8Text(error_);
    EXPECT_EQ(recorder.Saw(L"Checking the download"), c.checks);
    if (c.installs) {
        ExpectInstalled(release);
    } else {
        EXPECT_EQ(error_, L"The download did not match its checksum.");
        ExpectOldReleaseKept(old, oldEntry);
        EXPECT_TRUE(fs::exists(Staging() + L"\\earlier.txt")) << "the staging folder was touched";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ChecksumTest,
    ::testing::Values(ChecksumCase{"Lowercase", Checksum::Lowercase, true, true},
                      ChecksumCase{"Uppercase", Checksum::Uppercase, true, true},
                      ChecksumCase{"EmptySkipsTheCheck", Checksum::Empty, true, false},
                      ChecksumCase{"OneDigitWrong", Checksum::Wrong, false, true},
                      ChecksumCase{"TrailingLineBreak", Checksum::TrailingLineBreak, false, true}),
    [](const ::testing::TestParamInfo<ChecksumCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(InstallSequenceTest, EmptyChecksumLetsAnyDownloadThroughToUnpacking) {
    ScriptedResponse response;
    response.body = "<html>this is no package</html>";
    server_.Script("/releases/Movora-2.0.zip", response);
    SetRelease(server_.Url("/releases/Movora-2.0.zip"), L"2.0", L"");
    EXPECT_FALSE(Install());
    EXPECT_EQ(error_, L"The download could not be unpacked.");
    EXPECT_TRUE(PackageFilesInTemp().empty());
}

// A server that answers 200 with nothing: an empty file is no package, and the
// checksum says so before anything is unpacked.
TEST_F(InstallSequenceTest, EmptyDownloadWithAChecksumFailsTheChecksum) {
    const Tree old = InstallEarlier(MakeRelease("1.0", Layout::Top));
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    for (bool chunked : {false, true}) {
        Publish(MakeRelease("2.0", Layout::Top)); // the list names the real package's digest
        ScriptedResponse empty;
        empty.chunked = chunked;
        server_.Script("/releases/Movora-2.0.zip", empty);
        StatusRecorder recorder;

        EXPECT_FALSE(Install()) << "chunked " << chunked;
        EXPECT_EQ(error_, L"The download did not match its checksum.") << "chunked " << chunked;
        EXPECT_TRUE(recorder.Saw(L"Checking the download"));
        EXPECT_FALSE(recorder.Saw(L"Installing"));
        ExpectOldReleaseKept(old, oldEntry);
        EXPECT_FALSE(fs::exists(Staging()));
    }
}

TEST_F(InstallSequenceTest, RedirectedPackageUrlStillInstalls) {
    const TestRelease release = MakeRelease("2.0", Layout::Top);
    Publish(release);
    ScriptedResponse moved{302, ""};
    moved.extraHeaders = "Location: http://localhost:" + std::to_string(server_.port()) +
                         "/releases/Movora-2.0.zip\r\n";
    server_.Script("/download/latest.zip", moved);
    {
        StatusGuard lock(g_app.statusMutex);
        g_app.packageUrl = server_.Url("/download/latest.zip");
    }

    ASSERT_TRUE(Install()) << Utf8Text(error_);
    ExpectInstalled(release);
    ASSERT_EQ(server_.Requests().size(), 2u);
    EXPECT_EQ(server_.Requests()[1].target, "/releases/Movora-2.0.zip");
}

// ---- A full disk -----------------------------------------------------------------

// Points TMP and TEMP at folder for the life of the object.
class TemporaryFolderMoved {
  public:
    explicit TemporaryFolderMoved(const std::wstring& folder) {
        GetEnvironmentVariableW(L"TMP", savedTmp_, MAX_PATH);
        GetEnvironmentVariableW(L"TEMP", savedTemp_, MAX_PATH);
        SetEnvironmentVariableW(L"TMP", folder.c_str());
        SetEnvironmentVariableW(L"TEMP", folder.c_str());
    }
    ~TemporaryFolderMoved() {
        SetEnvironmentVariableW(L"TMP", savedTmp_[0] != 0 ? savedTmp_ : nullptr);
        SetEnvironmentVariableW(L"TEMP", savedTemp_[0] != 0 ? savedTemp_ : nullptr);
    }
    TemporaryFolderMoved(const TemporaryFolderMoved&) = delete;
    TemporaryFolderMoved& operator=(const TemporaryFolderMoved&) = delete;

  private:
    wchar_t savedTmp_[MAX_PATH] = {};
    wchar_t savedTemp_[MAX_PATH] = {};
};

struct FullDiskCase {
    const char* name;
    bool checksumInTheList;
};

void PrintTo(const FullDiskCase& c, std::ostream* out) {
    *out << c.name;
}

class FullDiskTest : public SequenceTest, public ::testing::WithParamInterface<FullDiskCase> {};

// The temporary folder on a volume too small for the package: the user must
// read that the download could not be saved (not a checksum failure, and no
// attempt to unpack a cut package), and the old release stays.
TEST_P(FullDiskTest, DownloadThatDoesNotFitIsNotSavedAndTheOldReleaseStays) {
    testing_support::SmallVolume volume;
    std::string whyNot;
    if (!volume.Mount(256 * 1024, whyNot)) {
        GTEST_SKIP() << whyNot;
    }
    const Tree old = InstallEarlier(MakeRelease("1.0", Layout::Top));
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    const TestRelease release = MakeRelease("2.0", Layout::Top);
    Publish(release);
    ASSERT_GT(ZipBytes(release.entries).size(), 256u * 1024) << "the package would fit";
    if (!GetParam().checksumInTheList) {
        SetChecksum(L"");
    }
    StatusRecorder recorder;

    bool installed = true;
    std::vector<std::wstring> left;
    {
        TemporaryFolderMoved moved(volume.path());
        installed = Install();
        left = PackageFilesInTemp();
    }
    EXPECT_FALSE(installed);
    EXPECT_EQ(error_, L"Could not save the download.");
    EXPECT_EQ(left, std::vector<std::wstring>()) << "the partial package stayed";
    EXPECT_FALSE(recorder.Saw(L"Checking the download"));
    EXPECT_FALSE(recorder.Saw(L"Installing"));
    EXPECT_FALSE(fs::exists(Staging()));
    ExpectOldReleaseKept(old, oldEntry);
}

INSTANTIATE_TEST_SUITE_P(Lists, FullDiskTest,
                         ::testing::Values(FullDiskCase{"WithChecksum", true},
                                           FullDiskCase{"WithoutChecksum", false}),
                         [](const ::testing::TestParamInfo<FullDiskCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- Packages that cannot be installed ----------------------------------------

enum class Damage { None, CutShort, NoTarTool };

struct UnusableCase {
    const char* name;
    Layout layout;
    Damage damage;
    const wchar_t* sentence;
    bool stagingHoldsTheApp; // the unpacked package stays in the staging folder
};

void PrintTo(const UnusableCase& c, std::ostream* out) {
    *out << c.name;
}

class UnusablePackageTest : public SequenceTest,
                            public ::testing::WithParamInterface<UnusableCase> {};

TEST_P(UnusablePackageTest, FailsAndKeepsTheOldRelease) {
    const UnusableCase& c = GetParam();
    const Tree old = InstallEarlier(MakeRelease("1.0", Layout::Top));
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    TestRelease release = MakeRelease("2.0", c.layout);
    if (c.damage == Damage::CutShort) {
        std::string bytes = ZipBytes(release.entries);
        bytes.resize(bytes.size() / 2);
        ScriptedResponse response;
        response.body = bytes;
        server_.Script("/releases/Movora-2.0.zip", response);
        SetRelease(server_.Url("/releases/Movora-2.0.zip"), L"2.0", L"");
    } else {
        Publish(release);
    }
    if (c.damage == Damage::NoTarTool && !testing_support::RemoveTarStandIn()) {
        GTEST_SKIP() << "the system's own tar tool cannot be taken away";
    }

    EXPECT_FALSE(Install());
    EXPECT_EQ(error_, c.sentence);
    ExpectOldReleaseKept(old, oldEntry);
    EXPECT_EQ(fs::exists(Staging() + L"\\README.txt"), c.stagingHoldsTheApp);
}

INSTANTIATE_TEST_SUITE_P(
    Packages, UnusablePackageTest,
    ::testing::Values(
        UnusableCase{"NoAppInIt", Layout::NoApp, Damage::None,
                     L"The download did not contain Movora.", true},
        UnusableCase{"AppTwoLevelsDown", Layout::TwoLevelsDown, Damage::None,
                     L"The download did not contain Movora.", false},
        UnusableCase{"DamagedZip", Layout::Top, Damage::CutShort,
                     L"The download could not be unpacked.", false},
        UnusableCase{"NoTarTool", Layout::Top, Damage::NoTarTool,
                     L"Windows tar was not found, so the download could not be unpacked.", false}),
    [](const ::testing::TestParamInfo<UnusableCase>& info) {
        return std::string(info.param.name);
    });

// ---- The app and the folders resist ------------------------------------------

TEST_F(InstallSequenceTest, AppThatWillNotQuitStopsTheUpdate) {
    const Tree old = InstallEarlier(MakeRelease("1.0", Layout::Top));
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    Publish(MakeRelease("2.0", Layout::Top));
    // Held by another program, the executable never comes free: the stop
    // gives up after about 20 seconds.
    UniqueHandle holder = HoldOpen(AppExePath());
    ASSERT_TRUE(Valid(holder));

    EXPECT_FALSE(Install());
    EXPECT_EQ(error_, L"Movora is still running, so the update stopped.");
    holder.reset();
    ExpectOldReleaseKept(old, oldEntry);
    EXPECT_TRUE(fs::exists(Staging() + L"\\Movora.exe")) << "the unpacked package stays";
    EXPECT_FALSE(fs::exists(Previous()));
}

// A folder left by an earlier run, with one of its files still held open, so
// it cannot be removed completely.
struct LeftoverCase {
    const char* name;
    const wchar_t* folder;
    const wchar_t* sentence;
};

void PrintTo(const LeftoverCase& c, std::ostream* out) {
    *out << c.name;
}

class LeftoverFolderTest : public SequenceTest,
                           public ::testing::WithParamInterface<LeftoverCase> {};

TEST_P(LeftoverFolderTest, StopsTheUpdateUntilTheFileIsClosed) {
    const LeftoverCase& c = GetParam();
    const Tree old = InstallEarlier(MakeRelease("1.0", Layout::Top));
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    PlaceRelease(MakeRelease("0.9", Layout::Top), Root(c.folder));
    const std::wstring held = Root(c.folder) + L"\\lib\\codec.dll";
    UniqueHandle holder = HoldOpen(held);
    ASSERT_TRUE(Valid(holder));
    Publish(MakeRelease("2.0", Layout::Top));

    EXPECT_FALSE(Install());
    EXPECT_EQ(error_, c.sentence);
    ExpectOldReleaseKept(old, oldEntry);
    EXPECT_TRUE(fs::exists(held));

    // Once the file is closed, the next run clears the leftover and installs.
    holder.reset();
    ASSERT_TRUE(Install()) << Utf8Text(error_);
    ExpectInstalled(MakeRelease("2.0", Layout::Top));
}

INSTANTIATE_TEST_SUITE_P(
    Folders, LeftoverFolderTest,
    ::testing::Values(
        // Step 12 cannot remove it, so the app folder cannot take its name.
        LeftoverCase{"PreviousFolder", L"app.previous", L"Close Movora, then try again."},
        // Unpacking on top of it could install a mixture of two releases.
        LeftoverCase{"StagingFolder", L"staging",
                     L"Files left from an earlier install could not be removed."}),
    [](const ::testing::TestParamInfo<LeftoverCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(InstallSequenceTest, InstallRootThatCannotBeCreatedFails) {
    testing_support::WriteFileBytes(InstallRootPath(), "a file in the way");
    Publish(MakeRelease("2.0", Layout::Top));
    EXPECT_FALSE(Install());
    EXPECT_EQ(error_, L"Could not prepare the install folder.");
    EXPECT_TRUE(fs::is_regular_file(InstallRootPath()));
    EXPECT_TRUE(PackageFilesInTemp().empty());
    fs::remove(InstallRootPath());
}

// ---- An interrupted swap -------------------------------------------------------

struct InterruptedCase {
    const char* name;
    bool appFolderLeft; // an app folder without Movora.exe is there too
    bool downloadWorks;
};

void PrintTo(const InterruptedCase& c, std::ostream* out) {
    *out << c.name;
}

class InterruptedSwapTest : public SequenceTest,
                            public ::testing::WithParamInterface<InterruptedCase> {};

TEST_P(InterruptedSwapTest, OldReleaseComesBackBeforeTheDownload) {
    const InterruptedCase& c = GetParam();
    // A run that died between moving the old release aside and moving the new
    // one in: the old release whole in "app.previous", no app executable.
    const Tree old = PlaceRelease(MakeRelease("1.0", Layout::Top), Previous());
    if (c.appFolderLeft) {
        fs::create_directories(AppFolder() + L"\\lib");
    }
    const TestRelease release = MakeRelease("2.0", Layout::Top);
    if (c.downloadWorks) {
        Publish(release);
    } else {
        SetRelease(server_.Url("/releases/missing.zip"), L"2.0", L"");
    }

    if (c.downloadWorks) {
        ASSERT_TRUE(Install()) << Utf8Text(error_);
        ExpectInstalled(release);
    } else {
        EXPECT_FALSE(Install());
        EXPECT_EQ(error_, L"The server returned an error.");
        EXPECT_EQ(DigestTree(AppFolder()), old) << "the old release should be back";
        EXPECT_FALSE(fs::exists(Previous()));
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, InterruptedSwapTest,
    ::testing::Values(InterruptedCase{"NoAppFolderThenFailedDownload", false, false},
                      InterruptedCase{"EmptyAppFolderThenFailedDownload", true, false},
                      InterruptedCase{"NoAppFolderThenNewRelease", false, true}),
    [](const ::testing::TestParamInfo<InterruptedCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(InstallSequenceTest, PreviousFolderBesideAWholeAppIsNoInterruptedSwap) {
    const Tree current = InstallEarlier(MakeRelease("1.0", Layout::Top));
    PlaceRelease(MakeRelease("0.9", Layout::Top), Previous());
    SetRelease(server_.Url("/releases/missing.zip"), L"2.0", L"");
    EXPECT_FALSE(Install());
    EXPECT_EQ(DigestTree(AppFolder()), current);
}

// ---- Versions that are no file names --------------------------------------------

struct VersionCase {
    const char* name;
    const wchar_t* version;
};

void PrintTo(const VersionCase& c, std::ostream* out) {
    *out << c.name;
}

class HostileVersionTest : public SequenceTest,
                           public ::testing::WithParamInterface<VersionCase> {};

TEST_P(HostileVersionTest, DownloadStaysInTheTemporaryFolderAndTheVersionIsKept) {
    const std::wstring version = GetParam().version;
    // Where a name made of the raw version would have put the download: a
    // file there must survive the install untouched.
    std::wstring naive;
    DWORD ignored = 0;
    GetFullPath(TempFolderPath() + L"Movora-" + version + L".zip", naive, ignored);
    const bool outside = ParentPath(naive) + L"\\" != TempFolderPath();
    if (outside) {
        fs::create_directories(fs::path(naive).parent_path());
        testing_support::WriteFileBytes(naive, "not the setup program's");
    }
    const TestRelease release = MakeRelease("2.0", Layout::Top);
    Publish(release, server_, "/releases/hostile.zip");
    SetVersion(version);

    ASSERT_TRUE(Install()) << Utf8Text(error_);
    EXPECT_EQ(ReadRegistryValue(kUninstallEntryKey, L"DisplayVersion").Text(), version);
    EXPECT_EQ(DigestTree(AppFolder()), release.expectedApp);
    EXPECT_TRUE(PackageFilesInTemp().empty());
    if (outside) {
        EXPECT_EQ(testing_support::ReadFileBytes(naive), "not the setup program's")
            << Utf8Text(naive);
        fs::remove(naive);
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, HostileVersionTest,
                         ::testing::Values(VersionCase{"BackslashParents", L"\\..\\..\\victim"},
                                           VersionCase{"SlashParents", L"/../../victim"},
                                           VersionCase{"IntoAFolder", L"1.0\\sub"},
                                           VersionCase{"DriveLetter", L"C:\\victim"},
                                           VersionCase{"StreamColon", L"1.0:stream"},
                                           VersionCase{"WildcardsAndQuotes", L"1.0*?\"<>|"},
                                           VersionCase{"ControlCharacters", L"1.0\t\n\x01"},
                                           VersionCase{"SpacesAndDots", L" 2.0 beta. "}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- No temporary folder -----------------------------------------------------

TEST_F(InstallSequenceTest, UnknownTemporaryFolderFailsBeforeTheDownload) {
    Publish(MakeRelease("2.0", Layout::Top));
    // A temporary folder longer than GetTempPathW's 260-character buffer.
    const std::wstring longFolder = L"C:\\" + std::wstring(300, L't');
    wchar_t savedTmp[MAX_PATH] = {};
    wchar_t savedTemp[MAX_PATH] = {};
    GetEnvironmentVariableW(L"TMP", savedTmp, MAX_PATH);
    GetEnvironmentVariableW(L"TEMP", savedTemp, MAX_PATH);
    SetEnvironmentVariableW(L"TMP", longFolder.c_str());
    SetEnvironmentVariableW(L"TEMP", longFolder.c_str());
    wchar_t probe[MAX_PATH] = {};
    const DWORD probeLength = GetTempPathW(MAX_PATH, probe);

    const bool installed = Install();
    SetEnvironmentVariableW(L"TMP", savedTmp[0] != 0 ? savedTmp : nullptr);
    SetEnvironmentVariableW(L"TEMP", savedTemp[0] != 0 ? savedTemp : nullptr);
    // Windows asks for a bigger buffer; Wine fails outright. Either way the
    // temporary folder is unknown.
    ASSERT_TRUE(probeLength == 0 || probeLength >= MAX_PATH) << "the folder was usable";

    EXPECT_FALSE(installed);
    EXPECT_EQ(error_, L"Could not find a folder for the download.");
    EXPECT_TRUE(server_.Requests().empty()) << "nothing may be downloaded";
    EXPECT_FALSE(fs::exists(InstallRootPath()));
}

// ---- The two origins (fixed ports: run under the port lock) ----------------------

// The package URL on the release server origin, the retry on the download
// origin. The ports are fixed, so test processes of one run take turns.
class OriginsTest : public SequenceTest {
  protected:
    void SetUp() override {
        SequenceTest::SetUp();
        portLock_.reset(CreateMutexW(nullptr, FALSE, L"MovoraFeedTestsFixedPorts"));
        ASSERT_TRUE(portLock_);
        const DWORD waited = WaitForSingleObject(portLock_.get(), 120000);
        ASSERT_TRUE(waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED);
        locked_ = true;
    }
    void TearDown() override {
        releaseServer_.Stop();
        downloadServer_.Stop();
        if (locked_) {
            ReleaseMutex(portLock_.get());
        }
        SequenceTest::TearDown();
    }
    static std::uint16_t PortOf(const std::string& origin) {
        return static_cast<std::uint16_t>(std::stoi(origin.substr(origin.rfind(':') + 1)));
    }
    void StartReleaseServer() { ASSERT_TRUE(releaseServer_.Start(PortOf(ReleaseServerOrigin()))); }
    void StartDownloadServer() { ASSERT_TRUE(downloadServer_.Start(PortOf(DownloadOrigin()))); }
    // The package at the release server origin, which answers status.
    void PackageOnReleaseServer(int status) {
        ScriptedResponse response;
        response.status = status;
        releaseServer_.Script("/releases/Movora-2.0.zip", response);
        SetRelease(Utf8ToWide(ReleaseServerOrigin()) + L"/releases/Movora-2.0.zip", L"2.0", L"");
    }

    UniqueHandle portLock_;
    bool locked_ = false;
    HttpTestServer releaseServer_;
    HttpTestServer downloadServer_;
};

TEST_F(OriginsTest, FailedDownloadIsRetriedOnceThroughTheDownloadOrigin) {
    StartReleaseServer();
    StartDownloadServer();
    const TestRelease release = MakeRelease("2.0", Layout::Top);
    Publish(release, downloadServer_);
    const std::wstring sha = [] {
        StatusGuard lock(g_app.statusMutex);
        return g_app.packageSha256;
    }();
    PackageOnReleaseServer(503);
    SetChecksum(sha);

    ASSERT_TRUE(Install()) << Utf8Text(error_);
    ExpectInstalled(release);
    EXPECT_EQ(releaseServer_.Requests().size(), 1u);
    ASSERT_EQ(downloadServer_.Requests().size(), 1u);
    EXPECT_EQ(downloadServer_.Requests()[0].target, "/releases/Movora-2.0.zip");
}

TEST_F(OriginsTest, RetryThatFailsTooReportsItsOwnSentence) {
    const Tree old = InstallEarlier(MakeRelease("1.0", Layout::Top));
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    StartReleaseServer();
    PackageOnReleaseServer(404); // "The server returned an error."
    // Nothing listens on the download origin: "Could not reach the download server."

    EXPECT_FALSE(Install());
    EXPECT_EQ(error_, L"Could not reach the download server.");
    ExpectOldReleaseKept(old, oldEntry);
}

TEST_F(OriginsTest, PackageElsewhereIsNotRetried) {
    const Tree old = InstallEarlier(MakeRelease("1.0", Layout::Top));
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    StartDownloadServer();
    Publish(MakeRelease("2.0", Layout::Top), downloadServer_);
    SetRelease(server_.Url("/releases/Movora-2.0.zip"), L"2.0", L""); // 404 there

    EXPECT_FALSE(Install());
    EXPECT_EQ(error_, L"The server returned an error.");
    EXPECT_TRUE(downloadServer_.Requests().empty()) << "no retry for another origin";
    ExpectOldReleaseKept(old, oldEntry);
}

TEST_F(OriginsTest, CancelDuringTheDownloadDeletesThePackageWithoutARetry) {
    const Tree old = InstallEarlier(MakeRelease("1.0", Layout::Top));
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    StartReleaseServer();
    StartDownloadServer();
    ScriptedResponse slow;
    slow.body = testing_support::PatternBytes(4 << 20);
    slow.chunkSize = 64 * 1024;
    slow.pauseBetweenPiecesMs = 100;
    releaseServer_.Script("/releases/Movora-2.0.zip", slow);
    downloadServer_.Script("/releases/Movora-2.0.zip", slow);
    SetRelease(Utf8ToWide(ReleaseServerOrigin()) + L"/releases/Movora-2.0.zip", L"2.0", L"");

    // The window closes while the package is arriving.
    std::thread closer([&] {
        const ULONGLONG deadline = GetTickCount64() + 20000;
        while (releaseServer_.Requests().empty() && GetTickCount64() < deadline) {
            Sleep(20);
        }
        Sleep(300);
        g_app.cancelRequested = true;
    });
    const bool installed = Install();
    closer.join();

    EXPECT_FALSE(installed);
    EXPECT_EQ(error_, L"Cancelled.");
    EXPECT_TRUE(downloadServer_.Requests().empty()) << "a cancel is not retried";
    ExpectOldReleaseKept(old, oldEntry);
}

// The install job with a build's trusted keys: the list is read from the
// release server origin's feed, and only a list that verifies installs.
class SignedOriginsTest : public OriginsTest {
  protected:
    void SetUp() override {
        OriginsTest::SetUp();
        savedFeed_ = g_app.feedUrl;
        g_app.feedUrl = Utf8ToWide(ReleaseServerOrigin()) + L"/releases/latest.json";
    }
    void TearDown() override {
        g_app.feedUrl = savedFeed_;
        OriginsTest::TearDown();
    }
    // The signed values of release, its package named on the release server
    // origin, and the package served by server at that path.
    static ReleaseListValues ServePackage(const TestRelease& release, HttpTestServer& server) {
        ScriptedResponse package;
        package.body = ZipBytes(release.entries);
        server.Script("/releases/Movora-" + release.version + ".zip", package);
        return ReleaseListValues{
            release.version, ReleaseServerOrigin() + "/releases/Movora-" + release.version + ".zip",
            "Signed.", Sha256Hex(package.body)};
    }
    static std::pair<JobPhase, std::wstring> JobStatus() {
        StatusGuard lock(g_app.statusMutex);
        return {g_app.phase, g_app.statusMessage};
    }

    const testing_support::TrustedKeysScope trusted_{testing_support::BothTestKeys()};
    std::wstring savedFeed_;
};

TEST_F(SignedOriginsTest, SignedListFromTheDownloadOriginInstalls) {
    StartDownloadServer(); // nothing listens on the release server origin
    const TestRelease release = MakeRelease("2.0", Layout::Top);
    const ReleaseListValues values = ServePackage(release, downloadServer_);
    downloadServer_.Script("/releases/latest.json",
                           ScriptedResponse{200, testing_support::SignedReleaseList(
                                                     values, testing_support::TestKey::Second)});

    CheckAndInstallJob(true);
    EXPECT_EQ(JobStatus(), std::make_pair(Done, std::wstring(L"Movora is installed.")));
    ExpectInstalled(release);
    const std::vector<testing_support::RecordedRequest> requests = downloadServer_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].target, "/releases/Movora-2.0.zip");
}

TEST_F(SignedOriginsTest, RefusedListDownloadsNothing) {
    const Tree old = InstallEarlier(MakeRelease("1.0", Layout::Top));
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    StartReleaseServer();
    StartDownloadServer();
    const TestRelease release = MakeRelease("2.0", Layout::Top);
    const ReleaseListValues values = ServePackage(release, releaseServer_);
    ServePackage(release, downloadServer_);
    // Signed, then pointed at another package of the same release server.
    ReleaseListValues served = values;
    served.package = ReleaseServerOrigin() + "/releases/Movora-2.0.zip?swapped";
    const std::string list = testing_support::ReleaseListJson(
        served,
        testing_support::SignMessage(ReleaseListMessage(values), testing_support::TestKey::First));
    releaseServer_.Script("/releases/latest.json", ScriptedResponse{200, list});
    downloadServer_.Script("/releases/latest.json", ScriptedResponse{200, list});

    CheckAndInstallJob(true);
    EXPECT_EQ(JobStatus(),
              std::make_pair(Failed, std::wstring(L"The release list is not signed by Movora.")));
    ASSERT_EQ(releaseServer_.Requests().size(), 1u) << "only the list may be fetched";
    EXPECT_EQ(releaseServer_.Requests()[0].target, "/releases/latest.json");
    EXPECT_TRUE(downloadServer_.Requests().empty());
    ExpectOldReleaseKept(old, oldEntry);
}

// An interrupted swap whose app folder still holds a file in use: the
// leftover cannot be cleared, so the old release cannot come back, and that
// is what the sentence says.
TEST_F(InstallSequenceTest, InterruptedSwapThatCannotBeMendedSaysSo) {
    const Tree old = PlaceRelease(MakeRelease("1.0", Layout::Top), Previous());
    fs::create_directories(AppFolder());
    testing_support::WriteFileBytes(AppFolder() + L"\\held.dll", "held");
    UniqueHandle holder = HoldOpen(AppFolder() + L"\\held.dll");
    ASSERT_TRUE(Valid(holder));
    Publish(MakeRelease("2.0", Layout::Top));

    EXPECT_FALSE(Install());
    EXPECT_EQ(error_, L"The earlier Movora could not be restored, so the update stopped.");
    EXPECT_TRUE(server_.Requests().empty()) << "nothing is downloaded meanwhile";
    EXPECT_EQ(DigestTree(Previous()), old) << "the old release stays whole aside";
}

// ---- Closing the window after the download -----------------------------------

// The status text at which the window goes away; the sequence sets it on its
// own thread, so the cancel arrives exactly between two steps.
const wchar_t* g_cancelAt = L"";

void CancelAtTheChosenStep(const std::wstring& message) {
    if (message == g_cancelAt) {
        g_app.cancelRequested = true;
    }
}

struct CancelCase {
    const char* name;
    const wchar_t* step;
    bool fresh; // nothing installed before
};

void PrintTo(const CancelCase& c, std::ostream* out) {
    *out << c.name;
}

class LateCancelTest : public SequenceTest, public ::testing::WithParamInterface<CancelCase> {
  protected:
    void TearDown() override {
        SetStatusObserver(nullptr);
        SequenceTest::TearDown();
    }
};

// Nothing would start the app again (not even in update mode, which starts
// it only after a successful install), so a cancelled run must leave it be.
// On a fresh install there is no app to stop, so only the sequence's own
// check stands between the cancel and an install the user closed the window
// on.
TEST_P(LateCancelTest, LeavesTheRunningAppRunningAndTheOldReleaseInPlace) {
    const CancelCase& c = GetParam();
    Tree old;
    RegistryPicture oldEntry;
    StartedProcess app;
    if (!c.fresh) {
        old = InstallEarlier(MakeRelease("1.0", Layout::Top));
        oldEntry = PictureOfKey(kUninstallEntryKey);
        app = StartApp(AppExePath());
        ASSERT_TRUE(app.process);
    }
    Publish(MakeRelease("2.0", Layout::Top));
    g_cancelAt = c.step;
    SetStatusObserver(&CancelAtTheChosenStep);

    EXPECT_FALSE(Install());
    SetStatusObserver(nullptr);
    EXPECT_EQ(error_, L"Cancelled.");
    if (c.fresh) {
        EXPECT_FALSE(fs::exists(AppFolder()));
        EXPECT_FALSE(RegistryKeyExists(kUninstallEntryKey));
        EXPECT_FALSE(fs::exists(ProgramsFolder() + L"\\Movora.lnk"));
        EXPECT_FALSE(fs::exists(DesktopFolder() + L"\\Movora.lnk"));
        EXPECT_EQ(AppExePathInState(), L"");
        EXPECT_TRUE(PackageFilesInTemp().empty());
        return;
    }
    // The stand-in quits soon after it reads "quit".
    EXPECT_EQ(WaitForSingleObject(app.process.get(), 2000), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the running app was asked to quit or ended";
    testing_support::KillProcess(app.id);
    ExpectOldReleaseKept(old, oldEntry);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, LateCancelTest,
    ::testing::Values(CancelCase{"WhileChecking", L"Checking the download", false},
                      CancelCase{"WhileUnpacking", L"Installing", false},
                      CancelCase{"FreshInstallWhileChecking", L"Checking the download", true},
                      CancelCase{"FreshInstallWhileUnpacking", L"Installing", true}),
    [](const ::testing::TestParamInfo<CancelCase>& info) { return std::string(info.param.name); });

// The window closes while an app that ignores "quit" is being waited for:
// the run ends as cancelled, not as an app that would not stop, and the old
// release stays whole.
TEST_F(InstallSequenceTest, CancelWhileTheAppIsBeingClosedIsACancel) {
    PlaceApp(AppExePath(), {"ignore-quit"});
    const Tree old = DigestTree(AppFolder());
    WriteUninstallEntry(AppExePath(), Root(L"MovoraSetup.exe"), L"1.0");
    const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
    Publish(MakeRelease("2.0", Layout::Top));
    StartedProcess app = StartApp(AppExePath());
    ASSERT_TRUE(app.process);
    // Half a second into the polls, well before the forced stop at about 3 s.
    std::thread closer([&] {
        const ULONGLONG deadline = GetTickCount64() + 60000;
        while (StatusText() != L"Closing Movora" && GetTickCount64() < deadline) {
            Sleep(10);
        }
        Sleep(500);
        g_app.cancelRequested = true;
    });

    const bool installed = Install();
    closer.join();
    EXPECT_FALSE(installed);
    EXPECT_EQ(error_, L"Cancelled.");
    EXPECT_EQ(WaitForSingleObject(app.process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "the app was ended although the run was cancelled";
    testing_support::KillProcess(app.id);
    ExpectOldReleaseKept(old, oldEntry);
}

// ---- Files a scanner holds for a moment --------------------------------------

// A second process holds one file without delete or write sharing for about
// two seconds, from the moment the sequence shows a status text: a virus
// scanner or the indexer looking at a fresh file.
struct HeldMomentCase {
    const char* name;
    const wchar_t* atStatus;
    const wchar_t* held; // below the install root; "package" for the package file
};

void PrintTo(const HeldMomentCase& c, std::ostream* out) {
    *out << c.name;
}

class HeldMomentTest : public SequenceTest, public ::testing::WithParamInterface<HeldMomentCase> {};

TEST_P(HeldMomentTest, UpdateWaitsAndLeavesNothingBehind) {
    const HeldMomentCase& c = GetParam();
    InstallEarlier(MakeRelease("1.0", Layout::Top));
    fs::create_directories(Staging());
    testing_support::WriteFileBytes(Staging() + L"\\earlier.txt", "left by an earlier run");
    const TestRelease release = MakeRelease("2.0", Layout::Top);
    Publish(release);
    const std::wstring held =
        std::wstring(c.held) == L"package" ? TempFolderPath() + L"Movora-2.0.zip" : Root(c.held);
    bool installed = false;
    StartedProcess scanner;
    {
        testing_support::HoldAtStatus hold(c.atStatus, {held});
        installed = Install();
        scanner = std::move(hold.scanner());
    }
    ASSERT_TRUE(scanner.process) << "the scanner never took hold";
    EXPECT_TRUE(installed) << Utf8Text(error_);
    ExpectInstalled(release);
    EXPECT_EQ(testing_support::WaitForExitCode(scanner.process.get(), 10000), 0u)
        << "the scanner could not hold its file";
}

INSTANTIATE_TEST_SUITE_P(
    Files, HeldMomentTest,
    ::testing::Values(
        // Removed once unpacked: the removal waits for the scanner.
        HeldMomentCase{"PackageFile", L"Installing", L"package"},
        // Windows refuses to move the app folder aside while it is held; Wine
        // moves it, and the removal of app.previous after the swap waits.
        HeldMomentCase{"FileOfTheOldRelease", L"Closing Movora", L"app\\lib\\codec.dll"},
        // The staging folder is cleared before unpacking.
        HeldMomentCase{"FileLeftInStaging", L"Downloading", L"staging\\earlier.txt"},
        // Held while nothing runs from the app folder: no running app.
        HeldMomentCase{"AppExecutable", L"Closing Movora", L"app\\Movora.exe"}),
    [](const ::testing::TestParamInfo<HeldMomentCase>& info) {
        return std::string(info.param.name);
    });

// ---- Refusals after the swap ------------------------------------------------

// Once the new release is the app folder, nothing that follows may turn the
// run into a failure: the app would be in place with "Open Movora" and the
// update-mode launch pointing nowhere. Refuses each file call after the swap
// in turn, counting from the last call of a whole run.
TEST_F(InstallSequenceTest, RefusalsAfterTheSwapStillEndInstalled) {
    const TestRelease release = MakeRelease("2.0", Layout::Top);
    auto prepare = [&] {
        file_faults::Disarm();
        CleanUp();
        InstallEarlier(MakeRelease("1.0", Layout::Top));
        Publish(release);
        {
            StatusGuard lock(g_app.statusMutex);
            g_app.appExePath.clear();
        }
    };
    prepare();
    file_faults::Arm(-1, ERROR_SUCCESS);
    ASSERT_TRUE(Install()) << Utf8Text(error_);
    const long calls = file_faults::CallsSinceArmed();
    // Each call is refused for all its attempts: a short time for held files
    // keeps the calls that try again from waiting out the real one each run.
    file_faults::SetHeldFileRetryMs(100);

    int afterSwap = 0;
    for (long call = calls - 1; call >= 0; --call) {
        SCOPED_TRACE("file call " + std::to_string(call) + " of " + std::to_string(calls));
        prepare();
        file_faults::Arm(call, ERROR_ACCESS_DENIED);
        const bool installed = Install();
        file_faults::Disarm();
        if (DigestTree(AppFolder()) != release.expectedApp) {
            break; // the refusal came before the swap
        }
        ++afterSwap;
        EXPECT_TRUE(installed) << Utf8Text(error_);
        EXPECT_EQ(AppExePathInState(), AppExePath());
    }
    EXPECT_GT(afterSwap, 0) << "no file call came after the swap";
}

// ---- The interrupted-swap check cannot look -----------------------------------

// Refuses each file call of the check for an interrupted swap (those before
// the download), as a folder that denies access does, or an executable that
// is being deleted. Nothing needed restoring, so the sentence says what
// happened instead.
TEST_F(InstallSequenceTest, UnreadableInstallFolderIsNoFailedRestore) {
    const TestRelease release = MakeRelease("2.0", Layout::Top);
    int refusedBeforeDownload = 0;
    for (long call = 0;; ++call) {
        SCOPED_TRACE("file call " + std::to_string(call));
        CleanUp();
        const Tree old = InstallEarlier(MakeRelease("1.0", Layout::Top));
        const RegistryPicture oldEntry = PictureOfKey(kUninstallEntryKey);
        Publish(release);
        const size_t requests = server_.Requests().size();
        file_faults::Arm(call, ERROR_ACCESS_DENIED);
        const bool installed = Install();
        file_faults::Disarm();
        if (server_.Requests().size() != requests) {
            break; // the download began: the check is behind
        }
        ++refusedBeforeDownload;
        EXPECT_FALSE(installed);
        EXPECT_EQ(error_, L"Could not read the Movora folder.");
        ExpectOldReleaseKept(old, oldEntry);
    }
    EXPECT_GT(refusedBeforeDownload, 0);
}

} // namespace
