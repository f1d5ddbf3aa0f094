// The tar stand-in in the test prefix's system folder, started the way the
// setup program starts the system's tar tool (the same command line, without
// a window), on packages from the zip writer: what lands in the destination
// folder, that nothing lands outside it, and the exit code that comes back
// through GetExitCodeProcess. Where the host has bsdtar (the program Windows
// ships as tar.exe), it unpacks the same zips and the results are compared.
//
// Every package and destination path has spaces in it: each one stands
// between double quotes on the command line.
#include "tests/support/tar_standin.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

// A folder's contents: relative path -> file bytes, or kFolder for a folder.
using Tree = std::map<std::wstring, std::string>;
const std::string kFolder = "<folder>";

Tree ReadTree(const std::wstring& root) {
    Tree tree;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::wstring relative = it->path().lexically_relative(root).wstring();
        if (it->is_directory()) {
            tree[relative] = kFolder;
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            tree[relative] = std::string(std::istreambuf_iterator<char>(in), {});
        }
    }
    return tree;
}

// The same tree with every file's bytes left out.
Tree Shape(Tree tree) {
    for (auto& [path, content] : tree) {
        if (content != kFolder) {
            content = "<file>";
        }
    }
    return tree;
}

std::string ReadText(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Bytes that deflate cannot shrink, so large entries span several reads.
std::string NoiseBytes(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint32_t state = seed * 2654435761u + 1;
    for (char& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<char>(state & 0xFF);
    }
    return bytes;
}

std::string TextBytes(size_t size) {
    std::string text;
    while (text.size() < size) {
        text += "Line " + std::to_string(text.size()) + " of the release notes.\r\n";
    }
    text.resize(size);
    return text;
}

const DWORD kNotStarted = 0xFFFFFFFF;

// Starts "<system folder>\tar.exe" <arguments> as the setup program does
// (CREATE_NO_WINDOW, nothing inherited) and returns the exit code that
// GetExitCodeProcess reports.
DWORD RunTar(const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + SystemTarPath() + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &info)) {
        ADD_FAILURE() << "the tar tool did not start (error " << GetLastError() << ")";
        return kNotStarted;
    }
    UniqueHandle thread(info.hThread);
    UniqueHandle process(info.hProcess);
    return WaitForExitCode(process.get(), 120000);
}

// The setup program's arguments: -xf "<zip>" -C "<folder>".
std::wstring UnpackArguments(const std::wstring& zip, const std::wstring& destination) {
    return L"-xf \"" + zip + L"\" -C \"" + destination + L"\"";
}

bool HostHasBsdtar() {
    return RunningUnderWine() &&
           GetFileAttributesW(L"Z:\\usr\\bin\\bsdtar") != INVALID_FILE_ATTRIBUTES;
}

// Unpacks zip into destination with the host's bsdtar, through a shell script
// that leaves bsdtar's exit code in a file (a host program's own exit code
// does not come back through Wine). Its messages go to log.
DWORD RunHostBsdtar(const std::wstring& zip, const std::wstring& destination,
                    const std::wstring& workFolder, std::string& log) {
    const std::wstring script = workFolder + L"\\bsdtar.sh";
    const std::wstring exitFile = workFolder + L"\\bsdtar.exit";
    const std::wstring logFile = workFolder + L"\\bsdtar.log";
    WriteFileBytes(script, "export LC_ALL=C.UTF-8\n"
                           "/usr/bin/bsdtar -xf '" +
                               HostPath(zip) + "' -C '" + HostPath(destination) + "' 2>'" +
                               HostPath(logFile) +
                               "'\n"
                               "echo $? >'" +
                               HostPath(exitFile) +
                               ".part'\n"
                               "mv '" +
                               HostPath(exitFile) + ".part' '" + HostPath(exitFile) + "'\n");
    const bool ended = RunHostProgram(
        "Z:\\bin\\sh " + HostPath(script),
        [&] { return GetFileAttributesW(exitFile.c_str()) != INVALID_FILE_ATTRIBUTES; }, 30000);
    log = ReadText(logFile);
    if (!ended) {
        ADD_FAILURE() << "bsdtar did not finish";
        return kNotStarted;
    }
    return static_cast<DWORD>(std::stoul(ReadText(exitFile)));
}

class TarStandInTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(InstallTarStandIn());
        ASSERT_TRUE(CreateDirectoryW((temp_ / L"package folder").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW((temp_ / L"install root").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(destination_.c_str(), nullptr));
    }

    TempFolder temp_;
    const std::wstring zip_ = temp_ / L"package folder\\Movora 1.2.zip";
    const std::wstring destination_ = temp_ / L"install root\\staging area";
};

// How a written package is damaged before it is unpacked.
enum class Damage {
    None,
    CutInSecondEntryData,  // 100 bytes into the second entry's data
    CutInCentralDirectory, // every entry complete, the directory cut short
    CutAfter60Bytes,
    CutToNothing,
    NotAZip, // replaced by a text file
};

const DWORD kNoComparison = 0xFFFFFFFE;

struct UnpackCase {
    std::string name;
    std::vector<ZipEntry> entries;
    Damage damage;
    DWORD exitCode; // the stand-in's
    Tree expected;  // the destination folder afterwards
    // bsdtar's exit code on the same zip, or kNoComparison where bsdtar on
    // Linux cannot show what it does on Windows (code page 437 names, names
    // that Linux allows and Windows does not).
    DWORD bsdtarExitCode;
};

void PrintTo(const UnpackCase& unpackCase, std::ostream* out) {
    *out << unpackCase.name;
}

ZipEntry WithBadCrc(ZipEntry entry) {
    entry.badCrc = true;
    return entry;
}

ZipEntry WithoutUtf8Mark(ZipEntry entry) {
    entry.utf8 = false;
    return entry;
}

