#include "tests/support/small_volume.h"

#include <filesystem>

namespace testing_support {

namespace fs = std::filesystem;

namespace {

// Runs a host shell script whose last act writes its outcome to the file
// result (through a ".part" file renamed into place); returns what it wrote,
// or empty when nothing came within the time.
std::string RunHostScript(const std::string& script, const std::wstring& result) {
    const std::string hostResult = HostPath(result);
    std::error_code ignored;
    fs::remove(fs::path(result), ignored);
    const std::string command = "/bin/sh -c \"(" + script + ") >'" + hostResult +
                                ".part' 2>&1; mv '" + hostResult + ".part' '" + hostResult + "'\"";
    if (!RunHostProgram(command, [&] {
            std::error_code error;
            return fs::exists(fs::path(result), error);
        })) {
        return std::string();
    }
    return ReadFileBytes(result);
}

} // namespace

bool SmallVolume::Mount(size_t bytes, std::string& whyNot) {
    if (!RunningUnderWine()) {
        whyNot = "a small volume is made with the host's mount, which needs Wine";
        return false;
    }
    mountPoint_ = folder_ / L"volume";
    if (!CreateDirectoryW(mountPoint_.c_str(), nullptr)) {
        whyNot = "the mount point could not be created";
        return false;
    }
    hostMountPoint_ = HostPath(mountPoint_);
    const std::string sizeKiB = std::to_string((bytes + 1023) / 1024);
    const std::string outcome =
        RunHostScript("mount -t tmpfs -o size=" + sizeKiB + "k,mode=0777 movora-small '" +
                          hostMountPoint_ + "' && echo mounted",
                      folder_ / L"mount-result");
    mounted_ = outcome.find("mounted") != std::string::npos;
    if (!mounted_) {
        whyNot = "the host refused to mount a tmpfs: " +
                 (outcome.empty() ? std::string("no answer from the host shell") : outcome);
    }
    return mounted_;
}

SmallVolume::~SmallVolume() {
    if (mounted_) {
        RunHostScript("umount -l '" + hostMountPoint_ + "'; echo unmounted",
                      folder_ / L"umount-result");
    }
}

} // namespace testing_support
