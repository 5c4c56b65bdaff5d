#include "objfile/HexRecord.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>

#include "objfile/ObjectFileData.h"
#include "testing/RecordText.h"

namespace quarnel {
namespace {

using testing::IntelRecord;
using testing::SRecord;

TEST(HexDigits, ReadEitherCaseAndCountOtherCharactersAsZero) {
  EXPECT_EQ(HexByteAt("x3Fa", 1), 0x3F);
  EXPECT_EQ(HexByteAt("fa", 0), 0xFA);
  EXPECT_EQ(HexByteAt("G7", 0), 0x07);  // the G still shifts by four bits
  EXPECT_EQ(HexByteAt("7G", 0), 0x70);
  EXPECT_EQ(HexWordAt(":12aBcD", 3), 0xABCD);
}

TEST(HexDigits, NeverReadPastTheLine) {
  std::string text = "12345";
  std::string_view line(text.data(), 3);  // "123" inside a longer buffer
  EXPECT_EQ(HexByteAt(line, 2), 0x30);
  EXPECT_EQ(HexByteAt(line, 3), 0x00);
  EXPECT_EQ(HexWordAt(line, 1), 0x2300);
}

TEST(Checksums, IntelSumsToZeroAndShortLinesPass) {
  EXPECT_TRUE(IntelChecksumOk(":00000001FF"));
  EXPECT_TRUE(IntelChecksumOk(":00000001ff"));
  EXPECT_TRUE(IntelChecksumOk(":00000001FF "));  // the blank makes no extra byte
  EXPECT_FALSE(IntelChecksumOk(":00000001FE"));
  EXPECT_TRUE(IntelChecksumOk(IntelRecord(0, 0x1234, {1, 2, 3})));
  EXPECT_TRUE(IntelChecksumOk(":"));
  EXPECT_TRUE(IntelChecksumOk(":7"));
  EXPECT_FALSE(IntelChecksumOk(":01"));
}

TEST(Checksums, MotorolaSumsToFFAndShortLinesFail) {
  EXPECT_TRUE(SRecordChecksumOk(SRecord('1', 0x1234, {0xAA, 0x55})));
  EXPECT_TRUE(SRecordChecksumOk("S9030000FC"));
  EXPECT_FALSE(SRecordChecksumOk("S9030000FD"));
  EXPECT_FALSE(SRecordChecksumOk("S"));
  EXPECT_FALSE(SRecordChecksumOk("S9"));
  EXPECT_TRUE(SRecordChecksumOk("S9FF"));
}

TEST(RecordDecoder, IntelBasesAddUpAndPersistUntilTheirOwnTypeComesAgain) {
  RecordDecoder decoder;
  EXPECT_EQ(decoder.Decode(testing::IntelBaseRecord(2, 0x1000)).kind, RecordKind::IntelBase);
  EXPECT_EQ(decoder.Decode(testing::IntelBaseRecord(4, 0x0002)).kind, RecordKind::IntelBase);
  Record data = decoder.Decode(IntelRecord(0, 0x0010, {7}));
  EXPECT_EQ(data.address, 0x10000u + 0x20000u + 0x10u);
  decoder.Decode(testing::IntelBaseRecord(4, 0x0000));
  EXPECT_EQ(decoder.Decode(IntelRecord(0, 0x0010, {7})).address, 0x10010u);
}

TEST(RecordDecoder, SAddressWidthsAndEightBitDataCount) {
  RecordDecoder decoder;
  std::string s2Line = SRecord('2', 0x123456, {1, 2});
  std::string s3Line = SRecord('3', 0x89ABCDEF, {9});
  Record s2 = decoder.Decode(s2Line);
  EXPECT_EQ(s2.kind, RecordKind::Data);
  EXPECT_EQ(s2.address, 0x123456u);
  EXPECT_EQ(s2.byteCount, 2u);
  EXPECT_EQ(s2.DataByte(1), 2);
  Record s3 = decoder.Decode(s3Line);
  EXPECT_EQ(s3.address, 0x89ABCDEFu);
  EXPECT_EQ(s3.DataByte(0), 9);
  // A count below the address size wraps to more bytes than the line holds.
  EXPECT_EQ(decoder.Decode("S1020000FD").kind, RecordKind::Illegal);
}

TEST(RecordDecoder, RecordsAnnouncingMoreThanTheLineHoldsAreIllegal) {
  RecordDecoder decoder;
  std::string full = IntelRecord(0, 0, {1, 2, 3, 4});
  // Drop two data bytes but keep a correct checksum: ":04000000" 01 02 + sum.
  std::string shortened = ":040000000102F9";
  ASSERT_TRUE(IntelChecksumOk(shortened));
  EXPECT_EQ(decoder.Decode(full).kind, RecordKind::Data);
  EXPECT_EQ(decoder.Decode(shortened).kind, RecordKind::Illegal);
  EXPECT_EQ(decoder.Decode(":").kind, RecordKind::Illegal);
  EXPECT_EQ(decoder.Decode(":00000004FC").kind, RecordKind::Illegal);  // no base value
}

TEST(LineCursor, StripsLineEndsAndKeepsALastLineWithoutOne) {
  LineCursor lines("a\r\n\nb\rc\nlast");
  std::vector<std::string> seen;
  std::string_view line;
  while (lines.Next(line)) seen.emplace_back(line);
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "", "b\rc", "last"}));
}

}  // namespace
// Only a regular file is read; anything else is refused at once, a FIFO
// without a writer included (its open must not wait for one).
TEST(ObjectFileRead, RefusesEverythingButARegularFileWithoutWaiting) {
  const std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / "object_file_read";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string regular = (dir / "a.hex").string();
  std::ofstream(regular) << ":00000001FF\n";
  const std::string fifo = (dir / "pipe.hex").string();
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  const auto data = ObjectFileData::Read(regular, UINT32_MAX);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->Content(), ":00000001FF\n");
  EXPECT_TRUE(ObjectFileData::CanOpen(regular));
  EXPECT_EQ(ObjectFileData::Read(dir.string(), UINT32_MAX), nullptr);
  EXPECT_FALSE(ObjectFileData::CanOpen((dir / "missing.hex").string()));

  auto refused = std::async(std::launch::async,
                            [&] { return ObjectFileData::Read(fifo, UINT32_MAX) == nullptr && !ObjectFileData::CanOpen(fifo); });
  const bool finished = refused.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
  // Releases each reader stuck in its open, so that the failure is reported.
  while (refused.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) ::close(writer);
  }
  EXPECT_TRUE(finished);
  EXPECT_TRUE(refused.get());
  std::filesystem::remove_all(dir);
}

}  // namespace quarnel
