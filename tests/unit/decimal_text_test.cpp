// Plain decimal text of unsigned counts: digits only, no sign, grouping or leading zeros, up to the
// twenty digits of the largest 64-bit value.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "text/decimal_text.h"

TEST(DecimalText, SmallNumbers) {
    EXPECT_EQ(DecimalText(0), L"0");
    EXPECT_EQ(DecimalText(1), L"1");
    EXPECT_EQ(DecimalText(9), L"9");
    EXPECT_EQ(DecimalText(10), L"10");
    EXPECT_EQ(DecimalText(99), L"99");
    EXPECT_EQ(DecimalText(100), L"100");
    EXPECT_EQ(DecimalText(404), L"404");
}

TEST(DecimalText, NoGroupingOrLeadingZeros) {
    EXPECT_EQ(DecimalText(1000), L"1000");
    EXPECT_EQ(DecimalText(1048576), L"1048576");
    EXPECT_EQ(DecimalText(12150), L"12150");
    EXPECT_EQ(DecimalText(1000001), L"1000001");
}

TEST(DecimalText, ThirtyTwoBitBoundary) {
    EXPECT_EQ(DecimalText(4294967295u), L"4294967295");
    EXPECT_EQ(DecimalText(4294967296ull), L"4294967296");
    EXPECT_EQ(DecimalText(2147483648u), L"2147483648"); // the sign bit of a 32-bit int
}

TEST(DecimalText, SixtyFourBitExtremes) {
    EXPECT_EQ(DecimalText(std::numeric_limits<std::uint64_t>::max()), L"18446744073709551615");
    EXPECT_EQ(DecimalText(std::numeric_limits<std::uint64_t>::max()).size(), 20u);
    EXPECT_EQ(DecimalText(9223372036854775808ull), L"9223372036854775808"); // 2^63
    EXPECT_EQ(DecimalText(10000000000000000000ull), L"10000000000000000000");
    EXPECT_EQ(DecimalText(9999999999999999999ull), L"9999999999999999999");
}

TEST(DecimalText, EveryPowerOfTenAndTheNumberBelowIt) {
    std::uint64_t power = 1;
    for (std::size_t zeros = 0; zeros <= 19; ++zeros) {
        SCOPED_TRACE(zeros);
        EXPECT_EQ(DecimalText(power), L"1" + std::wstring(zeros, L'0'));
        if (zeros > 0) {
            EXPECT_EQ(DecimalText(power - 1), std::wstring(zeros, L'9'));
        }
        if (zeros < 19) {
            power *= 10;
        }
    }
}
