// The tolerant tree removal: whole trees, read-only entries, entries held
// open, and links that must never take what they point to with them.
#include "install/fs_calls.h"

#include "tests/system/system_fixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using system_testing::MakeFolderLink;
using system_testing::RemoveLeftLink;

namespace {

class RemoveTreeTest : public ::testing::Test {
  protected:
    std::wstring Make(const std::wstring& relative, const std::string& bytes = "data") {
        const fs::path path = fs::path(folder_.path()) / relative;
        fs::create_directories(path.parent_path());
        testing_support::WriteFileBytes(path.wstring(), bytes);
        return path.wstring();
    }

    testing_support::TempFolder folder_;
};

TEST_F(RemoveTreeTest, RemovesNestedFoldersAndReadOnlyEntries) {
    Make(L"tree\\a.txt");
    const std::wstring readOnlyFile = Make(L"tree\\sub\\deeper\\locked.txt");
    const std::wstring readOnlyFolder = folder_ / L"tree\\sub";
    ASSERT_TRUE(SetFileAttributesW(readOnlyFile.c_str(), FILE_ATTRIBUTE_READONLY));
    SetFileAttributesW(readOnlyFolder.c_str(), FILE_ATTRIBUTE_READONLY);

    tolerant::RemoveTree(folder_ / L"tree");
    EXPECT_FALSE(fs::exists(folder_ / L"tree"));
}

TEST_F(RemoveTreeTest, SingleFileAndMissingPath) {
    const std::wstring file = Make(L"single.bin");
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    tolerant::RemoveTree(file);
    EXPECT_FALSE(fs::exists(file));
    tolerant::RemoveTree(folder_ / L"missing\\deeper"); // no error, nothing happens
    EXPECT_TRUE(fs::exists(folder_.path()));
}

TEST_F(RemoveTreeTest, HeldFileStopsTheRemovalAndKeepsItsAttribute) {
    const std::wstring held = Make(L"tree\\held.log");
    ASSERT_TRUE(SetFileAttributesW(held.c_str(), FILE_ATTRIBUTE_READONLY));
    UniqueHandle holder = system_testing::HoldOpen(held);
    ASSERT_TRUE(Valid(holder));

    tolerant::RemoveTree(folder_ / L"tree");
    EXPECT_TRUE(fs::exists(held));
    EXPECT_TRUE(fs::exists(folder_ / L"tree"));
    // The removal cleared the attribute to try; it must put it back.
    EXPECT_NE(GetFileAttributesW(held.c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    holder.reset();
    tolerant::RemoveTree(folder_ / L"tree");
    EXPECT_FALSE(fs::exists(folder_ / L"tree"));
}

TEST_F(RemoveTreeTest, LinkInsideTheTreeNeverTakesItsTarget) {
    const std::wstring precious = Make(L"elsewhere\\precious.txt");
    Make(L"tree\\logs\\a.log");
    const std::wstring link = folder_ / L"tree\\logs\\linked";
    const std::wstring topLink = folder_ / L"toplink";
    ScopeExit removeLinks([&] {
        RemoveLeftLink(link);
        RemoveLeftLink(topLink);
    });
    if (!MakeFolderLink(link, folder_ / L"elsewhere")) {
        GTEST_SKIP() << "this platform makes no folder links";
    }
    ASSERT_TRUE(fs::exists(link + L"\\precious.txt")) << "the link does not lead to its target";

    tolerant::RemoveTree(folder_ / L"tree");
    EXPECT_TRUE(fs::exists(precious));
    // Either the link went (Windows removes the link itself) or the removal
    // stopped at it (Wine cannot remove a host link); never further.
    EXPECT_TRUE(!fs::exists(folder_ / L"tree") || tolerant::IsLink(link));

    // The tree itself being a link: only the link may go.
    ASSERT_TRUE(MakeFolderLink(topLink, folder_ / L"elsewhere"));
    tolerant::RemoveTree(topLink);
    EXPECT_TRUE(fs::exists(precious));
}

} // namespace
