// The order of release versions: leading dot-separated numbers compared by
// value, a missing number as 0, and texts without a leading number never
// older and never holding anything back.
#include "feed/version_order.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct VersionPair {
    const char* name;
    const wchar_t* version;
    const wchar_t* than;
    bool older;
};

void PrintTo(const VersionPair& c, std::ostream* out) {
    *out << c.name;
}

class IsOlderVersionTest : public ::testing::TestWithParam<VersionPair> {};

TEST_P(IsOlderVersionTest, ComparesTheLeadingNumbers) {
    const VersionPair& c = GetParam();
    EXPECT_EQ(IsOlderVersion(c.version, c.than), c.older);
}

INSTANTIATE_TEST_SUITE_P(
    Table, IsOlderVersionTest,
    ::testing::Values(
        // Number by number.
        VersionPair{"LastNumberLower", L"1.0.0", L"1.0.1", true},
        VersionPair{"LastNumberHigher", L"1.0.1", L"1.0.0", false},
        VersionPair{"FirstNumberDecides", L"1.9.9", L"2.0.0", true},
        VersionPair{"SameVersion", L"3.1.0", L"3.1.0", false},
        VersionPair{"NinePrecedesTen", L"1.9", L"1.10", true},
        VersionPair{"TenFollowsNine", L"1.10", L"1.9", false},
        VersionPair{"TwoPrecedesTen", L"2.0", L"10.0", true},
        VersionPair{"LeadingZerosIgnored", L"01.002", L"1.2", false},
        VersionPair{"LeadingZerosNotAFraction", L"1.02", L"1.3", true},
        // A missing number counts as 0.
        VersionPair{"ShorterEqual", L"1.2", L"1.2.0.0", false},
        VersionPair{"LongerEqual", L"1.2.0.0", L"1.2", false},
        VersionPair{"ShorterOlder", L"1.2", L"1.2.1", true},
        VersionPair{"LongerNewer", L"1.2.0.1", L"1.2", false},
        VersionPair{"AllZeros", L"0.0.0", L"0", false},
        // The run ends at anything but a dot followed by a digit.
        VersionPair{"SuffixIgnoredOffered", L"1.10.2-beta", L"1.10.2", false},
        VersionPair{"SuffixIgnoredInstalled", L"1.10.2", L"1.10.2-beta", false},
        VersionPair{"SuffixedOlder", L"1.10.1-rc2", L"1.10.2", true},
        VersionPair{"DoubleDotEndsTheRun", L"1..5", L"1.2", true},
        VersionPair{"TrailingDot", L"1.2.", L"1.2.1", true},
        VersionPair{"LetterEndsTheRun", L"1.2x.9", L"1.2.1", true},
        VersionPair{"DashIsNoSeparator", L"1.2-3", L"1.2.3", true},
        VersionPair{"SpaceEndsTheRun", L"2 .5", L"2.1", true},
        // Numbers of any length, by value: a parser that wraps at 2^32 or
        // 2^64 would read these as 1 and call them older.
        VersionPair{"PastTwoToThe32", L"4294967297", L"2", false},
        VersionPair{"PastTwoToThe64", L"18446744073709551617.0", L"2.0", false},
        VersionPair{"HugeInSecondPlace", L"1.18446744073709551617", L"1.2", false},
        VersionPair{"ThirtyDigitsOlder", L"99999999999999999999999999999",
                    L"100000000000000000000000000000", true},
        VersionPair{"ThirtyDigitsSame", L"100000000000000000000000000000",
                    L"00100000000000000000000000000000", false},
        // No leading number, on either side: never older.
        VersionPair{"OfferedWord", L"nightly", L"1.0", false},
        VersionPair{"OfferedPrefixed", L"v1.0", L"2.0", false},
        VersionPair{"OfferedLeadingBlank", L" 1.0", L"2.0", false},
        VersionPair{"OfferedLeadingDot", L".5", L"2.0", false},
        VersionPair{"OfferedEmpty", L"", L"2.0", false},
        VersionPair{"OfferedArabicIndicDigits", L"\u0661.\u0660", L"2.0", false},
        VersionPair{"OfferedFullWidthDigit", L"\uff11", L"2", false},
        VersionPair{"InstalledWord", L"1.0", L"beta", false},
        VersionPair{"InstalledPrefixed", L"1.0", L"v2.0", false},
        VersionPair{"InstalledEmpty", L"1.0", L"", false},
        VersionPair{"BothWords", L"alpha", L"beta", false}),
    [](const ::testing::TestParamInfo<VersionPair>& info) { return info.param.name; });

} // namespace
