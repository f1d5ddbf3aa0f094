// The install and update sequence: download, verify, unpack, stop the app,
// swap the new release into place, register it.
#pragma once

#include <string>

// Installs the release that g_app names (packageUrl, latestVersion,
// packageSha256, copied once at the start). Runs on the worker thread and
// holds the setup lock throughout. Every FileError and std::exception becomes
// a false result; the job around it catches whatever else might come.
//
// Returns true when the new release is the app folder; the setup copy, the
// shortcuts and the Uninstall entry are then refreshed as far as they go
// (whatever they raise is swallowed) and g_app.appExePath is set; error is
// untouched. Once the swap is done the result is always true. Returns false
// with one sentence in error otherwise (none when memory runs out before the
// download):
//   "Another Movora setup is running."        another setup holds the lock;
//                                              nothing is touched
//   "Could not read the Movora folder."        the check for an interrupted
//                                              swap could not examine the
//                                              app folders; nothing is touched
//   "The earlier Movora could not be restored, so the update stopped."
//                                              an interrupted swap (no app
//                                              executable, a whole release in
//                                              "app.previous") found at the
//                                              start could not be put back
//   "Could not find a folder for the download." the temporary folder is unknown
//   the download's sentence, or "The download did not finish."
//   "Could not check the download."           the package could not be held
//                                              against changes by others (one
//                                              may write or delete it), or its
//                                              checksum could not be computed
//   "The download did not match its checksum."
//   "Could not prepare the install folder."   the install root or the staging
//                                              folder cannot be created
//   "Files left from an earlier install could not be removed."
//                                              the old staging folder stays
//   "Windows tar was not found, so the download could not be unpacked." /
//   "The download could not be unpacked."
//   "The download did not contain Movora."
//   "Movora is still running, so the update stopped." / "Cancelled."
//                                              a cancel seen after the
//                                              download ends the run before
//                                              the app is asked to quit
//   "Close Movora, then try again."           the app folder would not move aside
//   "The new files could not be moved into place."
//                                              the old release is moved back
//
// Every rename, copy and removal tries again for a few seconds while another
// program (a virus scanner, the indexer) holds a file for a moment; the
// sentences above that come from them are given only once that time is up.
// A cancel ends those waits, except while the old release is being put back.
//
// On disk: the package file is deleted on every path once the download has
// begun. From before its checksum until the tar tool has finished it is held
// open so that other processes can only read it. A failure before the swap leaves the app folder
// untouched; a failure in the swap puts the old release back in the app folder, or, when even that
// fails, leaves it whole in "app.previous", from where the next run restores
// it before it downloads anything.
bool RunInstall(std::wstring& error);
