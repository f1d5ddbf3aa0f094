#include "tests/support/drawn_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace fs = std::filesystem;

namespace testing_support {

namespace {

constexpr char kMarker[] = "trace:text:DrawTextExW L\"";

// The text between the quotes starting at from, unescaped; sets end to the
// character after the closing quote (npos when there is none).
std::wstring Unescape(const std::string& line, size_t from, size_t& end) {
    std::wstring text;
    size_t i = from;
    while (i < line.size() && line[i] != '"') {
        if (line[i] != '\\' || i + 1 >= line.size()) {
            text += static_cast<wchar_t>(static_cast<unsigned char>(line[i++]));
            continue;
        }
        const char escaped = line[i + 1];
        switch (escaped) {
        case 'n':
            text += L'\n';
            i += 2;
            break;
        case 'r':
            text += L'\r';
            i += 2;
            break;
        case 't':
            text += L'\t';
            i += 2;
            break;
        case '"':
        case '\\':
            text += static_cast<wchar_t>(escaped);
            i += 2;
            break;
        default: // \XXXX: four hex digits
            text += static_cast<wchar_t>(std::strtoul(line.substr(i + 1, 4).c_str(), nullptr, 16));
            i += 5;
            break;
        }
    }
    end = i < line.size() ? i + 1 : std::string::npos;
    return text;
}

} // namespace

std::vector<DrawnText> ParseTextTrace(const std::string& log) {
    std::vector<DrawnText> drawn;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t at = line.find(kMarker);
        if (at == std::string::npos) {
            continue;
        }
        size_t end = 0;
        DrawnText text;
        text.text = Unescape(line, at + sizeof(kMarker) - 1, end);
        if (end == std::string::npos) {
            continue;
        }
        // Wine marks a text it cut short with "..." after the closing quote.
        const size_t box = line.find("[(", end);
        if (box == std::string::npos) {
            continue;
        }
        long left = 0, top = 0, right = 0, bottom = 0;
        unsigned format = 0;
        if (std::sscanf(line.c_str() + box, "[(%ld,%ld)-(%ld,%ld)] %x", &left, &top, &right,
                        &bottom, &format) != 5) {
            continue;
        }
        text.rect = RECT{left, top, right, bottom};
        text.format = format;
        drawn.push_back(std::move(text));
    }
    return drawn;
}

std::vector<DrawnText> ReadTextTrace(const std::wstring& logPath) {
    std::ifstream in(fs::path(logPath), std::ios::binary);
    return ParseTextTrace(
        std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

StartedProcess StartWithTextTrace(const std::wstring& exePath, const std::wstring& arguments,
                                  const std::wstring& logPath) {
    StartedProcess started;
    const std::string hostExe = HostPath(exePath);
    const std::string hostLog = HostPath(logPath);
    if (hostExe.empty() || hostLog.empty()) {
        ADD_FAILURE() << "no host paths: the text trace needs Wine";
        return started;
    }
    // Wine writes its trace to the process's host standard error, which a
    // Windows parent cannot redirect: a host shell starts the program instead.
    const std::string script = "WINEDEBUG=-all,trace+text exec /usr/bin/wine '" + hostExe + "' " +
                               std::string(arguments.begin(), arguments.end()) + " 2>'" + hostLog +
                               "'";
    std::vector<DWORD> ids;
    const bool running = RunHostProgram("/bin/sh -c \"" + script + "\"", [&] {
        ids = FindProcessesByImage(exePath);
        return !ids.empty();
    });
    if (!running || ids.size() != 1) {
        ADD_FAILURE() << "the program did not start under the text trace";
        return started;
    }
    started.process.reset(
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids.front()));
    started.id = ids.front();
    return started;
}

bool CaptureScreen(const std::wstring& pngPath) {
    const std::string host = HostPath(pngPath);
    if (host.empty()) {
        return false;
    }
    std::error_code ignored;
    fs::remove(fs::path(pngPath), ignored);
    // import writes the file in one go at its end; wait for a stable size.
    uintmax_t lastSize = 0;
    return RunHostProgram("/usr/bin/import -window root \"" + host + "\"", [&] {
        std::error_code error;
        const uintmax_t size = fs::file_size(fs::path(pngPath), error);
        const bool stable = !error && size > 0 && size == lastSize;
        lastSize = error ? 0 : size;
        return stable;
    });
}

} // namespace testing_support
