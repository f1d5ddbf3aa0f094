#include "tests/support/zip_writer.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <limits>

namespace testing_support {

namespace {

// 2024-01-01 00:00:00 in MS-DOS form: fixed, so equal entries give equal files.
constexpr uint16_t kDosTime = 0;
constexpr uint16_t kDosDate = ((2024 - 1980) << 9) | (1 << 5) | 1;
// Made by MS-DOS-compatible host, format 2.0; external attribute 0x10 marks a folder.
constexpr uint16_t kVersionMadeBy = 20;
constexpr uint16_t kVersionNeeded = 20;
constexpr uint32_t kFolderAttribute = 0x10;
constexpr size_t kDeflateChunk = 256 * 1024;

void Put16(std::string& out, uint16_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>(value >> 8);
}

void Put32(std::string& out, uint32_t value) {
    Put16(out, static_cast<uint16_t>(value & 0xFFFF));
    Put16(out, static_cast<uint16_t>(value >> 16));
}

bool HasNonAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return true;
        }
    }
    return false;
}

// The fields that the local header and the central directory record share,
// from "version needed" to the name's length.
template <typename Record> void PutSharedFields(std::string& out, const Record& record) {
    Put16(out, kVersionNeeded);
    Put16(out, record.flags);
    Put16(out, record.method);
    Put16(out, kDosTime);
    Put16(out, kDosDate);
    Put32(out, record.crc);
    Put32(out, record.compressedSize);
    Put32(out, record.size);
    Put16(out, static_cast<uint16_t>(record.name.size()));
}

bool Fits32(uint64_t value) {
    return value <= std::numeric_limits<uint32_t>::max();
}

} // namespace

ZipEntry ZipFile(std::string name, std::string data, ZipMethod method) {
    ZipEntry entry;
    entry.name = std::move(name);
    entry.data = std::move(data);
    entry.method = method;
    return entry;
}

ZipEntry ZipFolder(std::string name) {
    if (name.empty() || name.back() != '/') {
        name += '/';
    }
    ZipEntry entry;
    entry.name = std::move(name);
    entry.method = ZipMethod::Stored;
    return entry;
}

ZipWriter::ZipWriter(const std::wstring& path)
    : file_(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (!Valid(file_)) {
        ADD_FAILURE() << "cannot create the zip file (error " << GetLastError() << ")";
    }
}

ZipWriter::~ZipWriter() {
    if (!finished_) {
        Finish();
    }
}

void ZipWriter::Write(const void* data, size_t size) {
    DWORD written = 0;
    if (!Valid(file_)) {
        return;
    }
    if (!WriteFile(file_.get(), data, static_cast<DWORD>(size), &written, nullptr) ||
        written != size) {
        ADD_FAILURE() << "cannot write the zip file (error " << GetLastError() << ")";
        file_.reset();
        return;
    }
    position_ += size;
}

