// The public keys of the release signing that this executable trusts, fixed
// when it is built.
#pragma once

#include <string_view>

// Empty when release lists are taken unsigned; otherwise one or two public
// keys separated by ";", each 128 hexadecimal digits, X then Y of the P-256
// point. Defined in a small translation unit of each executable's own, so the
// shipped program and a test build share every other object.
std::string_view TrustedReleaseKeys();
