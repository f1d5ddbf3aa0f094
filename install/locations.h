// Where everything lives: the install root below the account's local
// application data folder, the names of its entries, and the two files the
// setup program puts into the temporary folder.
#pragma once

#include "install/paths.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

// Names inside the install root (each one path component).
inline constexpr wchar_t kInstallRootName[] = L"Movora";
inline constexpr wchar_t kAppFolderName[] = L"app";
inline constexpr wchar_t kAppExeName[] = L"Movora.exe";
inline constexpr wchar_t kStagingFolderName[] = L"staging";
inline constexpr wchar_t kPreviousFolderName[] = L"app.previous";
inline constexpr wchar_t kSetupCopyName[] = L"MovoraSetup.exe";
// Never written by the setup program; the uninstall removes it when present.
inline constexpr wchar_t kOldSetupCopyName[] = L"MovoraSetup.exe.old";
// The setup copy renamed aside while a new one takes its name (it may be the
// running program), and the new one copied in beside it first.
inline constexpr wchar_t kAsideSetupCopyName[] = L"MovoraSetup.old";
inline constexpr wchar_t kIncomingSetupCopyName[] = L"MovoraSetup.new";
inline constexpr const wchar_t* kDataFolderNames[] = {L"logs", L"buffer", L"thumbnails",
                                                      L"clipmeta"};
inline constexpr wchar_t kSettingsFileName[] = L"settings.json";

// Names inside the app folder: the setup program a release may carry beside
// the app executable, which becomes the setup copy.
inline constexpr wchar_t kCarriedSetupName[] = L"MovoraSetup.exe";

// Names inside the temporary folder.
inline constexpr wchar_t kUninstallCopyName[] = L"Movora-uninstall.exe";

// The path of a known folder (SHGetKnownFolderPath, default flags, this
// account); empty when it cannot be resolved.
std::wstring GetKnownFolderPath(REFKNOWNFOLDERID id);

// The install root's path (local application data + "Movora") without
// creating anything; empty when the known folder cannot be resolved. For
// looking before anything is written.
std::wstring LocateInstallRoot();

// Returns the install root (local application data + "Movora"), creating it
// and any missing parent. Throws FileError when the
// known folder cannot be resolved (error 3, path not found) or the folder
// cannot be created. Never returns an empty or relative root.
std::wstring GetInstallRoot();

// True when path names directory itself or something below it: a
// case-insensitive prefix test on the absolute directory text (trailing
// separators stripped) followed by the end of path or a '\' or '/'. path is
// used unchanged. Throws FileError when directory
// cannot be made absolute.
bool IsPathInside(const std::wstring& path, const std::wstring& directory);

// The account's temporary folder as GetTempPathW gives it (with its trailing
// backslash); empty when the call fails or the folder does not fit its
// 260-character buffer.
std::wstring GetTempFolder();

// The file name "Movora-<version>.zip" with every character a Windows file
// name cannot hold ('\', '/', ':', '*', '?', '"', '<', '>', '|' and control
// characters) replaced by '_', and the version cut so the name stays within
// 255 characters. The release list's version is not trusted to be a name: a
// separator, a ".." or a drive colon in it would otherwise place the download
// (and its later deletion) outside the temporary folder.
std::wstring PackageFileName(const std::wstring& version);

// "<temp>\<PackageFileName(version)>": where the package is downloaded to,
// always one plain file directly inside the temporary folder. Empty when the
// temporary folder is unknown, never a path relative to the current folder.
std::wstring GetPackageFilePath(const std::wstring& version);

// "<temp>\Movora-uninstall.exe": the copy an uninstall runs from.
std::wstring GetUninstallCopyPath();
