// Hostile paths into IsPathInside: seeded random directories (absolute,
// relative, drive-relative, network, device, very long, odd characters) and
// paths made from them, against a small model of the documented rule.
#include "install/fs_calls.h"
#include "install/locations.h"
#include "tests/hostile/hostile_support.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using hostile::Chance;
using hostile::Pick;
using namespace std::string_literals;

namespace {

// The directory made absolute in one GetFullPathNameW call into a buffer
// larger than any Windows path; nothing when the call fails.
std::optional<std::wstring> AbsoluteByWindows(const std::wstring& directory) {
    std::vector<wchar_t> buffer(70000);
    const DWORD length = GetFullPathNameW(directory.c_str(), static_cast<DWORD>(buffer.size()),
                                          buffer.data(), nullptr);
    if (length == 0 || length >= buffer.size()) {
        return std::nullopt;
    }
    return std::wstring(buffer.data(), length);
}

wchar_t AsciiLower(wchar_t c) {
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// The rule as documented: the absolute directory without its trailing
// separators is a prefix of the path, ignoring letter case, and the path ends
// there or goes on with a separator. Nothing when the directory cannot be made
// absolute (IsPathInside raises then). The generated texts hold no letters
// outside ASCII that have a case, so an ASCII comparison is the whole truth.
// The prefix comparison is a C-string one (_wcsnicmp over n characters): it
// ends at a NUL that both texts hold. Windows never puts a NUL into an
// absolute path, but Wine 8 does: "/a/...\" becomes "Z:\<NUL>..\" there.
std::optional<bool> InsideByTheRule(const std::wstring& path, const std::wstring& directory) {
    std::optional<std::wstring> absolute = AbsoluteByWindows(directory);
    if (!absolute) {
        return std::nullopt;
    }
    while (!absolute->empty() && IsSeparator(absolute->back())) {
        absolute->pop_back();
    }
    const size_t n = absolute->size();
    if (path.size() < n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (AsciiLower(path[i]) != AsciiLower((*absolute)[i])) {
            return false;
        }
        if (path[i] == L'\0') {
            break;
        }
    }
    return path.size() == n || IsSeparator(path[n]);
}

// Characters outside ASCII that have no letter case, a lone surrogate, and
// the characters Windows file names cannot hold.
const std::wstring kOddChars = L"\u20ac\u4e2d\u30fc\ufffd*?<>|\":"s + wchar_t(0xD800);

std::wstring RandomCase(std::wstring text, std::mt19937& rng) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z' && Chance(rng, 30)) {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        } else if (c >= L'A' && c <= L'Z' && Chance(rng, 30)) {
            c = AsciiLower(c);
        }
    }
    return text;
}

std::wstring RandomDirectory(std::mt19937& rng) {
    static const std::wstring kRoots[] = {L"C:\\",
                                          L"c:/",
                                          L"C:",
                                          L"Z:\\tmp\\",
                                          L"\\\\server\\share\\",
                                          L"//server/share/",
                                          L"\\\\?\\C:\\",
                                          L"\\\\.\\C:\\",
                                          L"\\",
                                          L"/",
                                          L"",
                                          L".\\",
                                          L"..\\",
                                          L"\\\\?\\UNC\\s\\h\\"};
    static const std::wstring kNames[] = {
        L"users", L"Movora",  L"app",          L"a",          L"..",   L".",   L"...",
        L"a b",   L" lead",   L"trail ",       L"dot.",       L"x*?",  L"<>|", L"\u20ac\u4e2d",
        L"CON",   L"nul.txt", L"app.previous", L"Movora.exe", L"a\0b"s};
    static const std::wstring kSeparators[] = {L"\\", L"/", L"\\\\", L"//"};
    if (Chance(rng, 5)) {
        std::wstring noise(Pick(rng, 0, 30), L' ');
        for (wchar_t& c : noise) {
            c = Chance(rng, 30) ? kOddChars[Pick(rng, 0, kOddChars.size() - 1)]
                                : L"aZ09.\\/: "[Pick(rng, 0, 8)];
        }
        return noise;
    }
    std::wstring directory = RandomCase(kRoots[Pick(rng, 0, std::size(kRoots) - 1)], rng);
    for (size_t parts = Pick(rng, 0, 5); parts > 0; --parts) {
        directory += RandomCase(kNames[Pick(rng, 0, std::size(kNames) - 1)], rng);
        directory += kSeparators[Pick(rng, 0, std::size(kSeparators) - 1)];
    }
    if (Chance(rng, 5)) {
        // Past the classic limit, or past every limit.
        const size_t size = Chance(rng, 50) ? Pick(rng, 250, 400) : Pick(rng, 32700, 33000);
        while (directory.size() < size) {
            directory += L"long-name\\";
        }
    }
    // Zero to three trailing separators (the one the last part added may go).
    if (!directory.empty() && Chance(rng, 40)) {
        directory.pop_back();
    }
    for (size_t extra = Pick(rng, 0, 3); extra > 0 && Chance(rng, 30); --extra) {
        directory += kSeparators[Pick(rng, 0, 1)];
    }
    return directory;
}

