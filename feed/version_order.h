// The order of release versions, so that a build with release keys never
// installs an older release than the one installed or already shown.
#pragma once

#include <string_view>

// True when version is older than than. Each is read as its leading run of
// dot-separated decimal numbers ("1.10.2" of "1.10.2-beta"; the run ends at
// anything but a dot followed by a digit) and the two runs are compared number
// by number, a missing number counting as 0, so "1.2" and "1.2.0" are the
// same version and neither is older. Numbers of any length compare by value
// (leading zeros ignored), never overflowing. A text that does not begin with
// an ASCII digit has no number to compare: when either side is such a text,
// the result is false, so an unknown installed version holds nothing back
// and an offered version of that kind is never refused as older.
bool IsOlderVersion(std::wstring_view version, std::wstring_view than);
