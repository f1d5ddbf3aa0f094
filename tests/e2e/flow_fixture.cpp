#include "tests/e2e/flow_fixture.h"

#include "install/locations.h"
#include "shell/window/palette.h"
#include "system/uninstall_entry.h"
#include "tests/system/system_fixture.h"
#include "tests/support/x_input.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;
using namespace testing_support;
using namespace install_testing;

namespace e2e_testing {

std::vector<std::wstring> TextsDrawnIn(const std::vector<DrawnText>& drawn, const RECT& rect) {
    std::vector<std::wstring> texts;
    for (const DrawnText& d : drawn) {
        if (EqualRect(&d.rect, &rect) && (texts.empty() || texts.back() != d.text)) {
            texts.push_back(d.text);
        }
    }
    return texts;
}

bool InOrderWithin(const std::vector<std::wstring>& seen,
                   const std::vector<std::wstring>& expected) {
    auto next = expected.begin();
    for (const std::wstring& text : seen) {
        next = std::find(next, expected.end(), text);
        if (next == expected.end()) {
            return false;
        }
    }
    return true;
}

std::string Narrow(const std::wstring& text) {
    return fs::path(text).string();
}

std::string Describe(const std::vector<std::wstring>& texts) {
    std::string described;
    for (const std::wstring& text : texts) {
        described += "\"" + Narrow(text) + "\" ";
    }
    return described;
}

int ProgressFillWidth(const Screenshot& shot) {
    const int row = (kProgressTrackRect.top + kProgressTrackRect.bottom) / 2;
    return shot.Count(RECT{kProgressTrackRect.left, row, kProgressTrackRect.right, row + 1},
                      colours::kAccent);
}

bool ButtonLooksEnabled(const Screenshot& shot) {
    // A corner of the button, away from its label.
    const COLORREF colour = shot.Pixel(kButtonRect.left + 2, kButtonRect.top + 2);
    return colour == colours::kAccent || colour == colours::kAccentHover;
}

void SetupFlowTest::SetUp() {
    SequenceTest::SetUp();
    EndUninstallCopies();
    ASSERT_TRUE(CopyFileW(BuiltProgram(L"MovoraSetup.exe").c_str(), exe_.c_str(), FALSE))
        << "cannot copy the program under test: " << GetLastError();
}

void SetupFlowTest::TearDown() {
    // Whatever the result: no setup process of this test outlives it, nor
    // the uninstall copy it may have made. The install root's processes (the
    // app, the setup copy) are ended by the base fixture.
    KillProcessesInside(folder_.path());
    EndUninstallCopies();
    setup_ = StartedProcess{};
    SequenceTest::TearDown();
}

void SetupFlowTest::EndUninstallCopies() {
    for (const DWORD id : FindProcessesByImage(GetUninstallCopyPath())) {
        KillProcess(id);
    }
    DeleteFileW(GetUninstallCopyPath().c_str());
}

void SetupFlowTest::ServeList(const std::string& version, const std::string& packagePath,
                              const std::string& sha256) {
    std::string list = R"({"version": ")" + version + R"(", "package": ")" +
                       Narrow(server_.Url(packagePath)) + "\"";
    if (!sha256.empty()) {
        list += R"(, "sha256": ")" + sha256 + "\"";
    }
    list += R"(, "notes": ")" + std::string(kNotes) + "\"}";
    server_.Script(kListPath, ScriptedResponse{200, list});
}

std::string SetupFlowTest::ServeRelease(const TestRelease& release, ScriptedResponse package) {
    const std::string path = "/releases/Movora-" + release.version + ".zip";
    if (package.body.empty()) {
        package.body = ZipBytes(release.entries);
    }
    const std::string sha256 = Sha256Hex(package.body);
    server_.Script(path, package);
    ServeList(release.version, path, sha256);
    return path;
}

std::string SetupFlowTest::ServeSigned(const TestRelease& release, TestKey key) {
    const std::string packagePath = ServeRelease(release);
    const ReleaseListValues values{release.version, Narrow(server_.Url(packagePath)), kNotes,
                                   Sha256Hex(ZipBytes(release.entries))};
    server_.Script(kListPath, ScriptedResponse{200, SignedReleaseList(values, key)});
    return packagePath;
}

int SetupFlowTest::RequestsFor(const std::string& path) const {
    const std::vector<RecordedRequest> requests = server_.Requests();
    return static_cast<int>(
        std::count_if(requests.begin(), requests.end(),
                      [&](const RecordedRequest& r) { return r.target == path; }));
}

