#include "tests/window/window_fixture.h"

#include "shell/window/fonts.h"

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
    std::lock_guard<std::mutex> lock(g_app.statusMutex);
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
    std::lock_guard<std::mutex> lock(g_app.statusMutex);
    g_app.latestVersion = latestVersion_;
    g_app.releaseNotes = releaseNotes_;
    g_app.packageUrl = packageUrl_;
    g_app.packageSha256 = packageSha256_;
    g_app.statusMessage = statusMessage_;
    g_app.appExePath = appExePath_;
    g_app.progressPercent = progressPercent_;
    g_app.phase = phase_;
}

} // namespace window_testing
