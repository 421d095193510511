// The MAC texts the kvtsim tool takes: six groups of one or two
// hexadecimal digits of either case, joined by single colons, and nothing
// around them.
#include <gtest/gtest.h>

#include "sim/system/mac_text.hpp"

namespace {

TEST(ParseMac, TakesSixColonGroupsOfOneOrTwoHexDigitsOnly)
{
    EXPECT_EQ(kvtsim::parse_mac("0:1a:B:fF:00:9"),
              (kvtsim::Mac{0x00, 0x1a, 0x0b, 0xff, 0x00, 0x09}));
    for (const char *text :
         {"", "00:14:4f:00:00", "00:14:4f:00:00:01:", "00:14:4f:00:00:001", "00::4f:00:00:01",
          "0x0:14:4f:00:00:01", " 0:14:4f:00:00:01", "00:14:4f:00:00:01 ", "00-14-4f-00-00-01",
          "+0:14:4f:00:00:01", "-0:14:4f:00:00:01", "00:14:4g:00:00:01"})
        EXPECT_EQ(kvtsim::parse_mac(text), std::nullopt) << text;
}

} // namespace
