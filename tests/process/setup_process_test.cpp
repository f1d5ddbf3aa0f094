// Starts the real MovoraSetup.exe and checks its process, window and files.
#include "install/locations.h"
#include "tests/support/http_test_server.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

constexpr DWORD kStartTimeoutMs = 20000;

std::string ReadAll(const std::wstring& path) {
    std::ifstream in(fs::path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

// The window has the given size and stands centred in the work area (the
// pointer starts on the primary monitor under the virtual display).
void ExpectCentredWindow(HWND window, LONG width, LONG height) {
    RECT rect{};
    GetWindowRect(window, &rect);
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(rect.right - rect.left, width);
    EXPECT_EQ(rect.bottom - rect.top, height);
    EXPECT_EQ(rect.left, work.left + (work.right - work.left - width) / 2);
    EXPECT_EQ(rect.top, work.top + (work.bottom - work.top - height) / 2);
}

// Closes the window the way the system close command does and expects a
// normal end of the process.
void CloseAndExpectExitZero(const StartedProcess& setup, HWND window) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExitCode(setup.process.get(), kStartTimeoutMs), 0u);
}

class SetupProcessTest : public ::testing::Test {
  protected:
    void SetUp() override { RemoveLeftovers(); }
    void TearDown() override { RemoveLeftovers(); }

    // Nothing a test started may outlive it, nor what an earlier test that
    // timed out left behind.
    static void RemoveLeftovers() {
        for (const std::wstring& image :
             {GetUninstallCopyPath(), JoinPath(GetInstallRoot(), L"MovoraSetup.exe")}) {
            for (DWORD id : FindProcessesByImage(image)) {
                KillProcess(id);
            }
        }
        std::error_code ignored;
        fs::remove(GetUninstallCopyPath(), ignored);
        fs::remove_all(GetInstallRoot(), ignored);
    }
};

TEST_F(SetupProcessTest, OpensACentredWindowAndExitsZeroWhenClosed) {
    StartedProcess setup = StartProcess(Quoted(BuiltProgram(L"MovoraSetup.exe")));
    ASSERT_TRUE(setup.process);
    HWND window = WaitForProcessWindow(setup.id, L"MovoraSetup", kStartTimeoutMs);
    ASSERT_NE(window, nullptr);

    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"Movora Setup");
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & (WS_POPUP | WS_CAPTION | WS_THICKFRAME),
              WS_POPUP);
    EXPECT_TRUE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);

    ExpectCentredWindow(window, 480, 560);
    CloseAndExpectExitZero(setup, window);
}

TEST_F(SetupProcessTest, UninstallFromOutsideTheInstallRootOpensTheWindowDirectly) {
    std::error_code ignored;
    fs::remove(GetUninstallCopyPath(), ignored);

    StartedProcess setup = StartProcess(Quoted(BuiltProgram(L"MovoraSetup.exe")) + L" --UnInstall");
    ASSERT_TRUE(setup.process);
    HWND window = WaitForProcessWindow(setup.id, L"MovoraSetup", kStartTimeoutMs);
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(fs::exists(GetUninstallCopyPath()));
    CloseAndExpectExitZero(setup, window);
}

TEST_F(SetupProcessTest, UninstallFromInsideTheInstallRootHandsOverToATemporaryCopy) {
    const std::wstring installed = JoinPath(GetInstallRoot(), L"MovoraSetup.exe");
    ASSERT_TRUE(CopyFileW(BuiltProgram(L"MovoraSetup.exe").c_str(), installed.c_str(), FALSE));
    // An older copy in the temporary folder is overwritten.
    WriteFileBytes(GetUninstallCopyPath(), "stale copy");

    StartedProcess setup =
        StartProcess(Quoted(installed) + L" --feed https://example.invalid/x --uninstall --update");
    ASSERT_TRUE(setup.process);
    EXPECT_EQ(WaitForExitCode(setup.process.get(), kStartTimeoutMs), 0u);
    EXPECT_EQ(WaitForProcessWindow(setup.id, L"MovoraSetup", 0), nullptr);

    EXPECT_TRUE(ReadAll(GetUninstallCopyPath()) == ReadAll(installed))
        << "the temporary copy differs from the running executable";

    // The copy runs with "--uninstall" alone and, lying outside the install
    // root, opens the window itself.
    std::vector<DWORD> copies;
    for (int i = 0; i < 100 && copies.empty(); ++i) {
        copies = FindProcessesByImage(GetUninstallCopyPath());
        Sleep(100);
    }
    ASSERT_EQ(copies.size(), 1u);
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetProcessCommandLine(copies[0]).c_str(), &argc);
    ASSERT_NE(argv, nullptr);
    ASSERT_EQ(argc, 2) << fs::path(GetProcessCommandLine(copies[0])).string();
    EXPECT_STREQ(argv[1], L"--uninstall");
    LocalFree(argv);

    HWND window = WaitForProcessWindow(copies[0], L"MovoraSetup", kStartTimeoutMs);
    EXPECT_NE(window, nullptr);
}

