// VerifySha256 through the real CNG on real files, and DigestMatches.
#include "feed/verify.h"

#include "tests/support/test_support.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testing_support::TempFolder;
using testing_support::WriteFileBytes;

namespace {

const wchar_t kEmptyDigest[] = L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// Bytes i % 251: never aligned with a power of two, so chunk edges show.
std::string Counting(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(i % 251);
    }
    return bytes;
}

struct KnownAnswer {
    const char* name;
    std::string content;
    const wchar_t* digest; // from an independent implementation
};

void PrintTo(const KnownAnswer& c, std::ostream* out) {
    *out << c.name;
}

class VerifySha256Test : public ::testing::TestWithParam<KnownAnswer> {
  protected:
    TempFolder folder_;
};

TEST_P(VerifySha256Test, GivesTheKnownDigestInLowercase) {
    const KnownAnswer& c = GetParam();
    const std::wstring path = folder_ / L"package.zip";
    WriteFileBytes(path, c.content);
    std::wstring digest = L"stale";
    std::wstring error = L"untouched";
    ASSERT_TRUE(VerifySha256(path, digest, error));
    EXPECT_EQ(digest, c.digest);
    EXPECT_EQ(error, L"untouched");
}

INSTANTIATE_TEST_SUITE_P(
    Table, VerifySha256Test,
    ::testing::Values(
        KnownAnswer{"empty", "", kEmptyDigest},
        KnownAnswer{"abc", "abc",
                    L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        KnownAnswer{"one byte short of the buffer", Counting(262143),
                    L"067ccdeccdcd73938e58ab56ed6a497dbcf95163d4a2e7cb03ee232499dce995"},
        KnownAnswer{"exactly one buffer", Counting(262144),
                    L"31a1f9dea0169551092d05e8bf4a446228c8c3eb4c9b713c66adcb7fd53c89be"},
        KnownAnswer{"exactly two buffers", Counting(524288),
                    L"61d1d9c5745bdaa4fab39240651bc242a5186b15393fd475082fcf6e84f400ab"},
        KnownAnswer{"two buffers and a byte", Counting(524289),
                    L"5584f83643017fcea9b7d65d3d3f890b5219eb1abfcb8896a2d4ef554d4612ec"}),
    [](const ::testing::TestParamInfo<KnownAnswer>& info) {
        return testing_support::CaseName(info.param.name);
    });

TEST(VerifySha256UnreadableTest, AFileThatCannotBeOpenedHashesAsEmpty) {
    TempFolder folder;
    const std::wstring locked = folder / L"locked.zip";
    WriteFileBytes(locked, "content that is never read");
    // Held open without any sharing: nobody else can open it meanwhile.
    UniqueHandle holder(CreateFileW(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(Valid(holder));

    for (const std::wstring& path : {folder / L"missing.zip", locked, folder.path()}) {
        std::wstring digest;
        std::wstring error;
        EXPECT_TRUE(VerifySha256(path, digest, error)) << fs::path(path).string();
        EXPECT_EQ(digest, kEmptyDigest) << fs::path(path).string();
        EXPECT_TRUE(error.empty());
        // The install then rejects the download unless that digest was expected.
        EXPECT_FALSE(DigestMatches(
            digest, L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    }
}

struct MatchCase {
    const char* name;
    const wchar_t* expected;
    bool matches;
};

void PrintTo(const MatchCase& c, std::ostream* out) {
    *out << c.name;
}

class DigestMatchesTest : public ::testing::TestWithParam<MatchCase> {};

const wchar_t kAbcDigest[] = L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST_P(DigestMatchesTest, ComparesIgnoringLetterCaseOnly) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(DigestMatches(kAbcDigest, c.expected), c.matches);
    EXPECT_EQ(DigestMatches(c.expected, kAbcDigest), c.matches); // symmetric
}

INSTANTIATE_TEST_SUITE_P(
    Table, DigestMatchesTest,
    ::testing::Values(
        MatchCase{"same", L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
                  true},
        MatchCase{"capitals", L"BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
                  true},
        MatchCase{"mixed", L"Ba7816bF8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015aD",
                  true},
        MatchCase{"trailing space",
                  L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad ", false},
        MatchCase{"trailing line break",
                  L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\n", false},
        MatchCase{"leading space",
                  L" ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad", false},
        MatchCase{"63 characters",
                  L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015a", false},
        MatchCase{"one digit differs",
                  L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ae", false},
        MatchCase{"empty", L"", false}),
    [](const ::testing::TestParamInfo<MatchCase>& info) {
        return testing_support::CaseName(info.param.name);
    });

} // namespace
