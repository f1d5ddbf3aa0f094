// The release list: fetching it (with one fallback to the download origin),
// reading its four values with a key scanner, and publishing them.
#pragma once

#include <string>
#include <string_view>

// Longest release notes kept, in UTF-16 code units.
inline constexpr size_t kReleaseNotesLimit = 180;

// Fetches the release list from g_app.feedUrl into memory. When that fails and
// the URL holds the release server origin (and no cancel was requested), tries
// once more from the download origin. On success stores version, package URL,
// notes (cut to kReleaseNotesLimit units) and sha256 in g_app, all four at
// once under statusMutex, and returns true; a list that came from the download
// origin also has its package URL moved there. When this build trusts release
// signing keys, before anything is stored the list's "signature" has to verify
// over its four values, the list has to name a sha256, and its version must
// not be older (IsOlderVersion) than the "DisplayVersion" of the Uninstall
// entry or than g_app.latestVersion, the release this run took before and the
// window shows ("The release list offers an older version than the one
// installed." for either). On failure returns false with one sentence in error
// and leaves g_app's release values as they were; nothing is written to disk.
bool FetchReleaseList(std::wstring& error);

// The string value of the first quoted occurrence of key anywhere in the
// document (also inside other values or nested objects): the text between the
// first quote after the following colon and the next unescaped quote, or the
// end of the document. Escapes: \n gives a line feed, \r nothing, any other
// escaped byte itself (\t stays the letter t, \u00e9 stays "u00e9"). Empty
// when the key, the colon or the opening quote is missing. Never reads past
// the document. Utf8ToWide of ExtractJsonBytes.
std::wstring ExtractJsonString(std::string_view document, std::string_view key);

// The bytes ExtractJsonString widens: what the scanner collects for key,
// after its escape handling. These are the bytes a release list's signature
// covers.
std::string ExtractJsonBytes(std::string_view document, std::string_view key);

// url with its first occurrence of the release server origin replaced by the
// download origin; empty when url does not contain the release server origin.
std::wstring RewriteDownloadUrl(const std::wstring& url);
