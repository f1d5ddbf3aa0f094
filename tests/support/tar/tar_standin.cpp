// tar.exe for the test prefix: Wine has no tar tool in its system folder, and
// the setup program unpacks its package by running one there. This program
// does only what the setup program asks of that tool:
//
//   tar.exe -xf <zip file> -C <existing folder>     (or -C <folder> -xf <zip>)
//
// It unpacks stored and deflated zip entries, creates folders, and ends with
// exit code 0 when every entry was written and 1 otherwise, behaving like the
// tar tool Windows ships where the setup program could tell the difference:
//
// - an entry whose path has a ".." component is skipped with a message, the
//   others are still unpacked, and the exit code is 1;
// - leading "/", "\" and drive letters are removed, so every entry lands
//   inside the destination folder;
// - a CRC or size mismatch is reported and gives exit code 1 (the file stays);
// - a damaged or truncated archive: what could be read is written, then a
//   message and exit code 1.
//
// Where it is stricter than that tool: a file that ends inside its central
// directory, or an empty file, fails here (that tool unpacks the entries in
// front of it and exits 0), so a truncated package always fails. Symbolic
// link entries, encrypted entries, zip64 and other methods than stored and
// deflated are refused with a message. Entry names with bit 11 set are UTF-8,
// all others code page 437.
//
// For tests of what happens while the setup program waits for this tool: a
// command line in MOVORA_TAR_STANDIN_FIRST runs, and is waited for, before the
// archive is opened.
//
// A test support program: never shipped with the setup program.
#include <windows.h>

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr size_t kLocalHeaderSize = 30;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kEndRecordSize = 22;
constexpr DWORD kChunk = 256 * 1024;

// Messages go to standard error as UTF-8; a process started without a
// console may have no standard error at all, and then they are dropped.
void Say(const std::wstring& text) {
    const std::wstring line = L"tar.exe: " + text + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.data(), static_cast<int>(line.size()), bytes.data(), size,
                        nullptr, nullptr);
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    DWORD written = 0;
    if (error != nullptr && error != INVALID_HANDLE_VALUE) {
        WriteFile(error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    }
}

uint16_t Read16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Read32(const unsigned char* p) {
    return static_cast<uint32_t>(Read16(p)) | (static_cast<uint32_t>(Read16(p + 2)) << 16);
}

struct Handle {
    HANDLE value = INVALID_HANDLE_VALUE;
    explicit Handle(HANDLE h) : value(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (value != INVALID_HANDLE_VALUE) {
            CloseHandle(value);
        }
    }
};

// Reads up to size bytes at offset; returns how many were there.
DWORD ReadAt(HANDLE file, uint64_t offset, void* buffer, DWORD size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(file, buffer, size, &got, &at)) {
        return 0;
    }
    return got;
}

// What the unpacking needs to know of one entry.
struct Entry {
    std::string rawName;
    uint16_t madeBy = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint64_t compressedSize = 0;
    uint64_t size = 0;
    uint32_t externalAttributes = 0;
    uint64_t localHeaderOffset = 0;
};

// Fields shared by the local and the central header, from "version needed" on.
void ReadCommonFields(const unsigned char* p, Entry& entry) {
    entry.flags = Read16(p + 2);
    entry.method = Read16(p + 4);
    entry.crc = Read32(p + 10);
    entry.compressedSize = Read32(p + 14);
    entry.size = Read32(p + 18);
}

struct Archive {
    HANDLE file = INVALID_HANDLE_VALUE;
    uint64_t size = 0;
    bool anyError = false;
    bool warnedLeadingSlash = false;
    // The folder the previous entry went into: entries of one folder tend to
    // follow each other, and its parents need not be created again.
    std::wstring lastFolder;
    // Read and inflate buffers, shared by all entries.
    std::vector<unsigned char> input = std::vector<unsigned char>(kChunk);
    std::vector<unsigned char> output = std::vector<unsigned char>(kChunk);
};

