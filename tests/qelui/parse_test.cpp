// The numbers qelui32 reads from texts: the card's PCI position in its location text (the first
// six digits of its ports' instance IDs) and the COM number of a port name.
#include "qelui.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct LocationCase {
    const char* location;
    const char* prefix; // nullptr: no three numbers, the output is left alone
};

class LocationPrefixTest : public ::testing::TestWithParam<LocationCase> {};

TEST_P(LocationPrefixTest, GivesBusDeviceFunctionOrLeavesOutputAlone) {
    const LocationCase& c = GetParam();
    char prefix[QEL_TEXT_SIZE] = "untouched";

    BOOL found = ParseLocationPrefix(prefix, c.location);

    if (c.prefix != nullptr) {
        EXPECT_TRUE(found);
        EXPECT_EQ(std::string(prefix), c.prefix);
    } else {
        EXPECT_FALSE(found);
        EXPECT_EQ(std::string(prefix), "untouched");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LocationPrefixTest,
    ::testing::Values(LocationCase{"PCI bus 2, device 11, function 0", "020B00"},
                      LocationCase{"PCI bus 300, device 31, function 7", "2C1F07"},
                      LocationCase{"PCI bus 0, device 0, function 0", "000000"},
                      LocationCase{"1,2,3", "010203"},
                      LocationCase{"PCI bus 255, device 10, function 5 (slot 4)", "FF0A05"},
                      LocationCase{"bus 4294967297 device 256 function 511", "0100FF"},
                      LocationCase{"PCI bus 2, device 11, function", nullptr},
                      LocationCase{"PCI bus 2, device 11", nullptr}, LocationCase{"2,11", nullptr},
                      LocationCase{"2", nullptr}, LocationCase{"no numbers", nullptr},
                      LocationCase{"", nullptr}));

struct DecimalCase {
    const char* text;
    LONG value;
};

class DecimalTest : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalTest, TakesLeadingDigitsOnly) {
    EXPECT_EQ(ParseDecimal(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, DecimalTest,
                         ::testing::Values(DecimalCase{"12x", 12}, DecimalCase{"3", 3},
                                           DecimalCase{"256", 256}, DecimalCase{"007", 7},
                                           DecimalCase{"X", 0}, DecimalCase{"", 0},
                                           DecimalCase{" 5", 0}, DecimalCase{"-5", 0},
                                           // No overflow check: the value wraps at 32 bits.
                                           DecimalCase{"4294967299", 3}));

} // namespace
