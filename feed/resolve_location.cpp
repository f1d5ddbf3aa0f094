#include "feed/resolve_location.h"

#include <algorithm>
#include <vector>

namespace {

// The path with its "." and ".." segments worked out; path starts with '/'.
// A ".." above the root stays at the root.
std::wstring RemoveDotSegments(const std::wstring& path) {
    std::vector<std::wstring> kept;
    size_t start = 1;
    for (;;) {
        const size_t end = std::min(path.find(L'/', start), path.size());
        const std::wstring segment = path.substr(start, end - start);
        const bool last = end == path.size();
        if (segment == L"..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
        } else if (segment != L".") {
            kept.push_back(segment);
        }
        if (last) {
            // "a/.." and "a/." name the folder itself: keep its trailing '/'.
            if (segment == L".." || segment == L".") {
                kept.emplace_back();
            }
            break;
        }
        start = end + 1;
    }
    std::wstring result;
    for (const std::wstring& segment : kept) {
        result += L'/';
        result += segment;
    }
    return result.empty() ? L"/" : result;
}

bool IsAsciiLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// True when text starts with a URL scheme ("https:", "ftp:", ...): an ASCII
// letter, then ASCII letters, digits, '+', '-' or '.', then a colon.
bool HasScheme(const std::wstring& text) {
    const size_t colon = text.find(L':');
    if (colon == 0 || colon == std::wstring::npos || !IsAsciiLetter(text[0])) {
        return false;
    }
    for (size_t i = 1; i < colon; ++i) {
        const wchar_t c = text[i];
        if (!IsAsciiLetter(c) && !(c >= L'0' && c <= L'9') && c != L'+' && c != L'-' && c != L'.') {
            return false;
        }
    }
    return true;
}

} // namespace

std::wstring ResolveLocation(const std::wstring& base, const std::wstring& location) {
    if (HasScheme(location)) {
        return location;
    }
    const size_t schemeEnd = base.find(L"://");
    if (schemeEnd == std::wstring::npos) {
        return location; // cannot happen for a URL the rule accepted
    }
    if (location.compare(0, 2, L"//") == 0) {
        return base.substr(0, schemeEnd + 1) + location;
    }
    const size_t authorityEnd = std::min(base.find_first_of(L"/?#", schemeEnd + 3), base.size());
    const std::wstring origin = base.substr(0, authorityEnd);
    const size_t basePathEnd = std::min(base.find_first_of(L"?#", authorityEnd), base.size());
    if (location.empty()) {
        // An empty reference names base itself, without its fragment.
        return base.substr(0, std::min(base.find(L'#', authorityEnd), base.size()));
    }
    if (location[0] == L'?') {
        return base.substr(0, basePathEnd) + location;
    }
    if (location[0] == L'#') {
        return base.substr(0, std::min(base.find(L'#', authorityEnd), base.size())) + location;
    }
    const size_t pathEnd = std::min(location.find_first_of(L"?#"), location.size());
    std::wstring path = location.substr(0, pathEnd);
    if (path.empty() || path[0] != L'/') {
        std::wstring basePath = base.substr(authorityEnd, basePathEnd - authorityEnd);
        if (basePath.empty()) {
            basePath = L"/";
        }
        path = basePath.substr(0, basePath.rfind(L'/') + 1) + path;
    }
    return origin + RemoveDotSegments(path) + location.substr(pathEnd);
}
