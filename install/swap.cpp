#include "install/swap.h"

#include "install/fs_calls.h"
#include "install/locations.h"

namespace {

constexpr wchar_t kCloseMovora[] = L"Close Movora, then try again.";
constexpr wchar_t kMoveInFailed[] = L"The new files could not be moved into place.";

// Moves the old release back after the new one could not be moved in.
// Raises when the folders cannot be examined or the move is refused. A cancel
// does not cut it short: given up, it would leave no app folder at all.
void MoveBack(const std::wstring& app, const std::wstring& previous) {
    if (raising::Exists(previous) && !raising::Exists(app)) {
        raising::Rename(previous, app, OnCancel::KeepTrying);
    }
}

} // namespace

bool SwapInRelease(const std::wstring& installRoot, const std::wstring& unpacked,
                   std::wstring& error) {
    const std::wstring app = JoinPath(installRoot, kAppFolderName);
    const std::wstring previous = JoinPath(installRoot, kPreviousFolderName);
    const std::wstring staging = JoinPath(installRoot, kStagingFolderName);

    const bool previousCleared = tolerant::RemoveTree(previous);
    bool movedAside = false;
    try {
        if (raising::Exists(app)) {
            // A folder cannot take the name of one that is still there, so
            // the rename would only wait out its time for nothing.
            if (!previousCleared) {
                error = kCloseMovora;
                return false;
            }
            raising::Rename(app, previous);
            movedAside = true;
        }
    } catch (const FileError&) {
        error = kCloseMovora;
        return false;
    }

    try {
        raising::Rename(unpacked, app);
    } catch (const FileError&) {
        // Only a folder this call moved aside goes back: a leftover that the
        // removal above could not take completely is no whole release.
        if (movedAside) {
            try {
                MoveBack(app, previous);
            } catch (const FileError&) {
                // The old release stays whole in "app.previous"; the next
                // install moves it back before anything else.
            }
        }
        error = kMoveInFailed;
        return false;
    }
    if (!PathsEqual(unpacked, staging)) {
        tolerant::RemoveTree(staging);
    }
    tolerant::RemoveTree(previous);
    return true;
}
