// file_tamperer.exe <file> <replacement> <report>: another process of the
// same account that tries, one way after another, to change what <file>
// holds, mostly into the bytes of <replacement>:
//
//   write    open it for writing and write other bytes over it
//   rename   rename it aside, then copy the replacement to its name
//   delete   delete it, then copy the replacement to its name
//   replace  move a copy of the replacement over it
//
// and writes one line per way to <report>: the way, a space and 0 when it
// worked, else the Windows error that stopped it. Exits 0 once the report is
// written, 2 on a wrong command line or when the report cannot be written.
// A test support program: never shipped with the setup program.
#include <windows.h>

#include <string>

namespace {

DWORD Write(const std::wstring& file) {
    const std::string bytes = "tampered";
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return GetLastError();
    }
    DWORD written = 0;
    const bool done =
        WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size() && SetEndOfFile(handle);
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    CloseHandle(handle);
    return error;
}

DWORD PutInPlace(const std::wstring& replacement, const std::wstring& file) {
    return CopyFileW(replacement.c_str(), file.c_str(), FALSE) ? ERROR_SUCCESS : GetLastError();
}

DWORD RenameAside(const std::wstring& file, const std::wstring& replacement) {
    if (!MoveFileExW(file.c_str(), (file + L".aside").c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return GetLastError();
    }
    return PutInPlace(replacement, file);
}

DWORD Delete(const std::wstring& file, const std::wstring& replacement) {
    if (!DeleteFileW(file.c_str())) {
        return GetLastError();
    }
    return PutInPlace(replacement, file);
}

DWORD MoveOver(const std::wstring& file, const std::wstring& replacement) {
    const std::wstring copy = file + L".incoming";
    if (!CopyFileW(replacement.c_str(), copy.c_str(), FALSE)) {
        return GetLastError();
    }
    if (!MoveFileExW(copy.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        DeleteFileW(copy.c_str());
        return error;
    }
    return ERROR_SUCCESS;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) {
        return 2;
    }
    const std::wstring file = argv[1];
    const std::wstring replacement = argv[2];
    const std::pair<const char*, DWORD> results[] = {
        {"write", Write(file)},
        {"rename", RenameAside(file, replacement)},
        {"delete", Delete(file, replacement)},
        {"replace", MoveOver(file, replacement)},
    };
    std::string report;
    for (const auto& [way, error] : results) {
        report += std::string(way) + " " + std::to_string(error) + "\n";
    }
    HANDLE out = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool done =
        out != INVALID_HANDLE_VALUE &&
        WriteFile(out, report.data(), static_cast<DWORD>(report.size()), &written, nullptr) &&
        written == report.size();
    if (out != INVALID_HANDLE_VALUE) {
        CloseHandle(out);
    }
    return done ? 0 : 2;
}
