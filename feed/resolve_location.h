// Where a redirect leads: the Location of an answer read against the URL that
// answered with it.
#pragma once

#include <string>

// The URL that location names, read against base, the URL that answered with
// it: an absolute URL ("https://host/p") stands as it is; "//host/p" keeps
// base's scheme; "/p" keeps base's scheme and host; "?q" keeps base's path;
// "#f" keeps base without its own fragment; any other text is a path relative
// to base's folder. "." and ".." segments of the path are worked out, and a
// ".." above the root stays at the root. base has passed the URL rule, so it
// starts with "http://" or "https://". Nothing here checks the result: it has
// to pass the URL rule itself before a request goes there.
std::wstring ResolveLocation(const std::wstring& base, const std::wstring& location);
