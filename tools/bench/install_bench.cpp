// Measures RunInstall on a large package against the sum of its raw parts (a
// plain WinHTTP download loop, a plain CNG hash loop and UnpackPackage
// alone), the swap for releases of different file counts, and what trying
// again while a file is held costs when nothing is held. Prints
// "key seconds ok" lines for tools/bench/install-bench.
//
//   install_bench.exe <port> <package path on the server> <sha256> <rounds>
//                     <swap file count>...
#include "install/fs_calls.h"
#include "install/install_sequence.h"
#include "install/locations.h"
#include "install/swap.h"
#include "install/unpack.h"
#include "shell/app_state.h"
#include "shell/scoped.h"
#include "tools/bench/raw_parts.h"

#include <windows.h>
#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void Report(const char* key, double seconds, bool ok) {
    std::printf("%s %.6f %d\n", key, seconds, ok ? 1 : 0);
    std::fflush(stdout);
}

// The raw parts, one after the other, each timed on its own.
void MeasureParts(INTERNET_PORT port, const std::wstring& path, const std::wstring& packageFile,
                  const std::wstring& unpackFolder) {
    auto start = Clock::now();
    bool ok = RawDownload(port, path, packageFile);
    Report("part_download", Seconds(start), ok);

    start = Clock::now();
    ok = RawHash(packageFile);
    Report("part_hash", Seconds(start), ok);

    tolerant::RemoveTree(unpackFolder);
    raising::CreateFolders(unpackFolder);
    std::wstring error;
    start = Clock::now();
    ok = UnpackPackage(packageFile, unpackFolder, error);
    Report("part_unpack", Seconds(start), ok);

    tolerant::RemoveTree(unpackFolder);
    tolerant::Remove(packageFile);
}

// A fresh install of the whole package through RunInstall.
void MeasureInstall(const std::wstring& url, const std::wstring& sha256) {
    tolerant::RemoveTree(GetInstallRoot());
    {
        StatusGuard lock(g_app.statusMutex);
        g_app.packageUrl = url;
        g_app.latestVersion = L"9.9";
        g_app.packageSha256 = sha256;
    }
    std::wstring error;
    const auto start = Clock::now();
    const bool ok = RunInstall(error);
    Report("install", Seconds(start), ok);
    if (!ok) {
        std::fprintf(stderr, "RunInstall: %ls\n", error.c_str());
    }
}

// count files of 512 bytes in 100 folders below folder.
bool MakeRelease(const std::wstring& folder, int count) {
    const std::string bytes(512, 'r');
    for (int i = 0; i < count; ++i) {
        const std::wstring sub = JoinPath(folder, L"part" + std::to_wstring(i % 100));
        if (i < 100) {
            raising::CreateFolders(sub);
        }
        const std::wstring name =
            i == 0 ? std::wstring(kAppExeName) : L"file" + std::to_wstring(i) + L".dat";
        UniqueHandle file(CreateFileW(JoinPath(i == 0 ? folder : sub, name).c_str(), GENERIC_WRITE,
                                      0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!Valid(file) || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                       &written, nullptr)) {
            return false;
        }
    }
    return true;
}

// "_<count>", the suffix of a line's name. Appended rather than built with
// "_" + ..., which GCC 12 wrongly warns about at -O2 in C++20.
std::string CountSuffix(int count) {
    std::string suffix(1, '_');
    suffix += std::to_string(count);
    return suffix;
}

// The swap with an old and a new release of count files each; then its
// parts measured apart: one folder rename and the removal of one release.
void MeasureSwap(int count) {
    const std::wstring root = JoinPath(GetKnownFolderPath(FOLDERID_LocalAppData), L"MovoraBench");
    tolerant::RemoveTree(root);
    const std::wstring app = JoinPath(root, kAppFolderName);
    const std::wstring staging = JoinPath(root, kStagingFolderName);
    const std::wstring unpacked = JoinPath(staging, L"Movora 9.9");
    bool ok = MakeRelease(app, count) && MakeRelease(unpacked, count);
    const std::string suffix = CountSuffix(count);

    std::wstring error;
    auto start = Clock::now();
    ok = ok && SwapInRelease(root, unpacked, error);
    Report(("swap" + suffix).c_str(), Seconds(start), ok);

    // The parts: the new release renamed aside and back, then one release removed.
    const std::wstring aside = JoinPath(root, L"aside");
    start = Clock::now();
    raising::Rename(app, aside);
    raising::Rename(aside, app);
    Report(("swap_two_renames" + suffix).c_str(), Seconds(start), true);
    start = Clock::now();
    ok = tolerant::RemoveTree(app);
    Report(("swap_remove_release" + suffix).c_str(), Seconds(start), ok);
    tolerant::RemoveTree(root);
}