// Finds and reads the central directory. False (with a message in error) when
// the file has no intact one; entries is then empty.
bool ReadCentralDirectory(const Archive& archive, std::vector<Entry>& entries,
                          std::wstring& error) {
    const uint64_t tailSize =
        archive.size < 0xFFFF + kEndRecordSize ? archive.size : 0xFFFF + kEndRecordSize;
    if (tailSize < kEndRecordSize) {
        error = L"Truncated ZIP file: no end of central directory";
        return false;
    }
    std::vector<unsigned char> tail(static_cast<size_t>(tailSize));
    const uint64_t tailStart = archive.size - tailSize;
    if (ReadAt(archive.file, tailStart, tail.data(), static_cast<DWORD>(tailSize)) != tailSize) {
        error = L"Cannot read the archive";
        return false;
    }
    // The last end record whose comment runs exactly to the end of the file and
    // whose directory ends where the record starts: bytes of stored file data
    // that merely look like a signature do not pass.
    for (size_t at = tail.size() - kEndRecordSize + 1; at-- > 0;) {
        const unsigned char* p = tail.data() + at;
        if (Read32(p) != kEndSignature || at + kEndRecordSize + Read16(p + 20) != tail.size()) {
            continue;
        }
        const uint16_t count = Read16(p + 10);
        const uint32_t directorySize = Read32(p + 12);
        const uint32_t directoryOffset = Read32(p + 16);
        if (Read16(p + 4) != 0 || Read16(p + 6) != 0 || count != Read16(p + 8) || count == 0xFFFF ||
            directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) {
            error = L"Multi-volume and ZIP64 archives are not supported";
            return false;
        }
        if (static_cast<uint64_t>(directoryOffset) + directorySize != tailStart + at) {
            continue;
        }
        std::vector<unsigned char> directory(directorySize);
        if (ReadAt(archive.file, directoryOffset, directory.data(), directorySize) !=
            directorySize) {
            error = L"Cannot read the central directory";
            return false;
        }
        size_t pos = 0;
        for (uint16_t i = 0; i < count; ++i) {
            const unsigned char* h = directory.data() + pos;
            if (pos + kCentralHeaderSize > directory.size() ||
                Read32(h) != kCentralHeaderSignature) {
                error = L"Damaged ZIP central directory";
                entries.clear();
                return false;
            }
            const size_t nameLength = Read16(h + 28);
            const size_t recordSize =
                kCentralHeaderSize + nameLength + Read16(h + 30) + Read16(h + 32);
            if (pos + recordSize > directory.size()) {
                error = L"Damaged ZIP central directory";
                entries.clear();
                return false;
            }
            Entry entry;
            entry.madeBy = Read16(h + 4);
            ReadCommonFields(h + 6, entry);
            entry.externalAttributes = Read32(h + 38);
            entry.localHeaderOffset = Read32(h + 42);
            entry.rawName.assign(reinterpret_cast<const char*>(h + kCentralHeaderSize), nameLength);
            entries.push_back(std::move(entry));
            pos += recordSize;
        }
        return true;
    }
    error = L"Truncated ZIP file: no end of central directory";
    return false;
}

// The entry's name as text: UTF-8 when the entry says so (flag bit 11),
// code page 437 otherwise. With MB_ERR_INVALID_CHARS in flags, ill-formed
// UTF-8 gives false; without it, replacement characters.
bool DecodeName(const Entry& entry, DWORD flags, std::wstring& name) {
    const UINT codePage = (entry.flags & 0x0800) != 0 ? CP_UTF8 : 437;
    const int raw = static_cast<int>(entry.rawName.size());
    name.clear();
    if (raw == 0) {
        return true;
    }
    const int length = MultiByteToWideChar(codePage, flags, entry.rawName.data(), raw, nullptr, 0);
    if (length <= 0) {
        return false;
    }
    name.resize(static_cast<size_t>(length));
    MultiByteToWideChar(codePage, flags, entry.rawName.data(), raw, name.data(), length);
    return true;
}

