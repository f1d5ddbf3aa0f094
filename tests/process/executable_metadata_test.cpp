// Reads the built MovoraSetup.exe as a file: version block, manifest, icon
// group and the DLLs it imports.
#include "tests/support/pe_image.h"
#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using testing_support::BuiltProgram;

namespace {

std::vector<unsigned char> VersionBlock() {
    const std::wstring exe = BuiltProgram(L"MovoraSetup.exe");
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<unsigned char> block(size);
    if (size == 0 || !GetFileVersionInfoW(exe.c_str(), 0, size, block.data())) {
        block.clear();
    }
    return block;
}

TEST(ExecutableMetadata, FixedVersionIs0130) {
    std::vector<unsigned char> block = VersionBlock();
    ASSERT_FALSE(block.empty());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 0));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 3));
    EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(1, 0));
    EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, 3));
}

TEST(ExecutableMetadata, StringTableHoldsEveryString) {
    std::vector<unsigned char> block = VersionBlock();
    ASSERT_FALSE(block.empty());
    WORD* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0409);
    EXPECT_EQ(translation[1], 0x04B0);

    const std::pair<const wchar_t*, const wchar_t*> expected[] = {
        {L"CompanyName", L"Movora"},
        {L"FileDescription", L"Movora Setup"},
        {L"FileVersion", L"0.1.3"},
        {L"InternalName", L"MovoraSetup"},
        {L"OriginalFilename", L"MovoraSetup.exe"},
        {L"ProductName", L"Movora"},
        {L"ProductVersion", L"0.1.3"},
    };
    for (const auto& [name, value] : expected) {
        wchar_t* text = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        ASSERT_TRUE(
            VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&text), &length))
            << fs::path(name).string();
        EXPECT_STREQ(text, value) << fs::path(name).string();
    }
}

struct ModuleFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

UniqueModule LoadAsResources() {
    return UniqueModule(LoadLibraryExW(BuiltProgram(L"MovoraSetup.exe").c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

std::string ResourceBytes(HMODULE module, LPCWSTR name, LPCWSTR type) {
    HRSRC resource = FindResourceW(module, name, type);
    if (resource == nullptr) {
        return std::string();
    }
    const auto* data = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    return std::string(data, SizeofResource(module, resource));
}

TEST(ExecutableMetadata, ManifestAsksForNoElevationAndPerMonitorDpi) {
    UniqueModule module = LoadAsResources();
    ASSERT_TRUE(module);
    const std::string manifest = ResourceBytes(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_FALSE(manifest.empty());
    for (const char* part :
         {"name=\"Movora.Setup\"", "version=\"0.1.3.0\"", "processorArchitecture=\"amd64\"",
          "level=\"asInvoker\"", "uiAccess=\"false\"", ">PerMonitorV2<"}) {
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    }
}

#pragma pack(push, 2)
struct IconGroupHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
struct IconGroupEntry {
    BYTE width;
    BYTE height;
    BYTE colourCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytes;
    WORD id;
};
#pragma pack(pop)

TEST(ExecutableMetadata, IconGroupOneHoldsEightSizesIn32Bit) {
    UniqueModule module = LoadAsResources();
    ASSERT_TRUE(module);
    const std::string group = ResourceBytes(module.get(), MAKEINTRESOURCEW(1), RT_GROUP_ICON);
    ASSERT_GE(group.size(), sizeof(IconGroupHeader));
    const auto* header = reinterpret_cast<const IconGroupHeader*>(group.data());
    ASSERT_EQ(group.size(), sizeof(IconGroupHeader) + header->count * sizeof(IconGroupEntry));
    const auto* entries = reinterpret_cast<const IconGroupEntry*>(header + 1);

    std::set<int> sizes;
    for (WORD i = 0; i < header->count; ++i) {
        const int side = entries[i].width == 0 ? 256 : entries[i].width;
        EXPECT_EQ(entries[i].height == 0 ? 256 : entries[i].height, side);
        EXPECT_EQ(entries[i].bitCount, 32) << side;
        EXPECT_FALSE(ResourceBytes(module.get(), MAKEINTRESOURCEW(entries[i].id), RT_ICON).empty())
            << side;
        sizes.insert(side);
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 20, 24, 32, 40, 48, 64, 256}));
}

// The imports of a built program that Windows would not take from its
// known-DLL list: each of them would be searched for in the program's own
// folder first, where a planted copy runs before the program's first line.
std::vector<std::string> ImportsOutsideKnownDlls(const std::wstring& program) {
    // Windows 10 and 11 keep these in the KnownDLLs section.
    static const char* const kKnownDlls[] = {
        "advapi32.dll", "clbcatq.dll",  "combase.dll", "comdlg32.dll", "coml2.dll",   "gdi32.dll",
        "gdiplus.dll",  "imagehlp.dll", "imm32.dll",   "kernel32.dll", "msctf.dll",   "msvcrt.dll",
        "normaliz.dll", "nsi.dll",      "ole32.dll",   "oleaut32.dll", "psapi.dll",   "rpcrt4.dll",
        "sechost.dll",  "setupapi.dll", "shcore.dll",  "shell32.dll",  "shlwapi.dll", "user32.dll",
        "wldap32.dll",  "ws2_32.dll"};
    const std::vector<std::string> dlls = testing_support::ImportedDlls(program);
    EXPECT_FALSE(dlls.empty()) << "no imports read";
    std::vector<std::string> outside;
    for (const std::string& dll : dlls) {
        if (std::find_if(std::begin(kKnownDlls), std::end(kKnownDlls),
                         [&](const char* known) { return dll == known; }) == std::end(kKnownDlls)) {
            outside.push_back(dll);
        }
    }
    return outside;
}

TEST(ExecutableMetadata, IsAWindowsGuiProgram) {
    const std::string image = testing_support::ReadImage(BuiltProgram(L"MovoraSetup.exe"));
    EXPECT_EQ(testing_support::NtHeaders(image)->OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

TEST(ExecutableMetadata, ImportsOnlyKnownDlls) {
    EXPECT_EQ(ImportsOutsideKnownDlls(BuiltProgram(L"MovoraSetup.exe")),
              std::vector<std::string>{});
    // The check sees a program that imports WinHTTP directly (the benchmark
    // program does, for its raw loop).
    const std::vector<std::string> bench = ImportsOutsideKnownDlls(BuiltProgram(L"feed_bench.exe"));
    EXPECT_NE(std::find(bench.begin(), bench.end(), "winhttp.dll"), bench.end());
}

} // namespace