std::vector<UnpackCase> UnpackCases() {
    const auto stored = ZipMethod::Stored;
    const std::string exe = NoiseBytes(300 * 1024, 1);
    const std::string dll = NoiseBytes(700 * 1024, 2);
    const std::string notes = TextBytes(600 * 1024);
    const std::string first = TextBytes(5000);
    const std::string second = NoiseBytes(5000, 3);
    const std::vector<ZipEntry> three = {ZipFile("first.txt", first),
                                         ZipFile("second.bin", second, stored),
                                         ZipFile("third.txt", "third")};
    return {
        {"NestedTreeStoredAndDeflated",
         {ZipFile("Movora.exe", exe), ZipFile("app/core.dll", dll, stored),
          ZipFile("app/plugins/deep/notes.txt", notes),
          ZipFile("app/plugins/deep/empty.cfg", "", stored), ZipFile("app/empty-deflated.cfg", ""),
          ZipFolder("logs"), ZipFolder("app/plugins")},
         Damage::None,
         0,
         {{L"Movora.exe", exe},
          {L"app", kFolder},
          {L"app\\core.dll", dll},
          {L"app\\empty-deflated.cfg", ""},
          {L"app\\plugins", kFolder},
          {L"app\\plugins\\deep", kFolder},
          {L"app\\plugins\\deep\\empty.cfg", ""},
          {L"app\\plugins\\deep\\notes.txt", notes},
          {L"logs", kFolder}},
         0},
        {"NamesWithSpaces",
         {ZipFile("Movora App/sub folder/read me.txt", "spaces", stored)},
         Damage::None,
         0,
         {{L"Movora App", kFolder},
          {L"Movora App\\sub folder", kFolder},
          {L"Movora App\\sub folder\\read me.txt", "spaces"}},
         0},
        {"Utf8Names",
         {ZipFile("Grüße/Ünïcødé €.txt", "utf-8")},
         Damage::None,
         0,
         {{L"Grüße", kFolder}, {L"Grüße\\Ünïcødé €.txt", "utf-8"}},
         0},
        {"Cp437Names",
         {WithoutUtf8Mark(ZipFile("\x81"
                                  "ber/caf\x82.txt",
                                  "cp437"))},
         Damage::None,
         0,
         {{L"über", kFolder}, {L"über\\café.txt", "cp437"}},
         kNoComparison},
        {"BackslashSeparators",
         {ZipFile("win\\style\\path.txt", "backslashes")},
         Damage::None,
         0,
         {{L"win", kFolder}, {L"win\\style", kFolder}, {L"win\\style\\path.txt", "backslashes"}},
         0},
        {"DotDotEntriesSkipped",
         {ZipFile("../evil.txt", "x"), ZipFile("sub/../../evil2.txt", "x"),
          ZipFile("sub/../inside.txt", "x"), ZipFile("good.txt", "good"),
          ZipFile("a..b.txt", "dots"), ZipFile("..hidden", "dots")},
         Damage::None,
         1,
         {{L"good.txt", "good"}, {L"a..b.txt", "dots"}, {L"..hidden", "dots"}},
         1},
        {"LeadingSlashAndDriveStripped",
         {ZipFile("/abs-entry.txt", "a"), ZipFile("\\back-entry.txt", "b"),
          ZipFile("C:/drive-entry.txt", "c"), ZipFile("C:drive-relative.txt", "d"),
          ZipFile("//two/deep-entry.txt", "e")},
         Damage::None,
         0,
         {{L"abs-entry.txt", "a"},
          {L"back-entry.txt", "b"},
          {L"drive-entry.txt", "c"},
          {L"drive-relative.txt", "d"},
          {L"two", kFolder},
          {L"two\\deep-entry.txt", "e"}},
         0},
        {"BadCrcDeflated",
         {WithBadCrc(ZipFile("a.txt", notes)), ZipFile("b.txt", "second")},
         Damage::None,
         1,
         {{L"a.txt", notes}, {L"b.txt", "second"}},
         1},
        {"BadCrcStored",
         {ZipFile("a.txt", "first"), WithBadCrc(ZipFile("b.bin", second, stored))},
         Damage::None,
         1,
         {{L"a.txt", "first"}, {L"b.bin", second}},
         1},
        {"CutInSecondEntryData",
         three,
         Damage::CutInSecondEntryData,
         1,
         {{L"first.txt", first}, {L"second.bin", second.substr(0, 100)}},
         1},
        // Stricter than bsdtar, which unpacks the complete entries and exits 0.
        {"CutInCentralDirectory",
         three,
         Damage::CutInCentralDirectory,
         1,
         {{L"first.txt", first}, {L"second.bin", second}, {L"third.txt", "third"}},
         0},
        {"CutAfter60Bytes",
         {ZipFile("Movora.exe", first, stored), ZipFile("second.txt", "second")},
         Damage::CutAfter60Bytes,
         1,
         {{L"Movora.exe", first.substr(0, 60 - 30 - 10)}},
         1},
        // bsdtar takes an empty file for an empty archive and exits 0.
        {"EmptyFile", three, Damage::CutToNothing, 1, {}, 0},
        {"NotAZip", three, Damage::NotAZip, 1, {}, 1},
        {"EmptyArchive", {}, Damage::None, 0, {}, 0},
        {"FileWhereFolderIsNeeded",
         {ZipFile("f", "file"), ZipFile("f/g.txt", "g"), ZipFile("ok.txt", "ok")},
         Damage::None,
         1,
         {{L"f", "file"}, {L"ok.txt", "ok"}},
         1},
        // A colon would write an alternate data stream of "a.txt" (at the
        // start, "a:" is taken for a drive letter and removed).
        {"CharactersWindowsForbids",
         {ZipFile("a.txt", "a"), ZipFile("sub/a.txt:stream", "stream"), ZipFile("q?.txt", "x"),
          ZipFile("ok.txt", "ok")},
         Damage::None,
         1,
         {{L"a.txt", "a"}, {L"ok.txt", "ok"}},
         kNoComparison},
    };
}

