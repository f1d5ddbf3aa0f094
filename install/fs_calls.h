// The two ways the install engine calls the filesystem.
//
// raising::  a failure throws std::filesystem::filesystem_error naming the
//            operation and the path(s). Engines catch it and turn it into a
//            false result; it never leaves an engine.
// tolerant:: a failure is ignored on purpose. Used for best-effort clean-up,
//            where leaving something behind is acceptable and a later step
//            (or the next run) decides the outcome.
//
// The namespace is spelled at every call site so a reader sees which form
// each step uses.
#pragma once

#include <filesystem>

namespace raising {

// True when anything (file or folder, links followed) is at the path. "Not
// there" errors mean false; any other error throws.
bool Exists(const std::filesystem::path& path);

// Renames a file or folder; throws on failure (a folder onto an existing folder
// fails, as on Windows).
void Rename(const std::filesystem::path& from, const std::filesystem::path& to);

// Creates the folder and its missing parents; an existing folder is no error.
void CreateFolders(const std::filesystem::path& path);

// Copies a file, overwriting an existing target.
void CopyFileOver(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace raising

namespace tolerant {

// Removes a file or an empty folder; a missing one is no error.
void Remove(const std::filesystem::path& path);

// Removes a whole tree; stops at the first entry that cannot be removed and
// leaves the rest in place. A symbolic link or junction is removed itself and
// never entered, so the files it points to stay. Read-only files and folders
// are removed too (the attribute is cleared first and put back when the
// removal still fails). A missing path is no error.
void RemoveTree(const std::filesystem::path& path);

// True when the path is a symbolic link or junction (a reparse point); false
// when it is anything else or cannot be queried.
bool IsLink(const std::filesystem::path& path);

// Creates the folder and its missing parents, ignoring failure.
void CreateFolders(const std::filesystem::path& path);

// Copies a file over an existing target; returns whether it worked, for
// callers that only branch on it (nothing is reported).
bool CopyFileOver(const std::filesystem::path& from, const std::filesystem::path& to);

} // namespace tolerant
