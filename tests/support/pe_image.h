// Reading a built program's PE headers, for tests of what it imports.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace testing_support {

// The whole file; empty when it cannot be read.
std::string ReadImage(const std::wstring& program);

// The NT headers of a PE32+ image read with ReadImage.
const IMAGE_NT_HEADERS64* NtHeaders(const std::string& image);

// The DLL names in the import directory of a PE32+ program, in lower case,
// in the order the import table lists them.
std::vector<std::string> ImportedDlls(const std::wstring& program);

} // namespace testing_support
