// Hostile versions into the package file name: whatever the release list
// names as its version, the download lands as one plain file directly inside
// the temporary folder. Checked on the text and on the real file system.
#include "install/locations.h"
#include "tests/hostile/hostile_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

namespace fs = std::filesystem;
using hostile::Chance;
using hostile::Pick;
using namespace std::string_literals;

namespace {

// Separators, parents, drive and stream colons, wildcards, quotes, control
// characters (C0, DEL, C1), NUL, a right-to-left override, a lone surrogate of
// each half, a letter outside ASCII.
const std::wstring kNameTrouble =
    L"\\/:.*?\"<>| \t\r\n\x7f\x85\0\u202e\u00e9"s + wchar_t(0xD800) + wchar_t(0xDC00);

std::wstring RandomVersion(std::mt19937& rng) {
    static const std::wstring kShapes[] = {L"1.2.0",
                                           L"..",
                                           L"..\\..\\..\\Windows\\System32\\evil",
                                           L"../../x",
                                           L"C:\\x",
                                           L"c:x",
                                           L"\\\\server\\share\\x",
                                           L"\\\\?\\C:\\x",
                                           L"1.0:zone",
                                           L"CON",
                                           L"nul",
                                           L"",
                                           L"2.0\0x"s,
                                           L"1.0/",
                                           L"\\",
                                           L"1.0\\.."};
    std::wstring version = kShapes[Pick(rng, 0, std::size(kShapes) - 1)];
    for (size_t edits = Pick(rng, 0, 6); edits > 0; --edits) {
        const size_t at = Pick(rng, 0, version.size());
        const wchar_t c = Chance(rng, 70) ? kNameTrouble[Pick(rng, 0, kNameTrouble.size() - 1)]
                                          : static_cast<wchar_t>(Pick(rng, 1, 0xFFFF));
        version.insert(at, Pick(rng, 1, 3), c);
    }
    if (Chance(rng, 3)) {
        version += std::wstring(Pick(rng, 240, 600), L'9'); // longer than any name
    }
    return version;
}

bool IsForbiddenInAName(wchar_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) ||
           std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos;
}

// One plain name directly inside the temporary folder, on the text alone:
// the folder, then "Movora-", characters a file name can hold, ".zip", within
// 255 characters; and Windows makes nothing else of it when it makes it
// absolute (no parent, no drive, no stream, no trailing dot or space eaten).
void ExpectOnePlainNameInTheTemporaryFolder(const std::wstring& version, const std::wstring& temp) {
    const std::wstring path = GetPackageFilePath(version);
    SCOPED_TRACE("version " + hostile::DescribeWide(version) + " gives " +
                 hostile::DescribeWide(path));
    ASSERT_EQ(path.compare(0, temp.size(), temp), 0);
    const std::wstring name = path.substr(temp.size());
    EXPECT_EQ(name.rfind(L"Movora-", 0), 0u);
    EXPECT_GE(name.size(), 11u);
    EXPECT_EQ(name.compare(name.size() - 4, 4, L".zip"), 0);
    EXPECT_LE(name.size(), 255u);
    for (const wchar_t c : name) {
        EXPECT_FALSE(IsForbiddenInAName(c)) << "character " << static_cast<unsigned>(c);
    }
    std::vector<wchar_t> buffer(70000);
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    EXPECT_TRUE(std::wstring(buffer.data(), length) == path) << "Windows reads it differently";
}

TEST(PackageNameHostileTest, AnyVersionGivesOnePlainNameInTheTemporaryFolder) {
    hostile::RandomRun run = hostile::StartRandomRun("package file name", 0x5eed0007, 20000);
    const std::wstring temp = GetTempFolder();
    ASSERT_FALSE(temp.empty());
    ASSERT_EQ(temp.back(), L'\\');
    for (size_t i = 0; i < run.inputs; ++i) {
        ExpectOnePlainNameInTheTemporaryFolder(RandomVersion(run.rng), temp);
        if (HasFailure()) {
            ADD_FAILURE() << "stopped at input " << i;
            return;
        }
    }
}

// The same on the file system: files created under those names appear
// directly inside the temporary folder and nowhere else on the drive.
TEST(PackageNameHostileTest, FilesMadeFromHostileVersionsLandInTheTemporaryFolder) {
    hostile::RandomRun run = hostile::StartRandomRun("package files on disk", 0x5eed0008, 300);
    const std::wstring temp = GetTempFolder();
    ASSERT_FALSE(temp.empty());
    const std::wstring drive = fs::path(temp).root_path().wstring();
    const hostile::Snapshot before = hostile::TakeSnapshot(drive);

    // Versions that would climb out of the folder, if taken as a path, first.
    std::vector<std::wstring> versions = {L"\\..\\..\\escape", L"/../../escape", L"\\..\\",
                                          L"\\\\.\\C:\\escape", L":stream"};
    for (size_t i = 0; i < run.inputs; ++i) {
        versions.push_back(RandomVersion(run.rng));
    }
    std::vector<std::wstring> created;
    size_t refused = 0;
    for (const std::wstring& version : versions) {
        const std::wstring path = GetPackageFilePath(version);
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            ++refused; // a name the file system will not take: the download fails, no more
            continue;
        }
        DWORD written = 0;
        WriteFile(file, "zip", 3, &written, nullptr);
        CloseHandle(file);
        created.push_back(path);
    }
    const std::set<std::wstring> changed =
        hostile::ChangedEntries(before, hostile::TakeSnapshot(drive));
    for (const std::wstring& path : created) {
        DeleteFileW(path.c_str());
    }

    EXPECT_FALSE(created.empty());
    std::wstring tempFolder = temp;
    tempFolder.pop_back();
    for (const std::wstring& path : changed) {
        // Names come in lower case; a file directly inside the folder only.
        EXPECT_EQ(_wcsicmp(fs::path(path).parent_path().wstring().c_str(), tempFolder.c_str()), 0)
            << "a package file landed at " << hostile::DescribeWide(path);
    }
    std::printf("[hostile] package files on disk: %zu created, %zu refused by the file system, "
                "%zu entries changed\n",
                created.size(), refused, changed.size());
}

} // namespace
