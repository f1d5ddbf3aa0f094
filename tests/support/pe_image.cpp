#include "tests/support/pe_image.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace testing_support {

std::string ReadImage(const std::wstring& program) {
    return ReadFileBytes(program);
}

const IMAGE_NT_HEADERS64* NtHeaders(const std::string& image) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    return reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
}

std::vector<std::string> ImportedDlls(const std::wstring& program) {
    const std::string image = ReadImage(program);
    std::vector<std::string> names;
    if (image.size() < sizeof(IMAGE_DOS_HEADER)) {
        ADD_FAILURE() << "cannot read the program";
        return names;
    }
    const IMAGE_NT_HEADERS64* nt = NtHeaders(image);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    auto toOffset = [&](DWORD rva) -> size_t {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
                return rva - s.VirtualAddress + s.PointerToRawData;
            }
        }
        return 0;
    };
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
             image.data() + toOffset(directory.VirtualAddress));
         entry->Name != 0; ++entry) {
        std::string name = image.data() + toOffset(entry->Name);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        names.push_back(name);
    }
    return names;
}

} // namespace testing_support
