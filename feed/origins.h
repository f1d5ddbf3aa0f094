// The two origins the program talks to, fixed at build time. Held as UTF-8
// and widened with Utf8ToWide where they are used.
#pragma once

#include <string>

// Scheme and host of the release server, e.g. "https://releases.example".
const std::string& ReleaseServerOrigin();

// Scheme and host of the download origin, the fallback for transfers from the
// release server origin; it answers the same paths.
const std::string& DownloadOrigin();
