// Checking a downloaded package against the SHA-256 that the release list
// names.
#pragma once

#include <string>
#include <string_view>

// Bytes of a SHA-256 digest.
inline constexpr size_t kSha256Size = 32;

// SHA-256 of the file at path, as 64 lowercase hexadecimal characters in
// digest, streamed through one 256 KiB buffer with CNG. A file that cannot be
// opened or read contributes only the bytes read so far (none when it could
// not be opened), so its digest is not an error here: the comparison rejects
// it. Returns false with "Could not check the download." in error only when
// CNG itself fails; digest is then untouched.
bool VerifySha256(const std::wstring& path, std::wstring& digest, std::wstring& error);

// True when both texts are equal after lowering A to Z; nothing is trimmed,
// so a trailing blank or line break never matches.
bool DigestMatches(std::wstring computed, std::wstring expected);

// SHA-256 of bytes into digest, with CNG. False only when CNG itself fails;
// digest is then untouched.
bool Sha256OfBytes(std::string_view bytes, unsigned char (&digest)[kSha256Size]);
