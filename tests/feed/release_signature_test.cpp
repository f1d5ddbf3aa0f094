// The release list's signature: the signed message, hexadecimal parsing, and
// verification with real CNG against the committed test keys and against a
// signature made outside the program.
#include "feed/release_signature.h"

#include "feed/release_list.h"
#include "tests/support/release_signing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <functional>

using namespace testing_support;

namespace {

const ReleaseListValues kValues{"2.0.1", "https://releases.example/p/Movora-2.0.1.zip",
                                "Faster start.\nCaf\xC3\xA9", std::string(64, 'a')};

TEST(ReleaseListMessageTest, CountsEveryValuesBytesInTheFixedOrder) {
    EXPECT_EQ(ReleaseListMessage(kValues), "MovoraSetup release list 1\n"
                                           "5:2.0.1\n"
                                           "43:https://releases.example/p/Movora-2.0.1.zip\n"
                                           "19:Faster start.\nCaf\xC3\xA9\n"
                                           "64:" +
                                               std::string(64, 'a') + "\n");
    EXPECT_EQ(ReleaseListMessage(ReleaseListValues{}),
              "MovoraSetup release list 1\n0:\n0:\n0:\n0:\n");
    // Bytes moved from one value to the next make another message.
    EXPECT_NE(ReleaseListMessage({"1.0", "x", "", ""}), ReleaseListMessage({"1.0x", "", "", ""}));
}

// A list signed by openssl (dgst -sha256 -sign with the second test key, its
// DER signature written as r then s), as the release tool signs: the program
// reads the same bytes, builds the same message and accepts the signature.
TEST(ReleaseSignatureTest, AcceptsAListSignedOutsideTheProgram) {
    const std::string document =
        "{\"version\": \"1.2.0\",\n"
        " \"package\": \"https://releases.movora.app/releases/Movora-1.2.0.zip\",\n"
        " \"notes\": \"Caf\xC3\xA9 \\\"quoted\\\"\\r\\nsecond line\",\n"
        " \"sha256\": \"9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08\",\n"
        " \"signature\": "
        "\"ccff88b6d08919342007a5e150d258ab58cb33aec98ff7d2436c64932f148878"
        "03fbe7d6087d62bdb8334ce1f9f457f7a07c56be3506a5e01c695db30fb0e101\"}";
    const std::string message = ReleaseListMessage(
        {ExtractJsonBytes(document, "version"), ExtractJsonBytes(document, "package"),
         ExtractJsonBytes(document, "notes"), ExtractJsonBytes(document, "sha256")});
    const std::string signature = ExtractJsonBytes(document, "signature");
    EXPECT_TRUE(VerifyReleaseSignature(message, signature, TestPublicKey(TestKey::Second)));
    EXPECT_FALSE(VerifyReleaseSignature(message, signature, TestPublicKey(TestKey::First)));
}

TEST(ReleaseSignatureTest, TestKeyFilesHoldMatchingHalves) {
    for (const TestKey key : {TestKey::First, TestKey::Second}) {
        EXPECT_EQ(TestPublicKey(key).size(), 128u);
        EXPECT_EQ(PublicKeyOfPrivateFile(key), TestPublicKey(key));
    }
    EXPECT_NE(TestPublicKey(TestKey::First), TestPublicKey(TestKey::Second));
}

// ---------------------------------------------------------------------------
// ParseHexBytes

struct HexCase {
    const char* name;
    std::string text;
    bool parsed;
};

void PrintTo(const HexCase& c, std::ostream* out) {
    *out << c.name;
}

class ParseHexBytesTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(ParseHexBytesTest, TakesExactlyEightDigitsForFourBytes) {
    const HexCase& c = GetParam();
    // Guard bytes around the output catch a write outside it.
    unsigned char buffer[6] = {0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A};
    EXPECT_EQ(ParseHexBytes(c.text, buffer + 1, 4), c.parsed);
    EXPECT_EQ(buffer[0], 0x5A);
    EXPECT_EQ(buffer[5], 0x5A);
    if (c.parsed) {
        const unsigned char expected[] = {0x01, 0xAB, 0xCD, 0xEF};
        EXPECT_TRUE(std::equal(buffer + 1, buffer + 5, expected));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseHexBytesTest,
    ::testing::Values(
        HexCase{"lower", "01abcdef", true}, HexCase{"upper", "01ABCDEF", true},
        HexCase{"mixed", "01aBcDeF", true}, HexCase{"empty", "", false},
        HexCase{"one digit short", "01abcde", false}, HexCase{"one digit over", "01abcdef0", false},
        HexCase{"one byte over", "01abcdef00", false}, HexCase{"letter after f", "01abcdeg", false},
        HexCase{"blank inside", "01ab cdef", false}, HexCase{"blank after", "01abcde ", false},
        HexCase{"prefix 0x", "0x01abcd", false}, HexCase{"sign", "-1abcdef", false},
        HexCase{"nul inside", std::string("01ab\0def", 8), false},
        HexCase{"byte above 127",
                "01abcd\xE9"
                "f",
                false}),
    [](const ::testing::TestParamInfo<HexCase>& info) {
        std::string name = info.param.name;
        std::replace_if(
            name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
        return name;
    });

// ---------------------------------------------------------------------------
// VerifyReleaseSignature with real CNG

struct VerifyCase {
    const char* name;
    TestKey signer;
    std::function<std::string()> trusted;            // the keys the build trusts
    std::function<std::string(std::string)> changed; // the signature as the list carries it
    bool messageChanged;
    bool verifies;
};

void PrintTo(const VerifyCase& c, std::ostream* out) {
    *out << c.name;
}

std::string First() {
    return TestPublicKey(TestKey::First);
}
std::string Second() {
    return TestPublicKey(TestKey::Second);
}
std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}
std::string Same(std::string signature) {
    return signature;
}
// The last digit of s changed.
std::string ChangeLastDigit(std::string signature) {
    signature.back() = signature.back() == '0' ? '1' : '0';
    return signature;
}

class VerifyReleaseSignatureTest : public ::testing::TestWithParam<VerifyCase> {};

TEST_P(VerifyReleaseSignatureTest, AcceptsOnlyATrustedKeysSignatureOverTheSameBytes) {
    const VerifyCase& c = GetParam();
    const std::string signature = SignMessage(ReleaseListMessage(kValues), c.signer);
    ASSERT_EQ(signature.size(), 128u);
    ReleaseListValues checked = kValues;
    if (c.messageChanged) {
        checked.notes += " ";
    }
    EXPECT_EQ(
        VerifyReleaseSignature(ReleaseListMessage(checked), c.changed(signature), c.trusted()),
        c.verifies);
}

INSTANTIATE_TEST_SUITE_P(
    Table, VerifyReleaseSignatureTest,
    ::testing::Values(
        VerifyCase{"FirstKey", TestKey::First, First, Same, false, true},
        VerifyCase{"SecondKeyOfTwo", TestKey::Second, [] { return First() + ";" + Second(); }, Same,
                   false, true},
        VerifyCase{"FirstKeyOfTwo", TestKey::First, [] { return First() + ";" + Second(); }, Same,
                   false, true},
        VerifyCase{"KeyInSmallLetters", TestKey::First, [] { return Lower(First()); }, Same, false,
                   true},
        VerifyCase{"SignatureInCapitals", TestKey::First, First,
                   [](std::string s) {
                       std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) {
                           return static_cast<char>(std::toupper(c));
                       });
                       return s;
                   },
                   false, true},
        VerifyCase{"UntrustedKey", TestKey::Second, First, Same, false, false},
        VerifyCase{"MessageChanged", TestKey::First, First, Same, true, false},
        VerifyCase{"LastDigitChanged", TestKey::First, First, ChangeLastDigit, false, false},
        VerifyCase{"RAndSSwapped", TestKey::First, First,
                   [](std::string s) { return s.substr(64) + s.substr(0, 64); }, false, false},
        VerifyCase{"NoTrustedKeys", TestKey::First, [] { return std::string(); }, Same, false,
                   false},
        VerifyCase{"MalformedKeyIsSkipped", TestKey::Second,
                   [] { return "zz;" + First() + ";" + Second(); }, Same, false, true},
        VerifyCase{"KeyNotOnTheCurve", TestKey::First, [] { return std::string(128, '1'); }, Same,
                   false, false},
        VerifyCase{"ZeroSignature", TestKey::First, First,
                   [](std::string) { return std::string(128, '0'); }, false, false}),
    [](const ::testing::TestParamInfo<VerifyCase>& info) { return info.param.name; });

} // namespace
