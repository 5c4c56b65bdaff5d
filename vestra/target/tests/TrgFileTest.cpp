#include "target/TrgFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace vestra::target {
namespace {

using Ranges = std::vector<std::pair<uint32_t, uint32_t>>;

Ranges asPairs(const std::vector<CTargetArea>& areas) {
    Ranges pairs;
    for (const CTargetArea& a : areas) pairs.emplace_back(a.startAdrs, a.endAdrs);
    return pairs;
}

std::vector<CTargetArea> areas(const Ranges& pairs) {
    std::vector<CTargetArea> result;
    for (const auto& [start, end] : pairs) result.push_back({start, end});
    return result;
}

ProfileReader parsed(std::string_view text) {
    ProfileReader profile;
    profile.parse(text);
    return profile;
}

TEST(TrgGeometry, BasicFormatUsesMultiplesOf2KAndFixedTails) {
    const TrgGeometry coded = decodeGeometry(0x01004560, 0x00030800, 0);
    EXPECT_EQ(coded.blockSize, 3u * 2048);
    EXPECT_EQ(coded.reservedSize1, 512u);
    EXPECT_EQ(coded.reservedSize2, 512u);
    EXPECT_EQ(decodeGeometry(0x01004560, 0x00000800, 0xFFFFFFFF).blockSize, 16384u);
}

TEST(TrgGeometry, ExtendedFormatShiftsBlockSizeAndDecodesTailCodes) {
    const uint32_t extended = 0x40000000;
    // size code 1 -> 4096; reserved codes: bits 10..12 = 3 (none), bits 13..15 = 6 (128)
    const TrgGeometry g = decodeGeometry(extended, 0x00010000, (6u << 13) | (3u << 10));
    EXPECT_EQ(g.blockSize, 4096u);
    EXPECT_EQ(g.reservedSize1, 0u);
    EXPECT_EQ(g.reservedSize2, 128u);
    EXPECT_EQ(decodeGeometry(extended, 0x000F0000, 0).blockSize, 1024u);
    EXPECT_EQ(decodeGeometry(extended, 0x00080000, 0).blockSize, 8u);
    const TrgGeometry k2 = decodeGeometry(extended, 0, (2u << 13) | (0u << 10));
    EXPECT_EQ(k2.reservedSize1, 512u);
    EXPECT_EQ(k2.reservedSize2, 2048u);
}

TEST(TrgGeometry, ReservedSizeCodesFollowTheSize3Rule) {
    const std::vector<uint32_t> expected = {512, 1024, 2048, 0, 32, 64, 128, 256};
    for (uint32_t code = 0; code < 8; ++code) EXPECT_EQ(reservedSizeFromCode(code), expected[code]) << code;
}

TEST(TrgValues, HexValuesStopAtTheFirstNonHexCharacter) {
    EXPECT_EQ(readHexValue("1234H"), 0x1234u);
    EXPECT_EQ(readHexValue("abCD"), 0xABCDu);
    EXPECT_EQ(readHexValue(""), 0u);
    EXPECT_EQ(readHexValue("XYZ"), 0u);
    EXPECT_EQ(readHexValue("0x40"), 0u);
    EXPECT_EQ(readHexValue("FFFFFFFFH"), 0xFFFFFFFFu);
}

TEST(AdrsToNum, AcceptsTheDocumentedForms) {
    const std::vector<std::pair<std::string, uint32_t>> cases = {
        {"0H", 0},           {"FFFFH", 0xFFFF},   {"0x10000", 0x10000}, {"1:2000H", 0x12000}, {"2:0", 0x20000},
        {":1234", 0x1234},   {"1:", 0x10000},     {" 0XabcH ", 0xABC},  {"ffh", 0xFF},        {"1H:10", 0x10010},
        {"FFFFFF", 0xFFFFFF}, {"FF:FFFFFF", 0x1FEFFFF}, {"0000000001", 1}, {"1H2H", 1},
    };
    for (const auto& [text, expected] : cases) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_TRUE(AdrsToNumText(text, value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
}

TEST(AdrsToNum, RejectsInvalidTextsKeepingOnlyTheSegmentPart) {
    const std::vector<std::pair<std::string, uint32_t>> cases = {
        {"", 0},          {"12G4", 0},       {"1 2", 0},         {"-1", 0},           {"100:0", 0},
        {"1H2", 0},       {"1000000", 0},    {"1:1000000", 0x10000}, {"2:1H2", 0x20000}, {"3:4:5", 0x30000},
        {"0x0x10", 0},
    };
    for (const auto& [text, expected] : cases) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_FALSE(AdrsToNumText(text, value)) << text;
        EXPECT_EQ(value, expected) << text;
    }
}

TEST(Calc2BitShift, ReadsTheCodeAsATwosComplementExponent) {
    // 4 bits: 0..7 left, 8..15 right by 8..1
    EXPECT_EQ(Calc2BitShift(2048, 0, 4), 2048u);
    EXPECT_EQ(Calc2BitShift(2048, 7, 4), 2048u << 7);
    EXPECT_EQ(Calc2BitShift(2048, 8, 4), 2048u >> 8);
    EXPECT_EQ(Calc2BitShift(2048, 15, 4), 1024u);
    EXPECT_EQ(Calc2BitShift(2048, 0x1F, 4), 1024u);  // only the low bits count
    // 3 bits: 0..3 left, 4..7 right by 4..1
    EXPECT_EQ(Calc2BitShift(512, 3, 3), 4096u);
    EXPECT_EQ(Calc2BitShift(512, 4, 3), 32u);
    EXPECT_EQ(Calc2BitShift(512, 7, 3), 256u);
    // 2 bits: 0, 1 left; 2, 3 right by 2, 1
    EXPECT_EQ(Calc2BitShift(100, 1, 2), 200u);
    EXPECT_EQ(Calc2BitShift(100, 2, 2), 25u);
    EXPECT_EQ(Calc2BitShift(100, 3, 2), 50u);
    EXPECT_EQ(Calc2BitShift(100, 1, 1), 0u);
    EXPECT_EQ(Calc2BitShift(100, 1, 5), 0u);
}

TEST(FlashRanges, TouchingAndOverlappingAreasMerge) {
    EXPECT_EQ(asPairs(computeFlashRanges(areas({{0x1000, 0x1FFF}, {0, 0xFFF}}), {})), (Ranges{{0, 0x1FFF}}));
    EXPECT_EQ(asPairs(computeFlashRanges(areas({{0, 0x1800}, {0x1000, 0x1FFF}, {0x3000, 0x3FFF}}), {})),
              (Ranges{{0, 0x1FFF}, {0x3000, 0x3FFF}}));
    EXPECT_EQ(asPairs(computeFlashRanges(areas({{0, 0xFFFF}, {0x100, 0x1FF}}), {})), (Ranges{{0, 0xFFFF}}));
}

TEST(FlashRanges, ReadOnlyAreasCutHolesAndRemoveWholeAreas) {
    EXPECT_EQ(asPairs(computeFlashRanges(areas({{0, 0x7FFF}, {0x8000, 0xFFFF}}), areas({{0x1000, 0x10FF}}))),
              (Ranges{{0, 0xFFF}, {0x1100, 0xFFFF}}));
    EXPECT_EQ(asPairs(computeFlashRanges(areas({{0, 0xFFF}, {0x2000, 0x2FFF}}), areas({{0x1F00, 0x3000}}))),
              (Ranges{{0, 0xFFF}}));
    EXPECT_EQ(asPairs(computeFlashRanges(areas({{0x100, 0x1FF}}), areas({{0, 0xFF}, {0x200, 0x2FF}}))),
              (Ranges{{0x100, 0x1FF}}));
    EXPECT_EQ(asPairs(computeFlashRanges(areas({{0, 0xFF}}), areas({{0, 0}, {0xFF, 0xFF}, {0x10, 0x1F}, {0x18, 0x20}}))),
              (Ranges{{1, 0xF}, {0x21, 0xFE}}));
}

TEST(FlashRanges, ReversedAreasContributeNothing) {
    EXPECT_TRUE(computeFlashRanges(areas({{0x2000, 0x1000}}), {}).empty());
    EXPECT_EQ(asPairs(computeFlashRanges(areas({{0, 0xFF}}), areas({{0x80, 0x10}}))), (Ranges{{0, 0xFF}}));
}

TEST(FlashRanges, AreasAtTheTopOfTheAddressSpaceDoNotWrap) {
    EXPECT_EQ(asPairs(computeFlashRanges(areas({{0xFFFFFF00, 0xFFFFFFFF}, {0, 0xF}}), areas({{0xFFFFFFF0, 0xFFFFFFFF}}))),
              (Ranges{{0, 0xF}, {0xFFFFFF00, 0xFFFFFFEF}}));
}

TEST(FlashAreas, TakesFlashKindsInFileOrderAndTheTestArea) {
    const ProfileReader profile = parsed(
        "[MMAP]\nNUMBER=5\n"
        "DEFAULT1=UC\nSTARTADRS1=8000H\nENDADRS1=FFFFH\n"
        "DEFAULT2=TEST\nSTARTADRS2=F0000H\nENDADRS2=F00FFH\n"
        "DEFAULT3=RAM\nSTARTADRS3=FE000H\nENDADRS3=FEFFFH\n"
        "DEFAULT4=sc\nSTARTADRS4=0H\nENDADRS4=FFH\n"
        "DEFAULT5=MO\nSTARTADRS5=9:0\nENDADRS5=9:FFFF\n"
        "DEFAULT6=SC\nSTARTADRS6=20000H\nENDADRS6=2FFFFH\n"
        "[GMAP]\nNUMBER=4\n"
        "DEFAULT1=SCD\nSTARTADRS1=0H\nENDADRS1=7FFFH\n"
        "DEFAULT2=UCD\nSTARTADRS2=80000H\nENDADRS2=8FFFFH\n"
        "DEFAULT3=TEST\nSTARTADRS3=1000H\nENDADRS3=1FFFH\n"
        "DEFAULT4=UCT\nSTARTADRS4=7FFFFH\nENDADRS4=80FFFH\n");
    uint32_t testStart = 1;
    EXPECT_EQ(asPairs(readFlashAreas(profile, &testStart)),
              (Ranges{{0x8000, 0xFFFF}, {0x90000, 0x9FFFF}, {0, 0x7FFF}, {0x7FFFF, 0x80FFF}}));
    EXPECT_EQ(testStart, 0xF0000u);
}

TEST(FlashAreas, NoMapsGiveNoAreasAndNoTestArea) {
    uint32_t testStart = 1;
    EXPECT_TRUE(readFlashAreas(parsed("[KORVO]\n"), &testStart).empty());
    EXPECT_EQ(testStart, 0u);
}

TEST(MapEntries, AreTakenInEntryOrderUpToNumberWhereverTheFileHasThem) {
    const ProfileReader profile = parsed(
        "[MMAP]\nNUMBER=70000\n"
        "DEFAULT65535=SC\nSTARTADRS65535=30000H\nENDADRS65535=3FFFFH\n"
        "DEFAULT65536=SC\nSTARTADRS65536=50000H\nENDADRS65536=5FFFFH\n"
        "DEFAULT02=SC\nSTARTADRS02=60000H\nENDADRS02=6FFFFH\n"
        "DEFAULT2=RAM\nSTARTADRS2=70000H\nENDADRS2=7FFFFH\n"
        "DEFAULT3=SC\nSTARTADRS3=1000H\nENDADRS3=1FFFH\n"
        "[PMAP]\nNUMBER=9\n"
        "DEFAULT9=ROMWIN\nSTARTADRS9=9H\nENDADRS9=99H\n"
        "DEFAULT4=ROMWIN\nSTARTADRS4=4H\nENDADRS4=44H\n"
        "DEFAULT10=ROMWIN\nSTARTADRS10=10H\nENDADRS10=1010H\n");
    EXPECT_EQ(asPairs(readFlashAreas(profile, nullptr)), (Ranges{{0x1000, 0x1FFF}, {0x30000, 0x3FFFF}}));
    EXPECT_EQ(asPairs({readRomWindow(profile)}), (Ranges{{0x4, 0x44}}));
}

TEST(ReadOnlyAreas, ReadingStopsOneEntryPastWhatTheFormatHolds) {
    EXPECT_EQ(readReadOnlyAreas(parsed("[KORVO_READONLY_AREA]\nNUMBER=65535\n")).size(), kMaxReadOnlyAreasRead);
}

TEST(ReadOnlyAreas, NumberIsTakenModulo65536) {
    const ProfileReader profile = parsed(
        "[KORVO_READONLY_AREA]\nNUMBER=65538\n"
        "STARTADRS1=1000H\nENDADRS1=10FFH\nSTARTADRS2=bad!\nENDADRS2=2:0\nSTARTADRS3=5000H\nENDADRS3=5FFFH\n");
    EXPECT_EQ(asPairs(readReadOnlyAreas(profile)), (Ranges{{0x1000, 0x10FF}, {0, 0x20000}}));
}

}  // namespace
}  // namespace vestra::target
