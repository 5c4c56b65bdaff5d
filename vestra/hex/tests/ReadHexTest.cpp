#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "vestra.h"

namespace {

constexpr uint8_t kFill = 0xEE;

// Appends the checksum to a record given without it (":LLAAAATT DD...").
std::string record(const std::string& body) {
    unsigned sum = 0;
    for (size_t pos = 1; pos + 1 < body.size(); pos += 2) sum += std::stoul(body.substr(pos, 2), nullptr, 16);
    char checksum[3];
    std::snprintf(checksum, sizeof checksum, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return body + checksum;
}

class ReadHexTest : public ::testing::Test {
protected:
    void SetUp() override { image_.assign(0x30000, kFill); }
    void TearDown() override { std::remove(path_.c_str()); }

    int read(const std::string& content, uint32_t maxAddress = 0x2FFFF) {
        std::ofstream(path_, std::ios::binary) << content;
        return ReadHEX(path_.c_str(), image_.data(), maxAddress, &lowest_, &highest_);
    }

    std::string path_ = ::testing::TempDir() + "read_hex_test.hex";
    std::vector<uint8_t> image_;
    uint32_t lowest_ = 0;
    uint32_t highest_ = 0;
};

TEST_F(ReadHexTest, LoadsDataAndReportsTheTouchedAddresses) {
    const std::string file = record(":0401000001020304") + "\r\n" + record(":02002000AABB") + "\r\n:00000001FF\r\n";
    EXPECT_EQ(read(file), 1);
    EXPECT_EQ(lowest_, 0x20u);
    EXPECT_EQ(highest_, 0x103u);
    EXPECT_EQ(image_[0x100], 0x01);
    EXPECT_EQ(image_[0x103], 0x04);
    EXPECT_EQ(image_[0x21], 0xBB);
    EXPECT_EQ(image_[0x104], kFill);
    EXPECT_EQ(image_[0x1F], kFill);
}

TEST_F(ReadHexTest, EndRecordMustBeExactInEitherCase) {
    const std::string data = record(":0100000041") + "\n";
    EXPECT_EQ(read(data + ":00000001ff\n"), 1);
    EXPECT_EQ(read(data + ":00000001FF \n"), 0);
    EXPECT_EQ(read(data + ":00000001FF00\n"), 0);  // checksum still sums to 0
}

TEST_F(ReadHexTest, LinesAfterTheEndRecordAreNotRead) {
    EXPECT_EQ(read(record(":0100000041") + "\n:00000001FF\ngarbage\n" + record(":0100010042") + "\n"), 1);
    EXPECT_EQ(image_[1], kFill);
}

TEST_F(ReadHexTest, EndRecordAndDataAreBothRequired) {
    EXPECT_EQ(read(record(":0100000041") + "\n"), 0);
    EXPECT_EQ(image_[0], 0x41);
    EXPECT_EQ(read(":00000001FF\n"), 0);
    EXPECT_EQ(lowest_, 0xFFFFFFFFu);
    EXPECT_EQ(highest_, 0u);
    EXPECT_EQ(read(""), 0);
    EXPECT_EQ(read(record(":00001000") + "\n:00000001FF\n"), 1);  // an empty data record counts
    EXPECT_EQ(lowest_, 0x10u);
    EXPECT_EQ(highest_, 0u);
}

TEST_F(ReadHexTest, StartAddressAndUnknownRecordsAreInvalid) {
    const std::string end = ":00000001FF\n";
    const std::string data = record(":0100000041") + "\n";
    EXPECT_EQ(read(data + record(":0400000300001000") + "\n" + end), 0);
    EXPECT_EQ(read(data + record(":0400000500001000") + "\n" + end), 0);
    EXPECT_EQ(read(data + record(":0000000A") + "\n" + end), 0);
}

TEST_F(ReadHexTest, SegmentAndLinearBasesAreBothAdded) {
    const std::string file = record(":020000021000") + "\n" + record(":01001000A1") + "\n" +
                             record(":020000040001") + "\n" + record(":01001000B2") + "\n:00000001FF\n";
    EXPECT_EQ(read(file), 1);
    EXPECT_EQ(image_[0x10010], 0xA1);
    EXPECT_EQ(image_[0x20010], 0xB2);
    EXPECT_EQ(lowest_, 0x10010u);
    EXPECT_EQ(highest_, 0x20010u);
}

TEST_F(ReadHexTest, ByteBeyondMaxAddressStopsWithEarlierBytesStored) {
    EXPECT_EQ(read(record(":04001E0011223344") + "\n:00000001FF\n", 0x1F), 0);
    EXPECT_EQ(image_[0x1E], 0x11);
    EXPECT_EQ(image_[0x1F], 0x22);
    EXPECT_EQ(image_[0x20], kFill);
    EXPECT_EQ(lowest_, 0x1Eu);
    EXPECT_EQ(highest_, 0x1Fu);
}

TEST_F(ReadHexTest, BasesCarryingAddressesPast4GiBAreOutOfRangeNotWrapped) {
    const std::string file = record(":02000004FFFF") + "\n" + record(":02000002FFFF") + "\n" +
                             record(":0100100077") + "\n:00000001FF\n";
    EXPECT_EQ(read(file), 0);
    for (uint8_t byte : image_) ASSERT_EQ(byte, kFill);
}

TEST_F(ReadHexTest, ChecksumMismatchAndLinesWithoutColonAreInvalid) {
    EXPECT_EQ(read(":0100000041BF\n:00000001FF\n"), 0);
    EXPECT_EQ(read(record(":0100000041") + "\n\n:00000001FF\n"), 0);
    EXPECT_EQ(read(" " + record(":0100000041") + "\n:00000001FF\n"), 0);
}

TEST_F(ReadHexTest, ShortLinesAreRejectedWithoutReadingPastThem) {
    const std::string end = ":00000001FF\n";
    EXPECT_EQ(read(":00\n" + end), 0);               // checksum 0 but no fields
    EXPECT_EQ(read(":0000000000\n" + end), 1);        // 11 characters: an empty data record
    EXPECT_EQ(read(":10000000F0\n" + end), 0);        // announces 16 bytes, holds none
    EXPECT_EQ(image_[0], kFill);
    EXPECT_EQ(read(":02000002FC\n" + end), 0);        // base record without its value
    EXPECT_EQ(read(record(":0100000041") + "\n" + end), 1);  // the well-formed counterpart loads
}

TEST_F(ReadHexTest, NonHexDigitsCountAsZero) {
    // "0G" reads as 00 both in the data and in the checksum sum
    EXPECT_EQ(read(":010000000GFF\n:00000001FF\n"), 1);
    EXPECT_EQ(image_[0], 0x00);
}

TEST_F(ReadHexTest, MissingFileOrNullArgumentsGiveZero) {
    uint32_t lowest = 0;
    uint32_t highest = 12345;
    EXPECT_EQ(ReadHEX("/nonexistent/dir/file.hex", image_.data(), 10, &lowest, &highest), 0);
    EXPECT_EQ(lowest, 0xFFFFFFFFu);
    EXPECT_EQ(highest, 12345u);
    EXPECT_EQ(ReadHEX(nullptr, image_.data(), 10, &lowest, &highest), 0);
    EXPECT_EQ(ReadHEX(path_.c_str(), nullptr, 10, &lowest, &highest), 0);
}

}  // namespace