TEST_F(SetupProcessTest, StaysInThisProcessWhenTheTemporaryCopyIsLocked) {
    const std::wstring installed = JoinPath(GetInstallRoot(), L"MovoraSetup.exe");
    ASSERT_TRUE(CopyFileW(BuiltProgram(L"MovoraSetup.exe").c_str(), installed.c_str(), FALSE));
    WriteFileBytes(GetUninstallCopyPath(), "locked copy");
    UniqueHandle lock(CreateFileW(GetUninstallCopyPath().c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(Valid(lock));

    StartedProcess setup = StartProcess(Quoted(installed) + L" --uninstall");
    ASSERT_TRUE(setup.process);
    HWND window = WaitForProcessWindow(setup.id, L"MovoraSetup", kStartTimeoutMs);
    ASSERT_NE(window, nullptr);
    lock.reset();
    EXPECT_EQ(ReadAll(GetUninstallCopyPath()), "locked copy");
    CloseAndExpectExitZero(setup, window);
}

TEST_F(SetupProcessTest, AQuitMessageFromOutsideEndsTheProcessWithItsCode) {
    StartedProcess setup = StartProcess(Quoted(BuiltProgram(L"MovoraSetup.exe")));
    ASSERT_TRUE(setup.process);
    HWND window = WaitForProcessWindow(setup.id, L"MovoraSetup", kStartTimeoutMs);
    ASSERT_NE(window, nullptr);
    // The loop ends while the window still exists: start-up destroys it and
    // joins any worker before it returns the quit code.
    ASSERT_TRUE(PostThreadMessageW(GetWindowThreadProcessId(window, nullptr), WM_QUIT, 7, 0));
    EXPECT_EQ(WaitForExitCode(setup.process.get(), kStartTimeoutMs), 7u);
}

// The default feed is set before the command line is read, so "--feed"
// replaces it: the release list is asked for where the option points.
TEST_F(SetupProcessTest, FeedOnTheCommandLineIsWhereTheReleaseListIsRead) {
    HttpTestServer server;
    ASSERT_TRUE(server.Start());
    server.Script("/elsewhere/list.json", ScriptedResponse{404, ""});
    StartedProcess setup = StartProcess(Quoted(BuiltProgram(L"MovoraSetup.exe")) + L" --feed " +
                                        server.Url("/elsewhere/list.json"));
    ASSERT_TRUE(setup.process);
    HWND window = WaitForProcessWindow(setup.id, L"MovoraSetup", kStartTimeoutMs);
    ASSERT_NE(window, nullptr);

    const ULONGLONG deadline = GetTickCount64() + kStartTimeoutMs;
    while (server.Requests().empty() && GetTickCount64() < deadline) {
        Sleep(50);
    }
    const std::vector<RecordedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u) << "the release list was not asked for here";
    EXPECT_EQ(requests[0].requestLine, "GET /elsewhere/list.json HTTP/1.1");
    EXPECT_EQ(requests[0].Header("User-Agent"), "MovoraSetup/0.1.0");
    CloseAndExpectExitZero(setup, window);
}

TEST_F(SetupProcessTest, WindowIsScaledAt144Dpi) {
    SystemDpi dpi(144);
    StartedProcess setup = StartProcess(Quoted(BuiltProgram(L"MovoraSetup.exe")));
    ASSERT_TRUE(setup.process);
    HWND window = WaitForProcessWindow(setup.id, L"MovoraSetup", kStartTimeoutMs);
    ASSERT_NE(window, nullptr);
    ExpectCentredWindow(window, 720, 840);
    CloseAndExpectExitZero(setup, window);
}

} // namespace
