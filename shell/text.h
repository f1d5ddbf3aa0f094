// Text conversion shared by start-up and the release list.
#pragma once

#include <string>

// UTF-8 bytes to UTF-16 text. Empty input gives empty text without calling the
// platform; a conversion that yields nothing gives empty text; ill-formed input
// is converted as MultiByteToWideChar does it with flags 0.
std::wstring Utf8ToWide(const std::string& utf8);
