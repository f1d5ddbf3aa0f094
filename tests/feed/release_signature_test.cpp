// The release list's signature: the signed message, hexadecimal parsing, and
// verification with real CNG against the committed test keys.
#include "feed/release_signature.h"

#include "tests/support/release_signing.h"

#include <gtest/gtest.h>

using namespace testing_support;

namespace {

TEST(ReleaseSignatureTest, Smoke) {
    const ReleaseListValues values{"1.0", "https://h/p.zip", "notes", "abc"};
    const std::string message = ReleaseListMessage(values);
    EXPECT_TRUE(
        VerifyReleaseSignature(message, SignMessage(message, TestKey::First), BothTestKeys()));
}

} // namespace
