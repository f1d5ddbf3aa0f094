// The file layer on real files under the test's own temporary folder.
#include "install/fs_calls.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using testing_support::TempFolder;
using testing_support::WriteFileBytes;

namespace {

class FileCallsTest : public ::testing::Test {
  protected:
    void TearDown() override { file_faults::Disarm(); }

    // Creates a file (and its folders) below the test folder; returns its path.
    std::wstring MakeFile(const std::wstring& relative, const std::string& bytes = "x") {
        const std::wstring path = folder_ / relative;
        raising::CreateFolders(ParentPath(path));
        WriteFileBytes(path, bytes);
        return path;
    }

    static bool IsThere(const std::wstring& path) {
        return GetFileAttributesW(WindowsPathArgument(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    TempFolder folder_;
};

// What a raising call threw, for tests that look at the error itself.
template <typename Call> FileError CaughtError(Call call) {
    try {
        call();
    } catch (const FileError& error) {
        return error;
    }
    ADD_FAILURE() << "no FileError was thrown";
    return FileError{};
}

TEST_F(FileCallsTest, ExistsAnswersForFilesFoldersAndMissingPaths) {
    const std::wstring file = MakeFile(L"sub\\file.txt");
    EXPECT_TRUE(raising::Exists(file));
    EXPECT_TRUE(raising::Exists(folder_ / L"sub"));
    EXPECT_TRUE(raising::Exists(folder_ / L"sub\\"));
    EXPECT_FALSE(raising::Exists(folder_ / L"missing.txt"));
    EXPECT_FALSE(raising::Exists(folder_ / L"missing\\deeper\\file.txt"));
    EXPECT_FALSE(raising::Exists(L""));
    // A file where a folder is expected: nothing is below it.
    EXPECT_FALSE(raising::Exists(file + L"\\child.txt"));

    EXPECT_TRUE(raising::IsFolder(folder_ / L"sub"));
    EXPECT_FALSE(raising::IsFolder(file));
    EXPECT_FALSE(raising::IsFolder(folder_ / L"missing"));
}

TEST_F(FileCallsTest, CreateFoldersMakesEveryMissingParentAndKeepsAnExistingFolder) {
    const std::wstring deep = folder_ / L"a\\b c\\d";
    raising::CreateFolders(deep);
    EXPECT_TRUE(raising::IsFolder(deep));
    const std::wstring file = MakeFile(L"a\\b c\\d\\keep.txt");
    raising::CreateFolders(deep);
    raising::CreateFolders(deep + L"\\");
    EXPECT_TRUE(IsThere(file));
}

TEST_F(FileCallsTest, CreateFoldersRaisesWhenAFileStandsInTheWay) {
    const std::wstring file = MakeFile(L"blocker");
    const FileError error = CaughtError([&] { raising::CreateFolders(file); });
    EXPECT_EQ(error.path, file);
    EXPECT_EQ(error.code, static_cast<DWORD>(ERROR_ALREADY_EXISTS));

    const FileError below = CaughtError([&] { raising::CreateFolders(file + L"\\sub\\deeper"); });
    EXPECT_NE(below.code, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(below.path, file + L"\\sub\\deeper");

    tolerant::CreateFolders(file + L"\\sub"); // ignored
    EXPECT_FALSE(raising::IsFolder(file));
}

TEST_F(FileCallsTest, RenameMovesFoldersButNeverOntoAnExistingFolder) {
    MakeFile(L"staging\\Movora.exe", "new");
    MakeFile(L"app\\Movora.exe", "old");
    const FileError error =
        CaughtError([&] { raising::Rename(folder_ / L"staging", folder_ / L"app"); });
    EXPECT_EQ(error.path, folder_ / L"staging");
    EXPECT_EQ(error.otherPath, folder_ / L"app");
    EXPECT_NE(error.code, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(IsThere(folder_ / L"staging\\Movora.exe"));

    raising::Rename(folder_ / L"app", folder_ / L"app.previous");
    raising::Rename(folder_ / L"staging", folder_ / L"app");
    EXPECT_TRUE(IsThere(folder_ / L"app\\Movora.exe"));
    EXPECT_TRUE(IsThere(folder_ / L"app.previous\\Movora.exe"));
    EXPECT_FALSE(IsThere(folder_ / L"staging"));

    // A file replaces a file.
    const std::wstring a = MakeFile(L"one.txt", "1");
    const std::wstring b = MakeFile(L"two.txt", "2");
    raising::Rename(a, b);
    EXPECT_FALSE(IsThere(a));
    EXPECT_TRUE(IsThere(b));

    const FileError missing = CaughtError([&] { raising::Rename(a, folder_ / L"three.txt"); });
    EXPECT_EQ(missing.code, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FileCallsTest, CopyOverwritesAndNamesBothPathsWhenItFails) {
    const std::wstring from = MakeFile(L"from.exe", "fresh");
    const std::wstring to = MakeFile(L"to.exe", "stale and longer");
    raising::CopyFileOver(from, to);
    EXPECT_EQ(testing_support::ReadFileBytes(to), "fresh");

    const std::wstring missing = folder_ / L"missing.exe";
    const FileError error = CaughtError([&] { raising::CopyFileOver(missing, to); });
    EXPECT_EQ(error.path, missing);
    EXPECT_EQ(error.otherPath, to);
    EXPECT_FALSE(tolerant::CopyFileOver(missing, to));
    EXPECT_TRUE(tolerant::CopyFileOver(from, folder_ / L"copy.exe"));
}

TEST_F(FileCallsTest, ListFolderGivesDirectEntriesOnly) {
    MakeFile(L"list\\a.txt");
    MakeFile(L"list\\sub\\deep.txt");
    std::vector<std::wstring> names = raising::ListFolder(folder_ / L"list");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{L"a.txt", L"sub"}));
    // Nothing to list: an empty listing, no error.
    EXPECT_TRUE(raising::ListFolder(folder_ / L"missing").empty());
    EXPECT_TRUE(raising::ListFolder(folder_ / L"list\\a.txt").empty());
}

TEST_F(FileCallsTest, RemoveTakesFilesAndEmptyFoldersOnly) {
    const std::wstring file = MakeFile(L"settings.json");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    tolerant::Remove(file);
    EXPECT_FALSE(IsThere(file));

    MakeFile(L"full\\kept.txt");
    tolerant::Remove(folder_ / L"full");
    EXPECT_TRUE(IsThere(folder_ / L"full\\kept.txt"));
    raising::CreateFolders(folder_ / L"empty");
    tolerant::Remove(folder_ / L"empty");
    EXPECT_FALSE(IsThere(folder_ / L"empty"));
    tolerant::Remove(folder_ / L"missing"); // no error
}

TEST_F(FileCallsTest, RemoveTreeTellsWhetherAnythingIsLeft) {
    MakeFile(L"tree\\a\\b\\c.txt");
    EXPECT_TRUE(tolerant::RemoveTree(folder_ / L"tree"));
    EXPECT_FALSE(IsThere(folder_ / L"tree"));
    EXPECT_TRUE(tolerant::RemoveTree(folder_ / L"tree")); // nothing there is nothing left

    const std::wstring held = MakeFile(L"tree\\held.txt");
    UniqueHandle holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(Valid(holder));
    EXPECT_FALSE(tolerant::RemoveTree(folder_ / L"tree"));
    EXPECT_TRUE(IsThere(held));
}

// Paths around the classic 260-character limit: the layer must create, test,
// move and remove them like any other.
TEST_F(FileCallsTest, HandlesPathsAroundTheClassicLengthLimit) {
    std::wstring deep = folder_ / L"long";
    const std::wstring element(40, L'd');
    while (deep.size() < 330) {
        deep = JoinPath(deep, element);
    }
    raising::CreateFolders(deep);
    EXPECT_TRUE(raising::IsFolder(deep));
    const std::wstring file = JoinPath(deep, L"Movora.exe");
    ASSERT_GT(file.size(), static_cast<size_t>(MAX_PATH));
    UniqueHandle created(CreateFileW(WindowsPathArgument(file).c_str(), GENERIC_WRITE, 0, nullptr,
                                     CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(Valid(created));
    created.reset();
    EXPECT_TRUE(raising::Exists(file));

    const std::wstring moved = JoinPath(deep, L"Moved.exe");
    raising::Rename(file, moved);
    EXPECT_TRUE(raising::Exists(moved));
    EXPECT_FALSE(raising::Exists(file));

    EXPECT_TRUE(tolerant::RemoveTree(folder_ / L"long"));
    EXPECT_FALSE(raising::Exists(folder_ / L"long"));
}

TEST_F(FileCallsTest, MakeAbsoluteResolvesOrGivesEmpty) {
    EXPECT_EQ(tolerant::MakeAbsolute(L"C:/x/./y/../MovoraSetup.exe"), L"C:\\x\\MovoraSetup.exe");
    EXPECT_EQ(tolerant::MakeAbsolute(L""), L"");
}

TEST(NotThereErrors, CountOnlyMissingPaths) {
    for (DWORD code : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_DRIVE}) {
        EXPECT_TRUE(IsNotThereError(code)) << code;
    }
    for (DWORD code : {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_SUCCESS}) {
        EXPECT_FALSE(IsNotThereError(code)) << code;
    }
}

// The test seam fails exactly the armed call, the way a refusal by Windows
// would, and leaves every other call alone.
TEST_F(FileCallsTest, ArmedFaultFailsExactlyThatCall) {
    const std::wstring file = MakeFile(L"here.txt");

    file_faults::Arm(1, ERROR_ACCESS_DENIED);
    EXPECT_TRUE(raising::Exists(file));                                  // call 0
    const FileError error = CaughtError([&] { raising::Exists(file); }); // call 1
    EXPECT_EQ(error.code, static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(error.path, file);
    EXPECT_TRUE(raising::Exists(file)); // call 2
    EXPECT_EQ(file_faults::CallsSinceArmed(), 3);

    // A "not there" fault makes an existence test answer false instead.
    file_faults::Arm(0, ERROR_PATH_NOT_FOUND);
    EXPECT_FALSE(raising::Exists(file));

    // Tolerant forms do nothing and report failure where they return a result.
    file_faults::Arm(0, ERROR_ACCESS_DENIED);
    tolerant::Remove(file);
    EXPECT_TRUE(IsThere(file));
    file_faults::Arm(0, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(tolerant::CopyFileOver(file, folder_ / L"copy.txt"));
    EXPECT_FALSE(IsThere(folder_ / L"copy.txt"));
    file_faults::Arm(0, ERROR_ACCESS_DENIED);
    EXPECT_FALSE(tolerant::RemoveTree(file));
    EXPECT_TRUE(IsThere(file));

    file_faults::Disarm();
    tolerant::Remove(file);
    EXPECT_FALSE(IsThere(file));
}

} // namespace