// What trying again while a file is held costs when nothing is held: the file
// layer's tree removal of a release of count files against a plain removal
// loop on an identical release, and renames through the layer against plain
// MoveFileExW calls, each pair measured back to back in alternating order.
void MeasureHeldFileCost(int count, int round) {
    const std::wstring root = JoinPath(GetKnownFolderPath(FOLDERID_LocalAppData), L"MovoraBench");
    tolerant::RemoveTree(root);
    const std::wstring layerTree = JoinPath(root, L"layer");
    const std::wstring rawTree = JoinPath(root, L"raw");
    bool made = MakeRelease(layerTree, count) && MakeRelease(rawTree, count);
    const std::string suffix = CountSuffix(count);
    const auto layerRemoval = [&] {
        const auto start = Clock::now();
        const bool ok = made && tolerant::RemoveTree(layerTree);
        Report(("held_cost_remove_layer" + suffix).c_str(), Seconds(start), ok);
    };
    const auto rawRemoval = [&] {
        const auto start = Clock::now();
        const bool ok = made && RawRemoveTree(rawTree);
        Report(("held_cost_remove_raw" + suffix).c_str(), Seconds(start), ok);
    };

    constexpr int kRenames = 2000;
    const std::wstring a = JoinPath(root, L"a.dat");
    const std::wstring b = JoinPath(root, L"b.dat");
    made = made && MakeRelease(JoinPath(root, L"one"), 1) &&
           MoveFileExW(JoinPath(JoinPath(root, L"one"), kAppExeName).c_str(), a.c_str(), 0);
    const auto layerRenames = [&] {
        const auto start = Clock::now();
        for (int i = 0; i < kRenames; ++i) {
            raising::Rename(i % 2 == 0 ? a : b, i % 2 == 0 ? b : a);
        }
        Report("held_cost_renames_layer", Seconds(start), made);
    };
    const auto rawRenames = [&] {
        const auto start = Clock::now();
        bool ok = made;
        for (int i = 0; i < kRenames; ++i) {
            ok = MoveFileExW((i % 2 == 0 ? a : b).c_str(), (i % 2 == 0 ? b : a).c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) &&
                 ok;
        }
        Report("held_cost_renames_raw", Seconds(start), ok);
    };
    if (round % 2 == 0) {
        layerRemoval();
        rawRemoval();
        layerRenames();
        rawRenames();
    } else {
        rawRemoval();
        layerRemoval();
        rawRenames();
        layerRenames();
    }
    tolerant::RemoveTree(root);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: install_bench <port> <path> <sha256> <rounds> <count>...\n");
        return 2;
    }
    const auto port = static_cast<INTERNET_PORT>(_wtoi(argv[1]));
    const std::wstring path = argv[2];
    const std::wstring sha256 = argv[3];
    const int rounds = _wtoi(argv[4]);
    const std::wstring url = L"http://127.0.0.1:" + std::to_wstring(port) + path;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); // for the shortcuts
    ScopeExit uninitialize([] { CoUninitialize(); });

    try {
        const std::wstring packageFile = JoinPath(GetTempFolder(), L"bench-package.zip");
        const std::wstring unpackFolder =
            JoinPath(GetKnownFolderPath(FOLDERID_LocalAppData), L"MovoraBenchUnpack");
        for (int round = 0; round < rounds; ++round) {
            // Alternate the order, so neither side always runs on a warm cache.
            if (round % 2 == 0) {
                MeasureParts(port, path, packageFile, unpackFolder);
                MeasureInstall(url, sha256);
            } else {
                MeasureInstall(url, sha256);
                MeasureParts(port, path, packageFile, unpackFolder);
            }
        }
        tolerant::RemoveTree(GetInstallRoot());
        for (int i = 5; i < argc; ++i) {
            MeasureSwap(_wtoi(argv[i]));
        }
        if (argc > 5) {
            for (int round = 0; round < rounds; ++round) {
                MeasureHeldFileCost(_wtoi(argv[5]), round);
            }
        }
    } catch (const FileError& error) {
        std::fprintf(stderr, "file error: %ls %ls (%lu)\n", error.operation, error.path.c_str(),
                     error.code);
        return 1;
    }
    return 0;
}
