#include "base/StringTable.h"

#include <gtest/gtest.h>

namespace quarnel {
namespace {

TEST(StringTable, HoldsTextsByNumber) {
  EXPECT_EQ(LoadText(2021), "The format of %1 is illegal.");
  EXPECT_EQ(LoadText(183), LoadText(184));
  EXPECT_EQ(LoadText(2024), "Internal QUARNEL error.\n(Error code:2024)");
  EXPECT_EQ(LoadText(2039), LoadText(193));
  EXPECT_EQ(LoadText(2047), "Internal QUARNEL error.\n(Error code:1013)");
  EXPECT_EQ(LoadText(2050),
            "The QUARNEL Flash Writer may be malfunctioning.\nCheck the connection, and then restart QUARNEL and "
            "the KORVO.\n(Error code: 0xFFFF)");
  EXPECT_EQ(LoadText(145),
            "Failed to access the target LSI.\nCheck the user target system connected to the KORVO.\n"
            "(Error code: 0x6100)");
  EXPECT_EQ(LoadText(2014), "Value in \"Start Address on File\" is greater than the one in \"Arbitrary Address\".");
}

TEST(StringTable, UnknownNumbersGiveEmptyTexts) {
  EXPECT_EQ(LoadText(203), "");
  EXPECT_EQ(LoadText(0), "");
  EXPECT_EQ(LoadText(99999), "");
}

TEST(StringTable, FormatReplacesEveryFileNamePlaceholder) {
  EXPECT_EQ(FormatText(2013, "/a/b.hex"), "/a/b.hex could not be opened.");
  EXPECT_EQ(FormatText(2011, "%1.s"), "No valid end record was found in %1.s.");
  EXPECT_EQ(FormatText(163, "x"), LoadText(163));
}

}  // namespace
}  // namespace quarnel
