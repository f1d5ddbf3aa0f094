#include "tests/window/window_fixture.h"

#include "shell/worker_thread.h"
#include "shell/jobs.h"
#include "shell/window/fonts.h"
#include "shell/window/window_proc.h"
#include "tests/support/x_input.h"

namespace window_testing {

DpiFonts::DpiFonts(UINT dpi) : savedDpi_(g_app.dpi) {
    g_app.dpi = dpi;
    CreateFonts();
}

DpiFonts::~DpiFonts() {
    DeleteFonts();
    g_app.dpi = savedDpi_;
}

PaintInputs PaintInputsFor(WindowMode mode, JobPhase phase) {
    PaintInputs in;
    in.uninstallMode = mode == WindowMode::Uninstall;
    in.updateMode = mode == WindowMode::Update;
    in.titleFont = g_app.titleFont;
    in.bodyFont = g_app.bodyFont;
    in.smallFont = g_app.smallFont;
    in.buttonFont = g_app.buttonFont;
    in.dpi = g_app.dpi;
    in.phase = phase;
    in.statusMessage = L"Status text.";
    return in;
}

std::string ShortName(JobPhase phase) {
    switch (phase) {
    case Checking:
        return "Checking";
    case Ready:
        return "Ready";
    case Working:
        return "Working";
    case Done:
        return "Done";
    case Failed:
        return "Failed";
    }
    return "Phase" + std::to_string(static_cast<int>(phase));
}

std::string ShortName(WindowMode mode) {
    switch (mode) {
    case WindowMode::Install:
        return "Install";
    case WindowMode::Update:
        return "Update";
    case WindowMode::Uninstall:
        return "Uninstall";
    }
    return "Mode";
}

StatusSnapshot::StatusSnapshot()
    : updateMode_(g_app.updateMode), uninstallMode_(g_app.uninstallMode), feedUrl_(g_app.feedUrl) {
    StatusGuard lock(g_app.statusMutex);
    latestVersion_ = g_app.latestVersion;
    releaseNotes_ = g_app.releaseNotes;
    packageUrl_ = g_app.packageUrl;
    packageSha256_ = g_app.packageSha256;
    statusMessage_ = g_app.statusMessage;
    appExePath_ = g_app.appExePath;
    progressPercent_ = g_app.progressPercent;
    phase_ = g_app.phase;
}

StatusSnapshot::~StatusSnapshot() {
    g_app.updateMode = updateMode_;
    g_app.uninstallMode = uninstallMode_;
    g_app.feedUrl = feedUrl_;
    StatusGuard lock(g_app.statusMutex);
    g_app.latestVersion = latestVersion_;
    g_app.releaseNotes = releaseNotes_;
    g_app.packageUrl = packageUrl_;
    g_app.packageSha256 = packageSha256_;
    g_app.statusMessage = statusMessage_;
    g_app.appExePath = appExePath_;
    g_app.progressPercent = progressPercent_;
    g_app.phase = phase_;
}

Status CurrentStatus() {
    StatusGuard lock(g_app.statusMutex);
    return Status{g_app.phase, g_app.statusMessage, g_app.progressPercent};
}

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow += c < 128 ? static_cast<char>(c) : '?';
    }
    return narrow;
}

void SetStatus(JobPhase phase, const std::wstring& message, const std::wstring& packageUrl) {
    StatusGuard lock(g_app.statusMutex);
    g_app.phase = phase;
    g_app.statusMessage = message;
    g_app.packageUrl = packageUrl;
}

bool WaitForJobEnd(DWORD timeoutMs) {
    const bool ended =
        testing_support::PumpUntil([] { return !g_app.jobActive.load(); }, timeoutMs);
    if (ended) {
        JoinWorkerThread();
    }
    return ended;
}

void FeedServerTest::SetUp() {
    ASSERT_TRUE(server_.Start());
    server_.Script(kFeedPath, testing_support::ScriptedResponse{200, FeedDocument()});
    g_app.feedUrl = server_.Url(kFeedPath);
    g_app.cancelRequested.store(false);
    SetStatus(Checking, L"Looking up the current version.", L"");
    StatusGuard lock(g_app.statusMutex);
    g_app.progressPercent = 0;
    g_app.latestVersion.clear();
    g_app.releaseNotes.clear();
    g_app.appExePath.clear();
}

void FeedServerTest::TearDown() {
    // No job of this test may outlive its server.
    CancelAndJoinWorker();
    g_app.cancelRequested.store(false);
    server_.Stop();
}

std::string FeedServerTest::FeedDocument() const {
    return R"({"version": "2.0.0", "package": ")" + Narrow(PackageUrl()) +
           R"(", "notes": "Quicker start & smaller clips.", "sha256": ""})";
}

std::wstring FeedServerTest::PackageUrl() const {
    return server_.Url(kPackagePath);
}

int FeedServerTest::RequestsFor(const std::string& path) const {
    int count = 0;
    for (const testing_support::RecordedRequest& request : server_.Requests()) {
        count += request.target == path ? 1 : 0;
    }
    return count;
}

void SetupWindowTest::SetUp() {
    FeedServerTest::SetUp();
    g_app.updateMode = false;
    g_app.uninstallMode = false;
    g_app.primaryHover = false;
    g_app.closeHover = false;
    g_app.appLaunched = false;
    g_app.closeButtonRect = RECT{};
    g_app.primaryButtonRect = RECT{};
}

void SetupWindowTest::TearDown() {
    if (WindowAlive()) {
        DestroyWindow(window_);
    }
    int exitCode = 0;
    testing_support::TakeQuitMessage(exitCode);
    DeleteFonts();
    g_app.dpi = 96;
    FeedServerTest::TearDown();
}

void SetupWindowTest::OpenSetupWindow(WindowMode mode, DWORD style) {
    g_app.uninstallMode = mode == WindowMode::Uninstall;
    g_app.updateMode = mode == WindowMode::Update;
    static const bool registered = [] {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = SetupWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.lpszClassName = L"MovoraSetupUnderTest";
        return RegisterClassW(&windowClass) != 0;
    }();
    ASSERT_TRUE(registered);
    window_ =
        CreateWindowExW(WS_EX_APPWINDOW, L"MovoraSetupUnderTest", L"Movora Setup", WS_POPUP | style,
                        0, 0, 480, 560, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
}

void SetupWindowTest::CreateSetupWindow(WindowMode mode) {
    ASSERT_NO_FATAL_FAILURE(OpenSetupWindow(mode));
    UpdateWindow(window_);
    ASSERT_TRUE(WaitForJobEnd());
    UpdateWindow(window_);
    ASSERT_EQ(g_app.primaryButtonRect, (RECT{28, 496, 176, 532}));
}

LRESULT SetupWindowTest::Send(UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = SendMessageW(window_, message, wParam, lParam);
    if (WindowAlive()) {
        UpdateWindow(window_);
    }
    return result;
}

} // namespace window_testing
