#include "base/CardText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(CardTextTest, PanFromTrack2) {
    EXPECT_EQ(GetPANFromTrack2("4111111111111111D2512101"), "4111111111111111");
    EXPECT_EQ(GetPANFromTrack2("41D25D12"), "41");
    EXPECT_EQ(GetPANFromTrack2("D2512"), "");
    EXPECT_EQ(GetPANFromTrack2("4111111111111111=2512"), "");
    EXPECT_EQ(GetPANFromTrack2(""), "");
}

TEST(CardTextTest, MaskedPan) {
    EXPECT_EQ(GetMaskedPANFromPAN("4111222233334444"), "************4444");
    EXPECT_EQ(GetMaskedPANFromPAN("1234567890123"), "*********0123");
    EXPECT_EQ(GetMaskedPANFromPAN("123456789012"), "");
    EXPECT_EQ(GetMaskedPANFromPAN("1234"), "");
    EXPECT_EQ(GetMaskedPANFromPAN(""), "");
}

TEST(CardTextTest, AmountWithSpaces) {
    const struct {
        std::string amount, spaced;
    } cases[] = {
        {"1234", "1 234"},     {"123456", " 123 456"},    {"1234567.89", "1 234 567.89"},
        {"123.45", " 123.45"}, {"12.5", "12.5"},          {"12", "12"},
        {".5", ".5"},          {"1234.5.6", "1 234.5.6"}, {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AmountWithSpaces(c.amount), c.spaced) << c.amount;
    }
}

TEST(CardTextTest, PrintableAmount) {
    const struct {
        std::string digits;
        int decimals;
        std::string text;
    } cases[] = {
        {"000012345", 2, "123.45"},
        {"5", 2, "0.05"},
        {"0000", 2, "0.00"},
        {"1234567", 3, "1234.56"},  // the fraction shows two digits at most
        {"0012", 0, "12"},
        {"0000", 0, "0"},
        {"", 0, ""},
        {"", 2, "0.00"},
        {"5", 1, "0.5"},  // one decimal: nothing read past the end
        {"123", 1, "12.3"},
        {"5", 5, "0.00"},
        {"0012", -3, "12"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PrintableAmount(c.digits, c.decimals), c.text) << c.digits << " " << c.decimals;
    }
}

TEST(CardTextTest, YymmddToMmddyy) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"190903", "090319"},
        {"19090312", "090319"},
        {"1909", "0919"},  // short strings keep what exists
        {"19", "19"},
        {"1", "1"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatYYMMDDtoMMDDYY(c.in), c.out) << c.in;
    }
}

}  // namespace
