// Writes zip files for tests that need a release package: stored and deflated
// entries, folder entries, names in UTF-8 or code page 437, and damaged
// archives (a wrong CRC, a file cut short).
//
//   WriteZip(path, {ZipFile("Movora.exe", bytes),
//                   ZipFile("docs/read me.txt", "text", ZipMethod::Stored),
//                   ZipFolder("empty")});
//
// For large packages use ZipWriter directly: each entry goes to disk when it
// is added, and only the central directory records stay in memory.
// No ZIP64: an archive is limited to 65,535 entries and 4 GiB.
#pragma once

#include "shell/scoped.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

enum class ZipMethod { Stored, Deflated };

// One entry. A name ending in "/" is a folder entry and carries no data.
struct ZipEntry {
    std::string name; // written byte for byte; use "/" between folders
    std::string data;
    ZipMethod method = ZipMethod::Deflated;
    // True: a name with bytes above 0x7F is marked UTF-8 (flag bit 11).
    // False: no mark, so readers take the name as code page 437.
    bool utf8 = true;
    // Writes a CRC that does not match the data, in both headers.
    bool badCrc = false;
};

ZipEntry ZipFile(std::string name, std::string data, ZipMethod method = ZipMethod::Deflated);
ZipEntry ZipFolder(std::string name); // adds the trailing "/" when missing

// Where things lie in a written archive, for cutting it at a chosen point.
struct ZipLayout {
    std::vector<uint64_t> entryOffsets; // each entry's local header
    std::vector<uint64_t> dataOffsets;  // the first byte of each entry's data
    uint64_t centralDirectoryOffset = 0;
    uint64_t size = 0; // of the whole file
};

// Streams a zip file to disk. Every failure (the file cannot be created or
// written, an archive beyond the limits) fails the current test.
class ZipWriter {
  public:
    explicit ZipWriter(const std::wstring& path);
    ~ZipWriter(); // finishes the archive if Finish was not called
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    void Add(const ZipEntry& entry);
    // Writes the central directory and closes the file.
    ZipLayout Finish();

  private:
    struct Record {
        std::string name;
        uint16_t flags;
        uint16_t method;
        uint32_t crc;
        uint32_t compressedSize;
        uint32_t size;
        uint32_t attributes;
        uint32_t offset;
    };
    void Write(const void* data, size_t size);

    UniqueHandle file_;
    uint64_t position_ = 0;
    std::vector<Record> records_;
    ZipLayout layout_;
    bool finished_ = false;
};

// Writes a whole archive at once.
ZipLayout WriteZip(const std::wstring& path, const std::vector<ZipEntry>& entries);

// Cuts the file down to size bytes.
void TruncateFile(const std::wstring& path, uint64_t size);

} // namespace testing_support
