#include "shell/text.h"

#include <gtest/gtest.h>

namespace {

TEST(Utf8ToWide, EmptyInputGivesEmptyText) {
    EXPECT_EQ(Utf8ToWide(""), L"");
}

TEST(Utf8ToWide, ConvertsAsciiAndMultibyteText) {
    EXPECT_EQ(Utf8ToWide("Movora 1.2"), L"Movora 1.2");
    // 2-, 3- and 4-byte sequences; the last becomes a surrogate pair.
    EXPECT_EQ(Utf8ToWide("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAC"),
              L"\u00E9t\u00E9 \u20AC \U0001F3AC");
    EXPECT_EQ(Utf8ToWide("\xF0\x9F\x8E\xAC").size(), 2u);
}

TEST(Utf8ToWide, KeepsEmbeddedNulls) {
    EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
}

TEST(Utf8ToWide, IllFormedInputBecomesReplacementCharacters) {
    const std::wstring wide = Utf8ToWide("a\xFF"
                                         "b");
    EXPECT_EQ(wide.front(), L'a');
    EXPECT_EQ(wide.back(), L'b');
    EXPECT_NE(wide.find(L'\uFFFD'), std::wstring::npos);
}

} // namespace
