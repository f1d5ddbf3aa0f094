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

namespace {

// A host shell command that runs exePath under the text trace, the trace
// going to logPath, with the shell's exec in front when replaceShell; empty
// when the paths have no host form.
std::string TracedCommand(const std::wstring& exePath, const std::wstring& arguments,
                          const std::wstring& logPath, bool replaceShell) {
    const std::string hostExe = HostPath(exePath);
    const std::string hostLog = HostPath(logPath);
    if (hostExe.empty() || hostLog.empty()) {
        ADD_FAILURE() << "no host paths: the text trace needs Wine";
        return std::string();
    }
    // Wine writes its trace to the process's host standard error, which a
    // Windows parent cannot redirect: a host shell starts the program instead.
    // The processes it starts inherit both the setting and the standard error.
    return std::string("WINEDEBUG=-all,trace+text ") + (replaceShell ? "exec " : "") +
           "/usr/bin/wine '" + hostExe + "' " + std::string(arguments.begin(), arguments.end()) +
           " 2>'" + hostLog + "'";
}

// Runs a host shell script that writes its result to a file of the host
// path target through a ".part" file renamed into place when complete, and
// waits up to timeoutMs for it. True when the file is there.
bool RunHostScriptInto(const std::string& script, const std::wstring& target, DWORD timeoutMs) {
    std::error_code ignored;
    fs::remove(fs::path(target), ignored);
    return RunHostProgram(
        "/bin/sh -c \"" + script + "\"",
        [&] {
            std::error_code error;
            return fs::exists(fs::path(target), error);
        },
        timeoutMs);
}

} // namespace

StartedProcess StartWithTextTrace(const std::wstring& exePath, const std::wstring& arguments,
                                  const std::wstring& logPath) {
    StartedProcess started;
    const std::string command = TracedCommand(exePath, arguments, logPath, true);
    if (command.empty()) {
        return started;
    }
    std::vector<DWORD> ids;
    const bool running = RunHostProgram("/bin/sh -c \"" + command + "\"", [&] {
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

bool LaunchWithTextTrace(const std::wstring& exePath, const std::wstring& arguments,
                         const std::wstring& logPath, const std::wstring& exitCodePath) {
    const std::string command = TracedCommand(exePath, arguments, logPath, false);
    const std::string hostCode = HostPath(exitCodePath);
    if (command.empty() || hostCode.empty()) {
        return false;
    }
    std::error_code ignored;
    fs::remove(fs::path(exitCodePath), ignored);
    return RunHostProgram("/bin/sh -c \"" + command + "; echo $? >'" + hostCode + ".part'; mv '" +
                              hostCode + ".part' '" + hostCode + "'\"",
                          [] { return true; });
}

DWORD ReadExitCodeFile(const std::wstring& exitCodePath, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    std::error_code error;
    while (!fs::exists(fs::path(exitCodePath), error) && GetTickCount64() < deadline) {
        Sleep(50);
    }
    std::ifstream in{fs::path(exitCodePath)};
    DWORD code = STILL_ACTIVE;
    return in >> code ? code : STILL_ACTIVE;
}

namespace {

// import writes the file in one go at its end; wait for a stable size.
bool CaptureRoot(const std::wstring& pngPath, const std::string& options) {
    const std::string host = HostPath(pngPath);
    if (host.empty()) {
        return false;
    }
    std::error_code ignored;
    fs::remove(fs::path(pngPath), ignored);
    uintmax_t lastSize = 0;
    return RunHostProgram("/usr/bin/import -window root " + options + "\"" + host + "\"", [&] {
        std::error_code error;
        const uintmax_t size = fs::file_size(fs::path(pngPath), error);
        const bool stable = !error && size > 0 && size == lastSize;
        lastSize = error ? 0 : size;
        return stable;
    });
}

} // namespace

bool CaptureScreen(const std::wstring& pngPath) {
    return CaptureRoot(pngPath, "");
}

bool CaptureWindow(HWND window, const std::wstring& pngPath) {
    RECT rect{};
    if (!GetWindowRect(window, &rect)) {
        return false;
    }
    return CaptureRoot(pngPath, "-crop " + std::to_string(rect.right - rect.left) + "x" +
                                    std::to_string(rect.bottom - rect.top) + "+" +
                                    std::to_string(rect.left) + "+" + std::to_string(rect.top) +
                                    " +repage ");
}

COLORREF Screenshot::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return RGB(0, 0, 0);
    }
    return pixels[static_cast<size_t>(y) * width + x];
}

int Screenshot::Count(const RECT& rect, COLORREF colour) const {
    int count = 0;
    for (int y = rect.top; y < rect.bottom; ++y) {
        for (int x = rect.left; x < rect.right; ++x) {
            count += Pixel(x, y) == colour ? 1 : 0;
        }
    }
    return count;
}

Screenshot LoadScreenshot(const std::wstring& pngPath) {
    Screenshot picture;
    const std::wstring ppmPath = pngPath + L".ppm";
    const std::string hostPng = HostPath(pngPath);
    const std::string hostPpm = HostPath(ppmPath);
    if (hostPng.empty() || hostPpm.empty() ||
        !RunHostScriptInto("/usr/bin/convert '" + hostPng + "' 'ppm:" + hostPpm + ".part' && mv '" +
                               hostPpm + ".part' '" + hostPpm + "'",
                           ppmPath, 20000)) {
        ADD_FAILURE() << "cannot convert " << fs::path(pngPath).string();
        return picture;
    }
    const std::string bytes = ReadFileBytes(ppmPath);
    std::error_code ignored;
    fs::remove(fs::path(ppmPath), ignored);
    // "P6", width, height, largest value, each followed by white space, then
    // three bytes a pixel.
    std::istringstream header(bytes);
    std::string magic;
    int maxValue = 0;
    header >> magic >> picture.width >> picture.height >> maxValue;
    const size_t start = static_cast<size_t>(header.tellg()) + 1;
    const size_t count = static_cast<size_t>(picture.width) * picture.height;
    if (magic != "P6" || maxValue != 255 || !header || bytes.size() < start + count * 3) {
        ADD_FAILURE() << "not a picture: " << fs::path(pngPath).string();
        return Screenshot{};
    }
    picture.pixels.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const auto* rgb = reinterpret_cast<const unsigned char*>(bytes.data() + start + i * 3);
        picture.pixels[i] = RGB(rgb[0], rgb[1], rgb[2]);
    }
    return picture;
}

} // namespace testing_support