// The entry's path below the destination as components, or false with the
// reason. Leading separators and drive letters are removed (announced once),
// "." components dropped; ".." anywhere refuses the entry.
bool SplitEntryPath(Archive& archive, const Entry& entry, std::vector<std::wstring>& parts,
                    std::wstring& error) {
    std::wstring name;
    if (!DecodeName(entry, MB_ERR_INVALID_CHARS, name)) {
        error = L"Entry name is not valid UTF-8";
        return false;
    }
    for (wchar_t& c : name) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    size_t start = 0;
    for (;;) {
        if (start < name.size() && name[start] == L'/') {
            ++start;
        } else if (start + 1 < name.size() && name[start + 1] == L':' &&
                   ((name[start] >= L'A' && name[start] <= L'Z') ||
                    (name[start] >= L'a' && name[start] <= L'z'))) {
            start += 2;
        } else {
            break;
        }
    }
    if (start > 0 && !archive.warnedLeadingSlash) {
        Say(L"Removing leading '/' from member names");
        archive.warnedLeadingSlash = true;
    }
    parts.clear();
    while (start <= name.size()) {
        size_t end = name.find(L'/', start);
        if (end == std::wstring::npos) {
            end = name.size();
        }
        const std::wstring part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == L".") {
            continue;
        }
        if (part == L"..") {
            error = L"Path contains '..'";
            return false;
        }
        // A colon would name an alternate data stream; the rest cannot be in
        // a Windows file name at all.
        for (wchar_t c : part) {
            if (c < 32 || wcschr(L"<>:\"|?*", c) != nullptr) {
                error = L"Entry name holds a character Windows does not allow";
                return false;
            }
        }
        parts.push_back(part);
    }
    return true;
}

bool IsFolderEntry(const Entry& entry) {
    const char last = entry.rawName.empty() ? '/' : entry.rawName.back();
    const unsigned host = entry.madeBy >> 8;
    return last == '/' || last == '\\' || (host == 0 && (entry.externalAttributes & 0x10) != 0) ||
           (host == 3 && ((entry.externalAttributes >> 16) & 0170000) == 0040000);
}

bool IsSymbolicLinkEntry(const Entry& entry) {
    return (entry.madeBy >> 8) == 3 && ((entry.externalAttributes >> 16) & 0170000) == 0120000;
}

// Creates the folder at path unless one is there already.
bool EnsureFolder(const std::wstring& path, std::wstring& error) {
    if (CreateDirectoryW(path.c_str(), nullptr)) {
        return true;
    }
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return true;
    }
    error = L"Cannot create folder " + path + L" (error " + std::to_wstring(GetLastError()) + L")";
    return false;
}

// Streams the entry's data from dataOffset into out, inflating when needed,
// and checks the length and CRC. What was read before a failure stays written.
bool UnpackData(Archive& archive, const Entry& entry, uint64_t dataOffset, HANDLE out,
                std::wstring& error) {
    const bool deflated = entry.method == 8;
    std::vector<unsigned char>& input = archive.input;
    std::vector<unsigned char>& output = archive.output;
    z_stream stream{};
    if (deflated && inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        error = L"Cannot start inflating";
        return false;
    }
    struct InflateEnd {
        z_stream* stream;
        bool active;
        ~InflateEnd() {
            if (active) {
                inflateEnd(stream);
            }
        }
    } ending{&stream, deflated};

    uint64_t offset = dataOffset;
    uint64_t remaining = entry.compressedSize;
    uint64_t written = 0;
    uLong crc = crc32(0, nullptr, 0);
    bool truncated = false;
    bool finished = false;
    auto emit = [&](const unsigned char* data, DWORD size) {
        DWORD done = 0;
        crc = crc32(crc, data, size);
        written += size;
        return size == 0 || (WriteFile(out, data, size, &done, nullptr) && done == size);
    };
    while (!finished) {
        DWORD got = 0;
        if (remaining > 0 && (!deflated || stream.avail_in == 0)) {
            const DWORD want = remaining < kChunk ? static_cast<DWORD>(remaining) : kChunk;
            got = ReadAt(archive.file, offset, input.data(), want);
            offset += got;
            remaining -= got;
            truncated = got < want;
            if (truncated) {
                remaining = 0;
            }
        }
        if (!deflated) {
            if (!emit(input.data(), got)) {
                error = L"Cannot write the file (error " + std::to_wstring(GetLastError()) + L")";
                return false;
            }
            finished = remaining == 0;
            continue;
        }
        if (got > 0) {
            stream.next_in = input.data();
            stream.avail_in = got;
        }
        stream.next_out = output.data();
        stream.avail_out = kChunk;
        const int result = inflate(&stream, Z_NO_FLUSH);
        if (!emit(output.data(), kChunk - stream.avail_out)) {
            error = L"Cannot write the file (error " + std::to_wstring(GetLastError()) + L")";
            return false;
        }
        if (result == Z_STREAM_END) {
            finished = true;
        } else if (result == Z_DATA_ERROR || result == Z_NEED_DICT || result == Z_MEM_ERROR) {
            error = L"Damaged compressed data";
            return false;
        } else if (result == Z_BUF_ERROR && remaining == 0 && stream.avail_in == 0) {
            // The input is used up before the end of the deflate stream.
            finished = true;
            truncated = true;
        }
    }
    if (truncated) {
        error = L"Truncated ZIP file data";
        return false;
    }
    if (written != entry.size) {
        error = L"ZIP entry size mismatch: " + std::to_wstring(written) + L" bytes, should be " +
                std::to_wstring(entry.size);
        return false;
    }
    if (crc != entry.crc) {
        wchar_t text[80];
        swprintf(text, 80, L"ZIP bad CRC: 0x%08lx should be 0x%08lx",
                 static_cast<unsigned long>(crc), static_cast<unsigned long>(entry.crc));
        error = text;
        return false;
    }
    return true;
}

