#include "Chip.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace korvo {
namespace {

std::string sampleTrg(const std::string& name) { return std::string(KORVO_TRG_DIR) + "/" + name + ".TRG"; }

std::vector<uint8_t> readBytes(const Chip& chip, uint32_t address, uint32_t length) {
    std::vector<uint8_t> bytes(length);
    chip.read(address, length, bytes.data());
    return bytes;
}

ChipDescription twoRangeChip(bool eraseOnlyBySecurityId = false) {
    ChipDescription description;
    description.flash = {{0x0000, 0x0FFF}, {0x2000, 0x2FFF}};
    description.blockSize = 0x400;
    description.eraseOnlyBySecurityId = eraseOnlyBySecurityId;
    return description;
}

TEST(ChipFromTrg, TakesAreasBeforeReadOnlyOnesAndTheReservedTail) {
    ChipDescription chip;
    std::string error;
    ASSERT_TRUE(describeChipFromTrg(sampleTrg("KT4351235"), chip, error)) << error;
    // Read-only areas stay flash; touching areas merge; the 512-byte tail of
    // the last 8 KiB block (17E00-17FFF) is flash too.
    ASSERT_EQ(chip.flash.size(), 2u);
    EXPECT_EQ(chip.flash[0].start, 0x0u);
    EXPECT_EQ(chip.flash[0].end, 0x7FFFu);
    EXPECT_EQ(chip.flash[1].start, 0xA000u);
    EXPECT_EQ(chip.flash[1].end, 0x17FFFu);
    EXPECT_EQ(chip.blockSize, 0x2000u);
    EXPECT_TRUE(chip.eraseOnlyBySecurityId);
    EXPECT_EQ(chip.productId[0], 0x05001235u);
    EXPECT_EQ(chip.productId[1], 0x00840C00u);
    EXPECT_EQ(chip.chipName, "4351235");
}

TEST(ChipFromTrg, ExtendedFormatChipWithGmapAreasAndA128ByteTail) {
    ChipDescription chip;
    std::string error;
    ASSERT_TRUE(describeChipFromTrg(sampleTrg("KT430735"), chip, error)) << error;
    ASSERT_EQ(chip.flash.size(), 1u);  // the GMAP area at 80000 is not taken
    EXPECT_EQ(chip.flash[0].end, 0x7FFFFu);
    EXPECT_EQ(chip.blockSize, 0x8000u);
    EXPECT_FALSE(chip.eraseOnlyBySecurityId);
    EXPECT_EQ(chip.productId[3], 1u);
}

TEST(ChipFromTrg, RefusesUnreadableFilesAndFilesWithoutFlash) {
    ChipDescription chip;
    std::string error;
    EXPECT_FALSE(describeChipFromTrg("/nonexistent/X1.TRG", chip, error));
    const std::string path = (std::filesystem::temp_directory_path() / "korvo_chip_test_noflash.TRG").string();
    std::ofstream(path) << "[KORVO]\nTARGETID00=01000001H\n";
    error.clear();
    EXPECT_FALSE(describeChipFromTrg(path, chip, error));
    EXPECT_NE(error.find("no flash"), std::string::npos);
    std::remove(path.c_str());
}

TEST(ChipFromTrg, ChipNameIsTheDigitsOfTheBaseName) {
    EXPECT_EQ(chipNameFromPath("/a/b7/A12B34.TRG"), "1234");
    EXPECT_EQ(chipNameFromPath("NODIGITS.TRG"), "");
}

TEST(Chip, ProgrammingOnlyClearsBitsAndEraseSetsFF) {
    Chip chip(twoRangeChip());
    const uint8_t first[] = {0x0F, 0xF0, 0x55};
    const uint8_t second[] = {0xF0, 0xFF, 0xAA};
    chip.program(0x0FFE, first, 2);
    chip.program(0x0FFE, second, 2);
    EXPECT_EQ(readBytes(chip, 0x0FFE, 2), (std::vector<uint8_t>{0x00, 0xF0}));
    chip.erase(0x0C00, 0x400);
    EXPECT_EQ(readBytes(chip, 0x0FFE, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
    chip.program(0x2000, first + 2, 1);
    chip.eraseAll();
    EXPECT_EQ(readBytes(chip, 0x2000, 1), (std::vector<uint8_t>{0xFF}));
}

TEST(Chip, ReadsWithoutMemoryGiveFFAndFlashChecksSeeGaps) {
    Chip chip(twoRangeChip());
    const uint8_t zero[2] = {0, 0};
    chip.program(0x0FFF, zero, 1);
    chip.program(0x2000, zero, 1);
    // 0FFF and 2000 hold 00; the gap between them reads FF.
    const auto bytes = readBytes(chip, 0x0FFF, 0x1002);
    EXPECT_EQ(bytes.front(), 0x00);
    EXPECT_EQ(bytes[1], 0xFF);
    EXPECT_EQ(bytes.back(), 0x00);
    EXPECT_TRUE(chip.isFlash(0x0000, 0x1000));
    EXPECT_FALSE(chip.isFlash(0x0FFF, 2));
    EXPECT_TRUE(chip.touchesFlash(0x1C00, 0x800));
    EXPECT_FALSE(chip.touchesFlash(0x1000, 0x1000));
    EXPECT_FALSE(chip.touchesFlash(0xFFFFFF00, 0x100));  // no wrap-around at the top
}

TEST(Chip, ProtectionLiftsOnlyWithTheExactSecurityId) {
    Chip chip(twoRangeChip());
    chip.protect({0x1234, 0x5678});
    chip.unlock({0x1234});
    EXPECT_TRUE(chip.isProtected());
    chip.unlock({0x1234, 0x5679});
    EXPECT_TRUE(chip.isProtected());
    chip.unlock({0x1234, 0x5678});
    EXPECT_FALSE(chip.isProtected());
}

TEST(Chip, ChipEraseLiftsProtectionOnlyForSecurityTypeZero) {
    Chip typeZero(twoRangeChip(false));
    const uint8_t zero = 0;
    typeZero.program(0x10, &zero, 1);
    typeZero.protect({1});
    EXPECT_TRUE(typeZero.chipErase());
    EXPECT_FALSE(typeZero.isProtected());
    EXPECT_EQ(readBytes(typeZero, 0x10, 1)[0], 0xFF);

    Chip typeOne(twoRangeChip(true));
    typeOne.program(0x10, &zero, 1);
    typeOne.protect({1});
    EXPECT_FALSE(typeOne.chipErase());
    EXPECT_TRUE(typeOne.isProtected());
    EXPECT_EQ(readBytes(typeOne, 0x10, 1)[0], 0x00);
    typeOne.unlock({1});
    EXPECT_TRUE(typeOne.chipErase());  // once open, it erases like any chip
}

TEST(Chip, ImageFillsFlashFromZeroAndDumpCoversTheWholeMemory) {
    Chip chip(twoRangeChip());
    std::vector<uint8_t> image(0x2002, 0x11);
    chip.loadImage(image);
    EXPECT_EQ(readBytes(chip, 0x1FFF, 3), (std::vector<uint8_t>{0xFF, 0x11, 0x11}));
    std::ostringstream out;
    chip.writeDump(out);
    const std::string dump = out.str();
    ASSERT_EQ(dump.size(), 0x3000u);
    EXPECT_EQ(static_cast<uint8_t>(dump[0x0FFF]), 0x11);
    EXPECT_EQ(static_cast<uint8_t>(dump[0x1000]), 0xFF);  // gap
    EXPECT_EQ(static_cast<uint8_t>(dump[0x2001]), 0x11);
    EXPECT_EQ(static_cast<uint8_t>(dump[0x2002]), 0xFF);
}

}  // namespace
}  // namespace korvo