void MakePackage(const UnpackCase& unpackCase, const std::wstring& path) {
    const ZipLayout layout = WriteZip(path, unpackCase.entries);
    switch (unpackCase.damage) {
    case Damage::None:
        break;
    case Damage::CutInSecondEntryData:
        TruncateFile(path, layout.dataOffsets.at(1) + 100);
        break;
    case Damage::CutInCentralDirectory:
        TruncateFile(path, layout.centralDirectoryOffset + 10);
        break;
    case Damage::CutAfter60Bytes:
        TruncateFile(path, 60);
        break;
    case Damage::CutToNothing:
        TruncateFile(path, 0);
        break;
    case Damage::NotAZip:
        WriteFileBytes(path, TextBytes(2000));
        break;
    }
}

class UnpackTableTest : public TarStandInTest, public ::testing::WithParamInterface<UnpackCase> {};

TEST_P(UnpackTableTest, UnpacksIntoTheDestinationOnly) {
    const UnpackCase& unpackCase = GetParam();
    MakePackage(unpackCase, zip_);

    EXPECT_EQ(RunTar(UnpackArguments(zip_, destination_)), unpackCase.exitCode);
    EXPECT_EQ(ReadTree(destination_), unpackCase.expected);
    // Nothing beside the destination, nor at the drive's root.
    Tree outside = ReadTree(temp_.path());
    outside.erase(outside.lower_bound(L"install root\\staging area\\"),
                  outside.lower_bound(L"install root\\staging area]"));
    const Tree expectedOutside = {{L"install root", kFolder},
                                  {L"install root\\staging area", kFolder},
                                  {L"package folder", kFolder},
                                  {L"package folder\\Movora 1.2.zip", ReadText(zip_)}};
    EXPECT_EQ(outside, expectedOutside);
    for (const auto& [path, content] : unpackCase.expected) {
        EXPECT_EQ(GetFileAttributesW((L"C:\\" + path).c_str()), INVALID_FILE_ATTRIBUTES) << path;
    }
}

INSTANTIATE_TEST_SUITE_P(Packages, UnpackTableTest, ::testing::ValuesIn(UnpackCases()),
                         [](const ::testing::TestParamInfo<UnpackCase>& info) {
                             return info.param.name;
                         });

// The same zips unpacked by the host's bsdtar: the same exit code (where the
// table says so) and the same files.
class BsdtarComparisonTest : public UnpackTableTest {};

std::vector<UnpackCase> ComparableCases() {
    std::vector<UnpackCase> cases;
    for (UnpackCase& unpackCase : UnpackCases()) {
        if (unpackCase.bsdtarExitCode != kNoComparison) {
            cases.push_back(std::move(unpackCase));
        }
    }
    return cases;
}

