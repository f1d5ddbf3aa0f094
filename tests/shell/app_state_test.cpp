#include "shell/app_state.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// A real top-level window on the test thread that receives the notifications.
class JobStatusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"JobStatusTestWindow";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, L"JobStatusTestWindow", L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        TakeStatusNotification();
        StatusGuard lock(g_app.statusMutex);
        g_app.phase = Checking;
        g_app.statusMessage = L"Looking up the current version.";
        g_app.progressPercent = 0;
    }

    void TearDown() override {
        g_app.window = nullptr;
        DestroyWindow(window_);
        DrainQueue();
        TakeStatusNotification();
    }

    // Counts the WM_STATUS_CHANGED messages waiting in this thread's queue and
    // checks that each carries no data.
    int TakeNotifications() {
        int count = 0;
        MSG message{};
        while (PeekMessageW(&message, nullptr, WM_STATUS_CHANGED, WM_STATUS_CHANGED, PM_REMOVE)) {
            EXPECT_EQ(message.hwnd, window_);
            EXPECT_EQ(message.wParam, 0u);
            EXPECT_EQ(message.lParam, 0);
            ++count;
        }
        return count;
    }

    void DrainQueue() {
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    HWND window_ = nullptr;
};

TEST_F(JobStatusTest, StartsWithTheCheckingStatus) {
    AppState fresh;
    EXPECT_EQ(fresh.phase, Checking);
    EXPECT_EQ(fresh.statusMessage, L"Looking up the current version.");
    EXPECT_EQ(fresh.progressPercent, 0);
    EXPECT_EQ(fresh.dpi, 96u);
    EXPECT_FALSE(fresh.cancelRequested.load());
    EXPECT_FALSE(fresh.jobActive.load());
    EXPECT_FALSE(fresh.worker);
    EXPECT_EQ(WM_STATUS_CHANGED, 0x8001u);
}

TEST_F(JobStatusTest, ResultStoresPhaseAndMessageButKeepsThePercentage) {
    g_app.window = window_;
    SetJobProgress(L"Downloading", 57);
    SetJobResult(Failed, L"The download stopped.");

    StatusGuard lock(g_app.statusMutex);
    EXPECT_EQ(g_app.phase, Failed);
    EXPECT_EQ(g_app.statusMessage, L"The download stopped.");
    EXPECT_EQ(g_app.progressPercent, 57);
}

TEST_F(JobStatusTest, ProgressStoresMessageAndPercentUnchangedButKeepsThePhase) {
    g_app.window = window_;
    SetJobResult(Working, L"Downloading");
    SetJobProgress(L"Installing", 150);

    StatusGuard lock(g_app.statusMutex);
    EXPECT_EQ(g_app.phase, Working);
    EXPECT_EQ(g_app.statusMessage, L"Installing");
    EXPECT_EQ(g_app.progressPercent, 150);
}

TEST_F(JobStatusTest, AnEmptyMessageClearsTheStatusLine) {
    SetJobResult(Ready, L"");
    StatusGuard lock(g_app.statusMutex);
    EXPECT_EQ(g_app.statusMessage, L"");
}

// One notification waits for the window at a time: changes made before the
// window takes it are in what it reads then, so they post nothing more.
TEST_F(JobStatusTest, ChangesPostOneNotificationUntilTheWindowTakesIt) {
    g_app.window = window_;
    SetJobResult(Working, L"Downloading");
    SetJobProgress(L"Downloading", 10);
    SetJobProgress(L"Downloading", 11);
    EXPECT_EQ(TakeNotifications(), 1);

    EXPECT_TRUE(TakeStatusNotification());
    EXPECT_FALSE(TakeStatusNotification()) << "taking it twice";
    SetJobProgress(L"Downloading", 12);
    EXPECT_EQ(TakeNotifications(), 1);
    EXPECT_TRUE(TakeStatusNotification());
    SetJobResult(Done, L"Movora is installed.");
    EXPECT_EQ(TakeNotifications(), 1);
}

TEST_F(JobStatusTest, ChangesFromAWorkerThreadReachTheWindow) {
    g_app.window = window_;
    std::thread worker([] {
        SetJobProgress(L"Downloading", 42);
        SetJobResult(Done, L"Movora is installed.");
    });
    worker.join();
    EXPECT_EQ(TakeNotifications(), 1);
    EXPECT_TRUE(TakeStatusNotification());
    StatusGuard lock(g_app.statusMutex);
    EXPECT_EQ(g_app.phase, Done);
    EXPECT_EQ(g_app.progressPercent, 42);
}

// A post that fails (here: to a window that is gone) leaves nothing pending,
// so the next change reaches a window again.
TEST_F(JobStatusTest, AFailedPostDoesNotBlockLaterNotifications) {
    HWND gone = CreateWindowExW(0, L"JobStatusTestWindow", L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(gone, nullptr);
    DestroyWindow(gone);
    g_app.window = gone;
    SetJobProgress(L"Downloading", 1);
    g_app.window = window_;
    SetJobProgress(L"Downloading", 2);
    EXPECT_EQ(TakeNotifications(), 1);
}

TEST_F(JobStatusTest, NothingIsPostedWithoutAWindow) {
    // PostMessageW with a null window would post a thread message to the
    // calling thread, so a missing test for null shows up in this queue.
    g_app.window = nullptr;
    SetJobResult(Working, L"Downloading");
    SetJobProgress(L"Downloading", 5);
    NotifyWindow();
    MSG message{};
    EXPECT_FALSE(PeekMessageW(&message, nullptr, WM_STATUS_CHANGED, WM_STATUS_CHANGED, PM_REMOVE));
    StatusGuard lock(g_app.statusMutex);
    EXPECT_EQ(g_app.progressPercent, 5);
}

TEST_F(JobStatusTest, WritersWaitForTheStatusMutex) {
    std::unique_lock<StatusLock> held(g_app.statusMutex);
    std::thread worker([] { SetJobResult(Done, L"Movora is installed."); });
    Sleep(200);
    EXPECT_EQ(g_app.phase, Checking) << "the phase changed while the mutex was held";
    EXPECT_EQ(g_app.statusMessage, L"Looking up the current version.");
    held.unlock();
    worker.join();
    StatusGuard lock(g_app.statusMutex);
    EXPECT_EQ(g_app.phase, Done);
}

} // namespace
