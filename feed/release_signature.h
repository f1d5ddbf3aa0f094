// The release list's signature: the message the team's private key signs
// over a list's four values, and the check of a signature against the public
// keys this build trusts (ECDSA P-256 over SHA-256, through CNG).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The four values of a release list as the key scanner collects them: UTF-8
// bytes after its escape handling, empty for a missing key, notes uncut.
struct ReleaseListValues {
    std::string version;
    std::string package;
    std::string notes;
    std::string sha256;
};

// The signed message: the line "MovoraSetup release list 1", then for version,
// package, notes and sha256 in this order the value's byte count in decimal,
// a colon, the value's bytes and a line feed. The counts make every split of
// the bytes between the values a different message.
std::string ReleaseListMessage(const ReleaseListValues& values);

// Reads text as exactly 2 * count hexadecimal digits of either case into
// bytes[0..count). False for any other length or any other character; bytes
// may then hold a part. Reads nothing outside text and writes nothing outside
// bytes[0..count).
bool ParseHexBytes(std::string_view text, unsigned char* bytes, size_t count);

// True when signatureHex is 128 hexadecimal digits, r then s, of an ECDSA
// P-256 signature over the SHA-256 of message made by the private half of one
// of trustedKeys: public keys separated by ";", each 128 hexadecimal digits, X
// then Y. False for everything else: a malformed signature, another key's
// signature, changed bytes, no usable key, or CNG failing.
bool VerifyReleaseSignature(std::string_view message, std::string_view signatureHex,
                            std::string_view trustedKeys);
