#include "image/AddressSyntax.h"

#include <gtest/gtest.h>

namespace quarnel {
namespace {

TEST(ParseAddress, AcceptsPrefixSuffixSegmentsAndEitherCase) {
  EXPECT_EQ(ParseAddress("100"), 0x100u);
  EXPECT_EQ(ParseAddress(" 0x1aBh "), 0x1ABu);
  EXPECT_EQ(ParseAddress("12:3456"), 0x123456u);
  EXPECT_EQ(ParseAddress("12H:3456H"), 0x123456u);
  EXPECT_EQ(ParseAddress("FF:FFFFFF"), 0xFFu * 0x10000 + 0xFFFFFF);
  EXPECT_EQ(ParseAddress("FFFFFF"), 0xFFFFFFu);
}

TEST(ParseAddress, RejectsOutOfRangePartsAndStrayCharacters) {
  EXPECT_EQ(ParseAddress("100:0"), std::nullopt);    // SEG above 0xFF
  EXPECT_EQ(ParseAddress("1000000"), std::nullopt);  // OFFSET above 0xFFFFFF
  EXPECT_EQ(ParseAddress("0000000000001000000"), std::nullopt);
  EXPECT_EQ(ParseAddress(""), std::nullopt);
  EXPECT_EQ(ParseAddress("   "), std::nullopt);
  EXPECT_EQ(ParseAddress("0x"), std::nullopt);
  EXPECT_EQ(ParseAddress("H"), std::nullopt);
  EXPECT_EQ(ParseAddress("1H2"), std::nullopt);  // H inside the digits
  EXPECT_EQ(ParseAddress("12G"), std::nullopt);
  EXPECT_EQ(ParseAddress("1 2"), std::nullopt);
  EXPECT_EQ(ParseAddress("1:2:3"), std::nullopt);
  EXPECT_EQ(ParseAddress(":100"), std::nullopt);
  EXPECT_EQ(ParseAddress("x100"), std::nullopt);
}

TEST(ParseOffset, SignComesFromTheFirstCharacter) {
  EXPECT_EQ(ParseOffset("+100"), 0x100);
  EXPECT_EQ(ParseOffset("100"), 0x100);
  EXPECT_EQ(ParseOffset("0x100H"), 0x100);
  EXPECT_EQ(ParseOffset(" 100"), 0x100);
  EXPECT_EQ(ParseOffset("-1:0000"), -0x10000);
  EXPECT_EQ(ParseOffset("-0x20"), -0x20);
  EXPECT_EQ(ParseOffset("a0"), 0xA0);
  EXPECT_EQ(ParseOffset("x100"), std::nullopt);
  EXPECT_EQ(ParseOffset("--1"), std::nullopt);
  EXPECT_EQ(ParseOffset("-"), std::nullopt);
  EXPECT_EQ(ParseOffset(""), std::nullopt);
}

TEST(ParseFillByte, AcceptsOneByteOnly) {
  EXPECT_EQ(ParseFillByte("FFH"), 0xFF);
  EXPECT_EQ(ParseFillByte("0xff"), 0xFF);
  EXPECT_EQ(ParseFillByte("ff"), 0xFF);
  EXPECT_EQ(ParseFillByte("00FFH"), 0xFF);
  EXPECT_EQ(ParseFillByte("0"), 0x00);
  EXPECT_EQ(ParseFillByte("100"), std::nullopt);
  EXPECT_EQ(ParseFillByte("1:2"), std::nullopt);
  EXPECT_EQ(ParseFillByte(""), std::nullopt);
  EXPECT_EQ(ParseFillByte("F F"), std::nullopt);
}

TEST(ColumnTexts, FormatAsTheFileListShowsThem) {
  EXPECT_EQ(FormatAddress(0x100), "00100H");
  EXPECT_EQ(FormatAddress(0x12345678), "12345678H");
  EXPECT_EQ(FormatOffset(0x100), "+00100H");
  EXPECT_EQ(FormatOffset(0), " 00000H");
  EXPECT_EQ(FormatOffset(-0x10000), "-10000H");
}

TEST(ColumnTexts, EveryShownValueReadsBack) {
  for (uint32_t address : {0u, 0x100u, 0xFFFFFFu, 0x1000000u, 0x08000000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(ParseColumnAddress(FormatAddress(address)), address);
  }
  for (int32_t offset : {0, 1, -1, 0x1FEFFFF, -0x1FEFFFF, INT32_MAX, INT32_MIN}) {
    EXPECT_EQ(ParseColumnOffset(FormatOffset(offset)), offset);
  }
  EXPECT_EQ(ParseColumnAddress("to end of the memory"), std::nullopt);
}

}  // namespace
}  // namespace quarnel