// A path made from the directory's absolute text, so that hits, near misses
// and misses all turn up; or a path of its own.
std::wstring RandomPath(const std::wstring& directory, std::mt19937& rng) {
    std::wstring base = AbsoluteByWindows(directory).value_or(directory);
    while (!base.empty() && IsSeparator(base.back()) && Chance(rng, 70)) {
        base.pop_back();
    }
    if (Chance(rng, 8)) {
        return RandomDirectory(rng);
    }
    if (Chance(rng, 5)) {
        return directory; // as given, not made absolute
    }
    std::wstring path = base;
    switch (Pick(rng, 0, 7)) {
    case 0: // below it, with either separator
        path += (Chance(rng, 50) ? L"\\" : L"/") + RandomCase(L"Movora.exe", rng);
        break;
    case 1: // the last name goes on
        path += RandomCase(L"x.previous", rng).substr(0, Pick(rng, 1, 10));
        break;
    case 2: // cut short
        path.resize(Pick(rng, 0, path.size()));
        break;
    case 3: // below it and back out again: the path is not normalised
        path += L"\\..\\..\\Windows\\evil.exe";
        break;
    case 4: // one separator turned the other way
        for (wchar_t& c : path) {
            if (IsSeparator(c) && Chance(rng, 30)) {
                c = c == L'\\' ? L'/' : L'\\';
                break;
            }
        }
        break;
    case 5: // one character changed, maybe to a NUL
        if (!path.empty()) {
            path[Pick(rng, 0, path.size() - 1)] =
                Chance(rng, 30) ? L'\0' : kOddChars[Pick(rng, 0, kOddChars.size() - 1)];
        }
        break;
    default: // the same in other letter cases, maybe with more below
        path = RandomCase(path, rng) + (Chance(rng, 50) ? L"\\sub" : L"");
        break;
    }
    return path;
}

TEST(PathInsideHostileTest, AnswersAsTheRuleSaysOrRaisesFileError) {
    hostile::RandomRun run = hostile::StartRandomRun("path test", 0x5eed0005, 20000);
    size_t inside = 0;
    size_t outside = 0;
    size_t raised = 0;
    for (size_t i = 0; i < run.inputs; ++i) {
        const std::wstring directory = RandomDirectory(run.rng);
        const std::wstring path = RandomPath(directory, run.rng);
        hostile::SetCurrentInput("path " + hostile::DescribeWide(path) + " in " +
                                 hostile::DescribeWide(directory));
        const std::optional<bool> expected = InsideByTheRule(path, directory);
        std::optional<bool> answer;
        try {
            answer = IsPathInside(path, directory);
        } catch (const FileError& error) {
            EXPECT_EQ(error.path, directory);
            EXPECT_NE(error.code, static_cast<DWORD>(ERROR_SUCCESS));
        } catch (...) {
            ADD_FAILURE() << "something other than FileError was raised";
        }
        ASSERT_EQ(answer, expected) << "input " << i << ": path " << hostile::DescribeWide(path)
                                    << " in " << hostile::DescribeWide(directory);
        (answer ? (*answer ? inside : outside) : raised) += 1;
    }
    std::printf("[hostile] path test: %zu inside, %zu outside, %zu raised\n", inside, outside,
                raised);
}

} // namespace