TEST_P(BsdtarComparisonTest, MatchesHostBsdtar) {
    const UnpackCase& unpackCase = GetParam();
    if (!HostHasBsdtar()) {
        GTEST_SKIP() << "no host bsdtar (tools/bootstrap installs libarchive-tools)";
    }
    MakePackage(unpackCase, zip_);
    const std::wstring bsdtarDestination = temp_ / L"install root\\bsdtar area";
    ASSERT_TRUE(CreateDirectoryW(bsdtarDestination.c_str(), nullptr));

    ASSERT_EQ(RunTar(UnpackArguments(zip_, destination_)), unpackCase.exitCode);
    std::string log;
    EXPECT_EQ(RunHostBsdtar(zip_, bsdtarDestination, temp_.path(), log), unpackCase.bsdtarExitCode)
        << log;
    // After a failed entry bsdtar leaves a file of the announced size whose
    // unread part is zeros, where the stand-in leaves the bytes it read: only
    // a clean run must give the same bytes.
    const Tree ours = ReadTree(destination_);
    const Tree theirs = ReadTree(bsdtarDestination);
    if (unpackCase.exitCode == 0) {
        EXPECT_EQ(theirs, ours) << log;
    } else {
        EXPECT_EQ(Shape(theirs), Shape(ours)) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Packages, BsdtarComparisonTest, ::testing::ValuesIn(ComparableCases()),
                         [](const ::testing::TestParamInfo<UnpackCase>& info) {
                             return info.param.name;
                         });

// Command lines other than the setup program's: only the two orders of -xf
// and -C unpack; anything else is refused with exit code 1 and unpacks
// nothing.
struct ArgumentCase {
    std::string name;
    std::wstring arguments; // {zip} and {dest} stand for the package and the destination
    DWORD exitCode;
    bool unpacks;
};

void PrintTo(const ArgumentCase& argumentCase, std::ostream* out) {
    *out << argumentCase.name;
}

std::wstring Substitute(std::wstring text, const std::wstring& token, const std::wstring& value) {
    for (size_t at = text.find(token); at != std::wstring::npos;
         at = text.find(token, at + value.size())) {
        text.replace(at, token.size(), value);
    }
    return text;
}

class ArgumentTest : public TarStandInTest, public ::testing::WithParamInterface<ArgumentCase> {};

TEST_P(ArgumentTest, OnlyTheUnpackCommandUnpacks) {
    const ArgumentCase& argumentCase = GetParam();
    WriteZip(zip_, {ZipFile("Movora.exe", "app")});
    const std::wstring arguments =
        Substitute(Substitute(argumentCase.arguments, L"{zip}", zip_), L"{dest}", destination_);

    EXPECT_EQ(RunTar(arguments), argumentCase.exitCode);
    const Tree unpacked = {{L"Movora.exe", "app"}};
    EXPECT_EQ(ReadTree(destination_), argumentCase.unpacks ? unpacked : Tree());
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ArgumentTest,
    ::testing::Values(
        ArgumentCase{"SetupProgramOrder", L"-xf \"{zip}\" -C \"{dest}\"", 0, true},
        ArgumentCase{"DestinationFirst", L"-C \"{dest}\" -xf \"{zip}\"", 0, true},
        ArgumentCase{"NoArguments", L"", 1, false},
        ArgumentCase{"ListInsteadOfExtract", L"-tf \"{zip}\" -C \"{dest}\"", 1, false},
        ArgumentCase{"NoDestination", L"-xf \"{zip}\"", 1, false},
        ArgumentCase{"MemberNamed", L"-xf \"{zip}\" -C \"{dest}\" Movora.exe", 1, false},
        ArgumentCase{"PackageTwice", L"-xf \"{zip}\" -xf \"{zip}\"", 1, false},
        ArgumentCase{"MissingPackage", L"-xf \"{zip}.gone\" -C \"{dest}\"", 1, false},
        ArgumentCase{"MissingDestination", L"-xf \"{zip}\" -C \"{dest}\\gone\"", 1, false},
        ArgumentCase{"DestinationIsAFile", L"-xf \"{zip}\" -C \"{zip}\"", 1, false}),
    [](const ::testing::TestParamInfo<ArgumentCase>& info) { return info.param.name; });

// What a test of the setup program without a tar tool relies on: after the
// removal the system folder's tar.exe cannot be started, and the installation
// brings it back.
TEST_F(TarStandInTest, RemoveAndInstallAgain) {
    if (!RemoveTarStandIn()) {
        GTEST_SKIP() << "the system's own tar tool cannot be taken away";
    }
    EXPECT_EQ(GetFileAttributesW(SystemTarPath().c_str()), INVALID_FILE_ATTRIBUTES);
    std::wstring commandLine =
        L"\"" + SystemTarPath() + L"\" " + UnpackArguments(zip_, destination_);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    EXPECT_FALSE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE,
                                CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(RemoveTarStandIn()) << "a second removal finds nothing and is fine";

    ASSERT_TRUE(InstallTarStandIn());
    WriteZip(zip_, {ZipFile("Movora.exe", "app")});
    EXPECT_EQ(RunTar(UnpackArguments(zip_, destination_)), 0u);
    EXPECT_EQ(ReadTree(destination_), (Tree{{L"Movora.exe", "app"}}));
}

} // namespace