void SetupFlowTest::StartSetup(const std::wstring& arguments) {
    setup_ = StartWithTextTrace(exe_, L"--feed " + server_.Url(kListPath) + arguments, log_);
    ASSERT_TRUE(setup_.process);
    window_ = WaitForProcessWindow(setup_.id, L"MovoraSetup", kFlowTimeoutMs);
    ASSERT_NE(window_, nullptr) << "the setup window did not show";
}

void SetupFlowTest::AttachTo(DWORD processId) {
    setup_.process.reset(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    setup_.id = processId;
    ASSERT_TRUE(setup_.process) << "cannot open process " << processId;
    window_ = WaitForProcessWindow(processId, L"MovoraSetup", kFlowTimeoutMs);
    ASSERT_NE(window_, nullptr) << "the setup window did not show";
}

void SetupFlowTest::StartRegisteredUninstall() {
    const std::wstring command =
        system_testing::ReadRegistryValue(kUninstallEntryKey, L"UninstallString").Text();
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(command.c_str(), &argc);
    ASSERT_NE(argv, nullptr);
    const ScopeExit freeArguments([argv] { LocalFree(argv); });
    ASSERT_EQ(argc, 2) << Narrow(command);
    const std::wstring program = argv[0];
    EXPECT_EQ(_wcsicmp(program.c_str(), Root(L"MovoraSetup.exe").c_str()), 0) << Narrow(program);
    const std::wstring exitCode = folder_ / L"exit-code";
    ASSERT_TRUE(LaunchWithTextTrace(program, argv[1], log_, exitCode));

    EXPECT_EQ(ReadExitCodeFile(exitCode, kFlowTimeoutMs), 0u);
    const DWORD copy = WaitForProcess(GetUninstallCopyPath());
    ASSERT_NE(copy, 0u) << "no uninstall copy runs";
    ASSERT_NO_FATAL_FAILURE(AttachTo(copy));
}

std::vector<DrawnText> SetupFlowTest::Drawn() const {
    return ReadTextTrace(log_);
}

std::optional<std::wstring> SetupFlowTest::Shown(const RECT& rect) const {
    const std::vector<std::wstring> texts = TextsDrawnIn(Drawn(), rect);
    if (texts.empty()) {
        return std::nullopt;
    }
    return texts.back();
}

bool SetupFlowTest::WaitUntilShown(const RECT& rect, const std::wstring& text,
                                   DWORD timeoutMs) const {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (Shown(rect) == text) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            ADD_FAILURE() << "\"" << Narrow(text) << "\" was not shown; drawn there: "
                          << Describe(TextsDrawnIn(Drawn(), rect));
            return false;
        }
        Sleep(50);
    }
}

Screenshot SetupFlowTest::Shot(const std::string& phase) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(test->test_suite_name()) + "." + test->name() + "-" + phase;
    std::replace(name.begin(), name.end(), '/', '-');
    const fs::path folder = fs::path(ExeFolder()).parent_path() / "screenshots";
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    const std::wstring png = (folder / (name + ".png")).wstring();
    if (!CaptureWindow(window_, png)) {
        ADD_FAILURE() << "no picture of the window for " << phase;
        return Screenshot{};
    }
    return LoadScreenshot(png);
}

void SetupFlowTest::PressKey(const std::string& key) {
    const unsigned long xWindow = XWindowOf(window_);
    ASSERT_NE(xWindow, 0ul) << "the window has no X window";
    RunXdotool("key --window " + std::to_string(xWindow) + " " + key);
}

void SetupFlowTest::Click(POINT client) {
    RunXdotool("mousemove " + ScreenArgs(window_, client) + " click 1");
}

void SetupFlowTest::ClickPrimaryButton() {
    Click(POINT{(kButtonRect.left + kButtonRect.right) / 2,
                (kButtonRect.top + kButtonRect.bottom) / 2});
}

bool SetupFlowTest::WaitForDownloadedBytes(std::uintmax_t bytes) const {
    const ULONGLONG deadline = GetTickCount64() + kFlowTimeoutMs;
    for (;;) {
        const std::vector<std::wstring> files = PackageFilesInTemp();
        std::error_code error;
        if (files.size() == 1 && fs::file_size(files.front(), error) >= bytes && !error) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            ADD_FAILURE() << "no package file of " << bytes << " bytes in the temporary folder";
            return false;
        }
        Sleep(20);
    }
}

DWORD SetupFlowTest::WaitForSetupExit(DWORD timeoutMs) {
    return WaitForExitCode(setup_.process.get(), timeoutMs);
}

DWORD SetupFlowTest::WaitForProcess(const std::wstring& imagePath, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        const std::vector<DWORD> ids = FindProcessesByImage(imagePath);
        if (ids.size() == 1) {
            return ids.front();
        }
        if (GetTickCount64() >= deadline) {
            return 0;
        }
        Sleep(50);
    }
}

} // namespace e2e_testing