void ZipWriter::Add(const ZipEntry& entry) {
    if (finished_ || !Valid(file_)) {
        ADD_FAILURE() << "entry added to a zip file that is finished or failed";
        return;
    }
    if (records_.size() >= 0xFFFF || !Fits32(position_) || !Fits32(entry.data.size()) ||
        entry.name.size() > 0xFFFF) {
        ADD_FAILURE() << "the zip file would need ZIP64, which this writer does not write";
        return;
    }
    const bool folder = !entry.name.empty() && entry.name.back() == '/';
    Record record{};
    record.name = entry.name;
    record.flags = entry.utf8 && HasNonAscii(entry.name) ? 0x0800 : 0;
    record.method = !folder && entry.method == ZipMethod::Deflated ? 8 : 0;
    record.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
                                             static_cast<uInt>(entry.data.size())));
    if (entry.badCrc) {
        record.crc ^= 0xFFFFFFFF;
    }
    record.size = static_cast<uint32_t>(entry.data.size());
    record.compressedSize = record.size; // stored; a deflated size is patched in below
    record.attributes = folder ? kFolderAttribute : 0;
    record.offset = static_cast<uint32_t>(position_);
    layout_.entryOffsets.push_back(position_);

    std::string header;
    Put32(header, 0x04034b50);
    PutSharedFields(header, record);
    Put16(header, 0); // no extra field
    header += record.name;
    Write(header.data(), header.size());
    layout_.dataOffsets.push_back(position_);

    if (record.method == 0) {
        Write(entry.data.data(), entry.data.size());
    } else {
        // Compressed chunk by chunk straight to the file, then the size is
        // written into the local header: no second copy of the data.
        z_stream stream{};
        deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
        ScopeExit end([&] { deflateEnd(&stream); });
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(entry.data.data()));
        stream.avail_in = static_cast<uInt>(entry.data.size());
        std::vector<unsigned char> chunk(kDeflateChunk);
        const uint64_t dataStart = position_;
        int result = Z_OK;
        while (result == Z_OK && Valid(file_)) {
            stream.next_out = chunk.data();
            stream.avail_out = static_cast<uInt>(chunk.size());
            result = deflate(&stream, Z_FINISH);
            Write(chunk.data(), chunk.size() - stream.avail_out);
        }
        if (result != Z_STREAM_END && Valid(file_)) {
            ADD_FAILURE() << "deflate failed with " << result;
        }
        if (!Fits32(position_ - dataStart)) {
            ADD_FAILURE() << "the compressed entry would need ZIP64";
        }
        record.compressedSize = static_cast<uint32_t>(position_ - dataStart);
        std::string size;
        Put32(size, record.compressedSize);
        LARGE_INTEGER at{};
        at.QuadPart = static_cast<LONGLONG>(record.offset) + 18;
        LARGE_INTEGER back{};
        back.QuadPart = static_cast<LONGLONG>(position_);
        DWORD written = 0;
        if (Valid(file_) &&
            !(SetFilePointerEx(file_.get(), at, nullptr, FILE_BEGIN) &&
              WriteFile(file_.get(), size.data(), 4, &written, nullptr) && written == 4 &&
              SetFilePointerEx(file_.get(), back, nullptr, FILE_BEGIN))) {
            ADD_FAILURE() << "cannot write the compressed size (error " << GetLastError() << ")";
            file_.reset();
        }
    }
    records_.push_back(std::move(record));
}

ZipLayout ZipWriter::Finish() {
    if (finished_) {
        return layout_;
    }
    finished_ = true;
    if (!Fits32(position_)) {
        ADD_FAILURE() << "the central directory would need ZIP64";
    }
    layout_.centralDirectoryOffset = position_;
    std::string directory;
    for (const Record& record : records_) {
        Put32(directory, 0x02014b50);
        Put16(directory, kVersionMadeBy);
        PutSharedFields(directory, record);
        Put16(directory, 0); // extra field
        Put16(directory, 0); // comment
        Put16(directory, 0); // disk
        Put16(directory, 0); // internal attributes
        Put32(directory, record.attributes);
        Put32(directory, record.offset);
        directory += record.name;
    }
    const uint16_t count = static_cast<uint16_t>(records_.size());
    std::string end;
    Put32(end, 0x06054b50);
    Put16(end, 0); // this disk
    Put16(end, 0); // the directory's disk
    Put16(end, count);
    Put16(end, count);
    Put32(end, static_cast<uint32_t>(directory.size()));
    Put32(end, static_cast<uint32_t>(layout_.centralDirectoryOffset));
    Put16(end, 0); // comment
    Write(directory.data(), directory.size());
    Write(end.data(), end.size());
    layout_.size = position_;
    file_.reset();
    return layout_;
}

ZipLayout WriteZip(const std::wstring& path, const std::vector<ZipEntry>& entries) {
    ZipWriter writer(path);
    for (const ZipEntry& entry : entries) {
        writer.Add(entry);
    }
    return writer.Finish();
}

void TruncateFile(const std::wstring& path, uint64_t size) {
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(size);
    if (!Valid(file) || !SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(file.get())) {
        ADD_FAILURE() << "cannot cut the file down (error " << GetLastError() << ")";
    }
}

} // namespace testing_support
