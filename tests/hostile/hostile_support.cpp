#include "tests/hostile/hostile_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace hostile {

namespace {

// The fenced pages that exist right now, and the input being worked on. The
// exception handler reads them without locking: it runs on the faulting
// thread, which is the one that set them.
struct FencedPage {
    const char* start;
    size_t size;
};
std::mutex g_fenceMutex;
std::vector<FencedPage> g_fencedPages;
char g_currentInput[512] = "(none)";

bool IsInFencedPage(ULONG_PTR address) {
    for (const FencedPage& page : g_fencedPages) {
        const ULONG_PTR start = reinterpret_cast<ULONG_PTR>(page.start);
        if (address >= start && address < start + page.size) {
            return true;
        }
    }
    return false;
}

// Other code may take and handle access faults of its own; only a read of a
// fence page is ours, and it ends the process before any debugger can stop it.
LONG CALLBACK OnFencedRead(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2 &&
        IsInFencedPage(record->ExceptionInformation[1])) {
        std::fprintf(stderr, "\nREAD OUTSIDE THE INPUT at %p while working on: %s\n",
                     reinterpret_cast<void*>(record->ExceptionInformation[1]), g_currentInput);
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

void InstallFenceHandlerOnce() {
    static const bool installed = AddVectoredExceptionHandler(1, OnFencedRead) != nullptr;
    (void)installed;
}

size_t PageSize() {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    return info.dwPageSize;
}

std::uint32_t FromEnvironment(const char* name, std::uint32_t fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    return static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0));
}

} // namespace

// Quotes and backslashes first: Mutate draws its long runs from those six.
constexpr char kTroubleBytes[] = "\"\"\"\\\\\\::{}[],\0\x80\xbf\xc3\xe2\xed\xf0\xf8\xff"
                                 "\r\n \t/u";
const std::string_view kScannerTroubleBytes(kTroubleBytes, sizeof(kTroubleBytes) - 1);

RandomRun StartRandomRun(const char* what, std::uint32_t defaultSeed, size_t defaultInputs) {
    RandomRun run;
    run.seed = FromEnvironment("MOVORA_HOSTILE_SEED", defaultSeed);
    run.inputs =
        FromEnvironment("MOVORA_HOSTILE_INPUTS", static_cast<std::uint32_t>(defaultInputs));
    run.rng.seed(run.seed);
    std::printf("[hostile] %s: seed %lu, %zu inputs\n", what, static_cast<unsigned long>(run.seed),
                run.inputs);
    std::fflush(stdout);
    ::testing::Test::RecordProperty("seed", std::to_string(run.seed));
    ::testing::Test::RecordProperty("inputs", std::to_string(run.inputs));
    return run;
}

void SetCurrentInput(const std::string& description) {
    std::snprintf(g_currentInput, sizeof(g_currentInput), "%s", description.c_str());
}

