#include "plug/SecurityId.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarnel {
namespace {

constexpr uint8_t kUntouched = 0xEE;

struct DecodeRule {
  const char* text;
  size_t length;
  bool decoded;
  std::vector<uint8_t> front;  // the first `length` bytes afterwards
};

class DecodeRememberedIdTest : public ::testing::TestWithParam<DecodeRule> {};

TEST_P(DecodeRememberedIdTest, FollowsTheTextRules) {
  const DecodeRule& rule = GetParam();
  SecurityIdBuffer bytes{};
  bytes.fill(0);
  if (!rule.decoded) bytes.fill(kUntouched);
  EXPECT_EQ(DecodeRememberedId(rule.text, rule.length, bytes), rule.decoded);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + rule.front.size()), rule.front);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DecodeRememberedIdTest,
    ::testing::Values(
        DecodeRule{"0001000200030004", 8, true, {0, 1, 0, 2, 0, 3, 0, 4}},
        // Right-aligned: four digits in eight bytes.
        DecodeRule{"ABCD", 8, true, {0, 0, 0, 0, 0, 0, 0xAB, 0xCD}},
        DecodeRule{"  0xab12h ", 4, true, {0, 0, 0xAB, 0x12}},
        DecodeRule{"1H2H3H4", 2, true, {0x12, 0x34}},
        // An odd count: the first digit alone is the first byte.
        DecodeRule{"123", 2, true, {0x01, 0x23}},
        // ":" ends the bytes taken from the end; the rest stays cleared.
        DecodeRule{"12:3456", 4, true, {0, 0, 0x34, 0x56}},
        DecodeRule{":1234", 4, true, {0, 0, 0x12, 0x34}},
        DecodeRule{"12G4", 4, false, {kUntouched, kUntouched, kUntouched, kUntouched}},
        DecodeRule{"12-34", 4, false, {kUntouched, kUntouched}},
        DecodeRule{"1 2", 2, false, {kUntouched, kUntouched}}));

TEST(DecodeRememberedId, RefusesMoreDigitsThanTheBufferHolds) {
  SecurityIdBuffer bytes{};
  bytes.fill(kUntouched);
  EXPECT_FALSE(DecodeRememberedId(std::string(513, '1'), 24, bytes));
  EXPECT_EQ(bytes[0], kUntouched);
  EXPECT_EQ(bytes[255], kUntouched);
  EXPECT_TRUE(DecodeRememberedId("0x" + std::string(512, 'F') + "H", 24, bytes));
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[255], 0xFF);
}

TEST(SecurityIdText, RememberedWordsDecodeBackToTheSameWords) {
  const std::vector<uint16_t> words = {0x0001, 0xABCD, 0x00F0, 0xFFFF, 0x1200};
  const std::string text = EncodeSecurityId(words);
  EXPECT_EQ(text, "0001ABCD00F0FFFF1200");
  SecurityIdBuffer bytes{};
  ASSERT_TRUE(DecodeRememberedId(text, words.size() * 2, bytes));
  const auto decoded = WordsFromBytes(bytes);
  EXPECT_EQ(std::vector<uint16_t>(decoded.begin(), decoded.begin() + words.size()), words);
  EXPECT_EQ(decoded[words.size()], 0);
}

struct FieldRule {
  SecurityFieldTexts texts;
  std::vector<uint16_t> words;
};

class WordsFromFieldTextsTest : public ::testing::TestWithParam<FieldRule> {};

TEST_P(WordsFromFieldTextsTest, StopsAtTheFirstFieldThatIsNotFull) {
  EXPECT_EQ(WordsFromFieldTexts(GetParam().texts), GetParam().words);
}

SecurityFieldTexts Fields(std::initializer_list<const char*> filled) {
  SecurityFieldTexts texts;
  texts.fill("    ");
  size_t k = 0;
  for (const char* text : filled) texts[k++] = text;
  return texts;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, WordsFromFieldTextsTest,
    ::testing::Values(FieldRule{Fields({"1234", "abcd", "0000", "FFFF"}), {0x1234, 0xABCD, 0x0000, 0xFFFF}},
                      FieldRule{Fields({}), {}},
                      // A blank between digits ends the ID before the field.
                      FieldRule{Fields({"1234", "5 78", "9ABC"}), {0x1234}},
                      FieldRule{Fields({"1234", "567 "}), {0x1234}},
                      FieldRule{Fields({" 234"}), {}},
                      FieldRule{Fields({"1111", "2222", "3333", "4444", "5555", "6666", "7777", "8888", "9999",
                                        "AAAA", "BBBB", "CCCC"}),
                                {0x1111, 0x2222, 0x3333, 0x4444, 0x5555, 0x6666, 0x7777, 0x8888, 0x9999, 0xAAAA,
                                 0xBBBB, 0xCCCC}}));

}  // namespace
}  // namespace quarnel