// Unpacks one entry whose data starts at dataOffset. Reports its own failure
// and marks the archive as failed; returns false when the archive itself is
// damaged there, so that walking on through local headers makes no sense.
bool UnpackEntry(Archive& archive, const Entry& entry, uint64_t dataOffset,
                 const std::wstring& destination) {
    std::wstring error;
    std::vector<std::wstring> parts;
    std::wstring shownName;
    DecodeName(entry, 0, shownName);
    auto fail = [&](const std::wstring& reason) {
        Say(shownName + L": " + reason);
        archive.anyError = true;
    };
    if (!SplitEntryPath(archive, entry, parts, error)) {
        fail(error);
        return true;
    }
    if (IsSymbolicLinkEntry(entry)) {
        fail(L"Symbolic link entries are not supported");
        return true;
    }
    if ((entry.flags & 0x0001) != 0) {
        fail(L"Encrypted entries are not supported");
        return true;
    }
    const bool folder = IsFolderEntry(entry);
    if (!folder && entry.method != 0 && entry.method != 8) {
        fail(L"Unsupported ZIP compression method (" + std::to_wstring(entry.method) + L")");
        return true;
    }
    if (parts.empty()) {
        return true; // the destination itself
    }
    std::wstring path = destination;
    const size_t folders = folder ? parts.size() : parts.size() - 1;
    for (size_t i = 0; i < folders; ++i) {
        path += L"\\" + parts[i];
    }
    if (path != archive.lastFolder) {
        path = destination;
        for (size_t i = 0; i < folders; ++i) {
            path += L"\\" + parts[i];
            if (!EnsureFolder(path, error)) {
                fail(error);
                return true;
            }
        }
        archive.lastFolder = path;
    }
    if (!folder) {
        path += L"\\" + parts.back();
    }
    if (folder) {
        return true;
    }
    Handle out(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (out.value == INVALID_HANDLE_VALUE) {
        fail(L"Cannot create " + path + L" (error " + std::to_wstring(GetLastError()) + L")");
        return true;
    }
    if (!UnpackData(archive, entry, dataOffset, out.value, error)) {
        fail(error);
        return error.rfind(L"Truncated", 0) != 0 && error != L"Damaged compressed data";
    }
    return true;
}

// Where an entry's data starts: after its local header, whose name and extra
// field lengths may differ from the central directory's.
bool LocalDataOffset(const Archive& archive, uint64_t headerOffset, uint64_t& dataOffset) {
    unsigned char header[kLocalHeaderSize];
    if (ReadAt(archive.file, headerOffset, header, kLocalHeaderSize) != kLocalHeaderSize ||
        Read32(header) != kLocalHeaderSignature) {
        return false;
    }
    dataOffset = headerOffset + kLocalHeaderSize + Read16(header + 26) + Read16(header + 28);
    return true;
}

void UnpackByCentralDirectory(Archive& archive, const std::vector<Entry>& entries,
                              const std::wstring& destination) {
    for (const Entry& entry : entries) {
        uint64_t dataOffset = 0;
        if (!LocalDataOffset(archive, entry.localHeaderOffset, dataOffset)) {
            std::wstring shownName;
            DecodeName(entry, 0, shownName);
            Say(shownName + L": Damaged ZIP local file header");
            archive.anyError = true;
            continue;
        }
        UnpackEntry(archive, entry, dataOffset, destination);
    }
}

// For an archive without an intact central directory: walks the local headers
// from the start and unpacks what can be read. Always a failure, because the
// archive is damaged; reason says why the walk could not be trusted.
void UnpackByLocalHeaders(Archive& archive, const std::wstring& destination,
                          const std::wstring& reason) {
    uint64_t offset = 0;
    for (;;) {
        unsigned char header[kLocalHeaderSize];
        const DWORD got = ReadAt(archive.file, offset, header, kLocalHeaderSize);
        if (got >= 4 &&
            (Read32(header) == kCentralHeaderSignature || Read32(header) == kEndSignature)) {
            Say(reason);
            break;
        }
        if (got >= 4 && Read32(header) != kLocalHeaderSignature) {
            Say(offset == 0 ? L"Error opening archive: Unrecognized archive format"
                            : L"Damaged ZIP file: no header where one should be");
            break;
        }
        if (got < kLocalHeaderSize) {
            Say(offset == 0 && got == 0 ? L"Error opening archive: Unrecognized archive format"
                                        : L"Truncated ZIP file header");
            break;
        }
        Entry entry;
        ReadCommonFields(header + 4, entry);
        const uint16_t nameLength = Read16(header + 26);
        const uint64_t dataOffset = offset + kLocalHeaderSize + nameLength + Read16(header + 28);
        entry.rawName.resize(nameLength);
        if (ReadAt(archive.file, offset + kLocalHeaderSize, entry.rawName.data(), nameLength) !=
                nameLength ||
            dataOffset > archive.size) {
            Say(L"Truncated ZIP file header");
            break;
        }
        if ((entry.flags & 0x0008) != 0) {
            // The sizes follow the data; without the directory there is no
            // safe way to find where it ends.
            Say(L"Cannot unpack a damaged archive whose entries carry their sizes after the data");
            break;
        }
        if (!UnpackEntry(archive, entry, dataOffset, destination)) {
            break;
        }
        offset = dataOffset + entry.compressedSize;
    }
    archive.anyError = true;
}

// Test hook: when MOVORA_TAR_STANDIN_FIRST holds a command line, it is run
// and waited for before the archive is opened, so that a test can act while
// the setup program waits for the tar tool and the tool does not hold the
// archive yet.
void RunFirstCommand() {
    wchar_t command[4096] = {};
    const DWORD length = GetEnvironmentVariableW(L"MOVORA_TAR_STANDIN_FIRST", command, 4096);
    if (length == 0 || length >= 4096) {
        return;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                       nullptr, &startup, &info)) {
        WaitForSingleObject(info.hProcess, 60000);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
}

int Usage() {
    Say(L"this stand-in only unpacks zip files:\n"
        L"  tar.exe -xf <zip file> -C <existing folder>\n"
        L"  tar.exe -C <existing folder> -xf <zip file>");
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        return Usage();
    }
    std::wstring zip;
    std::wstring destination;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::wstring option = argv[i];
        if (option == L"-xf" && zip.empty()) {
            zip = argv[i + 1];
        } else if (option == L"-C" && destination.empty()) {
            destination = argv[i + 1];
        } else {
            return Usage();
        }
    }
    if (zip.empty() || destination.empty()) {
        return Usage();
    }
    const DWORD attributes = GetFileAttributesW(destination.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        Say(L"could not chdir to '" + destination + L"'");
        return 1;
    }
    RunFirstCommand();
    while (destination.size() > 1 && (destination.back() == L'\\' || destination.back() == L'/')) {
        destination.pop_back();
    }
    Handle file(CreateFileW(zip.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (file.value == INVALID_HANDLE_VALUE || !GetFileSizeEx(file.value, &size)) {
        Say(L"Error opening archive: Failed to open '" + zip + L"'");
        return 1;
    }
    Archive archive;
    archive.file = file.value;
    archive.size = static_cast<uint64_t>(size.QuadPart);
    std::vector<Entry> entries;
    std::wstring reason;
    if (ReadCentralDirectory(archive, entries, reason)) {
        UnpackByCentralDirectory(archive, entries, destination);
    } else {
        UnpackByLocalHeaders(archive, destination, reason);
    }
    if (archive.anyError) {
        Say(L"Error exit delayed from previous errors.");
        return 1;
    }
    return 0;
}
