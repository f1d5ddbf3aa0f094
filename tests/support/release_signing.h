// Signed release lists for tests: the committed test key pairs, signatures
// made with CNG from their private halves, and the keys the program under
// test trusts (the test executables' own definition of TrustedReleaseKeys).
#pragma once

#include "feed/release_signature.h"

#include <ostream>
#include <string>

namespace testing_support {

enum class TestKey { First, Second };

// How a test key reads in test names and messages.
inline void PrintTo(TestKey key, std::ostream* out) {
    *out << (key == TestKey::First ? "first test key" : "second test key");
}

// The public half as the build takes it (tests/keys/*.pub): 128 hexadecimal
// digits, X then Y, in capitals.
std::string TestPublicKey(TestKey key);

// The public half read out of the private key file itself, in capitals.
std::string PublicKeyOfPrivateFile(TestKey key);

// The signature of message with the test key: 128 lowercase hexadecimal
// digits, r then s. Fails the current test and returns empty when CNG cannot
// make it.
std::string SignMessage(const std::string& message, TestKey key);

// A release list document holding values (escaped so the key scanner reads
// them back byte for byte) and signature as "signature"; a key whose value is
// empty is left out.
std::string ReleaseListJson(const ReleaseListValues& values, const std::string& signature);

// ReleaseListJson with the signature of values' message made with key.
std::string SignedReleaseList(const ReleaseListValues& values, TestKey key = TestKey::First);

// While it lives, the program's code in this process trusts keys (the text
// TrustedReleaseKeys gives); before and after, it trusts none, as the
// unsigned test build does. Set it before a job starts, not while one runs.
class TrustedKeysScope {
  public:
    explicit TrustedKeysScope(std::string keys);
    ~TrustedKeysScope();
    TrustedKeysScope(const TrustedKeysScope&) = delete;
    TrustedKeysScope& operator=(const TrustedKeysScope&) = delete;

  private:
    std::string saved_;
};

// Both test keys, as the test-key build trusts them.
std::string BothTestKeys();

} // namespace testing_support
