// Binding system DLLs: only ever from the system folder.
#include "feed/cng_calls.h"
#include "feed/winhttp_calls.h"
#include "shell/system_library.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

namespace {

using testing_support::BuiltProgram;

bool IsThere(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A DLL that lies next to this test program but not in the system folder:
// what a page could drop into a Downloads folder beside the setup program.
class PlantedDllTest : public ::testing::Test {
  protected:
    void SetUp() override {
        planted_ = BuiltProgram(L"movora-planted-test.dll");
        ASSERT_TRUE(
            CopyFileW(BuiltProgram(L"planted_marker.dll").c_str(), planted_.c_str(), FALSE));
        DeleteFileW(Marker().c_str());
    }
    void TearDown() override {
        DeleteFileW(Marker().c_str());
        DeleteFileW(planted_.c_str()); // fails while loaded; harmless
    }
    std::wstring Marker() const { return planted_ + L".loaded"; }

    std::wstring planted_;
};

TEST_F(PlantedDllTest, SystemLoadNeverTakesTheProgramsOwnFolder) {
    EXPECT_EQ(LoadSystemLibrary(L"movora-planted-test.dll"), nullptr);
    EXPECT_FALSE(IsThere(Marker()));

    // The same name through the ordinary search does load it, with the marker:
    // the check above can see a planted load.
    HMODULE loaded = LoadLibraryW(L"movora-planted-test.dll");
    ASSERT_NE(loaded, nullptr);
    EXPECT_TRUE(IsThere(Marker()));
    FreeLibrary(loaded);
}

// A late load that the system folder lacks is skipped, never looked for
// beside the program, and the library itself still loads.
TEST_F(PlantedDllTest, LateLoadMissingFromTheSystemFolderIsSkipped) {
    const wchar_t* const lateLoads[] = {L"movora-planted-test.dll"};
    EXPECT_EQ(LoadSystemLibraryAndLateLoads(L"kernel32.dll", lateLoads, 1),
              GetModuleHandleW(L"kernel32.dll"));
    EXPECT_FALSE(IsThere(Marker()));
}

TEST(SystemLibrary, BindsTheTransferAndHashingEntryPoints) {
    const WinHttpCalls* http = GetWinHttpCalls();
    ASSERT_NE(http, nullptr);
    EXPECT_NE(http->open, nullptr);
    EXPECT_NE(http->closeHandle, nullptr);
    EXPECT_EQ(GetWinHttpCalls(), http) << "bound once";

    const CngCalls* cng = GetCngCalls();
    ASSERT_NE(cng, nullptr);
    EXPECT_NE(cng->hashData, nullptr);

    // They come from the system folder's copies, and so does what WinHTTP
    // loads by name later, already in memory once it is bound.
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    for (const wchar_t* name : {L"winhttp.dll", L"bcrypt.dll", L"crypt32.dll", L"secur32.dll"}) {
        SCOPED_TRACE(testing::Message() << name);
        wchar_t path[MAX_PATH] = {};
        ASSERT_GT(GetModuleFileNameW(GetModuleHandleW(name), path, MAX_PATH), 0u);
        EXPECT_EQ(_wcsnicmp(path, system, wcslen(system)), 0);
    }
}

TEST(SystemLibrary, UnknownDllIsNull) {
    EXPECT_EQ(LoadSystemLibrary(L"movora-no-such-library.dll"), nullptr);
    HMODULE kernel = LoadSystemLibrary(L"kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    decltype(&GetTickCount64) tick = nullptr;
    EXPECT_TRUE(BindEntryPoint(kernel, "GetTickCount64", tick));
    EXPECT_NE(tick, nullptr);
    EXPECT_FALSE(BindEntryPoint(kernel, "MovoraNoSuchEntryPoint", tick));
    EXPECT_EQ(tick, nullptr);
}

} // namespace