FencedBytes::FencedBytes(std::string_view bytes, Fence fence) : size_(bytes.size()) {
    InstallFenceHandlerOnce();
    const size_t page = PageSize();
    const size_t dataPages = (bytes.size() + page - 1) / page;
    const size_t total = (dataPages + 1) * page;
    char* base =
        static_cast<char*>(VirtualAlloc(nullptr, total, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base == nullptr) {
        ADD_FAILURE() << "VirtualAlloc of " << total << " bytes failed: " << GetLastError();
        size_ = 0;
        return;
    }
    base_ = base;
    char* const guard = fence == Fence::After ? base + dataPages * page : base;
    char* const data = fence == Fence::After ? guard - bytes.size() : base + page;
    if (!bytes.empty()) {
        std::memcpy(data, bytes.data(), bytes.size());
    }
    DWORD previous = 0;
    if (!VirtualProtect(guard, page, PAGE_NOACCESS, &previous)) {
        ADD_FAILURE() << "VirtualProtect failed: " << GetLastError();
    }
    data_ = data;
    guard_ = guard;
    std::lock_guard<std::mutex> lock(g_fenceMutex);
    g_fencedPages.push_back(FencedPage{guard, page});
}

FencedBytes::~FencedBytes() {
    if (base_ == nullptr) {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(g_fenceMutex);
        for (auto it = g_fencedPages.begin(); it != g_fencedPages.end(); ++it) {
            if (it->start == guard_) {
                g_fencedPages.erase(it);
                break;
            }
        }
    }
    VirtualFree(base_, 0, MEM_RELEASE);
}

size_t Pick(std::mt19937& rng, size_t low, size_t high) {
    return std::uniform_int_distribution<size_t>(low, high)(rng);
}

bool Chance(std::mt19937& rng, int percent) {
    return static_cast<int>(Pick(rng, 0, 99)) < percent;
}

std::string RandomBytes(std::mt19937& rng, size_t count, std::string_view alphabet) {
    std::string bytes(count, '\0');
    for (char& byte : bytes) {
        byte = alphabet.empty() ? static_cast<char>(Pick(rng, 0, 255))
                                : alphabet[Pick(rng, 0, alphabet.size() - 1)];
    }
    return bytes;
}

std::string Mutate(std::string bytes, std::mt19937& rng, int maxEdits) {
    static const std::string_view kInsertions[] = {
        "\"",  "\\",   ":",           std::string_view("\0", 1), "\xff", "\xc3", "\xed\xa0\x80",
        "\\u", "\\\"", "\"version\"", "\"package\":\""};
    const int edits = static_cast<int>(Pick(rng, 1, static_cast<size_t>(maxEdits)));
    for (int edit = 0; edit < edits; ++edit) {
        const size_t at = Pick(rng, 0, bytes.size());
        switch (Pick(rng, 0, 7)) {
        case 0: // flip one bit
            if (at < bytes.size()) {
                bytes[at] = static_cast<char>(bytes[at] ^ (1 << Pick(rng, 0, 7)));
            }
            break;
        case 1: // change one byte to anything
            if (at < bytes.size()) {
                bytes[at] = static_cast<char>(Pick(rng, 0, 255));
            }
            break;
        case 2: // cut the rest off
            bytes.resize(at);
            break;
        case 3: // erase a range
            bytes.erase(at, Pick(rng, 1, 16));
            break;
        case 4: // insert a troublesome piece
            bytes.insert(at, kInsertions[Pick(rng, 0, std::size(kInsertions) - 1)]);
            break;
        case 5: // insert one trouble byte
            bytes.insert(at, 1,
                         kScannerTroubleBytes[Pick(rng, 0, kScannerTroubleBytes.size() - 1)]);
            break;
        case 6: { // repeat a slice, keys and all
            const size_t from = Pick(rng, 0, bytes.size());
            const std::string slice = bytes.substr(from, Pick(rng, 1, 64));
            bytes.insert(at, slice);
            break;
        }
        default: // a long run of one trouble byte
            bytes.insert(at, Pick(rng, 1, 300),
                         kScannerTroubleBytes[Pick(rng, 0, 5)]); // quotes or backslashes
            break;
        }
    }
    return bytes;
}

std::string Describe(std::string_view bytes) {
    std::string text = std::to_string(bytes.size()) + " bytes: ";
    const size_t shown = std::min<size_t>(bytes.size(), 120);
    for (size_t i = 0; i < shown; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            text.push_back(static_cast<char>(c));
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02x", c);
            text += escaped;
        }
    }
    if (shown < bytes.size()) {
        text += "...";
    }
    return text;
}

std::string DescribeWide(const std::wstring& text) {
    std::string out;
    for (const wchar_t c : text.substr(0, 200)) {
        if (c >= 0x20 && c < 0x7f) {
            out.push_back(static_cast<char>(c));
        } else {
            char escaped[12];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    return text.size() > 200 ? out + "... (" + std::to_string(text.size()) + " characters)" : out;
}

std::string CaseName(const char* name) {
    std::string result = name;
    for (char& c : result) {
        c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return result;
}

Snapshot TakeSnapshot(const std::wstring& root) {
    Snapshot snapshot;
    testing_support::FolderIdentities seen;
    testing_support::AddFiles(root, snapshot, seen);
    return snapshot;
}

std::set<std::wstring> ChangedEntries(const Snapshot& before, const Snapshot& after) {
    std::set<std::wstring> changed;
    for (const std::wstring& difference : testing_support::Differences(before, after)) {
        changed.insert(testing_support::NameOf(difference));
    }
    return changed;
}

} // namespace hostile
