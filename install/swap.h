// Swapping an unpacked release into the app folder while the old one waits
// aside: renames only, so an interrupted swap leaves one whole release on disk.
#pragma once

#include <string>

// Moves the app folder of installRoot to "app.previous", moves unpacked (the
// staging folder or a folder directly inside it) to the app folder, and then
// removes what is left of the staging folder and the previous folder (best
// effort). A leftover "app.previous" is removed first, as far as it goes.
// Every rename and removal tries again while another program holds a file
// for a moment (see fs_calls.h); the sentences below come only once its time
// is up. A cancel ends those waits, except for the move back, which a cancel
// must not leave undone.
// Returns true when unpacked is the app folder; error is then untouched.
// Returns false with:
//   "Close Movora, then try again."  the app folder could not be moved aside
//       (or examined); it is untouched.
//   "The new files could not be moved into place."  the old release is moved
//       back when this call moved it aside (never a leftover that was there
//       before); if even that is refused it stays whole in "app.previous",
//       where the next install finds it.
// Never throws.
bool SwapInRelease(const std::wstring& installRoot, const std::wstring& unpacked,
                   std::wstring& error);
