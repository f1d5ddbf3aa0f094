// A real, tiny file system for tests that need a full disk: under Wine, a
// host tmpfs of a few pages mounted on a fresh folder of the test's
// temporary folder. Mounting needs the host's mount rights (root with the
// capability to mount); where they are missing the volume says why, and the
// test skips.
#pragma once

#include "tests/support/test_support.h"

#include <cstddef>
#include <string>

namespace testing_support {

class SmallVolume {
  public:
    SmallVolume() = default;
    // Unmounts the volume (lazily, so a file still open does not keep it).
    ~SmallVolume();
    SmallVolume(const SmallVolume&) = delete;
    SmallVolume& operator=(const SmallVolume&) = delete;

    // Mounts a volume that holds at most `bytes` (rounded up to whole pages).
    // Returns false, with the reason in whyNot, when it cannot be made here.
    bool Mount(size_t bytes, std::string& whyNot);

    // The mounted folder, as Windows sees it (no trailing backslash).
    const std::wstring& path() const { return mountPoint_; }

  private:
    TempFolder folder_;
    std::wstring mountPoint_;
    std::string hostMountPoint_;
    bool mounted_ = false;
};

} // namespace testing_support
